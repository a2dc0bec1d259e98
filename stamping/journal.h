// The journal: every file this plug-in has stamped and not yet written back, with its
// original artist, on disk, so that a stamp left by a player that died (killed, crashed,
// the power gone) is taken out at the next start. It is the only file Vorlu writes.
//
// Where: the folder the host gives plug-ins for their own files (its wide request first,
// then its single-byte one), else the folder of this library: the first that can be
// written, and the next one from the moment it cannot; with none writable there is no
// journal and Vorlu works without one. The repair reads the journal in each of them.
// Every path goes through the wide file calls, so a folder named in any script serves.
//
// Format (little-endian): "VORLUJNL", a 32-bit version (1), then entries, each a 32-bit
// payload size, the CRC-32 of the payload, and the payload: the owner's process id and
// creation time (two 32-bit halves), a sequence number, the path (1 wide, 0 single-byte),
// how many starts found the file unreadable, the name's and the original's lengths in
// units (16 bits each), 16 zero bits, then the name's and the original's units.
// A journal of a later version is left alone, and with it the whole journal; an entry
// that is malformed or fails its check is never acted on and is dropped at the next
// update.
//
// Every update rewrites the file whole: a temporary file, flushed, then moved over the
// journal in one step, under a lock file held open exclusively, which keeps the
// processes that share the journal from losing each other's entries. Workers and the
// repair thread touch it, and quit once they have ended; never the windows' thread while
// a worker may wait for it: one lock guards it, and no host request is made under it.
#ifndef VORLU_STAMPING_JOURNAL_H
#define VORLU_STAMPING_JOURNAL_H

#include "trackinfo/track_metadata.h"

const int JOURNAL_VERSION = 1;
const int JOURNAL_HEADER_SIZE = 12;
const int JOURNAL_BUFFER_SIZE = 128 * 1024;  // a longer journal is read this far
const int JOURNAL_PATH_SIZE = 300;           // a folder, in UTF-16 units with the terminator
// The candidate folders: the host's (wide request), the host's (single-byte request), this library's.
const int JOURNAL_FOLDERS = 3;
// Starts that may find a journaled file unreadable (a drive not plugged in) before its
// entry is given up.
const int JOURNAL_MAX_STARTS = 10;

struct JournalEntry {
    unsigned int processId;
    unsigned int creationLow;  // the owner's creation time: a process id alone may be reused
    unsigned int creationHigh;
    unsigned int sequence;  // tells two entries of one owner for one file apart
    int starts;
    TrackFile file;
    textUnit original[WIDE_TEXT_SIZE];
};

// The journal's version in data (size bytes), or 0 when data does not begin like one.
int journalVersion(const unsigned char* data, int size);

// Reads the entry at offset of data; returns the offset of the next entry, or -1 when
// there is none to read there. *valid tells whether entry now holds a whole, checked
// entry (a malformed one of readable size is stepped over).
int readJournalEntry(const unsigned char* data, int size, int offset, JournalEntry* entry, bool* valid);

// Names the candidate folders: the host's folder for plug-ins as its wide request gives
// it and as its single-byte one does (either may be null), and the library's own. The
// folder in use is chosen when a worker first needs it. Called by init; no file is
// touched here.
void initJournal(const textUnit* settingsFolder, const char* singleByteSettingsFolder);

// Before the first stamp of a file: records it and its original, on disk, in the folder
// in use, moving on to the next candidate when that one cannot be written. Returns the
// entry's sequence number (above 0), 0 when there is no journal to write to (no folder
// holds a lock file, or a later version's journal: Vorlu works on as without one), or -1
// when no folder that took the lock took the journal (full disks, say): the file is then
// not to be stamped.
long journalRecord(const TrackFile& file, const textUnit* original);

// After the original went back: drops this process's entry of that sequence number.
void journalForget(unsigned int sequence);

// Whether the journal holds an entry for file, of any player: a stamp at the end of its
// artist is then one of ours.
bool journalHolds(const TrackFile& file);

// For the repair: copies the journal in candidate folder (0 to JOURNAL_FOLDERS - 1) as
// it stands into snapshot (JOURNAL_BUFFER_SIZE bytes); its size in bytes, or 0 when there
// is no usable journal there.
int journalSnapshot(int candidate, unsigned char* snapshot);
// Whether the entry's process has ended (its id is gone or now names a newer process).
bool ownerHasEnded(const JournalEntry& entry);
// Drops the entry from the journal in candidate folder, or keeps it with one more start
// counted (dropped after JOURNAL_MAX_STARTS).
void journalSettle(int candidate, const JournalEntry& entry, bool keep);

// At a clean quit, once no thread of ours runs: a journal in the folder in use that holds
// no entry goes, and with it the lock file, unless another player holds it.
void journalLetGo();

#endif
