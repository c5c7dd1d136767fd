#include "sim/cli/someip_setup.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "sim/cli/exit_status.h"
#include "sim/vehicle/services.h"
#include "sim/vehicle/vehicle.h"

namespace dmsim {

namespace {

using platform::runtime::Someip_report;
using platform::runtime::Someip_settings;
using Address = std::array<std::uint8_t, 4>;

std::string joined(const std::vector<std::string>& items, std::size_t most = SIZE_MAX) {
    std::string text;
    for (std::size_t i = 0; i < items.size() && i < most; ++i) {
        text += (i == 0 ? "" : ", ") + items[i];
    }
    if (items.size() > most) {
        text += " and " + std::to_string(items.size() - most) + " more";
    }
    return text;
}

// An address of this host: a dotted quad, neither 0.0.0.0 nor multicast nor broadcast.
std::optional<Address> host_address(const std::string& text) {
    const auto address = someip::parse_ipv4_address(text);
    if (!address || *address == Address{} || (*address)[0] >= 224) {
        return std::nullopt;
    }
    return address;
}

std::optional<std::uint16_t> port_number(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos ||
        std::stoul(text) == 0 || std::stoul(text) > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoul(text));
}

// "d_0102::DataIdentifier_BasicSettingsStatus" of an interface's full name.
std::string short_name(const std::string& name) {
    const auto last = name.rfind("::");
    const auto before =
        last == std::string::npos || last == 0 ? std::string::npos : name.rfind("::", last - 1);
    return before == std::string::npos ? name : name.substr(before + 2);
}

// Where SD goes: "group 224.244.224.245" or "peers 10.0.0.2, 10.0.0.3".
std::string sd_target(const Someip_settings& settings) {
    std::vector<std::string> peers;
    for (const Address& peer : settings.sd_peers) {
        peers.push_back(someip::ipv4_text(peer));
    }
    return peers.empty() ? "group " + someip::ipv4_text(settings.deployment.sd.multicast)
                         : "peers " + joined(peers);
}

// The options' values into `settings`; the message when one is refused.
std::optional<std::string> apply_options(const Options& options, Someip_settings& settings) {
    const auto not_address = [](const char* option, const std::string& text) {
        return std::string(option) + ": \"" + text + "\" is not an IPv4 address of a host";
    };
    if (options.offer) {
        const auto colon = options.offer->find(':');
        const std::string address = options.offer->substr(0, colon);
        const auto host = host_address(address);
        if (!host) {
            return not_address("--offer", address);
        }
        settings.address = *host;
        if (colon != std::string::npos) {
            const std::string port = options.offer->substr(colon + 1);
            settings.serve_port = port_number(port);
            if (!settings.serve_port) {
                return "--offer: \"" + port + "\" is not a port number (1 to 65535)";
            }
        }
    }
    if (options.someip) {
        const auto host = host_address(*options.someip);
        if (!host) {
            return not_address("--someip", *options.someip);
        }
        settings.address = *host;
    }
    if (options.sd_port) {
        settings.deployment.sd.port = static_cast<std::uint16_t>(*options.sd_port);
    }
    if (options.sd_multicast) {
        const auto group = someip::parse_ipv4_address(*options.sd_multicast);
        if (!group || ((*group)[0] & 0xF0) != 0xE0) {
            return "--sd-multicast: \"" + *options.sd_multicast +
                   "\" is not a multicast address (224.0.0.0 to 239.255.255.255)";
        }
        settings.deployment.sd.multicast = *group;
    }
    for (const std::string& peer : options.sd_peers) {
        const auto host = host_address(peer);
        if (!host) {
            return not_address("--sd-peer", peer);
        }
        settings.sd_peers.push_back(*host);
    }
    settings.max_message = options.someip_max_message.value_or(settings.max_message);
    return std::nullopt;
}

// The file's text, or the reason it cannot be read.
std::optional<std::string> read_text(const std::string& path, std::string& text) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return "it is a directory";
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    if (file) {
        contents << file.rdbuf();
    }
    if (!file || file.bad()) {
        return std::strerror(errno);
    }
    text = contents.str();
    return std::nullopt;
}

}  // namespace

std::vector<someip::Known_interface> known_interfaces() {
    std::vector<someip::Known_interface> known;
    for (const Service_info& service : service_table()) {
        someip::Known_interface& interface = known.emplace_back();
        interface.name = service.service_id;
        for (const Method_info& method : service.methods) {
            interface.methods.emplace_back(method.name);
        }
    }
    return known;
}

std::optional<int> fill_someip_settings(Options& options) {
    Someip_settings& settings = options.someip_settings;
    settings.interfaces = known_interfaces();
    someip::Deployment_result result;
    if (options.deployment.empty()) {
        result = someip::default_deployment(settings.interfaces);
    } else {
        std::string text;
        if (const auto why = read_text(options.deployment, text)) {
            std::fprintf(stderr, "dmsim: %s: cannot read the deployment: %s\n",
                         options.deployment.c_str(), why->c_str());
            return exit_status::usage;
        }
        result = someip::parse_deployment(text, settings.interfaces, options.deployment);
    }
    if (!result.deployment) {
        std::fprintf(stderr, "dmsim: %s\n", result.error.c_str());
        return exit_status::usage;
    }
    settings.deployment = std::move(*result.deployment);
    if (const auto refused = apply_options(options, settings)) {
        usage_error(*refused);
        return exit_status::usage;
    }
    return std::nullopt;
}

Someip_session::Someip_session(const Someip_settings& settings, bool summary) : summary_(summary) {
    platform::runtime::start_someip(settings);
}

Someip_session::~Someip_session() {
    if (summary_) {
        const std::string counts = someip_counts(platform::runtime::someip_report());
        std::fprintf(stderr, "dmsim: SOME/IP at exit: %s\n",
                     counts.empty() ? "nothing counted" : counts.c_str());
    }
    platform::runtime::stop_someip();
}

void await_services(const Options& options, bool chatty, bool warn) {
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds limit(options.sd_wait_ms.value_or(3000));
    const auto start = Clock::now();
    auto last_new = start;
    std::size_t most = 0;
    Someip_report report = platform::runtime::someip_report();
    for (;;) {
        const auto now = Clock::now();
        if (report.found > most) {
            most = report.found;
            last_new = now;
        }
        if (report.found >= report.searched || now - start >= limit ||
            (most > 0 && now - last_new >= quiet_after_found)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        report = platform::runtime::someip_report();
    }
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (chatty) {
        std::fprintf(stderr, "dmsim: SOME/IP: %zu of %zu services found in %lld ms%s%s\n",
                     report.found, report.searched, static_cast<long long>(waited.count()),
                     report.offer_senders.empty() ? "" : ", offered from ",
                     joined(report.offer_senders).c_str());
    }
    if (warn && report.found < report.searched) {
        std::fputs(missing_services_text(report, options.someip_settings, waited).c_str(), stderr);
    }
}

std::string missing_services_text(const Someip_report& report, const Someip_settings& settings,
                                  std::chrono::milliseconds waited) {
    if (report.found >= report.searched) {
        return "";
    }
    std::vector<std::string> names;
    for (const std::string& name : report.missing) {
        names.push_back(short_name(name));
    }
    std::string text = "dmsim: " + std::to_string(report.searched - report.found) + " of " +
                       std::to_string(report.searched) + " services not found after " +
                       std::to_string(waited.count()) + " ms: " + joined(names, 3) + "\n";
    if (report.sd_messages == 0) {
        text += "dmsim: no SD message came from another host (SD port " +
                std::to_string(settings.deployment.sd.port) + ", " + sd_target(settings) + ")\n";
        text += settings.sd_peers.empty()
                    ? "dmsim: hint: SD multicast needs a route on the interface (ip route add "
                      "224.0.0.0/4 dev IFACE), or name the offering host with --sd-peer ADDRESS\n"
                    : "dmsim: hint: the peers must send SD to this host's address (their "
                      "--sd-peer) on the same SD port\n";
        return text;
    }
    text += "dmsim: SD seen: " + std::to_string(report.sd_messages) + " messages, offers from " +
            (report.offer_senders.empty() ? "no host" : joined(report.offer_senders));
    if (report.offers_other_version > 0) {
        text += ", " + std::to_string(report.offers_other_version) +
                " offers of searched services with another instance or version";
    }
    if (report.offers_not_searched > 0) {
        text += ", " + std::to_string(report.offers_not_searched) +
                " offers of services not searched (other service ids)";
    }
    text += "\n";
    text += report.offers_other_version > 0 || report.offers_not_searched > 0
                ? "dmsim: hint: the two sides' deployments differ: compare dmsim --list --json "
                  "--deployment FILE on both\n"
                : "dmsim: hint: no host seen offers them\n";
    return text;
}

std::string someip_counts(const Someip_report& report) {
    std::vector<std::string> counts;
    if (report.searched > 0) {
        counts.push_back("found=" + std::to_string(report.found) + "/" +
                         std::to_string(report.searched));
    }
    for (const auto& [name, count] :
         {std::pair("sd_messages", report.sd_messages),
          std::pair("offers_not_searched", report.offers_not_searched),
          std::pair("offers_other_version", report.offers_other_version)}) {
        if (count > 0) {
            counts.push_back(std::string(name) + "=" + std::to_string(count));
        }
    }
    for (const auto& [name, count] : report.counters) {
        counts.push_back(name + "=" + std::to_string(count));
    }
    return joined(counts);
}

int offer_vehicle(const Options& options, Vehicle_profile profile, const std::string& instance,
                  Outputs& outputs, bool chatty) {
    const Someip_settings& settings = options.someip_settings;
    // SIGINT and SIGTERM are blocked before any thread starts, so that every thread inherits
    // the mask, and are taken below by sigtimedwait: no handler runs anywhere, so none can be
    // deferred past the wait (as a sanitizer may defer one) or lost.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::optional<Someip_session> session;
    try {
        session.emplace(settings, chatty);
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "dmsim: SOME/IP: %s\n", e.what());
        return exit_status::usage;
    }
    std::optional<Vehicle> vehicle;
    vehicle.emplace(std::move(profile), instance, outputs.trace.get());
    const someip::Instance_deployment deployed = settings.deployment.instance(instance);
    const std::string where = someip::ipv4_text(settings.address) + ":" +
                              std::to_string(settings.serve_port.value_or(deployed.udp_port));
    outputs.out.write_line("dmsim: SOME/IP vehicle offering " +
                           std::to_string(vehicle->offered_count()) + " services on " + where);
    if (chatty) {
        std::fprintf(stderr, "dmsim: instance \"%s\" (instance id %04x) on %s; SD on %s:%u to %s\n",
                     instance.c_str(), static_cast<unsigned>(deployed.instance_id), where.c_str(),
                     someip::ipv4_text(settings.address).c_str(),
                     static_cast<unsigned>(settings.deployment.sd.port),
                     sd_target(settings).c_str());
    }

    // Serves until a signal; checks every 100 ms for a failed write, which ends it too.
    std::optional<std::string> failed = outputs.failure();
    const timespec tick{0, 100'000'000};
    while (!failed && sigtimedwait(&stop_signals, nullptr, &tick) < 0) {
        failed = outputs.failure();
    }
    vehicle.reset();  // withdraws the offers
    session.reset();  // StopOffer on the wire
    if (failed) {
        std::fprintf(stderr, "dmsim: cannot write %s\n", failed->c_str());
        return exit_status::write_failed;
    }
    return exit_status::answered;
}

}  // namespace dmsim
