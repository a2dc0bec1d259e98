// The time text stamped behind the artist: " (position/length)", each time as minutes,
// a colon and two seconds digits, e.g. " (1:05/4:00)".
#ifndef VORLU_TRACKINFO_TIME_TEXT_H
#define VORLU_TRACKINFO_TIME_TEXT_H

#include "trackinfo/text_units.h"

const int TIME_SCRATCH_SIZE = 7;    // what callers pass convert2Sec for its scratch texts
const int FORMATTED_TIME_SIZE = 9;  // the longest formatted time, "-9999:00", and its terminator
const int TIME_TEXT_SIZE = 21;      // the longest time text, " (-9999:00/-9999:00)", and its terminator

// Decimal digits of n's magnitude, at least 1.
int intLength(int n);

// Formats ms into out (FORMATTED_TIME_SIZE bytes). Seconds read 00 below 5000 ms and for
// every negative time; a minute count of five or more digits prints as 0. size is the
// capacity of the scratch texts, at most TIME_SCRATCH_SIZE. Returns 0.
int convert2Sec(int size, char* out, int ms);

// Writes the time text of position (ms) and length (s) into out (TIME_TEXT_SIZE bytes).
void formatTimeText(int position, int length, char* out);

// Asks the host for the position (ms) and the length (s) and writes the time text into
// out (TIME_TEXT_SIZE bytes). index is not used. Returns 0.
int getFileTime(int index, char* out);

// The suffix written while playback stands still.
extern const char pauseSuffix[];

// The length of a suffix of the form Vorlu writes (any time text, or the pause mark) at
// the end of text (length units), or 0.
int stampSuffixLengthAtEnd(const textUnit* text, int length);

// The length of a time text as getFileTime writes it at the end of text (length
// units), or 0 when text does not end with one.
int timeTextLengthAtEnd(const textUnit* text, int length);

// Whether text (length units) ends with a time text as getFileTime writes it whose
// length part shows lengthSeconds.
bool timeTextShowsLength(const textUnit* text, int length, int lengthSeconds);

// seconds × 1000, held to the int range instead of overflowing: a length beyond
// about 24.8 days formats as the largest time an int can carry.
int secondsToMilliseconds(int seconds);

#endif
