#pragma once

#include <cstdint>

// Month (1..12) and day of month from a day of the year counted from 0; both outputs are always written.
// Days beyond the year stay in December, days before it give a day of 0 or below.
void DayOfYearToDate(int32_t dayOfYear, int32_t year, int32_t* month, int32_t* day);
