#include "platform/ara_log/dlt_sink.h"

#include <dlt/dlt.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "platform/ara_log/control.h"

namespace platform::ara_log {

namespace {

// What one message needs besides the text, within the library's message buffer: the
// headers (standard 4, ECU id, session id and timestamp 4 each, extended 10) and the
// string argument's type info (4), length (2) and terminating zero (1), with a margin.
// The library buffers a message that the daemon cannot take yet only if the whole message
// fits into that size; a larger one could not be read back and would be lost.
constexpr std::size_t message_overhead = 64;
constexpr std::size_t library_default_buffer = DLT_USER_BUF_MAX_SIZE;
constexpr std::size_t largest_buffer = 65535;  // the message length field has 16 bits

std::size_t decimal_digits(std::size_t value) {
    std::size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// "#<digits> <digits>/<digits> " at the start of the text.
bool looks_like_part(std::string_view text) {
    std::size_t at = 0;
    auto digits_then = [&](char end) {
        const std::size_t first = at;
        while (at < text.size() && is_digit(text[at])) {
            ++at;
        }
        if (at == first || at >= text.size() || text[at] != end) {
            return false;
        }
        ++at;
        return true;
    };
    if (text.empty() || text[0] != '#') {
        return false;
    }
    at = 1;
    return digits_then(' ') && digits_then('/') && digits_then(' ');
}

bool is_continuation_byte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Pieces of at most `size` bytes; a cut inside a UTF-8 sequence moves back to its start.
std::vector<std::string_view> cut(std::string_view text, std::size_t size) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start + size;
        if (end >= text.size()) {
            end = text.size();
        } else {
            std::size_t back = end;
            while (back > start + size - 3 && is_continuation_byte(text[back])) {
                --back;
            }
            if (!is_continuation_byte(text[back])) {
                end = back;
            }
        }
        pieces.push_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

DltLogLevelType dlt_level(ara::log::LogLevel level) {
    switch (level) {
        case ara::log::LogLevel::kOff:
            return DLT_LOG_OFF;
        case ara::log::LogLevel::kFatal:
            return DLT_LOG_FATAL;
        case ara::log::LogLevel::kError:
            return DLT_LOG_ERROR;
        case ara::log::LogLevel::kWarn:
            return DLT_LOG_WARN;
        case ara::log::LogLevel::kInfo:
            return DLT_LOG_INFO;
        case ara::log::LogLevel::kDebug:
            return DLT_LOG_DEBUG;
        case ara::log::LogLevel::kVerbose:
            return DLT_LOG_VERBOSE;
    }
    return DLT_LOG_DEBUG;
}

// The message buffer the library will use: asks for ours unless the environment has a
// size already. Must run before the library initialises (the first registration).
std::size_t configure_message_buffer() {
    if (std::getenv("DLT_LOG_MSG_BUF_LEN") == nullptr) {
        ::setenv("DLT_LOG_MSG_BUF_LEN", std::to_string(dlt_message_buffer).c_str(), 0);
    }
    const char* configured = std::getenv("DLT_LOG_MSG_BUF_LEN");
    char* end = nullptr;
    const long size = configured != nullptr ? std::strtol(configured, &end, 10) : 0;
    if (end == configured || size <= 0) {
        return library_default_buffer;
    }
    return static_cast<std::size_t>(size) < largest_buffer ? static_cast<std::size_t>(size)
                                                           : largest_buffer;
}

// True when the daemon's FIFO has a reader, that is, a daemon runs there.
bool daemon_reachable(std::string& where) {
    const char* directory = std::getenv("DLT_PIPE_DIR");
    where = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") + "/dlt";
    const int fd = ::open(where.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

void check_id(const std::string& id, const char* what) {
    if (id.empty() || id.size() > 4) {
        throw std::invalid_argument(std::string("DLT ") + what +
                                    " id must have 1 to 4 characters: \"" + id + "\"");
    }
}

}  // namespace

std::vector<std::string> split_text(std::string_view text, std::size_t limit,
                                    std::uint32_t sequence) {
    if (text.size() <= limit && !looks_like_part(text)) {
        return {std::string(text)};
    }
    const std::string tag = "#" + std::to_string(sequence) + " ";
    // The prefix grows with the digits of n; try one digit more until the count fits.
    for (std::size_t digits = 1;; ++digits) {
        const std::size_t prefix = tag.size() + 2 * digits + 2;
        if (limit < prefix + 8) {
            throw std::invalid_argument("DLT part limit too small");
        }
        const auto pieces = cut(text, limit - prefix);
        const std::size_t n = pieces.empty() ? 1 : pieces.size();
        if (decimal_digits(n) > digits) {
            continue;
        }
        std::vector<std::string> parts;
        parts.reserve(n);
        for (std::size_t k = 1; k <= n; ++k) {
            std::string part = tag + std::to_string(k) + "/" + std::to_string(n) + " ";
            if (!pieces.empty()) {
                part += pieces[k - 1];
            }
            parts.push_back(std::move(part));
        }
        return parts;
    }
}

// Lock order: the sink's mutex, then the library's own locks.
struct Dlt_sink::State {
    std::mutex mutex;
    DltContext context{};
    std::string context_id;
    std::string description;
    std::size_t text_limit = 0;
    ara::log::LogLevel registered_level = ara::log::LogLevel::kOff;
    std::uint32_t next_sequence = 1;  // guarded by mutex, as everything below
    bool told_refused = false;
    bool told_cut = false;
};

Dlt_sink::Dlt_sink(const std::string& app_id, const std::string& context_id,
                   const std::string& description)
    : state_(std::make_unique<State>()) {
    check_id(app_id, "application");
    check_id(context_id, "context");
    state_->context_id = context_id;
    state_->description = description;
    state_->text_limit = configure_message_buffer() - message_overhead;
    // The library's own notes: warnings and worse only, on standard error (its default is
    // standard output, where dmsim prints its answers).
    ::setenv("DLT_LOG_LEVEL", "4", 0);
    ::setenv("DLT_LOG_MODE", "3", 0);

    if (dlt_register_app(app_id.c_str(), description.c_str()) < DLT_RETURN_OK) {
        throw std::runtime_error("DLT: cannot register application " + app_id);
    }
    state_->registered_level = threshold();
    if (dlt_register_context_ll_ts(&state_->context, context_id.c_str(), description.c_str(),
                                   dlt_level(state_->registered_level),
                                   DLT_TRACE_STATUS_OFF) < DLT_RETURN_OK) {
        dlt_unregister_app();
        throw std::runtime_error("DLT: cannot register context " + context_id);
    }
    std::string where;
    if (!daemon_reachable(where)) {
        std::fprintf(stderr,
                     "dlt: no DLT daemon reads %s; the DLT library keeps the lines until one "
                     "starts\n",
                     where.c_str());
    }
}

Dlt_sink::~Dlt_sink() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::string where;
    // Without a daemon the library would wait for one at exit.
    const bool reachable = daemon_reachable(where);
    dlt_set_resend_timeout_atexit(reachable ? 1000 : 0);
    dlt_unregister_context(&state_->context);
    if (reachable) {
        dlt_unregister_app_flush_buffered_logs();
    } else {
        dlt_unregister_app();
    }
}

std::size_t Dlt_sink::text_limit() const noexcept {
    return state_->text_limit;
}

void Dlt_sink::do_write(const Message& message) {
    auto& s = *state_;
    const DltLogLevelType level = dlt_level(message.level);
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto parts = split_text(message.text, s.text_limit, s.next_sequence);
    if (parts.size() > 1 || parts.front().size() != message.text.size()) {
        ++s.next_sequence;
    }
    for (const auto& part : parts) {
        DltContextData data{};
        const auto started = dlt_user_log_write_start(&s.context, &data, level);
        if (started == DLT_RETURN_OK) {
            return;  // below the context's level in DLT
        }
        DltReturnValue result = started;
        if (started > DLT_RETURN_OK) {
            const auto written = dlt_user_log_write_sized_utf8_string(
                &data, part.c_str(), static_cast<std::uint16_t>(part.size()));
            if (written < DLT_RETURN_OK && !s.told_cut) {
                s.told_cut = true;
                std::fprintf(stderr,
                             "dlt: a line of %zu bytes did not fit into one DLT message and was "
                             "cut (DLT_LOG_MSG_BUF_LEN)\n",
                             part.size());
            }
            result = dlt_user_log_write_finish(&data);
        }
        if (result < DLT_RETURN_OK && !s.told_refused) {
            s.told_refused = true;
            std::fprintf(stderr, "dlt: the DLT library refused a line (error %d)\n",
                         static_cast<int>(result));
        }
    }
}

void Dlt_sink::on_threshold(ara::log::LogLevel level) {
    auto& s = *state_;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (level == s.registered_level) {
        return;
    }
    dlt_unregister_context(&s.context);
    s.context = DltContext{};
    if (dlt_register_context_ll_ts(&s.context, s.context_id.c_str(), s.description.c_str(),
                                   dlt_level(level), DLT_TRACE_STATUS_OFF) < DLT_RETURN_OK) {
        std::fprintf(stderr, "dlt: cannot register context %s again\n", s.context_id.c_str());
    }
    s.registered_level = level;
}

}  // namespace platform::ara_log
