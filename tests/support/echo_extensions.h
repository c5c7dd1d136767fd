#pragma once
// Extensions that answer at once, without an application behind them, for what hosts the
// extensions (the simulator's request paths, in tests and fuzz targets).
//
//   support::Echo_did vin{0xF190};   // read: F1 90; identifiers ending in 22 answer 0x22
//   support::Echo_rid routine;       // start: the request bytes; stop: 0x24

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/extension.h"

namespace support {

// Answers its identifier, big-endian, `repeat` times; identifiers ending in 0x22 refuse
// with 0x22 as an application would.
class Echo_did : public kem::dm::foundation::extension::Extension_data_identifier {
  public:
    explicit Echo_did(std::uint16_t id, std::size_t repeat = 1) : id_(id), repeat_(repeat) {}
    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    kem::dm::types::UDSResponseCodeType read(const kem::dm::types::MetaInfo&,
                                             std::vector<std::uint8_t>& response) override {
        if ((id_ & 0xFF) == 0x22) {
            return 0x22;
        }
        for (std::size_t i = 0; i < repeat_; ++i) {
            response.push_back(static_cast<std::uint8_t>(id_ >> 8));
            response.push_back(static_cast<std::uint8_t>(id_));
        }
        return 0;
    }

  private:
    std::uint16_t id_;
    std::size_t repeat_;
};

// Start echoes its request bytes, stop answers 0x24, request_results answers 0 and nothing.
class Echo_rid : public kem::dm::foundation::extension::Extension_routine_control {
  public:
    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    kem::dm::types::UDSResponseCodeType start(std::vector<std::uint8_t>& request,
                                              const kem::dm::types::MetaInfo&,
                                              std::vector<std::uint8_t>& response) override {
        response.insert(response.end(), request.begin(), request.end());
        return 0;
    }
    kem::dm::types::UDSResponseCodeType stop(std::vector<std::uint8_t>&,
                                             const kem::dm::types::MetaInfo&,
                                             std::vector<std::uint8_t>&) override {
        return 0x24;
    }
};

}  // namespace support
