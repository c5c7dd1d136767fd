#include "sim/cli/option_checks.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include <limits.h>
#include <unistd.h>

#include "sim/cli/exit_status.h"
#include "sim/cli/someip_setup.h"
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

// The options that only some modes take, and the modes that exclude each other. The message
// when the options do not go together.
std::optional<std::string> mode_clash(const Options& options) {
    const bool role = options.offer || options.someip;
    const bool input = !options.requests.empty() || options.doip;
    for (const auto& [given, name] :
         {std::pair(options.list, "--list prints the identifiers only"),
          std::pair(!options.wireshark_names.empty(), "--wireshark-names writes the files only")}) {
        if (given && (input || role)) {
            return std::string(name) + ": no REQUEST, --doip, --offer or --someip";
        }
    }
    if (options.list && !options.wireshark_names.empty()) {
        return "--list and --wireshark-names: one at a time";
    }
    if (options.offer && options.someip) {
        return "--offer is the vehicle, --someip the manager: one process is one of them";
    }
    if (options.offer && input) {
        return "--offer serves the vehicle's applications: no REQUEST and no --doip";
    }
    if (options.offer && (!options.plugin.empty() || !options.instance.empty() ||
                          !options.meta.empty() || options.cancel_after_ms || options.json)) {
        return "--offer loads no plug-in and sends no request: no --plugin, --instance, --meta, "
               "--cancel-after or --json";
    }
    if (options.someip && !options.trace_file.empty()) {
        return "--trace records the calls the simulated vehicle receives: not with --someip";
    }
    if (options.sd_wait_ms && !options.someip) {
        return "--sd-wait needs --someip";
    }
    const bool names = options.list || !options.wireshark_names.empty();
    if (!options.deployment.empty() && !role && !names) {
        return "--deployment needs --offer, --someip, --list or --wireshark-names";
    }
    for (const auto& [given, name] :
         {std::pair(options.sd_port.has_value(), "--sd-port"),
          std::pair(options.sd_multicast.has_value(), "--sd-multicast"),
          std::pair(!options.sd_peers.empty(), "--sd-peer"),
          std::pair(options.someip_max_message.has_value(), "--someip-max-message")}) {
        if (given && !role) {
            return std::string(name) + " needs --offer or --someip";
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
    if (const auto clash = mode_clash(options)) {
        usage_error(*clash);
        return exit_status::usage;
    }
    if (options.offer || options.someip || options.list || !options.wireshark_names.empty()) {
        if (const auto status = fill_someip_settings(options)) {
            return status;
        }
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
