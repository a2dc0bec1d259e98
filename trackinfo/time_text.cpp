#include "trackinfo/time_text.h"

#include "host/requests.h"

#include <stdio.h>

// Formats ms as convert2Sec does; long enough for a length in seconds times 1000.
static void formatTime(int size, char* out, long long ms) {
    char seconds[TIME_SCRATCH_SIZE] = {0};
    char minutes[TIME_SCRATCH_SIZE] = {0};
    size_t scratch = size < 1 ? 1 : size > TIME_SCRATCH_SIZE ? TIME_SCRATCH_SIZE : static_cast<size_t>(size);

    if (ms <= 4999) {
        snprintf(seconds, scratch, "00");
    } else {
        int s = static_cast<int>((ms / 1000) % 60);
        snprintf(seconds, scratch, s > 9 ? "%d" : "0%d", s);
    }
    // A length of INT_MIN seconds is -35791394 minutes: every count fits an int.
    snprintf(minutes, scratch, "%d", static_cast<int>(ms / 60000));
    // At most "-35791394" and two digits, which the precisions state for the compiler.
    snprintf(out, FORMATTED_TIME_SIZE, "%.9s:%.2s", minutes, seconds);
}

int convert2Sec(int size, char* out, int ms) {
    formatTime(size, out, ms);
    return 0;
}

void formatTimeText(int position, int length, char* out) {
    char positionText[FORMATTED_TIME_SIZE] = {0};
    char lengthText[FORMATTED_TIME_SIZE] = {0};
    convert2Sec(TIME_SCRATCH_SIZE, positionText, position);
    formatTime(TIME_SCRATCH_SIZE, lengthText, static_cast<long long>(length) * 1000);
    // A position is at most "-35791:00", nine characters.
    snprintf(out, TIME_TEXT_SIZE, " (%.9s/%.12s)", positionText, lengthText);
}

int getFileTime(int, char* out, int* position) {
    int ms = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    int length = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
    formatTimeText(ms, length, out);
    if (position) *position = ms;
    return 0;
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
