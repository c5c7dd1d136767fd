#include "sim/cli/listing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include <nlohmann/json.hpp>

#include "services/layout_table.h"
#include "sim/cli/exit_status.h"
#include "sim/cli/options.h"
#include "sim/ecu/uds.h"
#include "sim/io/output_file.h"
#include "sim/vehicle/services.h"

namespace dmsim {

namespace {

namespace diag = orlak::services::diag;

bool is_did(const diag::Identifier_layout& layout) {
    return layout.kind == diag::Interface_kind::data_identifier;
}

const char* kind_name(diag::Interface_kind kind) {
    switch (kind) {
        case diag::Interface_kind::data_identifier:
            return "did";
        case diag::Interface_kind::short_routine:
            return "short_routine";
        case diag::Interface_kind::full_routine:
            return "full_routine";
    }
    return "?";
}

// The UDS bytes a tester sends for `method`, without option bytes; empty for Cancel.
Bytes request_of(const diag::Identifier_layout& layout, std::string_view method) {
    const auto high = static_cast<std::uint8_t>(layout.identifier >> 8);
    const auto low = static_cast<std::uint8_t>(layout.identifier & 0xFF);
    if (method == "Read") {
        return {sid_read_data, high, low};
    }
    const std::uint8_t sub_function = method == "Start"            ? start_routine
                                      : method == "Stop"           ? stop_routine
                                      : method == "RequestResults" ? request_routine_results
                                                                   : 0;
    if (sub_function == 0) {
        return {};
    }
    return {sid_routine_control, sub_function, high, low};
}

const Method_info& method_info(const diag::Identifier_layout& layout,
                               const diag::Method_layout& method) {
    const Service_info* service =
        find_service(is_did(layout) ? Service_kind::did : Service_kind::routine, layout.identifier);
    return *service->method(method.id);
}

std::vector<std::string> member_names(const Method_info& method) {
    std::vector<std::string> names;
    for (const Member& member : method.members) {
        names.push_back(describe(member));
    }
    return names;
}

// "1 byte", "4 bytes", "1+n option bytes".
std::string byte_count(std::string_view length, const char* what = "") {
    return std::string(length) + what + (length == "1" ? " byte" : " bytes");
}

// The order a tester meets the methods in: Read or Start, Stop, RequestResults; Cancel last.
int tester_order(std::string_view method) {
    return method == "Stop" ? 1 : method == "RequestResults" ? 2 : method == "Cancel" ? 3 : 0;
}

std::string method_line(const diag::Identifier_layout& layout, const diag::Method_layout& method) {
    char name[20];
    std::snprintf(name, sizeof name, "  %-16s", method.name);
    const Bytes request = request_of(layout, method.name);
    if (request.empty()) {
        return std::string(name) + "no output (the manager's cancel of a running call)";
    }
    std::string line = name + to_hex(request, ' ');
    if (std::string_view(method.request) != "0") {
        line += " + " + byte_count(method.request, " option") + " (" + method.inputs + ")";
    }
    Bytes positive = request;
    positive[0] = static_cast<std::uint8_t>(positive[0] + positive_offset);
    line += " -> " + to_hex(positive, ' ');
    if (method.output == nullptr) {
        return line + " (no data)";
    }
    const Method_info& info = method_info(layout, method);
    return line + " + " + byte_count(method.uds_response) + ": " + describe(info.members);
}

// The SOME/IP numbers of one interface: {"service_id": "0x0102", "methods": {"Cancel": 0, ...}}.
nlohmann::ordered_json someip_ids(const diag::Identifier_layout& layout,
                                  const platform::runtime::someip::Deployment& deployment) {
    const auto* deployed = deployment.interface(layout.service_id);
    char service_id[8];
    std::snprintf(service_id, sizeof service_id, "0x%04X",
                  deployed != nullptr ? deployed->service_id : 0u);
    nlohmann::ordered_json methods = nlohmann::ordered_json::object();
    for (int i = 0; i < layout.method_count && deployed != nullptr; ++i) {
        methods[layout.methods[i].name] = deployed->methods.at(layout.methods[i].name);
    }
    return {{"service_id", service_id}, {"methods", std::move(methods)}};
}

// Writes `text` to `path`; the reason when that fails.
std::optional<std::string> write_text(const std::filesystem::path& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return path.string() + ": " + std::strerror(errno);
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int saved = errno;
    if (std::fclose(file) != 0 || !written) {
        return path.string() + ": " + std::strerror(written ? errno : saved);
    }
    return std::nullopt;
}

}  // namespace

std::string list_text() {
    std::string text =
        std::to_string(diag::did_count) + " data identifiers (DID) and " +
        std::to_string(diag::rid_count) +
        " routines (RID). Each method line shows the\n"
        "request a tester sends, with the option bytes a routine's Start needs (its input's\n"
        "members, big-endian), and the positive answer with the output record's members:\n"
        "the profile's \"values\" for that method, in order. n is the byte count of a\n"
        "trailing byte sequence. Profile method names are the names shown here.\n";
    for (const diag::Identifier_layout& layout : diag::layout_table) {
        char head[16];
        std::snprintf(head, sizeof head, "\n%s %04X ", is_did(layout) ? "DID" : "RID",
                      layout.identifier);
        text += head;
        text += layout.interface_name;
        if (!is_did(layout)) {
            text += layout.kind == diag::Interface_kind::full_routine ? " (full routine)"
                                                                      : " (short routine)";
        }
        text += '\n';
        for (int order = 0; order < 4; ++order) {
            for (int i = 0; i < layout.method_count; ++i) {
                if (tester_order(layout.methods[i].name) == order) {
                    text += method_line(layout, layout.methods[i]) + '\n';
                }
            }
        }
    }
    return text;
}

std::string list_json(const platform::runtime::someip::Deployment& deployment) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const diag::Identifier_layout& layout : diag::layout_table) {
        char identifier[8];
        std::snprintf(identifier, sizeof identifier, "%04X", layout.identifier);
        nlohmann::ordered_json entry;
        entry["identifier"] = identifier;
        entry["kind"] = kind_name(layout.kind);
        entry["interface"] = layout.interface_name;
        entry["namespace"] = layout.namespace_name;
        nlohmann::ordered_json methods = nlohmann::ordered_json::array();
        for (int i = 0; i < layout.method_count; ++i) {
            const diag::Method_layout& method = layout.methods[i];
            nlohmann::ordered_json item;
            item["name"] = method.name;
            item["id"] = method.id;
            const Bytes request = request_of(layout, method.name);
            if (!request.empty()) {
                item["request"] = to_hex(request);
            }
            if (std::string_view(method.name) == "Start") {
                item["inputs"] = method.inputs;
                item["option_bytes"] = method.request;
            }
            if (method.output == nullptr) {
                item["output"] = nullptr;
            } else {
                item["output"] = member_names(method_info(layout, method));
                item["uds_length"] = method.uds_response;
            }
            methods.push_back(std::move(item));
        }
        entry["methods"] = std::move(methods);
        entry["someip"] = someip_ids(layout, deployment);
        list.push_back(std::move(entry));
    }
    return list.dump(2) + "\n";
}

int list_identifiers(const Options& options) {
    Output_file out(stdout, "standard output");
    std::string listing =
        options.json ? list_json(options.someip_settings.deployment) : list_text();
    listing.pop_back();  // write_line ends the last line
    if (!out.write_line(listing)) {
        std::fprintf(stderr, "dmsim: cannot write %s\n", out.failure()->c_str());
        return exit_status::write_failed;
    }
    return exit_status::answered;
}

std::pair<std::string, std::string> wireshark_names(
    const platform::runtime::someip::Deployment& deployment) {
    std::string services = "# SOME/IP service names, by dmsim --wireshark-names\n";
    std::string methods = "# SOME/IP method names, by dmsim --wireshark-names\n";
    for (const diag::Identifier_layout& layout : diag::layout_table) {
        const auto* deployed = deployment.interface(layout.service_id);
        if (deployed == nullptr) {
            continue;
        }
        char line[160];
        std::snprintf(line, sizeof line, "\"%04x\",\"%s\"\n", deployed->service_id,
                      layout.interface_name);
        services += line;
        for (const auto& [name, id] : deployed->methods) {
            std::snprintf(line, sizeof line, "\"%04x\",\"%04x\",\"%s\"\n", deployed->service_id, id,
                          name.c_str());
            methods += line;
        }
    }
    return {services, methods};
}

int write_wireshark_names(const Options& options) {
    const std::filesystem::path folder = options.wireshark_names;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const auto [services, methods] = wireshark_names(options.someip_settings.deployment);
    std::optional<std::string> failed =
        error ? folder.string() + ": " + error.message()
              : write_text(folder / "SOMEIP_service_identifiers", services);
    if (!failed) {
        failed = write_text(folder / "SOMEIP_method_event_identifiers", methods);
    }
    if (failed) {
        std::fprintf(stderr, "dmsim: cannot write %s\n", failed->c_str());
        return exit_status::usage;
    }
    return exit_status::answered;
}

}  // namespace dmsim
