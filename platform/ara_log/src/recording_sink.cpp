#include "platform/ara_log/recording_sink.h"

#include <utility>

namespace platform::ara_log {

std::vector<Recording_sink::Record> Recording_sink::records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

std::vector<std::string> Recording_sink::texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> result;
    result.reserve(records_.size());
    for (const auto& record : records_) {
        result.push_back(record.text);
    }
    return result;
}

std::vector<std::string> Recording_sink::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> result;
    result.reserve(records_.size());
    for (const auto& record : records_) {
        auto line = format_line(Message{record.level, record.context_id, record.text});
        line.pop_back();
        result.push_back(std::move(line));
    }
    return result;
}

std::size_t Recording_sink::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

void Recording_sink::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
}

void Recording_sink::do_write(const Message& message) {
    Record record{message.level, std::string(message.context_id), std::string(message.text)};
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back(std::move(record));
}

}  // namespace platform::ara_log
