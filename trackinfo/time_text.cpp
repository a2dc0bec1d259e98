#include "trackinfo/time_text.h"

#include "host/requests.h"

#include <limits.h>
#include <stdio.h>

int intLength(int n) {
    // The magnitude as unsigned, so that INT_MIN has one too.
    unsigned int magnitude = n < 0 ? 0u - static_cast<unsigned int>(n) : static_cast<unsigned int>(n);
    int count = 1;
    for (magnitude /= 10; magnitude > 0; magnitude /= 10) count++;
    return count;
}

int convert2Sec(int size, char* out, int ms) {
    char seconds[TIME_SCRATCH_SIZE] = {0};
    char minutes[TIME_SCRATCH_SIZE] = {0};
    size_t scratch = size < 1 ? 1 : size > TIME_SCRATCH_SIZE ? TIME_SCRATCH_SIZE : static_cast<size_t>(size);

    if (ms <= 4999) {
        snprintf(seconds, scratch, "00");
    } else {
        int s = (ms / 1000) % 60;
        snprintf(seconds, scratch, s > 9 ? "%d" : "0%d", s);
    }
    int m = ms / 60000;
    snprintf(minutes, scratch, "%d", intLength(m) > 4 ? 0 : m);
    // At most "-9999" and two digits, which the precisions state for the compiler.
    snprintf(out, FORMATTED_TIME_SIZE, "%.5s:%.2s", minutes, seconds);
    return 0;
}

int secondsToMilliseconds(int seconds) {
    long long ms = static_cast<long long>(seconds) * 1000;
    return ms > INT_MAX ? INT_MAX : ms < INT_MIN ? INT_MIN : static_cast<int>(ms);
}

void formatTimeText(int position, int length, char* out) {
    char positionText[FORMATTED_TIME_SIZE] = {0};
    char lengthText[FORMATTED_TIME_SIZE] = {0};
    convert2Sec(TIME_SCRATCH_SIZE, positionText, position);
    convert2Sec(TIME_SCRATCH_SIZE, lengthText, secondsToMilliseconds(length));
    snprintf(out, TIME_TEXT_SIZE, " (%.8s/%.8s)", positionText, lengthText);
}

int getFileTime(int, char* out) {
    int position = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    int length = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
    formatTimeText(position, length, out);
    return 0;
}

// Reads one formatted time backwards from text[end - 1]: minutes without leading zeros
// (a minus before a non-zero count, whose seconds then read 00), a colon and two seconds
// digits. Returns where it begins, or -1.
static int formattedTimeStart(const textUnit* text, int end) {
    if (end < 4) return -1;
    textUnit tens = text[end - 2], units = text[end - 1];
    if (text[end - 3] != ':' || tens < '0' || tens > '5' || units < '0' || units > '9') return -1;
    int start = end - 3;
    int digits = 0;
    while (start > 0 && digits < 4 && text[start - 1] >= '0' && text[start - 1] <= '9') {
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

bool timeTextShowsLength(const textUnit* text, int length, int lengthSeconds) {
    int stamp = timeTextLengthAtEnd(text, length);
    if (stamp == 0) return false;
    char lengthText[FORMATTED_TIME_SIZE] = {0};
    convert2Sec(TIME_SCRATCH_SIZE, lengthText, secondsToMilliseconds(lengthSeconds));
    // The length part runs from the slash to the closing parenthesis.
    int lengthStart = length - 1;
    while (text[lengthStart - 1] != '/') lengthStart--;
    int i = 0;
    for (; lengthText[i] != 0 && lengthStart + i < length - 1; i++) {
        if (text[lengthStart + i] != static_cast<unsigned char>(lengthText[i])) return false;
    }
    return lengthText[i] == 0 && lengthStart + i == length - 1;
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
