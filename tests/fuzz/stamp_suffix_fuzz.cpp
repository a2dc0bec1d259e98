// libFuzzer: the recogniser of Vorlu's own suffixes, as the repair and healing use it.
// Input: a position (ms) and a length (s), 32 bits each, then an original in UTF-16.
// No crash or sanitizer report on any text; every time text Vorlu writes, for any
// position and length, and the pause mark are recognised whole behind any original.
#include "trackinfo/time_text.h"
#include "trackinfo/track_metadata.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

const int LONGEST_ORIGINAL = WIDE_TEXT_SIZE - 3;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    int position, length;
    memcpy(&position, data, 4);
    memcpy(&length, data + 4, 4);
    static textUnit text[WIDE_TEXT_SIZE + TIME_TEXT_SIZE];
    int original = static_cast<int>((size - 8) / 2);
    if (original > LONGEST_ORIGINAL) original = LONGEST_ORIGINAL;
    for (int i = 0; i < original; i++) {
        textUnit unit = static_cast<textUnit>(data[8 + 2 * i] | data[9 + 2 * i] << 8);
        text[i] = unit != 0 ? unit : 'x';
    }
    text[original] = 0;
    int found = stampSuffixLengthAtEnd(text, original);
    if (found < 0 || found > original) __builtin_trap();

    char suffix[TIME_TEXT_SIZE];
    formatTimeText(position, length, suffix);
    int suffixLength = static_cast<int>(strlen(suffix));
    appendAscii(text, WIDE_TEXT_SIZE + TIME_TEXT_SIZE, suffix);
    if (stampSuffixLengthAtEnd(text, original + suffixLength) != suffixLength) __builtin_trap();

    text[original] = 0;
    appendAscii(text, WIDE_TEXT_SIZE + TIME_TEXT_SIZE, pauseSuffix);
    if (stampSuffixLengthAtEnd(text, original + static_cast<int>(strlen(pauseSuffix))) !=
        static_cast<int>(strlen(pauseSuffix)))
        __builtin_trap();
    return 0;
}
