#include "sim/io/line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace dmsim {

std::optional<Input_line> Line_reader::next() {
    Input_line line;
    bool any = false;
    for (;;) {
        if (begin_ == end_) {
            if (eof_) {
                break;
            }
            const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                eof_ = true;
                break;
            }
            begin_ = 0;
            end_ = static_cast<std::size_t>(got);
        }
        any = true;
        const char* start = buffer_.data() + begin_;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
        const std::size_t length =
            newline != nullptr ? static_cast<std::size_t>(newline - start) : end_ - begin_;
        const std::size_t room = limit_ - std::min(limit_, line.text.size());
        line.text.append(start, std::min(length, room));
        line.cut = line.cut || length > room;
        begin_ += length;
        if (newline != nullptr) {
            ++begin_;
            break;
        }
    }
    if (!any) {
        return std::nullopt;
    }
    if (!line.cut && !line.text.empty() && line.text.back() == '\r') {
        line.text.pop_back();
    }
    return line;
}

}  // namespace dmsim
