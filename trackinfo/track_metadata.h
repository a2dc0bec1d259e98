// Requests for the current entry's file name and for reading, setting and committing
// one metadata field of a file, through the host's single-byte requests or, where the
// host has them, its wide ones. Each returns once the host has answered. Each asks in a
// step (host/requests.h): the host's one name buffer, and the read buffer here, are
// overwritten by the next such request. Threads and locks: stamping/README.md.
#ifndef VORLU_TRACKINFO_TRACK_METADATA_H
#define VORLU_TRACKINFO_TRACK_METADATA_H

#include "host/requests.h"
#include "trackinfo/text_units.h"

#include <windows.h>

const int FILE_NAME_SIZE = 260;
const int METADATA_SIZE = 256;
// Wide names and values, in UTF-16 units with the terminator. A longer name (the long
// form of a path reaches 32767) is never cut to fit: such a file is not stamped.
const int WIDE_TEXT_SIZE = 1024;

// A file and the path its requests take: the wide one on a host that has it.
struct TrackFile {
    bool wide;                      // named, read and set through the wide requests
    textUnit name[WIDE_TEXT_SIZE];  // UTF-16 on the wide path, else the single-byte name; empty: none
};

// On: any. Takes: none. Whether two files are one: the same path and the same name on
// it, as Windows' file systems compare names (ordinal, ignoring case).
bool sameFileName(const TrackFile& a, const TrackFile& b);
// On: any. Takes: none. A 64-bit hash of file's name, alike for every two files that
// sameFileName takes for one.
unsigned long long fileNameHash(const TrackFile& file);
// On: any. Takes: none. A name as the system's wide calls take it, into out (WIDE_TEXT_SIZE
// units): a wide one as it is, a single-byte one as the system's single-byte calls would
// read it, through its code page. False when it cannot be read so.
bool nameInUtf16(const textUnit* name, bool wide, textUnit* out);

// On: a step. Takes: none. Asks: the current index, its wide name. Copies the current
// entry's UTF-16 file name into out (size units) and returns its length; -1 when the host
// gives no name; size when the name does not fit, and then out holds nothing.
int GetFileNameW(textUnit* out, int size);

// On: a step. Takes: none. Asks: the current index, its name. The current entry's file:
// its wide name on a host with the wide requests, else its single-byte name; an empty name
// when the host gives none, or one too long to hold whole.
void readCurrentFile(TrackFile* file);
// On: a step. Takes: none. Asks: the current index, its name. Whether file is the current entry's.
bool isCurrentFile(const TrackFile& file);

// On: a step. Takes: none. Asks: a read.
// Reads the ARTIST of file on its path into out (size units). Returns the value's length,
// or -1 when the host cannot read it or it does not fit.
int readArtist(const TrackFile& file, textUnit* out, int size);

enum ArtistWrite {
    ARTIST_REFUSED,      // the host refused the set: the file is as it was
    ARTIST_NOT_WRITTEN,  // the set was accepted, the write failed (a read-only or locked file)
    ARTIST_WRITTEN
};

// On: a step. Takes: none. Asks: a set, and its commit. Sets ARTIST of file on its path
// and, only when the host accepted it, commits it with listIndex as the entry to write;
// the commit's answer is the only sign of a failed write. The host keeps one pending
// edit, which a set for another file drops: the set and its commit are one step's.
ArtistWrite writeArtist(const TrackFile& file, const textUnit* value, int listIndex);

#endif
