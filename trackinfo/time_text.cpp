#include "trackinfo/time_text.h"

#include <stdio.h>

// Formats ms into out (FORMATTED_TIME_SIZE bytes): the whole minute count, a colon and
// two seconds digits, which read 00 below 5000 ms and for every negative time. A length
// of INT_MIN seconds is -35791394 minutes: every count fits an int.
static void formatTime(long long ms, char* out) {
    int seconds = ms <= 4999 ? 0 : static_cast<int>(ms / 1000 % 60);
    snprintf(out, FORMATTED_TIME_SIZE, "%d:%02d", static_cast<int>(ms / 60000), seconds);
}

void formatTimeText(int position, int length, char* out) {
    char positionText[FORMATTED_TIME_SIZE];
    char lengthText[FORMATTED_TIME_SIZE];
    formatTime(position, positionText);
    formatTime(static_cast<long long>(length) * 1000, lengthText);
    // A position is at most "-35791:00", nine characters; a length twelve.
    snprintf(out, TIME_TEXT_SIZE, " (%.9s/%.12s)", positionText, lengthText);
}

// Digits of the longest minute count a time text holds: a length of 2147483647 s.
const int LONGEST_MINUTE_COUNT = 8;

// Reads one formatted time backwards from text[end - 1]: minutes without leading zeros
// (a minus before a non-zero count, whose seconds then read 00), a colon and two seconds
// digits. Returns where it begins, or -1.
static int formattedTimeStart(const textUnit* text, int end) {
    if (end < 4) return -1;
    textUnit tens = text[end - 2], units = text[end - 1];
    if (text[end - 3] != ':' || tens < '0' || tens > '5' || units < '0' || units > '9') return -1;
    int start = end - 3;
    int digits = 0;
    while (start > 0 && digits < LONGEST_MINUTE_COUNT && text[start - 1] >= '0' && text[start - 1] <= '9') {
        start--;
        digits++;
    }
    if (digits == 0 || (digits > 1 && text[start] == '0')) return -1;
    if (start > 0 && text[start - 1] == '-') {
        if (text[start] == '0' || tens != '0' || units != '0') return -1;
        start--;
    }
    return start;
}

int timeTextLengthAtEnd(const textUnit* text, int length) {
    // " (" position "/" length ")"
    if (length < 12 || text[length - 1] != ')') return 0;
    int lengthStart = formattedTimeStart(text, length - 1);
    if (lengthStart < 1 || text[lengthStart - 1] != '/') return 0;
    int positionStart = formattedTimeStart(text, lengthStart - 1);
    if (positionStart < 2 || text[positionStart - 1] != '(' || text[positionStart - 2] != ' ') return 0;
    return length - (positionStart - 2);
}

const char pauseSuffix[] = " (paused)";

static bool endsWithPauseMark(const textUnit* text, int length) {
    int suffix = static_cast<int>(sizeof pauseSuffix) - 1;
    bool paused = length >= suffix;
    for (int i = 0; paused && i < suffix; i++) paused = text[length - suffix + i] == pauseSuffix[i];
    return paused;
}

int stampSuffixLengthAtEnd(const textUnit* text, int length) {
    return endsWithPauseMark(text, length) ? static_cast<int>(sizeof pauseSuffix) - 1
                                           : timeTextLengthAtEnd(text, length);
}
