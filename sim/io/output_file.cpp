#include "sim/io/output_file.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace dmsim {

Output_file::Output_file(const std::string& path, const std::string& what)
    : stream_(std::fopen(path.c_str(), "w")), owned_(true), name_(path) {
    if (stream_ == nullptr) {
        throw std::runtime_error(path + ": cannot write the " + what + ": " + std::strerror(errno));
    }
}

Output_file::Output_file(std::FILE* stream, std::string name) noexcept
    : stream_(stream), owned_(false), name_(std::move(name)) {}

Output_file::~Output_file() {
    if (owned_) {
        std::fclose(stream_);
    }
}

bool Output_file::write_line(std::string_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_) {
        return false;
    }
    errno = 0;
    // A full disk often shows only at the flush, when stdio hands the buffer over.
    if (std::fwrite(line.data(), 1, line.size(), stream_) != line.size() ||
        std::fputc('\n', stream_) == EOF || std::fflush(stream_) != 0) {
        failure_ = name_ + ": " + (errno != 0 ? std::strerror(errno) : "write failed");
        return false;
    }
    return true;
}

std::optional<std::string> Output_file::failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

}  // namespace dmsim
