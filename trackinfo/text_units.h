// Text as the plug-in keeps it: 16-bit units ending in a zero unit, in fixed buffers.
// On the wide path the units are UTF-16 as the host gives them; on the single-byte path
// each byte is one unit (0 to 255), so the text goes back to the host byte for byte.
// The helpers never write past the size they are given and always leave a terminator.
// Each runs on any thread, takes no lock and asks the host nothing.
#ifndef VORLU_TRACKINFO_TEXT_UNITS_H
#define VORLU_TRACKINFO_TEXT_UNITS_H

#include "host/host_api.h"

typedef hostWideChar textUnit;

// Units before the terminator, looking at no more than limit units.
inline int textLength(const textUnit* text, int limit) {
    int length = 0;
    while (length < limit && text[length] != 0) length++;
    return length;
}

inline bool sameText(const textUnit* a, const textUnit* b) {
    while (*a != 0 && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

// Copies text into out (size units), cut to fit.
inline void copyText(textUnit* out, int size, const textUnit* text) {
    int length = textLength(text, size - 1);
    for (int i = 0; i < length; i++) out[i] = text[i];
    out[length] = 0;
}

// Appends an ASCII text (the time text, the pause mark) to out (size units), cut to fit.
inline void appendAscii(textUnit* out, int size, const char* ascii) {
    int length = textLength(out, size - 1);
    while (length < size - 1 && *ascii != 0) out[length++] = static_cast<unsigned char>(*ascii++);
    out[length] = 0;
}

// Single-byte text to units and back, byte for byte.
inline void unitsFromBytes(textUnit* out, int size, const char* bytes) {
    int length = 0;
    while (length < size - 1 && bytes[length] != 0) {
        out[length] = static_cast<unsigned char>(bytes[length]);
        length++;
    }
    out[length] = 0;
}

inline void bytesFromUnits(char* out, int size, const textUnit* units) {
    int length = 0;
    while (length < size - 1 && units[length] != 0) {
        out[length] = static_cast<char>(units[length] & 0xFF);
        length++;
    }
    out[length] = 0;
}

#endif
