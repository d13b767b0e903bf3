#include "commissioning/utctime.h"

#include <chrono>
#include <cstdio>

namespace commissioning {
namespace {

constexpr int kLastFourDigitYear = 9999;
constexpr std::size_t kTimeTextSize = sizeof "-2147483648-12-31T23:59:59Z";

} // namespace

// The calendar of <chrono>, the same on every system (no gmtime_r, which
// not every C library has).
std::string utcTimeText(std::time_t when)
{
    using namespace std::chrono;
    const sys_seconds moment{seconds{when}};
    const sys_days day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{moment - day};
    if (static_cast<int>(date.year()) < 0 || static_cast<int>(date.year()) > kLastFourDigitYear)
        return {};
    char text[kTimeTextSize] = {};
    static_cast<void>(std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count())));
    return text;
}

} // namespace commissioning
