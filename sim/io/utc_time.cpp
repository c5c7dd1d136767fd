#include "sim/io/utc_time.h"

#include <cstdio>
#include <ctime>

namespace dmsim {

std::string utc_time(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto since_epoch = duration_cast<microseconds>(time.time_since_epoch());
    auto seconds = duration_cast<std::chrono::seconds>(since_epoch);
    auto micros = since_epoch - seconds;
    if (micros.count() < 0) {  // before 1970: the fraction counts forward from a second
        seconds -= std::chrono::seconds(1);
        micros += std::chrono::seconds(1);
    }
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long>(micros.count()));
    return text;
}

}  // namespace dmsim
