// libFuzzer: the journal's format on any bytes, as a journal damaged on disk may hold.
// No crash or sanitizer report; the reader always moves on; every entry it accepts is
// whole (a name, an original within its read's limit, no zero unit, single bytes on the
// single-byte path); any one byte of an accepted entry changed makes it rejected; and an
// accepted entry written anew reads back alike, byte for byte from this version's journal.
#include "stamping/journal_format.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

static unsigned char copy[JOURNAL_BUFFER_SIZE];
static unsigned char written[JOURNAL_HEADER_SIZE + JOURNAL_ENTRY_MAX_SIZE];
static JournalEntry entry, damaged, readBack;

static bool whole(const JournalEntry& e) {
    int name = textLength(e.file.name, WIDE_TEXT_SIZE);
    int original = textLength(e.original, WIDE_TEXT_SIZE);
    if (name < 1 || name > WIDE_TEXT_SIZE - 1 || original > (e.file.wide ? WIDE_TEXT_SIZE : METADATA_SIZE) - 2)
        return false;
    for (int i = 0; !e.file.wide && i < name; i++) {
        if (e.file.name[i] > 0xFF) return false;
    }
    for (int i = 0; !e.file.wide && i < original; i++) {
        if (e.original[i] > 0xFF) return false;
    }
    return e.starts >= 0;
}

static bool alike(const JournalEntry& a, const JournalEntry& b) {
    return a.processId == b.processId && a.creationLow == b.creationLow && a.creationHigh == b.creationHigh &&
           a.sequence == b.sequence && a.starts == b.starts && a.volumeKnown == b.volumeKnown &&
           a.volumeSerial == b.volumeSerial && a.file.wide == b.file.wide && sameText(a.file.name, b.file.name) &&
           sameText(a.original, b.original);
}

// The entry as this version writes it, behind this version's header, read back alike; and
// byte for byte what it was read from when that was this version's journal too.
static bool writesBack(const JournalEntry& e, const uint8_t* data, int total, int offset, int next) {
    int header = writeJournalHeader(written);
    int size = writeJournalEntry(e, written + header);
    bool valid;
    if (readJournalEntry(written, header + size, header, &readBack, &valid) != header + size || !valid ||
        !alike(e, readBack))
        return false;
    return journalVersion(data, total) != JOURNAL_VERSION ||
           (size == next - offset && memcmp(written + header, data + offset, size) == 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(JOURNAL_BUFFER_SIZE)) return 0;
    int total = static_cast<int>(size);
    journalVersion(data, total);
    for (int offset = JOURNAL_HEADER_SIZE; offset >= 0;) {
        bool valid;
        int next = readJournalEntry(data, total, offset, &entry, &valid);
        if (next >= 0 && next <= offset) __builtin_trap();
        if (valid) {
            if (!whole(entry) || !writesBack(entry, data, total, offset, next)) __builtin_trap();
            // One byte of the payload changed, chosen by the input itself.
            memcpy(copy, data, size);
            int at = offset + 8 + static_cast<int>(data[offset] % static_cast<unsigned>(next - offset - 8));
            copy[at] ^= static_cast<unsigned char>(1 + data[total - 1] % 255);
            bool stillValid;
            readJournalEntry(copy, total, offset, &damaged, &stillValid);
            if (stillValid) __builtin_trap();
        }
        offset = next;
    }
    return 0;
}
