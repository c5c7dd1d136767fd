#include "sim/cli/line_mode.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "sim/cli/exit_status.h"
#include "sim/cli/report.h"
#include "sim/io/line_reader.h"

namespace dmsim {

Answer_printer::Answer_printer(const Options& options, kem::dm::types::MetaInfo meta,
                               const Ecu& ecu, Outputs& outputs)
    : options_(options),
      meta_(std::move(meta)),
      ecu_(ecu),
      tester_(ecu.options()),
      outputs_(outputs) {}

bool Answer_printer::answer(const Bytes& request) {
    if (request.size() > options_.server.max_data_size) {
        const Bytes start(request.begin(),
                          request.begin() + std::min<std::ptrdiff_t>(request.size(), 13));
        return reject(to_hex(start, ' ') + " ...", too_long(options_.server.max_data_size));
    }
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = ecu_.answer(request, meta_, tester_);
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    cancelled_ = cancelled_ || outcome.cancelled;
    return print(options_.json ? json_line(request, outcome, elapsed)
                               : text_line(request, outcome));
}

bool Answer_printer::reject(const std::string& line, const std::string& message) {
    rejected_ = true;
    return print(options_.json ? json_error_line(line, message) : text_error_line(line, message));
}

int Answer_printer::status() const {
    return failed_      ? exit_status::write_failed
           : rejected_  ? exit_status::usage
           : cancelled_ ? exit_status::cancelled
                        : exit_status::answered;
}

std::string Answer_printer::too_long(std::uint32_t limit) {
    return "longer than the maximum data size of " + std::to_string(limit) +
           " bytes (--max-data-size)";
}

// Flushed line by line: answers appear as they come, also through a pipe.
bool Answer_printer::print(const std::string& line) {
    outputs_.out.write_line(line);
    if (const auto failure = outputs_.failure()) {
        std::fprintf(stderr, "dmsim: cannot write %s\n", failure->c_str());
        failed_ = true;
    }
    return !failed_;
}

// One request per line. A line is kept up to four characters per byte of the maximum data
// size ("XX " and room for blanks); a longer one is refused unread, in bounded memory.
void answer_lines(Answer_printer& printer, int fd, std::uint32_t max_data_size) {
    Line_reader reader(fd, 4 * std::size_t{max_data_size} + 64);
    while (const auto line = reader.next()) {
        const std::string& text = line->text;
        const auto first = text.find_first_not_of(" \t");
        if (first == std::string::npos || text[first] == '#') {
            if (line->cut && first == std::string::npos) {
                // Blanks beyond the limit: say so rather than skip them silently.
                if (!printer.reject("(blank line)", Answer_printer::too_long(max_data_size))) {
                    return;
                }
            }
            continue;
        }
        bool go_on = true;
        if (line->cut) {
            go_on =
                printer.reject(text.substr(0, 40) + "...", Answer_printer::too_long(max_data_size));
        } else {
            try {
                go_on = printer.answer(parse_hex(text));
            } catch (const Hex_error& e) {
                go_on = printer.reject(text, e.what());
            }
        }
        if (!go_on) {
            return;
        }
    }
}

}  // namespace dmsim
