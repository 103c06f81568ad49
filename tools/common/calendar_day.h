#pragma once
// Whether a year, month and day name a real day of the local calendar that
// the camera link can carry: its dates travel as the low 32 bits of the
// seconds since 1970, so 1970 to 2037 only. 2024-02-30 is no day.
//
// Pure apart from the local time zone; any thread.

namespace tavolen::tools {

bool isCalendarDay(int year, int month, int day);

}  // namespace tavolen::tools
