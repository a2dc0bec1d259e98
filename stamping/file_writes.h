// Every write of Vorlu's to a file's ARTIST field: a stamp, a pause mark, a write-back and
// a repair. Each is one step (host/requests.h): the windows' thread reads what it needs
// (which file the current entry names, the play state, the position and length, the
// field), decides, and writes, putting back whatever its write did to playback, before it
// handles anything else. No click of the listener's comes between a look and the write
// made on it, nor between the write and what puts playback back: whatever changed in the
// step, the write changed.
//
// What each write does, by what the step finds:
// - its file is the current entry's and plays: a stamp writes the time; a pause mark
//   writes nothing (the worker looks again); a write-back or repair writes the original;
// - it stands paused: a stamp, or a pause mark, writes " (paused)" (once: a field that holds
//   it is left), unless a write of ours once started this file playing while paused (no
//   write while paused then);
// - another entry's file is current, or nothing plays: no stamp and no mark (the worker
//   writes back and ends); a write-back or repair writes the original;
// - it plays within the last END_MARGIN_MS of its track: no stamp (the worker writes back
//   and ends);
// - the field holds someone's edit: nothing, then or later; the edit is kept;
// - the field reads empty or cannot be read: nothing now; a write-back is tried again.
// A write of the file that plays, or stands paused, has play tracking off around it (its
// restart is no play of the listener's) and is watched: the play state is read before the
// write and after its commit, and any change is the write's and is undone at once:
// - a paused file the write started playing (the wma input plug-in): paused again, a
//   blip; it gets no further write while paused in this run (another would start it again);
// - a refused set that stopped the file (the m4a and wma input plug-ins stop it at the
//   set): play pressed, a jump back to where it stood, paused again if it was; no further
//   set of it while it plays in this run, write-backs included (each would stop it again).
// A file of another entry, or with nothing playing, is written plainly: no restart comes.
#ifndef VORLU_STAMPING_FILE_WRITES_H
#define VORLU_STAMPING_FILE_WRITES_H

#include "stamping/file_claims.h"

// The end of a track where nothing more is stamped and the original goes back.
const int END_MARGIN_MS = 1500;

enum StampResult {
    STAMP_WRITTEN,
    STAMP_SKIPPED,  // nothing written now: the field could not be read, or the file gets no write while paused
    STAMP_ENDED,    // nothing more is to be written: the worker writes back and ends
    STAMP_REFUSED   // the host refused it or failed to write it: ended, and so for the rest of the run
};

// On: worker. Takes: steps. Asks, in one step: the current entry's file, the play state,
// the position and the length, a read, then what a watched write asks. Writes the claimed
// file's original followed by the time text of the position and length read in the step,
// while its file is the current entry's and plays before its end margin (the pause mark
// while it stands paused). Ends (nothing more is written in this run) where it no longer
// is or is within its end margin, the field holds someone else's edit, the file was taken over, or the host refused or
// failed to write it. *shownPosition receives what a written value shows: the position of
// a time stamp, or -1 for the pause mark. Where it writes, *restarted receives whether a
// mark's write restarted the file (its position reads 0 until the host's title update);
// it is left as it was where nothing is written.
StampResult stampTime(const FileClaim& claim, int listIndex, int* shownPosition, bool* restarted);
// On: worker. Takes: steps. Asks as stampTime does, but the length. Writes the pause mark,
// only while the claimed file is the current entry's and stands paused; skipped otherwise.
StampResult markPause(const FileClaim& claim, int listIndex, bool* restarted);

enum RestoreOutcome {
    RESTORE_DONE,   // nothing of ours is left to undo: the file is let go
    RESTORE_RETRY,  // the field reads empty or cannot be read (nothing written), or the host refused the
                    // original or failed to write it: worth another try
    RESTORE_HELD    // a refused set stopped this file in this run, and it plays: no set until it stops
};

// On: worker. Takes: steps. Asks, in one step: a read, and where the field holds the
// original with one suffix of ours, the current entry's file and the play state, then
// what a write asks, and once a file that carried a stamp of ours is let go, that the
// playlist read its titles again. Writes the original back where the claim still owns its
// file and the host accepted a set of ours: only over the original with one suffix of
// ours (an edit is left, and so is an original already back). Once done, the file is let
// go in the same step, and *journalEntry receives its journal entry's number for the
// worker to drop; *wrote tells whether this write-back wrote the original. Closing: the
// threads are to stop, and no write is held.
RestoreOutcome writeBackOriginal(const FileClaim& claim, int listIndex, bool closing, unsigned int* journalEntry,
                                 bool* wrote);

enum RepairOutcome {
    REPAIR_SKIPPED,     // a worker of this run has the file, or it plays after a refused set stopped it: left
    REPAIR_DONE,        // the file holds its original, or someone's edit: left as it is
    REPAIR_TAKEN_OUT,   // the stamp is taken out: the original is written back
    REPAIR_UNREADABLE,  // the host cannot read it now, or reads it empty
    REPAIR_REFUSED      // the host refused the original or failed to write it
};

// On: repair. Takes: steps. Asks, in one step: a read, and where the field holds original
// followed by one stamp of ours, the current entry and its file and the play state, then
// what a write asks and that the playlist read its titles again: takes out a stamp that a
// run which died left in file, as a worker writes back.
RepairOutcome repairFile(const TrackFile& file, const textUnit* original);

#endif
