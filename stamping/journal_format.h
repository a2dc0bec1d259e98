// The journal's bytes: its entries read and written, an earlier version's read, the bound.
// No call here touches a file, the system or the host: the store (journal.h) moves the bytes.
//
// Format (little-endian): "VORLUJNL", a 32-bit version (2), then entries, each a 32-bit
// payload size, the CRC-32 of the payload, and the payload: the owner's process id and
// creation time (two 32-bit halves), a sequence number, the path (1 wide, 0 single-byte),
// how many starts found the file unreadable, the name's and the original's lengths in
// units (16 bits each), 16 bits of flags (bit 0: the volume is known), the serial number
// of the volume the file was on (32 bits), then the name's and the original's units,
// oldest entry first. A version 1 journal, whose entries have neither flags nor serial,
// is read, and written anew as version 2. An entry that is malformed or fails its check
// is never read as one. The journal never grows past JOURNAL_BUFFER_SIZE.
#ifndef VORLU_STAMPING_JOURNAL_FORMAT_H
#define VORLU_STAMPING_JOURNAL_FORMAT_H

#include "trackinfo/track_metadata.h"

const int JOURNAL_VERSION = 2;
const int JOURNAL_HEADER_SIZE = 12;
// The largest journal, read and written whole: a few thousand entries.
const int JOURNAL_BUFFER_SIZE = 512 * 1024;
// The payload before the units, and the largest entry: its size and check, that payload,
// the longest name and original.
const int JOURNAL_FIXED_SIZE = 28;
const int JOURNAL_ENTRY_MAX_SIZE = 8 + JOURNAL_FIXED_SIZE + 2 * 2 * (WIDE_TEXT_SIZE - 1);

struct JournalEntry {
    unsigned int processId;
    unsigned int creationLow;  // the owner's creation time: a process id alone may be reused
    unsigned int creationHigh;
    unsigned int sequence;  // tells two entries of one owner for one file apart
    int starts;
    bool volumeKnown;  // the file's volume, as its serial number, when its entry was made
    unsigned int volumeSerial;
    TrackFile file;
    textUnit original[WIDE_TEXT_SIZE];
};

// On: any. Takes: none. The journal's version in data (size bytes), or 0 when data does
// not begin like one.
int journalVersion(const unsigned char* data, int size);
// On: any. Takes: none. Whether data is a journal this version reads: its own, or an earlier one.
bool readableJournal(const unsigned char* data, int size);
// On: any. Takes: none. The header of this version's journal into out; its size in bytes.
int writeJournalHeader(unsigned char* out);
// On: any. Takes: none. The bytes an entry of file with original takes in the journal.
int journalEntrySize(const TrackFile& file, const textUnit* original);
// On: any. Takes: none. Reads the entry at offset of data; returns the offset of the next
// entry, or -1 when there is none. *valid: entry holds a whole, checked entry.
int readJournalEntry(const unsigned char* data, int size, int offset, JournalEntry* entry, bool* valid);
// On: any. Takes: none. Entry as this version writes it (one read from such a journal byte
// for byte) into out (JOURNAL_ENTRY_MAX_SIZE bytes); its size in bytes.
int writeJournalEntry(const JournalEntry& entry, unsigned char* out);

#endif
