// The journal: every file this plug-in has stamped and not yet written back, with its
// original artist, on disk, so that a stamp left by a player that died (killed, crashed,
// the power gone) is taken out at the next start. It is the only file Vorlu writes, and
// no file is stamped without its entry there first. Its bytes: journal_format.h.
//
// Where: the first of the candidate folders that takes it at init (the host's folder for
// plug-ins as its wide request names it, as its single-byte one does, this library's);
// with none, nothing is stamped in this run. The repair reads the journal in each of them.
// Every path goes through the wide file calls, so a folder named in any script serves.
//
// Every update rewrites the file whole: a temporary file, flushed, then moved over the
// journal in one step, under a lock file held open exclusively, which keeps the processes
// that share the journal from losing each other's entries. Only a journal that is not
// there is no journal: one that cannot be read now is waited for, never replaced. An
// update that fails is tried again in the same folder, a few times. A journal of a later
// version is left alone, whole; an entry that is malformed or fails its check is never
// acted on and is dropped at the next update. Once the journal is full, a new file is not
// stamped, and no entry is dropped to make room.
//
// Threads and locks: stamping/README.md. No function here asks the host anything.
#ifndef VORLU_STAMPING_JOURNAL_H
#define VORLU_STAMPING_JOURNAL_H

#include "stamping/journal_format.h"

const int JOURNAL_PATH_SIZE = 300;  // a folder, in UTF-16 units with the terminator
// The candidate folders: the host's (wide request), the host's (single-byte request), this library's.
const int JOURNAL_FOLDERS = 3;
// Starts of a player (one count per process) that may find a journaled file that is there
// read empty or unreadable before its entry is given up: the listener cleared the artist.
const int JOURNAL_MAX_STARTS = 10;

enum JournalUpdate {
    JOURNAL_WRITTEN,        // the journal on disk holds the change
    JOURNAL_NO_FOLDER,      // no folder took the journal at init
    JOURNAL_UNREADABLE,     // it is there but could not be read (another program holds it): left as it was
    JOURNAL_LATER_VERSION,  // a later version's journal: not ours to change
    JOURNAL_FULL,           // no room for the entry
    JOURNAL_NOT_WRITTEN     // its lock, the new journal or the move over the old one failed
};

enum JournalLookup { JOURNAL_HOLDS, JOURNAL_LACKS, JOURNAL_CANNOT_TELL };

enum JournalSettlement {
    SETTLE_DROP,        // nothing of the entry's is left to undo, or never will be
    SETTLE_COUNT_START  // kept, with one more start that found its file unreadable
};

// On: init, before any thread of ours. Takes: journal. Names the candidate folders
// (either of the host's may be null) and chooses the first that takes the journal, by
// rewriting it there (creating it where there is none).
void initJournal(const textUnit* settingsFolder, const char* singleByteSettingsFolder);
// On: worker, holding nothing. Takes: journal. Records file, its original and its volume
// before its claim is published; *sequence receives the entry's number. Anything but
// JOURNAL_WRITTEN: the file is not to be stamped.
JournalUpdate journalRecord(const TrackFile& file, const textUnit* original, unsigned int* sequence);
// On: worker or repair, holding nothing. Takes: journal. Drops this process's entry of
// sequence, once its original is back or its claim was never published.
JournalUpdate journalForget(unsigned int sequence);
// How long the system's own writer may take to write a file's cached bytes to its disk:
// the cache manager's lazy writer runs once a second and writes an eighth of the dirty
// pages each time, so a page waits about eight seconds; thirty leave room for a busy disk.
const DWORD SYSTEM_WRITER_DELAY_MS = 30000;
// On: worker, holding nothing. Takes: journal. Keeps this process's entry of sequence until
// its file's write-back, which could not be flushed, can be taken as on disk: it goes at the
// first call of journalForgetDue from SYSTEM_WRITER_DELAY_MS on, else at the next start.
void journalForgetLater(unsigned int sequence);
// On: a thread of ours as it ends (a worker's, a repair's), or quit, holding nothing.
// Takes: journal. Drops the entries kept by journalForgetLater whose time has come. Never
// from a worker's polls: another player holding the journal's lock would keep the worker
// from seeing a change of playback for seconds.
void journalForgetDue();
// On: worker, holding nothing. Takes: journal. Whether an entry of any player holds file
// with exactly original.
JournalLookup journalHoldsOriginal(const TrackFile& file, const textUnit* original);

// On: repair. Takes: journal. The journal in candidate folder (0 to JOURNAL_FOLDERS - 1)
// into snapshot (JOURNAL_BUFFER_SIZE bytes); its size, or 0 when there is no usable one.
int journalSnapshot(int candidate, unsigned char* snapshot);
// On: repair, or worker holding journal. Takes: none. Whether the entry's process has
// ended (its id is gone or names a newer process); one Vorlu may not open still runs.
bool ownerHasEnded(const JournalEntry& entry);
// On: repair. Takes: journal. Drops the entry from the journal in candidate folder, or
// counts one more start for it (dropped at JOURNAL_MAX_STARTS).
void journalSettle(int candidate, const JournalEntry& entry, JournalSettlement settlement);

// On: quit, once no thread of ours runs. Takes: journal. In each candidate folder, a
// journal that holds no entry goes, and with it the lock file, unless another player holds it.
void journalLetGo();

#endif
