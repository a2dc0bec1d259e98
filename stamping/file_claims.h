// Which worker stamps which file. At most one worker writes a file's ARTIST field at a
// time, and the value it writes back is the artist as it was before any worker stamped
// the file: a worker started for a file that another worker still stamps (the player
// moved away and back within one poll) takes the file over, with the saved original,
// and the older worker writes nothing more. Every set of this plug-in is made here, under
// the claims lock, and committed in the same step: the host keeps one pending edit, which
// a set for another file drops unwritten. No disk work is done under the claims lock: a
// file's journal entry is written before its claim is published and dropped after its
// write-back. Threads and locks: stamping/README.md.
#ifndef VORLU_STAMPING_FILE_CLAIMS_H
#define VORLU_STAMPING_FILE_CLAIMS_H

#include "trackinfo/playback.h"

const int SAVED_ARTIST_SIZE = WIDE_TEXT_SIZE;  // in text units; the single-byte path reads fewer

// Why a file plays unstamped, where a listener might ask.
enum Unstamped {
    STAMPED,                   // claimed: it is stamped
    UNSTAMPED_QUIETLY,         // no name, refused earlier in this run, or no room: nothing to say again
    UNSTAMPED_UNREADABLE,      // its artist cannot be read, or reads empty (a file the host cannot open)
    UNSTAMPED_MAY_BE_CUT,      // its artist fills the read, or leaves no room for the longest stamp
    UNSTAMPED_QUESTION_MARK,   // a '?' on the single-byte path: a character the code page lacks
    UNSTAMPED_UNPROVEN_STAMP,  // it ends like a stamp that no journal proves ours (another player's?)
    UNSTAMPED_NO_JOURNAL,      // the journal cannot record it now (no folder, full, held, later version)
    UNSTAMPED_SET_REFUSED      // the host refused a set of it or failed to write it: no more in this run
};

struct FileClaim {
    int slot;            // -1: the file is not to be stamped
    unsigned int owner;  // this worker's ticket for the slot
    Unstamped why;       // for slot -1
};

// On: init, before any worker starts. Takes: none.
void initFileClaims();

// On: worker. Takes: claims, then metadata, run lists; then, holding nothing, journal;
// then claims again. Asks: a read. Claims file for the calling worker and puts its
// original artist into savedArtist (SAVED_ARTIST_SIZE units): the original saved by a
// worker still stamping the file (the file is taken over), else the value read now,
// without a stamp-like ending where a journal entry holds the file with exactly the rest.
// A new claim's journal entry is on disk before the claim is published. Slot -1 (left
// alone), for the reason in why; also a file whose set the host refused or failed to
// write, or that a refused set stopped, in this run.
FileClaim claimFile(const TrackFile& file, textUnit* savedArtist);

enum StampResult {
    STAMP_WRITTEN,
    STAMP_SKIPPED,  // the field could not be read, or a paused file gets no write: nothing written now
    STAMP_ENDED     // nothing more is to be written: the worker writes back and ends
};

// On: worker. Takes: claims, then metadata, run lists. Asks: a read, then what
// writeKeepingPlayback asks. Writes value to the claimed file; skips it while a file whose
// pause a write of ours once dropped is paused. Ends (nothing more written to the file in
// this run) where the field holds someone else's edit, the file was taken over, or the
// host refused or failed to write it: on the real host a refused set on the playing file
// can stop playback for good (playback->stoppedByRefusal tells).
StampResult stampFile(const FileClaim& claim, const textUnit* value, int listIndex, Playback* playback);

// On: worker. Takes: claims. True while no newer worker has taken the file over.
bool ownsFile(const FileClaim& claim);

enum RestoreOutcome {
    RESTORE_DONE,   // nothing of ours is left to undo: the file is let go
    RESTORE_RETRY,  // the field reads empty or cannot be read (nothing written), or the host refused the
                    // original or failed to write it: worth another try
    RESTORE_HELD    // a refused set stopped this file in this run, and it plays: no set until it stops
};

// On: worker. Takes: claims, then metadata, run lists. Asks: a read, what
// writeKeepingPlayback asks, and once a file that carried a stamp of ours is let go, that
// the playlist read its titles again. Writes the original back where the claim still owns
// its file and the host accepted a set of ours: only over the original with one suffix of
// ours (an edit is left, and so is an original already back). Once done, the file is let
// go in the same step, and *journalEntry receives its journal entry's number for the
// worker to drop.
RestoreOutcome restoreFile(const FileClaim& claim, int listIndex, unsigned int* journalEntry, Playback* playback);

// On: worker. Takes: claims. Gives the file up, unless another worker took it over or it
// was let go: its journal entry stays for the next start.
void releaseFile(const FileClaim& claim);

// On: any, the windows' thread too. Takes: run lists. Whether the host refused, or failed
// to write, a stamp of file in this run, or a refused set of it stopped playback.
bool stampRefusedInThisRun(const TrackFile& file);
// On: worker. Takes: run lists. False once a write of ours started file playing while the
// listener had paused it: its pauses are not marked again in this run.
bool pauseMarkAllowed(const TrackFile& file);

enum RepairOutcome {
    REPAIR_SKIPPED,     // a worker of this run has the file, or it plays after a refused set stopped it: left
    REPAIR_DONE,        // the file holds its original, or someone's edit: left as it is
    REPAIR_TAKEN_OUT,   // the stamp is taken out: the original is written back
    REPAIR_UNREADABLE,  // the host cannot read it now, or reads it empty
    REPAIR_REFUSED      // the host refused the original or failed to write it
};

// On: repair. Takes: claims, then names, metadata, run lists. Asks: a read, and where the
// field holds original followed by one stamp of ours whether it plays, then what
// writeKeepingPlayback asks and that the playlist read its titles again: takes out a
// stamp that a run which died left in file, keeping its playback as the listener left it.
RepairOutcome repairFile(const TrackFile& file, const textUnit* original);

#endif
