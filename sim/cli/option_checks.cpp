#include "sim/cli/option_checks.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include <limits.h>
#include <unistd.h>

#include "sim/cli/exit_status.h"
#include "sim/doip/serve.h"

namespace dmsim {

namespace {

// The plug-in that dmsim loads without --plugin, found relative to the dmsim binary so that
// an installed or unpacked tree works wherever it lies: the installed layout first
// (bin/dmsim, lib/<multiarch>/diag-extensions/), then the build tree. When neither exists,
// the installed path, so that the error names where the plug-in was expected.
std::string default_plugin_path() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return DIAG_PLUGIN_INSTALLED;
    }
    std::string folder(buffer, static_cast<std::size_t>(length));
    folder.erase(folder.find_last_of('/') + 1);
    for (const char* relative : {DIAG_PLUGIN_INSTALLED, DIAG_PLUGIN_BUILT}) {
        const std::string candidate = folder + relative;
        if (access(candidate.c_str(), R_OK) == 0) {
            return candidate;
        }
    }
    return folder + DIAG_PLUGIN_INSTALLED;
}

// The file a path names, links followed; a file not there yet by its folder.
std::filesystem::path resolved(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path path = fs::absolute(name, error).lexically_normal();
    if (fs::exists(path, error)) {
        return fs::canonical(path, error);
    }
    const fs::path folder = fs::canonical(path.parent_path(), error);
    return error ? path : folder / path.filename();
}

// Two outputs, or an output and the profile, that name the same file would overwrite each
// other. Devices and pipes (/dev/null) may be named twice. The message when they clash.
std::optional<std::string> same_file(const Options& options) {
    namespace fs = std::filesystem;
    const std::pair<const char*, std::string> files[] = {
        {"--vehicle", options.vehicle},
        {"--log", options.log_file == "dlt" ? std::string() : options.log_file},
        {"--trace", options.trace_file}};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            if (files[i].second.empty() || files[j].second.empty()) {
                continue;
            }
            const fs::path a = resolved(files[i].second);
            std::error_code missing;  // a file not there yet is an ordinary file
            const auto status = fs::status(a, missing);
            const bool special = fs::exists(status) && !fs::is_regular_file(status);
            if (a == resolved(files[j].second) && !special) {
                return std::string(files[i].first) + " and " + files[j].first +
                       " name the same file " + a.string();
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> check_options(Options& options) {
    if (const auto clash = same_file(options)) {
        usage_error(*clash);
        return exit_status::usage;
    }
    if (options.plugin.empty()) {
        options.plugin = default_plugin_path();
    }
    if (options.doip) {
        if (!options.requests.empty()) {
            usage_error("--doip serves testers: no REQUEST arguments");
            return exit_status::usage;
        }
        if (const auto error = doip::parse_listen_address(
                options.doip->empty() ? "127.0.0.1:13400" : *options.doip, options.server)) {
            usage_error("--doip: " + *error);
            return exit_status::usage;
        }
    }
    return std::nullopt;
}

}  // namespace dmsim
