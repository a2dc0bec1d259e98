// Checks on the values a file's ARTIST field took.
#ifndef VORLU_TESTS_ARTIST_CHECKS_H
#define VORLU_TESTS_ARTIST_CHECKS_H

#include <string>
#include <vector>

namespace vorlu_test {

// The artist followed by one time text as the plug-in writes it, e.g. " (1:05/4:00)".
bool isStamp(const std::string& value, const std::string& original);
bool isPauseMark(const std::string& value, const std::string& original);
// The time text for a position (ms) and a length (s) as the host answers them, written
// out from the format's rules rather than by the plug-in's formatter.
std::string expectedTimeText(long long positionMs, long long lengthSeconds);
// Every value is the original, one stamp of it or its pause mark, and the last is the original.
bool historyIsSound(const std::vector<std::string>& history, const std::string& original, std::string* why);

}  // namespace vorlu_test

#endif
