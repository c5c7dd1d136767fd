#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

// What the built plug-in takes from outside: the platform functions listed in
// undefined_symbols.txt, nothing more and nothing less, plus the C and C++ runtime. A
// plug-in that inlines a stand-in's body, reads a stand-in's global or calls a new
// stand-in function would load here and fail on the vehicle; this test catches it first.

namespace {

// Names without symbol versions, from `nm -D -C` with the given selection.
std::set<std::string> dynamic_symbols(const std::string& selection, const std::string& file) {
    const std::string command = std::string(DIAG_NM) + " -D -C " + selection + " " + file;
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr) << command;
    std::set<std::string> names;
    if (pipe == nullptr) {
        return names;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        // "<address or blanks> <type letter> <name>[@version]"; the name may hold spaces.
        const auto type = line.find_first_not_of(' ', line.find_first_not_of("0123456789abcdef"));
        if (type == std::string::npos || type + 2 > line.size()) {
            continue;
        }
        std::string name = line.substr(type + 2);
        name = name.substr(0, name.find('@'));
        names.insert(name);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return names;
}

// GCC says so with __SANITIZE_*__, clang with __has_feature.
#if defined(__has_feature)
#define DIAG_HAS_FEATURE(feature) __has_feature(feature)
#else
#define DIAG_HAS_FEATURE(feature) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || \
    DIAG_HAS_FEATURE(address_sanitizer) || DIAG_HAS_FEATURE(thread_sanitizer)
constexpr bool sanitizer_build = true;
#else
constexpr bool sanitizer_build = false;
#endif

// Names, or prefixes ending in '*'.
bool matches(const std::vector<std::string>& entries, const std::string& name) {
    for (const auto& entry : entries) {
        if (entry.back() == '*' ? name.rfind(entry.substr(0, entry.size() - 1), 0) == 0
                                : name == entry) {
            return true;
        }
    }
    return false;
}

struct Allowed {
    std::set<std::string> platform;
    std::vector<std::string> sanitizer;
    std::vector<std::string> runtime;

    bool runtime_allows(const std::string& name) const { return matches(runtime, name); }
};

Allowed read_list(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    Allowed allowed;
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            section = line;
        } else if (section == "[platform]") {
            allowed.platform.insert(line);
        } else if (section == "[sanitizer]") {
            allowed.sanitizer.push_back(line);
        } else if (section == "[runtime]") {
            allowed.runtime.push_back(line);
        } else {
            ADD_FAILURE() << "line outside a section: " << line;
        }
    }
    return allowed;
}

TEST(Plugin, imports_exactly_the_listed_platform_functions_and_the_c_and_cxx_runtime) {
    const Allowed allowed = read_list(DIAG_UNDEFINED_LIST);
    const auto imported = dynamic_symbols("--undefined-only", DIAG_PLUGIN_PATH);
    ASSERT_FALSE(imported.empty());
    std::set<std::string> stand_ins = dynamic_symbols("--defined-only", DIAG_ARA_LOG_PATH);
    const auto runtime_defined = dynamic_symbols("--defined-only", DIAG_RUNTIME_PATH);
    stand_ins.insert(runtime_defined.begin(), runtime_defined.end());

    std::set<std::string> from_platform;
    for (const auto& name : imported) {
        if (stand_ins.count(name) != 0 && !allowed.runtime_allows(name)) {
            from_platform.insert(name);
        } else {
            EXPECT_TRUE(allowed.runtime_allows(name))
                << "undefined symbol neither from the platform nor from the C/C++ runtime: "
                << name;
        }
    }
    for (const auto& name : from_platform) {
        if (sanitizer_build && matches(allowed.sanitizer, name)) {
            continue;
        }
        EXPECT_EQ(allowed.platform.count(name), 1u)
            << "new dependency on the platform stand-ins: " << name
            << "\n(a stand-in body compiled into the plug-in, or a platform function that the "
               "platform may not provide; see "
            << DIAG_UNDEFINED_LIST << ")";
    }
    for (const auto& name : allowed.platform) {
        if (sanitizer_build) {
            break;
        }
        EXPECT_EQ(from_platform.count(name), 1u)
            << "listed platform function no longer imported: " << name;
    }
}

}  // namespace
