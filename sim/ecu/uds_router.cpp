#include "sim/ecu/uds_router.h"

#include <utility>

namespace dmsim {

namespace {

using kem::dm::types::MetaInfo;
using kem::dm::types::UDSResponseCodeType;

std::uint16_t identifier_at(const Bytes& request, std::size_t offset) {
    return static_cast<std::uint16_t>(request.at(offset) << 8 | request.at(offset + 1));
}

void append_identifier(Bytes& out, std::uint16_t id) {
    out.push_back(static_cast<std::uint8_t>(id >> 8));
    out.push_back(static_cast<std::uint8_t>(id & 0xFF));
}

// One extension operation, watched when there is a watch. `cancelled` is set when the
// watch cancelled it and the extension answered as a cancelled operation does (0 with
// nothing written); an answer that raced the cancel counts as an answer. `lock` is the
// extension's: a tester waits for it while another one uses the extension (the request's
// clock runs on), and the cancel is handed over only once it is held, so that it never
// reaches another tester's operation.
template <class Operation, class Cancel>
UDSResponseCodeType run(std::mutex& lock, Operation_watch* watch, Operation&& operation,
                        Cancel&& cancel, const Bytes& data, bool& cancelled) {
    if (watch == nullptr) {
        std::lock_guard<std::mutex> in_use(lock);
        return operation();
    }
    std::lock_guard<std::mutex> in_use(lock);
    watch->watch(std::forward<Cancel>(cancel));
    UDSResponseCodeType code = 0;
    try {
        code = operation();
    } catch (...) {
        watch->unwatch();
        throw;
    }
    cancelled = watch->unwatch() && code == 0 && data.empty();
    return code;
}

}  // namespace

Uds_router::Uds_router(Did_map dids, Rid_map rids, Read_limits limits)
    : dids_(std::move(dids)),
      rids_(std::move(rids)),
      limits_(limits),
      locks_(std::make_shared<std::map<const void*, std::mutex>>()) {
    for (const auto& entry : dids_) {
        (*locks_)[entry.second];
    }
    for (const auto& entry : rids_) {
        (*locks_)[entry.second];
    }
}

Outcome Uds_router::answer(const Bytes& request, const MetaInfo& meta,
                           Operation_watch* watch) const {
    if (request.empty()) {
        return {};
    }
    if (watch != nullptr) {
        watch->begin_request();
    }
    switch (request[0]) {
        case sid_read_data:
            return read_data(request, meta, watch);
        case sid_write_data:
            return write_data(request, meta, watch);
        case sid_routine_control:
            return routine_control(request, meta, watch);
        default:
            return negative(request[0], service_not_supported);
    }
}

Outcome Uds_router::read_data(const Bytes& request, const MetaInfo& meta,
                              Operation_watch* watch) const {
    if (request.size() < 3 || request.size() % 2 == 0 ||
        (request.size() - 1) / 2 > limits_.max_dids) {
        return negative(sid_read_data, incorrect_length);
    }
    std::vector<std::pair<std::uint16_t, Did_map::mapped_type>> reads;
    for (std::size_t offset = 1; offset < request.size(); offset += 2) {
        const std::uint16_t id = identifier_at(request, offset);
        const auto found = dids_.find(id);
        if (found != dids_.end()) {
            reads.emplace_back(id, found->second);
        }
    }
    if (reads.empty()) {
        return negative(sid_read_data, request_out_of_range);
    }
    Outcome outcome;
    outcome.response.push_back(sid_read_data + positive_offset);
    for (const auto& read : reads) {
        // Plain variables, not a structured binding: lambdas capture them (clang insists).
        const std::uint16_t id = read.first;
        const auto& extension = read.second;
        Bytes data;
        const UDSResponseCodeType code = run(
            lock_of(extension), watch, [&] { return extension->read(meta, data); },
            [extension = extension, &meta] { return extension->cancel(meta); }, data,
            outcome.cancelled);
        if (outcome.cancelled) {
            outcome.response.clear();
            return outcome;
        }
        if (code != 0) {
            return negative(sid_read_data, code);
        }
        if (outcome.response.size() + 2 + data.size() > limits_.max_data_size) {
            return negative(sid_read_data, response_too_long);
        }
        append_identifier(outcome.response, id);
        outcome.response.insert(outcome.response.end(), data.begin(), data.end());
    }
    return outcome;
}

Outcome Uds_router::write_data(const Bytes& request, const MetaInfo& meta,
                               Operation_watch* watch) const {
    if (request.size() < 4) {
        return negative(sid_write_data, incorrect_length);
    }
    const std::uint16_t id = identifier_at(request, 1);
    const auto found = dids_.find(id);
    if (found == dids_.end()) {
        return negative(sid_write_data, request_out_of_range);
    }
    auto* extension = found->second;
    Bytes data(request.begin() + 3, request.end());
    Outcome outcome;
    // A write answers with no data: `nothing` stands for its response bytes.
    const Bytes nothing;
    const UDSResponseCodeType code = run(
        lock_of(extension), watch, [&] { return extension->write(meta, data); },
        [extension, &meta] { return extension->cancel(meta); }, nothing, outcome.cancelled);
    if (outcome.cancelled) {
        return outcome;
    }
    if (code != 0) {
        return negative(sid_write_data, code);
    }
    outcome.response = {sid_write_data + positive_offset};
    append_identifier(outcome.response, id);
    return outcome;
}

Outcome Uds_router::routine_control(const Bytes& request, const MetaInfo& meta,
                                    Operation_watch* watch) const {
    if (request.size() < 4) {
        return negative(sid_routine_control, incorrect_length);
    }
    const std::uint8_t sub_function = request[1];
    using Operation =
        UDSResponseCodeType (kem::dm::foundation::extension::Extension_routine_control::*)(
            std::vector<std::uint8_t>&, const MetaInfo&, std::vector<std::uint8_t>&);
    Operation operation = nullptr;
    switch (sub_function) {
        case start_routine:
            operation = &kem::dm::foundation::extension::Extension_routine_control::start;
            break;
        case stop_routine:
            operation = &kem::dm::foundation::extension::Extension_routine_control::stop;
            break;
        case request_routine_results:
            operation = &kem::dm::foundation::extension::Extension_routine_control::request_results;
            break;
        default:
            return negative(sid_routine_control, sub_function_not_supported);
    }
    const std::uint16_t id = identifier_at(request, 2);
    const auto found = rids_.find(id);
    if (found == rids_.end()) {
        return negative(sid_routine_control, request_out_of_range);
    }
    auto* extension = found->second;
    Bytes options(request.begin() + 4, request.end());
    Bytes data;
    Outcome outcome;
    const UDSResponseCodeType code = run(
        lock_of(extension), watch, [&] { return (extension->*operation)(options, meta, data); },
        [extension, &meta] { return extension->cancel(meta); }, data, outcome.cancelled);
    if (outcome.cancelled) {
        return outcome;
    }
    if (code != 0) {
        return negative(sid_routine_control, code);
    }
    outcome.response = {sid_routine_control + positive_offset, sub_function};
    append_identifier(outcome.response, id);
    outcome.response.insert(outcome.response.end(), data.begin(), data.end());
    return outcome;
}

}  // namespace dmsim
