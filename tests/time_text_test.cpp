#include "support/plugin_session.h"
#include "trackinfo/time_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using vorlu_test::PluginSession;

namespace {

struct Formatted {
    int ms;
    const char* text;
};

TEST(TimeText, convert2SecFormatsMinutesAndTwoSecondDigits) {
    const Formatted cases[] = {
        {0, "0:00"},
        {4999, "0:00"},
        {1, "0:00"},
        {5000, "0:05"},
        {9999, "0:09"},
        {10000, "0:10"},
        {59999, "0:59"},
        {60000, "1:00"},
        {65000, "1:05"},
        {754000, "12:34"},
        {3600000, "60:00"},
        {599999999, "9999:59"},
        {600000000, "10000:00"},
        {2147483647, "35791:23"},
        {-1, "0:00"},
        {-60000, "-1:00"},
        {-59999, "0:00"},
        {-599999999, "-9999:00"},
        {INT_MIN, "-35791:00"},
        {604800000, "10080:00"},
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
        {600000000, 600000, " (10000:00/10000:00)"},  // five digits print whole
        {INT_MAX, 2147483, " (35791:23/35791:23)"},
        {INT_MAX, INT_MAX, " (35791:23/35791394:07)"},    // a length past the int range of ms
        {INT_MIN, INT_MIN, " (-35791:00/-35791394:00)"},  // the longest text: 25 characters
        {0, -2147484, " (0:00/-35791:00)"},
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
        int position = 0;
        EXPECT_EQ(getFileTime(7, out.text, &position), 0);
        EXPECT_EQ(position, static_cast<int>(c.positionMs));
        EXPECT_STREQ(out.text, c.text);
        EXPECT_EQ(std::string(out.after, 8), "xxxxxxxx");
        auto asked = session.requests(IPC_GETOUTPUTTIME);
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0].wParam, 0);
        EXPECT_EQ(asked[1].wParam, 1);
    }
}

}  // namespace
