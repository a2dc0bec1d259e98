#include "trackinfo/time_text.h"

// Appends the decimal digits of count (not negative) to out at *at.
static void appendCount(long long count, char* out, int* at) {
    char digits[20];
    int length = 0;
    do {
        digits[length++] = static_cast<char>('0' + count % 10);
        count /= 10;
    } while (count > 0);
    while (length > 0) out[(*at)++] = digits[--length];
}

// Appends ms to out at *at: the whole minute count, a colon and two seconds digits, which
// read 00 below 5000 ms and for every negative time. A length of INT_MIN seconds is
// -35791394 minutes, twelve characters in all.
static void appendTime(long long ms, char* out, int* at) {
    int seconds = ms <= 4999 ? 0 : static_cast<int>(ms / 1000 % 60);
    long long minutes = ms / 60000;
    if (minutes < 0) {
        out[(*at)++] = '-';
        minutes = -minutes;
    }
    appendCount(minutes, out, at);
    out[(*at)++] = ':';
    out[(*at)++] = static_cast<char>('0' + seconds / 10);
    out[(*at)++] = static_cast<char>('0' + seconds % 10);
}

// Formatted by hand: the run-time library's formatting would bring its floating-point
// printing into the library, a fifth of its size.
void formatTimeText(int position, int length, char* out) {
    int at = 0;
    out[at++] = ' ';
    out[at++] = '(';
    appendTime(position, out, &at);
    out[at++] = '/';
    appendTime(static_cast<long long>(length) * 1000, out, &at);
    out[at++] = ')';
    out[at] = 0;
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
