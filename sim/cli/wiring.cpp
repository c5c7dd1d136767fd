#include "sim/cli/wiring.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "binding/runtime/runtime.h"
#include "host/extensions.h"
#include "host/plugin.h"
#include "platform/ara_log/control.h"
#include "platform/ara_log/dlt_sink.h"
#include "platform/ara_log/sink.h"
#include "platform/runtime/application.h"
#include "sim/cli/exit_status.h"
#include "sim/cli/line_mode.h"
#include "sim/cli/outputs.h"
#include "sim/cli/someip_setup.h"
#include "sim/doip/serve.h"
#include "sim/ecu/ecu.h"
#include "sim/io/hex.h"
#include "sim/vehicle/profile.h"
#include "sim/vehicle/vehicle.h"

namespace dmsim {

namespace {

constexpr char default_instance[] = "diag";

ara::log::LogLevel log_level(const std::string& name) {
    static const std::map<std::string, ara::log::LogLevel> levels = {
        {"off", ara::log::LogLevel::kOff},        {"fatal", ara::log::LogLevel::kFatal},
        {"error", ara::log::LogLevel::kError},    {"warn", ara::log::LogLevel::kWarn},
        {"info", ara::log::LogLevel::kInfo},      {"debug", ara::log::LogLevel::kDebug},
        {"verbose", ara::log::LogLevel::kVerbose}};
    return levels.at(name);
}

// The MetaInfo from the --meta options; nullopt (after a message) when one is malformed.
std::optional<kem::dm::types::MetaInfo> parse_meta(const std::vector<std::string>& entries) {
    kem::dm::types::MetaInfo meta;
    for (const std::string& entry : entries) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) {
            usage_error("--meta \"" + entry + "\": expected KEY=VALUE with a non-empty KEY");
            return std::nullopt;
        }
        const std::string key = entry.substr(0, equals);
        if (!meta.emplace(key, entry.substr(equals + 1)).second) {
            usage_error("--meta: KEY \"" + key + "\" given twice");
            return std::nullopt;
        }
    }
    return meta;
}

// The DoIP identity: the profile's "doip" object; the VIN defaults to the answer for DID F190.
doip::Entity doip_entity(const Doip_profile& profile, const Ecu& ecu,
                         const kem::dm::types::MetaInfo& meta) {
    doip::Entity entity;
    entity.vin.fill(0xFF);
    if (profile.vin) {
        std::copy(profile.vin->begin(), profile.vin->end(), entity.vin.begin());
    } else {
        Tester tester(ecu.options());
        const Bytes answer = ecu.answer({0x22, 0xF1, 0x90}, meta, tester).response;
        if (answer.size() >= 3 + entity.vin.size() && answer[0] == 0x62) {
            std::copy_n(answer.begin() + 3, entity.vin.size(), entity.vin.begin());
        }
    }
    entity.logical_address = profile.logical_address.value_or(entity.logical_address);
    entity.eid = profile.eid.value_or(entity.eid);
    entity.gid = profile.gid.value_or(entity.gid);
    return entity;
}

}  // namespace

int run(const Options& options) {
    const auto meta = parse_meta(options.meta);
    if (!meta) {
        return exit_status::usage;
    }
    std::vector<Bytes> requests;
    for (const std::string& text : options.requests) {
        try {
            requests.push_back(parse_hex(text));
        } catch (const Hex_error& e) {
            usage_error("REQUEST \"" + text + "\": " + e.what());
            return exit_status::usage;
        }
        if (requests.back().empty()) {
            usage_error("REQUEST \"" + text + "\" holds no bytes");
            return exit_status::usage;
        }
        if (requests.back().size() > options.server.max_data_size) {
            usage_error("REQUEST \"" + text.substr(0, 40) + "...\" is " +
                        Answer_printer::too_long(options.server.max_data_size));
            return exit_status::usage;
        }
    }

    std::optional<Vehicle_profile> profile;
    try {
        profile = options.vehicle.empty()
                      ? parse_profile(builtin_profile_text(), builtin_profile_name)
                      : load_profile_file(options.vehicle);
    } catch (const Profile_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_status::usage;
    }
    Outputs outputs;
    std::shared_ptr<platform::ara_log::Sink> log_sink;
    try {
        if (!options.trace_file.empty()) {
            outputs.trace = std::make_unique<Trace>(options.trace_file);
        }
        if (options.log_file == "dlt") {
            try {
                log_sink = std::make_shared<platform::ara_log::Dlt_sink>(options.dlt_app, "DIAG");
            } catch (const std::exception& e) {
                throw std::runtime_error(std::string("cannot log to DLT: ") + e.what());
            }
        } else {
            auto file = options.log_file.empty()
                            ? std::make_unique<Output_file>(stderr, "standard error")
                            : std::make_unique<Output_file>(options.log_file, "log");
            outputs.log = std::make_shared<Log_sink>(std::move(file), options.log_format == "jsonl"
                                                                          ? Log_format::jsonl
                                                                          : Log_format::text);
            log_sink = outputs.log;
        }
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_status::usage;
    }
    platform::ara_log::set_threshold(log_level(options.log_level));
    platform::ara_log::set_sink(log_sink);
    // The sink is released when run returns, after the vehicle: the DLT sink then hands
    // what the DLT library still buffers to the daemon.
    struct Sink_release {
        ~Sink_release() { platform::ara_log::set_sink(nullptr); }
    } sink_release;

    // The applications are offered under the profile's instance; the manager searches
    // under --instance, which is the same unless the user says otherwise.
    const std::string vehicle_instance = profile->instance.value_or(default_instance);
    const std::string instance = options.instance.empty() ? vehicle_instance : options.instance;
    // The summary and the warnings are text: they stay out of JSON lines on standard error.
    const bool text_on_stderr = !(options.log_format == "jsonl" && options.log_file.empty());
    const bool chatty = log_level(options.log_level) >= ara::log::LogLevel::kInfo && text_on_stderr;
    if (options.offer) {
        return offer_vehicle(options, std::move(*profile), vehicle_instance, outputs, chatty);
    }

    std::optional<host::Plugin> plugin;
    try {
        plugin.emplace(options.plugin);
    } catch (const host::Plugin_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_status::plugin;
    }
    if (chatty) {
        const char* version = kem::com::runtime::generator_version;
        std::fprintf(stderr, "dmsim: plug-in %s (generator version %s)\n", plugin->path().c_str(),
                     version != nullptr ? version : "not set");
    }

    // Destroyed in reverse: the extensions end before the vehicle withdraws its offers and
    // before SOME/IP stops. With --someip the applications are elsewhere: no vehicle here.
    const Doip_profile doip_profile = profile->doip;
    std::optional<Vehicle> vehicle;
    std::optional<Someip_session> someip;
    if (options.someip) {
        try {
            someip.emplace(options.someip_settings, chatty);
        } catch (const std::runtime_error& e) {
            std::fprintf(stderr, "dmsim: SOME/IP: %s\n", e.what());
            return exit_status::usage;
        }
    } else {
        vehicle.emplace(std::move(*profile), vehicle_instance, outputs.trace.get());
    }
    std::optional<host::Extension_set> extensions;
    try {
        extensions.emplace(*plugin);
    } catch (const host::Plugin_error& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
        return exit_status::plugin;
    }
    extensions->start_find_service(instance);
    platform::runtime::settle();
    if (chatty) {
        std::fprintf(stderr, "dmsim: %zu DID and %zu RID extensions searching instance \"%s\"; ",
                     extensions->dids().size(), extensions->rids().size(), instance.c_str());
        if (vehicle) {
            std::fprintf(stderr, "%zu services offered under \"%s\"\n", vehicle->offered_count(),
                         vehicle_instance.c_str());
        } else {
            std::fprintf(stderr, "over SOME/IP on %s\n", options.someip->c_str());
        }
    }
    if (someip) {
        const bool warn =
            log_level(options.log_level) >= ara::log::LogLevel::kWarn && text_on_stderr;
        await_services(options, chatty, warn);
    }

    Ecu_options ecu_options;
    ecu_options.p2 = std::chrono::milliseconds(options.p2_ms);
    ecu_options.pending_interval = std::chrono::milliseconds(options.pending_interval_ms);
    ecu_options.max_pending = options.max_pending;
    ecu_options.s3 = std::chrono::milliseconds(options.s3_ms);
    ecu_options.limits.max_dids = options.max_dids;
    ecu_options.limits.max_data_size = options.server.max_data_size;
    if (options.cancel_after_ms) {
        ecu_options.cancel_after = std::chrono::milliseconds(*options.cancel_after_ms);
    }
    std::optional<Ecu> ecu;
    ecu.emplace(extensions->dids(), extensions->rids(), ecu_options);
    if (options.doip) {
        const doip::Entity entity = doip_entity(doip_profile, *ecu, *meta);
        const int status = doip::serve(*ecu, entity, options.server, *meta, stdout,
                                       [&outputs] { return outputs.failure(); });
        ecu.reset();
        extensions.reset();
        return status;
    }
    Answer_printer printer(options, *meta, *ecu, outputs);
    if (requests.empty()) {
        answer_lines(printer, STDIN_FILENO, options.server.max_data_size);
    } else {
        for (const Bytes& request : requests) {
            if (!printer.answer(request)) {
                break;
            }
        }
    }
    extensions.reset();  // stop_find_service on each, then destroy each
    if (printer.status() != exit_status::write_failed) {
        if (const auto failure = outputs.failure()) {  // a log line written at the end
            std::fprintf(stderr, "dmsim: cannot write %s\n", failure->c_str());
            return exit_status::write_failed;
        }
    }
    return printer.status();
}

}  // namespace dmsim
