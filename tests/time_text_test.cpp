#include "support/plugin_session.h"
#include "trackinfo/time_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using vorlu_test::PluginSession;

namespace {

TEST(TimeText, intLengthCountsDigitsOfTheMagnitude) {
    const struct {
        int n;
        int digits;
    } cases[] = {{0, 1},   {9, 1},  {10, 2},       {9999, 4},     {10000, 5},
                 {-10, 2}, {-1, 1}, {INT_MAX, 10}, {INT_MIN, 10}, {35791, 5}};
    for (const auto& c : cases) EXPECT_EQ(intLength(c.n), c.digits) << c.n;
}

struct Formatted {
    int ms;
    const char* text;
};

TEST(TimeText, convert2SecFormatsMinutesAndTwoSecondDigits) {
    const Formatted cases[] = {
        {0, "0:00"},         {4999, "0:00"},           {1, "0:00"},        {5000, "0:05"},
        {9999, "0:09"},      {10000, "0:10"},          {59999, "0:59"},    {60000, "1:00"},
        {65000, "1:05"},     {754000, "12:34"},        {3600000, "60:00"}, {599999999, "9999:59"},
        {600000000, "0:00"}, {2147483647, "0:23"},     {-1, "0:00"},       {-60000, "-1:00"},
        {-59999, "0:00"},    {-599999999, "-9999:00"}, {INT_MIN, "0:00"},  {604800000, "0:00"},
    };
    for (const auto& c : cases) {
        struct {
            char text[FORMATTED_TIME_SIZE];
            char after[8];
        } out;
        std::memset(&out, 'x', sizeof out);
        EXPECT_EQ(convert2Sec(TIME_SCRATCH_SIZE, out.text, c.ms), 0);
        EXPECT_STREQ(out.text, c.text) << c.ms;
        EXPECT_EQ(std::string(out.after, 8), "xxxxxxxx") << c.ms;
    }
}

struct FileTimeCase {
    long long positionMs;
    long long lengthS;
    const char* text;
};

TEST(TimeText, getFileTimeAsksThePositionThenTheLength) {
    const FileTimeCase cases[] = {
        {65000, 240, " (1:05/4:00)"},
        {-1, -1, " (0:00/0:00)"},
        {0, 0, " (0:00/0:00)"},
        {4999, 1, " (0:00/0:00)"},  // a length below 5 s shows 0:00 too
        {599999999, 599999, " (9999:59/9999:59)"},
        {-599999999, -599999, " (-9999:00/-9999:00)"},  // the longest text: 20 characters
        {INT_MAX, 2147483, " (0:23/0:23)"},             // the largest length whose product fits
        {INT_MIN, INT_MAX, " (0:00/0:23)"},             // an overflowing length is held to the int range
        {0, INT_MIN, " (0:00/0:00)"},
        {0, -2147484, " (0:00/0:00)"},
    };
    for (const auto& c : cases) {
        PluginSession session({{"C:\\a.mp3", "A", 100}});
        session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
            if (code != IPC_GETOUTPUTTIME) return std::nullopt;
            session.model.answer(wParam, code);  // recorded for the order check
            return wParam == 0 ? c.positionMs : c.lengthS;
        };
        struct {
            char text[TIME_TEXT_SIZE];
            char after[8];
        } out;
        std::memset(&out, 'x', sizeof out);
        EXPECT_EQ(getFileTime(7, out.text), 0);
        EXPECT_STREQ(out.text, c.text);
        EXPECT_EQ(std::string(out.after, 8), "xxxxxxxx");
        auto asked = session.requests(IPC_GETOUTPUTTIME);
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0].wParam, 0);
        EXPECT_EQ(asked[1].wParam, 1);
    }
}

TEST(TimeText, secondsToMillisecondsHoldsOverflowToTheIntRange) {
    EXPECT_EQ(secondsToMilliseconds(240), 240000);
    EXPECT_EQ(secondsToMilliseconds(-1), -1000);
    EXPECT_EQ(secondsToMilliseconds(2147483), 2147483000);
    EXPECT_EQ(secondsToMilliseconds(2147484), INT_MAX);
    EXPECT_EQ(secondsToMilliseconds(-2147484), INT_MIN);
    EXPECT_EQ(secondsToMilliseconds(INT_MIN), INT_MIN);
}

}  // namespace
