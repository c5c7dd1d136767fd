#pragma once
// Lines from a file descriptor in bounded memory: a line longer than the limit is not
// kept whole; its first `limit` characters are, and it is marked as cut. Reads in blocks,
// returning each line as soon as its end has arrived (a tester typing is answered at once).
//
//   dmsim::Line_reader reader(STDIN_FILENO, 16384);
//   while (auto line = reader.next()) { if (line->cut) ...; use(line->text); }

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace dmsim {

struct Input_line {
    std::string text;  // without the line break (and a carriage return before it)
    bool cut = false;  // the line was longer than the limit: text holds its start only
};

class Line_reader {
  public:
    Line_reader(int fd, std::size_t limit) : fd_(fd), limit_(limit) {}

    // The next line, or nullopt at the end of input; a last line without a line break
    // counts. A read error counts as the end of input.
    std::optional<Input_line> next();

  private:
    int fd_;
    std::size_t limit_;
    std::array<char, 65536> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
};

}  // namespace dmsim
