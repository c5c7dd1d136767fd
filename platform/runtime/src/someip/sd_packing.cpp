#include "someip/sd_packing.h"

#include <algorithm>

namespace platform::runtime::someip {

namespace {

constexpr std::size_t max_run = 15;
constexpr std::size_t max_index = 0xFF;

std::size_t option_bytes(const std::vector<Sd_option>& options) {
    std::size_t size = 0;
    for (const auto& option : options) {
        size += 3 + option.data.size();
    }
    return size;
}

// Where `run` already sits among `options`; options.size() when it does not.
std::size_t find_run(const std::vector<Sd_option>& options, const std::vector<Sd_option>& run) {
    if (run.empty() || run.size() > options.size()) {
        return options.size();
    }
    const auto found = std::search(options.begin(), options.end(), run.begin(), run.end());
    return static_cast<std::size_t>(found - options.begin());
}

}  // namespace

std::vector<Sd_message> pack_sd(const std::vector<Sd_outgoing_entry>& entries, std::uint8_t flags,
                                std::size_t max_size) {
    std::vector<Sd_message> out;
    Sd_message current;
    current.flags = flags;
    std::size_t size = sd_overhead;
    for (const auto& outgoing_entry : entries) {
        if (outgoing_entry.options.size() > max_run ||
            sd_overhead + sd_entry_size + option_bytes(outgoing_entry.options) > max_size) {
            continue;
        }
        std::size_t index = find_run(current.options, outgoing_entry.options);
        const bool shared = index < current.options.size();
        std::size_t added = sd_entry_size + (shared ? 0 : option_bytes(outgoing_entry.options));
        if (!current.entries.empty() &&
            (size + added > max_size || index + outgoing_entry.options.size() > max_index)) {
            out.push_back(std::move(current));
            current = Sd_message{};
            current.flags = flags;
            size = sd_overhead;
            index = 0;
            added = sd_entry_size + option_bytes(outgoing_entry.options);
        }
        Sd_entry entry = outgoing_entry.entry;
        entry.first_index = static_cast<std::uint8_t>(outgoing_entry.options.empty() ? 0 : index);
        entry.first_count = static_cast<std::uint8_t>(outgoing_entry.options.size());
        entry.second_index = 0;
        entry.second_count = 0;
        if (index == current.options.size()) {
            current.options.insert(current.options.end(), outgoing_entry.options.begin(),
                                   outgoing_entry.options.end());
        }
        current.entries.push_back(entry);
        size += added;
    }
    if (!current.entries.empty()) {
        out.push_back(std::move(current));
    }
    return out;
}

std::vector<Bytes> Sd_writer::write(const Sd_send& send) {
    std::vector<Bytes> out;
    for (auto& message : pack_sd(send.entries, sd_flag::unicast)) {
        const Sd_stamp stamp = sessions_.next(send.unicast_to);
        if (stamp.reboot) {
            message.flags |= sd_flag::reboot;
        }
        out.push_back(encode_sd(message, stamp.session_id));
    }
    return out;
}

}  // namespace platform::runtime::someip
