#include "formats/ReleaseTime.h"

#include <cstdio>

namespace {

// The digits at [from, from + count) as a number, or -1 when any of them is not an ASCII digit.
int digitsAt(std::string_view text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::optional<ReleaseTime> parseReleaseTime(std::string_view text) {
    constexpr std::string_view form = "YYYY-MM-DDThh:mm:ssZ";
    if (text.size() != form.size()) {
        return std::nullopt;
    }
    for (std::size_t i : {4u, 7u, 10u, 13u, 16u, 19u}) {
        if (text[i] != form[i]) {
            return std::nullopt;
        }
    }
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 5, 2);
    const int day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2);
    const int minute = digitsAt(text, 14, 2);
    const int second = digitsAt(text, 17, 2);
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (year < 0 || month < 0 || day < 0 || !date.ok() || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
           std::chrono::seconds(second);
}

std::string formatReleaseTime(ReleaseTime time) {
    const auto days = std::chrono::floor<std::chrono::days>(time);
    const std::chrono::year_month_day date(days);
    const std::chrono::hh_mm_ss clock(time - days);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

bool isOlderRelease(const std::optional<ReleaseTime>& offered,
                    const std::optional<ReleaseTime>& newestAccepted) {
    return newestAccepted && (!offered || *offered < *newestAccepted);
}
