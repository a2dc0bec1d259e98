// Requests for the current entry's file name and for reading, setting and committing
// one metadata field of a file. Any thread may call them; each returns once the host
// has answered.
#ifndef VORLU_TRACKINFO_TRACK_METADATA_H
#define VORLU_TRACKINFO_TRACK_METADATA_H

#include <windows.h>

const int FILE_NAME_SIZE = 260;
const int METADATA_SIZE = 256;

extern const char artistField[];  // "ARTIST", the only field the plug-in touches

// Copies the current entry's file name into out (FILE_NAME_SIZE bytes), reading the
// current index afresh. A missing name gives an empty text; a long one is cut to fit.
int GetFileName(char* out);

// Reads field of fileName into the shared read buffer and returns its address, or null
// when the host cannot read it. The buffer is overwritten by the next read on any
// thread: use copyExtendedFileInfo unless the metadata lock is held.
char* GetExtendedFileInfo(const char* fileName, const char* field);

// Reads field of fileName and copies it into out (outSize bytes) under the metadata
// lock. Returns the value's length, or -1 when the host cannot read it or the value
// does not fit out.
int copyExtendedFileInfo(const char* fileName, const char* field, char* out, int outSize);

// Asks the host to set field of fileName to value; returns its answer (non-zero: accepted).
LRESULT SetExtendedFileInfo(const char* fileName, const char* field, const char* value);

// Sets ARTIST and, only when the host accepted it, commits it with listIndex as the
// entry to write. Returns 0.
int setArtist(const char* fileName, const char* value, int listIndex);
// The same, telling whether the host accepted the value.
bool writeArtist(const char* fileName, const char* value, int listIndex);

// Prepares the metadata lock; called once, before any worker can start.
void initTrackMetadata();

#endif
