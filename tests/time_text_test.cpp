#include "trackinfo/time_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

struct TimeTextCase {
    long long positionMs;
    long long lengthS;
    const char* text;
};

// Whole minutes and two seconds digits, which read 00 below 5 s and for every negative
// time; every time the host's 32-bit answers can give prints whole, within the buffer.
TEST(TimeText, formatsEachTimeAsWholeMinutesAndTwoSecondsDigits) {
    const TimeTextCase cases[] = {
        {65000, 240, " (1:05/4:00)"},
        {0, 0, " (0:00/0:00)"},
        {4999, 1, " (0:00/0:00)"},  // a length below 5 s shows 0:00 too
        {5000, 5, " (0:05/0:05)"},
        {9999, 10, " (0:09/0:10)"},
        {59999, 59, " (0:59/0:59)"},
        {60000, 60, " (1:00/1:00)"},
        {754000, 3600, " (12:34/60:00)"},
        {599999999, 599999, " (9999:59/9999:59)"},
        {600000000, 600000, " (10000:00/10000:00)"},  // five digits print whole
        {INT_MAX, 2147483, " (35791:23/35791:23)"},
        {INT_MAX, INT_MAX, " (35791:23/35791394:07)"},  // a length past the int range of ms
        {-1, -1, " (0:00/0:00)"},
        {-59999, -60, " (0:00/-1:00)"},
        {-60000, -2147484, " (-1:00/-35791:00)"},
        {INT_MIN, INT_MIN, " (-35791:00/-35791394:00)"},  // the longest text: 25 characters
    };
    for (const auto& c : cases) {
        struct {
            char text[TIME_TEXT_SIZE];
            char after[8];
        } out;
        std::memset(&out, 'x', sizeof out);
        formatTimeText(static_cast<int>(c.positionMs), static_cast<int>(c.lengthS), out.text);
        EXPECT_STREQ(out.text, c.text) << c.positionMs << " " << c.lengthS;
        EXPECT_EQ(std::string(out.after, 8), "xxxxxxxx");
    }
}

}  // namespace
