#pragma once
// Requests answered one by one, from the arguments or from standard input, each answer
// printed as a line (text or JSON) as soon as it is there.
//
//   dmsim::Answer_printer printer(options, meta, ecu, outputs);
//   dmsim::answer_lines(printer, STDIN_FILENO, options.server.max_data_size);
//   return printer.status();

#include <cstdint>
#include <string>

#include "foundation/types.h"
#include "sim/cli/options.h"
#include "sim/cli/outputs.h"
#include "sim/ecu/ecu.h"
#include "sim/io/hex.h"

namespace dmsim {

// Sends each request to the ECU as one tester and prints its answer line; remembers what
// the exit status has to say.
class Answer_printer {
  public:
    Answer_printer(const Options& options, kem::dm::types::MetaInfo meta, const Ecu& ecu,
                   Outputs& outputs);

    // False once a write has failed (after a message): nothing more should be answered.
    bool answer(const Bytes& request);
    // A line that is not a request: printed with its message.
    bool reject(const std::string& line, const std::string& message);
    // write_failed, usage (a line was rejected), cancelled or answered.
    int status() const;

    static std::string too_long(std::uint32_t limit);

  private:
    bool print(const std::string& line);

    const Options& options_;
    const kem::dm::types::MetaInfo meta_;
    const Ecu& ecu_;
    Tester tester_;
    Outputs& outputs_;
    bool cancelled_ = false;
    bool rejected_ = false;
    bool failed_ = false;
};

// One request per line of `fd` until its end: empty lines and "#" comments skipped, a line
// that is not hex rejected, a line longer than the maximum data size rejected unread.
void answer_lines(Answer_printer& printer, int fd, std::uint32_t max_data_size);

}  // namespace dmsim
