#include "trackinfo/time_text.h"

#include "plugin/gen_vorlu.h"

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

int getFileTime(int, char* out) {
    int position = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    int length = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
    char positionText[FORMATTED_TIME_SIZE] = {0};
    char lengthText[FORMATTED_TIME_SIZE] = {0};
    convert2Sec(TIME_SCRATCH_SIZE, positionText, position);
    convert2Sec(TIME_SCRATCH_SIZE, lengthText, secondsToMilliseconds(length));
    snprintf(out, TIME_TEXT_SIZE, " (%.8s/%.8s)", positionText, lengthText);
    return 0;
}
