#include "artist_checks.h"

#include <algorithm>
#include <climits>
#include <regex>

namespace vorlu_test {

bool isStamp(const std::string& value, const std::string& original) {
    static const std::regex timeText(R"( \((-?[0-9]{1,8}:[0-9]{2})/(-?[0-9]{1,8}:[0-9]{2})\))");
    return value.size() > original.size() && value.compare(0, original.size(), original) == 0 &&
           std::regex_match(value.substr(original.size()), timeText);
}

static std::string formattedTime(long long ms) {
    long long minutes = ms / 60000;
    long long seconds = ms <= 4999 ? 0 : ms / 1000 % 60;
    return std::to_string(minutes) + ":" + (seconds < 10 ? "0" : "") + std::to_string(seconds);
}

std::string expectedTimeText(long long positionMs, long long lengthSeconds) {
    return " (" + formattedTime(positionMs) + "/" + formattedTime(lengthSeconds * 1000) + ")";
}

bool isPauseMark(const std::string& value, const std::string& original) { return value == original + " (paused)"; }

bool historyIsSound(const std::vector<std::string>& history, const std::string& original, std::string* why) {
    for (const auto& value : history) {
        if (value != original && !isStamp(value, original) && !isPauseMark(value, original)) {
            if (why) *why = "unexpected value \"" + value + "\" for original \"" + original + "\"";
            return false;
        }
    }
    if (history.empty() || history.back() != original) {
        if (why)
            *why = "ends as \"" + (history.empty() ? std::string() : history.back()) + "\", not \"" + original + "\"";
        return false;
    }
    return true;
}

}  // namespace vorlu_test
