// Which worker stamps which file. At most one worker writes a file's ARTIST field at a
// time, and the value it writes back is the artist as it was before any worker stamped
// the file: a worker started for a file that another worker still stamps (the player
// moved away and back within one poll) takes the file over, with the saved original,
// and the older worker writes nothing more.
//
// Threads and locks. Workers and the repair thread call these; the windows' thread calls
// only stampRefusedInThisRun. Each other function takes the claims lock for its whole
// course, host requests included, so that:
// - a take-over never falls between an owner's check and its write;
// - a set and its commit are one step: the host keeps one pending edit, which a set for
//   another file drops unwritten, and every set of this plug-in is made here.
// Locks taken while the claims lock is held, never the other way round: the journal's
// (the write-ahead record), the name lock (a file renamed by its single-byte name) and the
// metadata lock (a single-byte read).
#ifndef VORLU_STAMPING_FILE_CLAIMS_H
#define VORLU_STAMPING_FILE_CLAIMS_H

#include "trackinfo/track_metadata.h"

const int SAVED_ARTIST_SIZE = WIDE_TEXT_SIZE;  // in text units; the single-byte path reads fewer

struct FileClaim {
    int slot;            // -1: the file is not to be stamped
    unsigned int owner;  // this worker's ticket for the slot
    bool valueJustRead;  // the original was read by this claim: its first stamp needs no second read
};

// Workers only, before any starts.
void initFileClaims();

// Claims file, the file of entry listIndex whose length the host gives as trackLength,
// for the calling worker and puts its original artist into savedArtist (SAVED_ARTIST_SIZE
// units): the original saved by a worker still stamping the file (the file is taken
// over), else the value read now. A stamp-like ending of that value is taken off only
// when it is ours: the journal holds the file, or it is a time text showing trackLength;
// anything else is part of the artist. A wide file whose value the host cannot read
// through the wide request is renamed by the single-byte name of entry listIndex and goes
// that way for good. A file is left alone (slot -1) when its value cannot be read, is
// empty (the host answers that for a file it cannot open), may have been cut short by
// the read, holds a '?' on the single-byte path (a character the host could not convert),
// when the host refused a stamp of it earlier in this run, or when the table is full.
// Two files are one only when their names on the same path are equal.
FileClaim claimFile(TrackFile* file, int listIndex, int trackLength, textUnit* savedArtist);

enum StampResult {
    STAMP_WRITTEN,
    STAMP_SKIPPED,  // the field could not be read: nothing written this time
    STAMP_ENDED     // nothing more is to be written: the worker writes back and ends
};

// Writes value to the claimed file, on the path its original was read through. Before
// every stamp but the first after the claim's own read, reads the field: only the
// original, or the original with a suffix of ours, is ours to change. Ends (nothing more
// written to the file by anyone of this run) when someone else edited the field, when
// the file was taken over, when the journal could not record the file before its first
// stamp, or when the host did not write it: the file then gets no further stamp in this
// run, since on the real host a refused set on the playing file can stop playback for good.
StampResult stampFile(FileClaim* claim, const textUnit* value, int listIndex);

// True while no newer worker has taken the file over.
bool ownsFile(const FileClaim& claim);

// Writes the original back if the claim still owns its file, the host accepted a set of
// ours, and the field holds no one else's edit (a field that cannot be read is written
// back all the same). False when the host refused it or failed to write it: worth another
// try. Once nothing of ours is to be undone, the file is let go in the same step, and
// *journalEntry receives its journal entry's sequence number, for the worker to drop the
// entry (left as it was when there is none).
bool restoreFile(const FileClaim& claim, int listIndex, unsigned int* journalEntry);

// Gives the file up, unless another worker has taken it over or the write-back let it go.
void releaseFile(const FileClaim& claim);

// Whether the host refused, or failed to write, a stamp of file in this run. Takes only a
// lock held for memory operations: the windows' thread may ask.
bool stampRefusedInThisRun(const TrackFile& file);

enum RepairOutcome {
    REPAIR_SKIPPED,     // a worker of this run has the file: left to it
    REPAIR_DONE,        // the file holds its original, or someone's edit: left as it is
    REPAIR_UNREADABLE,  // the host cannot read it now, or reads it empty
    REPAIR_REFUSED      // the host refused the original
};

// Takes a stamp that a run which died left in file out, under the claims: reads the
// artist now, and only when it is original followed by one stamp of ours writes original
// back (set, then commit).
RepairOutcome repairFile(const TrackFile& file, const textUnit* original);

#endif
