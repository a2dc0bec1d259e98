// Which worker stamps which file. At most one worker writes a file's ARTIST field at a
// time, and the value it writes back is the artist as it was before any worker stamped
// the file: a worker started for a file that another worker still stamps (the player
// moved away and back within one poll) takes the file over, with the saved original,
// and the older worker writes nothing more. Every set of this plug-in is made here, under
// the claims lock, and committed in the same step: the host keeps one pending edit, which
// a set for another file drops unwritten. Threads and locks: stamping/README.md.
#ifndef VORLU_STAMPING_FILE_CLAIMS_H
#define VORLU_STAMPING_FILE_CLAIMS_H

#include "trackinfo/track_metadata.h"

const int SAVED_ARTIST_SIZE = WIDE_TEXT_SIZE;  // in text units; the single-byte path reads fewer

struct FileClaim {
    int slot;            // -1: the file is not to be stamped
    unsigned int owner;  // this worker's ticket for the slot
    bool valueJustRead;  // the original was read by this claim: its first stamp needs no second read
};

// On: init, before any worker starts. Takes: none.
void initFileClaims();

// On: worker. Takes: claims, then journal, metadata. Asks: a read. Claims file for the
// calling worker and puts its original artist into savedArtist (SAVED_ARTIST_SIZE units): the
// original saved by a worker still stamping the file (the file is taken over), else the
// value read now, without a stamp-like ending only where a journal entry holds the file
// with exactly the rest. Slot -1 (left alone): no name, a value that cannot be read, is
// empty (the host answers that for a file it cannot open), may have been cut short by the
// read, or holds a '?' on the single-byte path (a character the host could not convert);
// a file whose stamp the host refused or failed to write in this run; a full table.
FileClaim claimFile(const TrackFile& file, textUnit* savedArtist);

// What a worker knows of its file's playback when it writes.
struct Playback {
    bool filePlays;  // its file is the one playing, or paused, as far as the last look told
    int position;    // ms, as read at positionReadAt (GetTickCount): to start it again there
    DWORD positionReadAt;
    bool pauseRestored;  // set by a write that dropped the listener's pause and paused again
};

enum StampResult {
    STAMP_WRITTEN,
    STAMP_SKIPPED,  // the field could not be read: nothing written this time
    STAMP_ENDED     // nothing more is to be written: the worker writes back and ends
};

// On: worker. Takes: claims, then journal, metadata, run lists. Asks: a read (but right
// after the claim's own), a set and its commit with play tracking off around them; where
// playback says the file plays, the play state before the set and after the commit, and
// the buttons and jump that put it back as the listener left it. Writes value to the
// claimed file; skips it while a file whose pause a write of ours once dropped is paused.
// Ends (nothing more written to the file in this run) where the field holds someone
// else's edit, the file was taken over, the journal could not record the file before its
// first stamp, or the host refused or failed to write it: on the real host a refused set
// on the playing file can stop playback for good.
StampResult stampFile(FileClaim* claim, const textUnit* value, int listIndex, Playback* playback);

// On: worker. Takes: claims. True while no newer worker has taken the file over.
bool ownsFile(const FileClaim& claim);

// On: worker. Takes: claims, then metadata, run lists. Asks: a read, a set and its commit,
// what stampFile asks around them, and once a file that carried a stamp of ours is let go,
// that the playlist read its titles again. Writes the original back where the claim still owns its file and the host
// accepted a set of ours: only over the original with one suffix of ours (an edit is left, and so is an original
// already back). False, worth another try, when the field reads empty or cannot be read
// (the listener may have cleared it: nothing is written), or the host refused the original
// or failed to write it. Once nothing of ours is to be undone, the file is let go in the
// same step, and *journalEntry receives its journal entry's number for the worker to drop.
bool restoreFile(const FileClaim& claim, int listIndex, unsigned int* journalEntry, Playback* playback);

// On: worker. Takes: claims. Gives the file up, unless another worker took it over or it
// was let go.
void releaseFile(const FileClaim& claim);

// On: any, the windows' thread too. Takes: run lists. Whether the host refused, or failed
// to write, a stamp of file in this run.
bool stampRefusedInThisRun(const TrackFile& file);
// On: worker. Takes: run lists. False once a write of ours started file playing while the
// listener had paused it: its pauses are not marked again in this run.
bool pauseMarkAllowed(const TrackFile& file);

enum RepairOutcome {
    REPAIR_SKIPPED,     // a worker of this run has the file: left to it
    REPAIR_DONE,        // the file holds its original, or someone's edit: left as it is
    REPAIR_UNREADABLE,  // the host cannot read it now, or reads it empty
    REPAIR_REFUSED      // the host refused the original or failed to write it
};

// On: repair. Takes: claims, then metadata. Asks: a read, and where the field holds
// original followed by one stamp of ours a set and its commit with play tracking off
// around them, then that the playlist read its titles again: takes out a stamp that a run
// which died left in file.
RepairOutcome repairFile(const TrackFile& file, const textUnit* original);

#endif
