#pragma once
// A sink that hands every message to the DLT daemon through the DLT user library: one
// application id, one context id, each message one DLT log message (verbose mode, one
// UTF-8 string argument) at the DLT level of its ara::log level.
//
//   auto dlt = std::make_shared<platform::ara_log::Dlt_sink>("DMSM", "DIAG");
//   platform::ara_log::set_sink(dlt);   // the DLT context follows the threshold from now on
//
// The daemon is found as by any DLT application: its FIFO directory from DLT_PIPE_DIR
// (default /tmp), its port from DLT_DAEMON_TCP_PORT. Without a daemon the sink says so once
// on standard error and the library keeps the messages in its own buffer until one starts;
// a write never waits for the daemon.
//
// A text longer than one DLT message can carry goes out as numbered parts (split_text); a
// reader joins them again. The library registers one application per process, so there
// is one Dlt_sink per process at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ara_log/sink.h"

namespace platform::ara_log {

// The DLT message buffer the sink asks the library for (DLT_LOG_MSG_BUF_LEN) unless the
// environment sets one; the library's own default is 1,390 bytes.
inline constexpr std::size_t dlt_message_buffer = 8192;

// The parts of one text, each at most `limit` bytes (limit at least 64). A text that fits
// comes back unchanged as the only part, unless it could be mistaken for a part itself.
// Otherwise each part is
//
//   "#<sequence> <k>/<n> <piece>"      e.g. "#12 1/3 {\"1_incident\":..."
//
// with k from 1 to n; the pieces, concatenated in the order of k, are the text. Pieces end
// on UTF-8 character boundaries where the text allows it.
ARA_LOG_API std::vector<std::string> split_text(std::string_view text, std::size_t limit,
                                                std::uint32_t sequence);

class ARA_LOG_API Dlt_sink : public Sink {
  public:
    // Registers the application and its context (ids of 1 to 4 characters, else
    // std::invalid_argument) with the context's level at the current threshold. Sets the
    // library's environment defaults (message buffer, its own notes on standard error), so
    // it belongs to start-up, before other threads read the environment.
    Dlt_sink(const std::string& app_id, const std::string& context_id,
             const std::string& description = "diagnostic extensions incidents");
    // Unregisters the context and the application; what the library still buffers is
    // flushed to a running daemon.
    ~Dlt_sink() override;

    // Bytes of one text or part that fit in one DLT message here.
    std::size_t text_limit() const noexcept;

  protected:
    void do_write(const Message& message) override;
    // Re-registers the context at the new level, so that the daemon and its clients see
    // the threshold that applies.
    void on_threshold(ara::log::LogLevel level) override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::ara_log
