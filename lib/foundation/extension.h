#pragma once
// The interfaces through which the diagnostic manager drives an extension object that the
// plug-in handed out: one for data identifiers, one for routines, over a common root.
//
//   Extension_data_identifier* did = construct_extension_did(0x0102);
//   did->start_find_service("diag"); did->read(meta, response); destroy_extension_did(did);
//
// The manager is compiled against this virtual-table layout: never reorder, insert or remove
// a virtual operation. Every operation is called on the manager's threads and lets no exception
// escape, except an allocation failure at the start of start_find_service or while a routine
// operation copies its request bytes.

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/types.h"

namespace kem::dm::foundation::extension {

// Polymorphic root. Virtual-table entries, in this order: destructor, start_find_service,
// stop_find_service. No data members.
class Extension {
  public:
    Extension() = default;
    Extension(const Extension&) = delete;
    Extension& operator=(const Extension&) = delete;
    virtual ~Extension() = default;

    // Starts continuous discovery of the application service instance named by `instance`;
    // replaces a discovery started earlier.
    virtual void start_find_service(const std::string& instance) = 0;
    // Stops the delivery of discovery results; on return no discovery callback runs any more
    // (unless called from the discovery's own thread). The last found service stays in use.
    virtual void stop_find_service() = 0;
};

// Base of every data identifier extension. Entries after the root's: read, write, cancel.
class Extension_data_identifier : public Extension {
  public:
    // Appends the identifier's data to `response`. Result 0 or a UDS negative response code.
    // Default: 0, response untouched.
    virtual types::UDSResponseCodeType read(const types::MetaInfo& meta,
                                            std::vector<std::uint8_t>& response) {
        return answer_positive(meta, response);
    }
    // Default (kept by every data identifier of this library): 0, data untouched.
    virtual types::UDSResponseCodeType write(const types::MetaInfo& meta,
                                             std::vector<std::uint8_t>& data) {
        return answer_positive(meta, data);
    }
    // Asks the application to abandon the running request; true when a service was there to
    // ask. Default: false.
    virtual bool cancel(const types::MetaInfo& /*meta*/) { return false; }

  private:
    // The one implementation behind the read and write defaults.
    static types::UDSResponseCodeType answer_positive(const types::MetaInfo& /*meta*/,
                                                      std::vector<std::uint8_t>& /*bytes*/) {
        return 0;
    }
};

// Base of every routine extension. Entries after the root's: start, stop, request_results,
// cancel. The three sub-functions read the request bytes without modifying them; they may be
// called in any order, the routine's state lives in the application.
class Extension_routine_control : public Extension {
  public:
    // Defaults of the three sub-functions: 0, response untouched, nothing sent.
    virtual types::UDSResponseCodeType start(std::vector<std::uint8_t>& request,
                                             const types::MetaInfo& meta,
                                             std::vector<std::uint8_t>& response) {
        return answer_positive(request, meta, response);
    }
    virtual types::UDSResponseCodeType stop(std::vector<std::uint8_t>& request,
                                            const types::MetaInfo& meta,
                                            std::vector<std::uint8_t>& response) {
        return answer_positive(request, meta, response);
    }
    virtual types::UDSResponseCodeType request_results(std::vector<std::uint8_t>& request,
                                                       const types::MetaInfo& meta,
                                                       std::vector<std::uint8_t>& response) {
        return answer_positive(request, meta, response);
    }
    // As Extension_data_identifier::cancel. Default: false.
    virtual bool cancel(const types::MetaInfo& /*meta*/) { return false; }

  private:
    // The one implementation behind the three sub-function defaults.
    static types::UDSResponseCodeType answer_positive(std::vector<std::uint8_t>& /*request*/,
                                                      const types::MetaInfo& /*meta*/,
                                                      std::vector<std::uint8_t>& /*response*/) {
        return 0;
    }
};

}  // namespace kem::dm::foundation::extension
