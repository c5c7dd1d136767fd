#pragma once
// The manager's UDS framing: splits a tester request into extension operations and frames
// their results as the positive or negative response.
//
//   dmsim::Uds_router router(extensions.dids(), extensions.rids());
//   dmsim::Outcome outcome = router.answer({0x22, 0xF1, 0x90}, meta);  // 62 F1 90 ...
//
// Services: 22 ReadDataByIdentifier (one or more DIDs), 2E WriteDataByIdentifier,
// 31 RoutineControl (sub-functions 01 start, 02 stop, 03 request results); any other
// service answers 7F <sid> 11.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "foundation/extension.h"
#include "foundation/types.h"
#include "sim/ecu/operation_watch.h"
#include "sim/ecu/uds.h"
#include "sim/io/hex.h"

namespace dmsim {

// Limits of a multi-DID read.
struct Read_limits {
    std::size_t max_dids = 32;         // more DIDs in one request: 7F 22 13
    std::size_t max_data_size = 4095;  // a longer answer: 7F 22 14
};

class Uds_router {
  public:
    using Did_map =
        std::map<std::uint16_t, kem::dm::foundation::extension::Extension_data_identifier*>;
    using Rid_map =
        std::map<std::uint16_t, kem::dm::foundation::extension::Extension_routine_control*>;

    // The extensions stay owned by the caller and must outlive the router.
    // Testers may call answer from several threads: one operation at a time runs on each
    // extension, a request for an extension in use waits for it.
    Uds_router(Did_map dids, Rid_map rids, Read_limits limits = {});

    // Answers one request; an empty one gets an empty response. Operations run on the calling
    // thread; with a watch each one is watched (the caller need not call begin_request). A
    // request whose operation was cancelled ends there, with no response bytes.
    // 22: a length other than 1 + 2k (k >= 1), or k above max_dids, 7F 22 13; DIDs not served
    //     are left out of the answer, none served 7F 22 31; the first non-zero code of the
    //     reads in order answers 7F 22 code; an answer above max_data_size 7F 22 14.
    // 2E: fewer than 3 bytes after the service 7F 2E 13; unknown DID 7F 2E 31.
    // 31: fewer than 4 bytes 7F 31 13; sub-function not 01/02/03 7F 31 12; unknown RID
    //     7F 31 31; the option bytes after the RID are the routine's request bytes.
    Outcome answer(const Bytes& request, const kem::dm::types::MetaInfo& meta,
                   Operation_watch* watch = nullptr) const;

  private:
    Outcome read_data(const Bytes& request, const kem::dm::types::MetaInfo& meta,
                      Operation_watch* watch) const;
    Outcome write_data(const Bytes& request, const kem::dm::types::MetaInfo& meta,
                       Operation_watch* watch) const;
    Outcome routine_control(const Bytes& request, const kem::dm::types::MetaInfo& meta,
                            Operation_watch* watch) const;

    // The lock of the extension `extension`, one per extension.
    std::mutex& lock_of(const void* extension) const { return locks_->at(extension); }

    Did_map dids_;
    Rid_map rids_;
    Read_limits limits_;
    std::shared_ptr<std::map<const void*, std::mutex>> locks_;
};

}  // namespace dmsim
