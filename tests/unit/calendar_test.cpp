// Month and day of month from the host's zero-based day of the year.
#include <gtest/gtest.h>

#include "sampling/calendar.h"

namespace {

struct DateCase {
    int32_t dayOfYear;
    int32_t year;
    int32_t month;
    int32_t day;
};

TEST(DayOfYearToDate, WalksTheMonthsOfTheYear) {
    const DateCase cases[] = {
        {0, 2003, 1, 1},
        {30, 2003, 1, 31},
        {31, 2003, 2, 1},
        {59, 2004, 2, 29},
        {59, 2003, 3, 1},
        {364, 2003, 12, 31},
        {365, 2004, 12, 31},
        {59, 2000, 2, 29},
        {59, 1900, 3, 1},
        {59, 2100, 3, 1},
        {81, 1994, 3, 23},
        {365, 2003, 12, 1},
        {366, 2004, 12, 1},
        {400, 2003, 12, 36},
        {-1, 2003, 1, 0},
        {-40, 2003, 1, -39},
        {INT32_MIN, 2003, 1, INT32_MIN + 1},
        {INT32_MAX, 2003, 12, INT32_MAX - 364},
    };
    for (const DateCase& c : cases) {
        int32_t month = -7;
        int32_t day = -7;
        DayOfYearToDate(c.dayOfYear, c.year, &month, &day);
        EXPECT_EQ(month, c.month) << "day " << c.dayOfYear << " of " << c.year;
        EXPECT_EQ(day, c.day) << "day " << c.dayOfYear << " of " << c.year;
    }
}

} // namespace
