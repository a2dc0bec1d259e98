#include "stamping/journal_format.h"

#include <string.h>

static const char journalMagic[] = "VORLUJNL";
// The payload before the units in a version 1 journal, without the volume.
const int VERSION_1_FIXED_SIZE = 24;
const unsigned int ENTRY_VOLUME_KNOWN = 1;  // the flag of an entry whose volume serial holds

static unsigned int crc32(const unsigned char* data, int size) {
    unsigned int crc = 0xFFFFFFFFu;
    for (int i = 0; i < size; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

static unsigned int read32(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8 |
           static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[3]) << 24;
}

static unsigned int read16(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8;
}

static void write32(unsigned char* p, unsigned int value) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

static void write16(unsigned char* p, unsigned int value) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

int journalVersion(const unsigned char* data, int size) {
    if (size < JOURNAL_HEADER_SIZE || memcmp(data, journalMagic, 8) != 0) return 0;
    unsigned int version = read32(data + 8);
    return version > 0 && version < 0x10000 ? static_cast<int>(version) : 0;
}

bool readableJournal(const unsigned char* data, int size) {
    int version = journalVersion(data, size);
    return version >= 1 && version <= JOURNAL_VERSION;
}

// Units of a text that a read on its path could have given: none zero, single bytes on
// the single-byte path.
static bool readUnits(const unsigned char* p, int length, bool wide, textUnit* out) {
    for (int i = 0; i < length; i++) {
        unsigned int unit = read16(p + 2 * i);
        if (unit == 0 || (!wide && unit > 0xFF)) return false;
        out[i] = static_cast<textUnit>(unit);
    }
    out[length] = 0;
    return true;
}

int readJournalEntry(const unsigned char* data, int size, int offset, JournalEntry* entry, bool* valid) {
    *valid = false;
    if (!readableJournal(data, size) || offset < JOURNAL_HEADER_SIZE || offset > size - 8) return -1;
    int version = journalVersion(data, size);
    int fixedSize = version == 1 ? VERSION_1_FIXED_SIZE : JOURNAL_FIXED_SIZE;
    unsigned int payloadSize = read32(data + offset);
    if (payloadSize > static_cast<unsigned int>(size - offset - 8)) return -1;  // cut off: nothing more to read
    int next = offset + 8 + static_cast<int>(payloadSize);
    const unsigned char* payload = data + offset + 8;
    if (payloadSize < static_cast<unsigned int>(fixedSize) ||
        crc32(payload, static_cast<int>(payloadSize)) != read32(data + offset + 4))
        return next;
    unsigned int flags = read16(payload + 22);
    unsigned int wide = payload[16];
    unsigned int nameLength = read16(payload + 18);
    unsigned int originalLength = read16(payload + 20);
    // A value the read may have cut is never saved: no original reaches its read's last unit.
    unsigned int longest = wide ? WIDE_TEXT_SIZE - 2 : METADATA_SIZE - 2;
    if (wide > 1 || nameLength == 0 || nameLength > WIDE_TEXT_SIZE - 1 || originalLength > longest ||
        (flags & ~ENTRY_VOLUME_KNOWN) != 0 || (version == 1 && flags != 0) ||
        payloadSize != static_cast<unsigned int>(fixedSize) + 2 * (nameLength + originalLength))
        return next;
    memset(&entry->file, 0, sizeof entry->file);
    entry->file.wide = wide == 1;
    const unsigned char* units = payload + fixedSize;
    if (!readUnits(units, static_cast<int>(nameLength), entry->file.wide, entry->file.name) ||
        !readUnits(units + 2 * nameLength, static_cast<int>(originalLength), entry->file.wide, entry->original))
        return next;
    entry->processId = read32(payload);
    entry->creationLow = read32(payload + 4);
    entry->creationHigh = read32(payload + 8);
    entry->sequence = read32(payload + 12);
    entry->starts = payload[17];
    entry->volumeKnown = (flags & ENTRY_VOLUME_KNOWN) != 0;
    entry->volumeSerial = version == 1 ? 0 : read32(payload + 24);
    *valid = true;
    return next;
}

int journalEntrySize(const TrackFile& file, const textUnit* original) {
    return 8 + JOURNAL_FIXED_SIZE + 2 * (textLength(file.name, WIDE_TEXT_SIZE) + textLength(original, WIDE_TEXT_SIZE));
}

int writeJournalHeader(unsigned char* out) {
    memcpy(out, journalMagic, 8);
    write32(out + 8, JOURNAL_VERSION);
    return JOURNAL_HEADER_SIZE;
}

int writeJournalEntry(const JournalEntry& entry, unsigned char* out) {
    int nameLength = textLength(entry.file.name, WIDE_TEXT_SIZE);
    int originalLength = textLength(entry.original, WIDE_TEXT_SIZE);
    unsigned char* payload = out + 8;
    write32(payload, entry.processId);
    write32(payload + 4, entry.creationLow);
    write32(payload + 8, entry.creationHigh);
    write32(payload + 12, entry.sequence);
    payload[16] = entry.file.wide ? 1 : 0;
    payload[17] = static_cast<unsigned char>(entry.starts);
    write16(payload + 18, static_cast<unsigned int>(nameLength));
    write16(payload + 20, static_cast<unsigned int>(originalLength));
    write16(payload + 22, entry.volumeKnown ? ENTRY_VOLUME_KNOWN : 0);
    write32(payload + 24, entry.volumeSerial);
    unsigned char* units = payload + JOURNAL_FIXED_SIZE;
    for (int i = 0; i < nameLength; i++) write16(units + 2 * i, entry.file.name[i]);
    for (int i = 0; i < originalLength; i++) write16(units + 2 * (nameLength + i), entry.original[i]);
    int size = journalEntrySize(entry.file, entry.original);
    write32(out, static_cast<unsigned int>(size - 8));
    write32(out + 4, crc32(payload, size - 8));
    return size;
}
