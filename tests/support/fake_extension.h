#pragma once
// A data identifier and a routine extension whose answers a test sets, standing in for the
// plug-in's where the simulator's own layers are tested: what they answer, after how long,
// and what they were asked.
//
//   support::Fake_did vin;  vin.data = {0x5A, 0x55};  vin.delay = 200ms;
//   dmsim::Ecu ecu({{0xF190, &vin}}, {}, options);

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/extension.h"

namespace support {

using Bytes = std::vector<std::uint8_t>;
using kem::dm::types::MetaInfo;
using kem::dm::types::UDSResponseCodeType;

// Reads answer `data` with `code` after `delay`, or at once with nothing when cancelled
// meanwhile; counts reads, cancels and how many reads ran at once.
struct Fake_did : kem::dm::foundation::extension::Extension_data_identifier {
    UDSResponseCodeType code = 0;
    Bytes data;
    std::chrono::milliseconds delay{0};
    Bytes written;
    std::atomic<int> reads{0};
    std::atomic<int> cancels{0};
    std::atomic<int> inside{0};
    std::atomic<int> most_inside{0};

    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    UDSResponseCodeType read(const MetaInfo&, Bytes& response) override {
        ++reads;
        most_inside = std::max(most_inside.load(), ++inside);
        std::unique_lock<std::mutex> lock(mutex_);
        const bool stopped = cancelled_cv_.wait_for(lock, delay, [this] { return cancelled_; });
        cancelled_ = false;
        --inside;
        if (!stopped) {
            response.insert(response.end(), data.begin(), data.end());
        }
        return stopped ? 0 : code;
    }
    UDSResponseCodeType write(const MetaInfo&, Bytes& bytes) override {
        written = bytes;
        return code;
    }
    bool cancel(const MetaInfo&) override {
        ++cancels;
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        cancelled_cv_.notify_all();
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cancelled_cv_;
    bool cancelled_ = false;
};

// Every operation answers `data` after `delay`, 0x13 when the request has fewer than
// `min_request` bytes; `calls` records "start 010203".
struct Fake_routine : kem::dm::foundation::extension::Extension_routine_control {
    Bytes data{0xA0};
    std::size_t min_request = 0;
    std::chrono::milliseconds delay{0};
    std::vector<std::string> calls;

    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    UDSResponseCodeType start(Bytes& request, const MetaInfo&, Bytes& response) override {
        return answer("start", request, response);
    }
    UDSResponseCodeType stop(Bytes& request, const MetaInfo&, Bytes& response) override {
        return answer("stop", request, response);
    }
    UDSResponseCodeType request_results(Bytes& request, const MetaInfo&, Bytes& response) override {
        return answer("results", request, response);
    }

  private:
    UDSResponseCodeType answer(const char* name, const Bytes& request, Bytes& response) {
        static const char digits[] = "0123456789ABCDEF";
        std::string text = std::string(name) + " ";
        for (std::uint8_t byte : request) {
            text += {digits[byte >> 4], digits[byte & 0x0F]};
        }
        calls.push_back(text);
        std::this_thread::sleep_for(delay);
        response.insert(response.end(), data.begin(), data.end());
        return request.size() < min_request ? 0x13 : 0;
    }
};

}  // namespace support
