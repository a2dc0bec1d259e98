// The journal: every file this plug-in has stamped and not yet written back, with its
// original artist, on disk, so that a stamp left by a player that died (killed, crashed,
// the power gone) is taken out at the next start. It is the only file Vorlu writes.
//
// Where: the folder the host gives plug-ins for their own files, else the folder of this
// library; with neither writable there is no journal and Vorlu works without one.
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
// processes that share the journal from losing each other's entries. Only workers and
// the repair thread touch it, never the windows' thread.
#ifndef VORLU_STAMPING_JOURNAL_H
#define VORLU_STAMPING_JOURNAL_H

#include "trackinfo/track_metadata.h"

const int JOURNAL_VERSION = 1;
const int JOURNAL_HEADER_SIZE = 12;
const int JOURNAL_BUFFER_SIZE = 128 * 1024;  // a longer journal is read this far
const int JOURNAL_PATH_SIZE = 300;
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

// Chooses the journal's folder among settingsFolder (may be null) and the library's own,
// the first one writable, when a worker or the repair first needs it. Called by init;
// no file is touched here.
void initJournal(const char* settingsFolder);

// Before the first stamp of a file: records it and its original, on disk. Returns the
// entry's sequence number (above 0), 0 when there is no journal to write to (no writable
// folder, or a later version's journal: Vorlu works on as without one), or -1 when the
// journal could not be written (a full disk, say): the file is then not to be stamped.
long journalRecord(const TrackFile& file, const textUnit* original);

// After the original went back: drops this process's entry of that sequence number.
void journalForget(unsigned int sequence);

// Whether the journal holds an entry for file, of any player: a stamp at the end of its
// artist is then one of ours.
bool journalHolds(const TrackFile& file);

// For the repair: copies the journal as it stands into snapshot (JOURNAL_BUFFER_SIZE
// bytes); its size in bytes, or 0 when there is no usable journal.
int journalSnapshot(unsigned char* snapshot);
// Whether the entry's process has ended (its id is gone or now names a newer process).
bool ownerHasEnded(const JournalEntry& entry);
// Drops the entry, or keeps it with one more start counted (dropped after
// JOURNAL_MAX_STARTS).
void journalSettle(const JournalEntry& entry, bool keep);

#endif
