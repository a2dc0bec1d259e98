// Which worker stamps which file. At most one worker writes a file's ARTIST field at a
// time, and the value it writes back is the artist as it was before any worker stamped
// the file: a worker started for a file that another worker still stamps (the player
// moved away and back within one poll) takes the file over, with the saved original,
// and the older worker writes nothing more.
#ifndef VORLU_STAMPING_FILE_CLAIMS_H
#define VORLU_STAMPING_FILE_CLAIMS_H

#include "trackinfo/track_metadata.h"

const int SAVED_ARTIST_SIZE = METADATA_SIZE;

struct FileClaim {
    int slot;            // -1: the file is not to be stamped
    unsigned int owner;  // this worker's ticket for the slot
};

void initFileClaims();

// The suffix written while playback stands still.
extern const char pauseSuffix[];

// Claims fileName for the calling worker and puts its original artist into savedArtist
// (SAVED_ARTIST_SIZE bytes): the original saved by a worker still stamping the file,
// else the value read now, less a stamp an interrupted run left at its end. A file is
// left alone (slot -1) when its value cannot be read, may have been cut short by the
// read, holds a '?' (a character the host could not convert), or the table is full.
FileClaim claimFile(const char* fileName, char* savedArtist);

// Writes value (setArtist) if the claim still owns its file; false when it was taken over.
bool stampFile(const FileClaim& claim, const char* fileName, const char* value, int listIndex);

// True while no newer worker has taken the file over.
bool ownsFile(const FileClaim& claim);

// Writes the original back if the claim still owns its file. False when the host refused
// it while a stamp of ours stands in the file: worth another try.
bool restoreFile(const FileClaim& claim, const char* fileName, int listIndex);

// Gives the file up, unless another worker has taken it over.
void releaseFile(const FileClaim& claim);

#endif
