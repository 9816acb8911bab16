#include "sampling/calendar.h"

namespace {

constexpr int32_t kMonthsPerYear = 12;

bool IsLeapYear(int32_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

} // namespace

// Walks the month lengths of the given year. A day beyond the year stays in December with what is left after
// all twelve months (day 365 of a common year gives month 12, day 1); a negative day stops in January with a
// day of 0 or below. Only days at or above a month's length are reduced, so nothing can overflow.
void DayOfYearToDate(int32_t dayOfYear, int32_t year, int32_t* month, int32_t* day) {
    const int32_t monthLengths[kMonthsPerYear] = {
        31, IsLeapYear(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int32_t monthIndex = 0;
    int32_t remaining = dayOfYear;
    while (monthIndex < kMonthsPerYear && remaining >= monthLengths[monthIndex]) {
        remaining -= monthLengths[monthIndex];
        monthIndex++;
    }
    if (monthIndex > kMonthsPerYear - 1) {
        monthIndex = kMonthsPerYear - 1;
    }
    *month = monthIndex + 1;
    *day = remaining + 1;
}
