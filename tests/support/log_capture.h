#pragma once
// Records what the platform log emits while it exists, at the given threshold; the previous
// sink and threshold come back on destruction.
//
//   Log_capture log(ara::log::LogLevel::kDebug);
//   ...  log.incidents("Method_call_request_tx")[0].document["2_data"]

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/ara_log/control.h"
#include "platform/ara_log/recording_sink.h"

namespace support {

class Log_capture {
  public:
    struct Line {
        ara::log::LogLevel level;
        nlohmann::json document;
    };

    explicit Log_capture(ara::log::LogLevel threshold = ara::log::LogLevel::kDebug)
        : sink_(std::make_shared<platform::ara_log::Recording_sink>()),
          previous_sink_(platform::ara_log::set_sink(sink_)),
          previous_threshold_(platform::ara_log::threshold()) {
        platform::ara_log::set_threshold(threshold);
    }
    ~Log_capture() {
        platform::ara_log::set_threshold(previous_threshold_);
        platform::ara_log::set_sink(previous_sink_);
    }
    Log_capture(const Log_capture&) = delete;
    Log_capture& operator=(const Log_capture&) = delete;

    platform::ara_log::Recording_sink& sink() { return *sink_; }

    // The lines of one incident ("1_incident"/"1_id"), in emission order.
    std::vector<Line> incidents(const std::string& id) const {
        std::vector<Line> lines;
        for (const auto& record : sink_->records()) {
            auto document = nlohmann::json::parse(record.text, nullptr, false);
            if (document.is_object() && document.contains("1_incident") &&
                document["1_incident"].value("1_id", "") == id) {
                lines.push_back(Line{record.level, std::move(document)});
            }
        }
        return lines;
    }

  private:
    std::shared_ptr<platform::ara_log::Recording_sink> sink_;
    std::shared_ptr<platform::ara_log::Sink> previous_sink_;
    ara::log::LogLevel previous_threshold_;
};

}  // namespace support
