#pragma once

#include <compare>

namespace zembrat::platform {

// A calendar date and time of day, as the automation date holds it. The default value is the
// earliest one, 1 January of the year 100, 00:00:00.
struct DateTime {
    int year = 100;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    auto operator<=>(const DateTime&) const = default;
};

}  // namespace zembrat::platform
