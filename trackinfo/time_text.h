// The time text stamped behind the artist: " (position/length)", each time as minutes,
// a colon and two seconds digits, e.g. " (1:05/4:00)". Every function here runs on any
// thread, takes no lock and asks the host nothing.
#ifndef VORLU_TRACKINFO_TIME_TEXT_H
#define VORLU_TRACKINFO_TIME_TEXT_H

#include "trackinfo/text_units.h"

// Every time the host can give prints whole: a position is a 32-bit count of ms (at most
// 35791 minutes either way), a length a 32-bit count of seconds (at most 35791394 minutes).
// The longest time text, " (-35791:00/-35791394:00)", and its terminator.
const int TIME_TEXT_SIZE = 26;

// Writes the time text of position (ms) and length (s) into out (TIME_TEXT_SIZE bytes):
// each time as its whole minute count, a colon and two seconds digits, which read 00
// below 5000 ms and for every negative time.
void formatTimeText(int position, int length, char* out);

// The suffix written while playback stands still.
extern const char pauseSuffix[];

// The length of a suffix of the form Vorlu writes (any time text, or the pause mark) at
// the end of text (length units), or 0.
int stampSuffixLengthAtEnd(const textUnit* text, int length);

// The length of a time text as getFileTime writes it at the end of text (length
// units), or 0 when text does not end with one.
int timeTextLengthAtEnd(const textUnit* text, int length);

#endif
