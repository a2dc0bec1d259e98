#include "stamping/file_claims.h"

#include "host/requests.h"
#include "stamping/journal.h"
#include "trackinfo/time_text.h"

#include <string.h>

// More files than workers can run at once: an old worker lingers at most a poll after a
// change, so even ten changes a second leave a dozen files claimed.
const int CLAIM_SLOTS = 32;

struct ClaimSlot {
    bool used;
    bool stamped;           // the host accepted a set of a stamp of ours that has not been undone
    bool journaled;         // the journal was asked to record the file before its first stamp
    unsigned int sequence;  // its journal entry; 0: none
    unsigned int owner;
    TrackFile file;  // a file is known by its name on the path it is read and set through
    textUnit originalArtist[SAVED_ARTIST_SIZE];
};

static ClaimSlot slots[CLAIM_SLOTS];
static unsigned int lastOwner;
static CRITICAL_SECTION claimsLock;  // see file_claims.h

// Files whose stamp the host refused in this run, the oldest forgotten first when full:
// on the real host a refused set on the playing file can stop playback for good, so such
// a file is never stamped again. Used under claimsLock.
const int REFUSED_FILES = 32;
static TrackFile refusedFiles[REFUSED_FILES];
static int refusedCount;

void initFileClaims() { InitializeCriticalSection(&claimsLock); }

static bool stampWasRefused(const TrackFile& file) {
    for (int i = 0; i < refusedCount && i < REFUSED_FILES; i++) {
        if (sameFileName(refusedFiles[i], file)) return true;
    }
    return false;
}

static void noteRefusedStamp(const TrackFile& file) {
    if (!stampWasRefused(file)) refusedFiles[refusedCount++ % REFUSED_FILES] = file;
}

static int findSlot(const TrackFile& file) {
    for (int i = 0; i < CLAIM_SLOTS; i++) {
        if (slots[i].used && sameFileName(slots[i].file, file)) return i;
    }
    return -1;
}

static int freeSlot() {
    for (int i = 0; i < CLAIM_SLOTS; i++) {
        if (!slots[i].used) return i;
    }
    return -1;
}

const char pauseSuffix[] = " (paused)";

// A stamp left behind by a run that never wrote the artist back (the player was killed):
// the length of the suffix this plug-in writes, at the end of artist, or 0.
static int leftoverStampLength(const textUnit* artist, int length) {
    int suffix = static_cast<int>(sizeof pauseSuffix) - 1;
    bool paused = length >= suffix;
    for (int i = 0; paused && i < suffix; i++) paused = artist[length - suffix + i] == pauseSuffix[i];
    return paused ? suffix : timeTextLengthAtEnd(artist, length);
}

static bool holdsQuestionMark(const textUnit* text) {
    for (; *text != 0; text++) {
        if (*text == '?') return true;
    }
    return false;
}

// Whether an artist of length units read from file is safe to stamp and later write
// back; if so, strips a leftover stamp from its end.
static bool healOriginal(const TrackFile& file, textUnit* artist, int length) {
    // A value that fills the read buffer may have been cut to fit it: writing it back would
    // shorten it. An empty value may be a file the host could not open: it answers that
    // exactly as it answers a file without an artist.
    if (length <= 0 || length >= (file.wide ? WIDE_TEXT_SIZE : METADATA_SIZE) - 1) return false;
    // The single-byte requests hand text over in the system code page and turn what it
    // cannot represent into '?': writing that back would replace the real artist. On the
    // wide path a '?' is only a character.
    if (!file.wide && holdsQuestionMark(artist)) return false;
    artist[length - leftoverStampLength(artist, length)] = 0;
    return true;
}

FileClaim claimFile(TrackFile* file, textUnit* savedArtist) {
    FileClaim claim = {-1, 0};
    EnterCriticalSection(&claimsLock);
    if (stampWasRefused(*file)) {
        LeaveCriticalSection(&claimsLock);
        return claim;
    }
    int slot = findSlot(*file);
    int length = -1;
    if (slot < 0 && freeSlot() >= 0) {
        length = readArtist(*file, savedArtist, SAVED_ARTIST_SIZE);
        if (length < 0 && file->wide && !file->cut) {
            // The host has no wide value for this name: the file goes the single-byte way for good.
            readCurrentFileSingleByte(file);
            slot = findSlot(*file);
            if (slot < 0) length = readArtist(*file, savedArtist, SAVED_ARTIST_SIZE);
        }
    }
    if (slot >= 0) {
        memcpy(savedArtist, slots[slot].originalArtist, sizeof slots[slot].originalArtist);
    } else {
        int free = freeSlot();
        if (free >= 0 && healOriginal(*file, savedArtist, length)) {
            slot = free;
            slots[slot].used = true;
            slots[slot].stamped = false;
            slots[slot].journaled = false;
            slots[slot].sequence = 0;
            slots[slot].file = *file;
            memcpy(slots[slot].originalArtist, savedArtist, sizeof slots[slot].originalArtist);
        }
    }
    if (slot >= 0) {
        slots[slot].owner = ++lastOwner;
        claim.slot = slot;
        claim.owner = lastOwner;
    }
    LeaveCriticalSection(&claimsLock);
    return claim;
}

static bool owns(const FileClaim& claim) {
    return claim.slot >= 0 && slots[claim.slot].used && slots[claim.slot].owner == claim.owner;
}

bool ownsFile(const FileClaim& claim) {
    EnterCriticalSection(&claimsLock);
    bool result = owns(claim);
    LeaveCriticalSection(&claimsLock);
    return result;
}

bool stampFile(const FileClaim& claim, const textUnit* value, int listIndex) {
    EnterCriticalSection(&claimsLock);
    bool result = owns(claim);
    if (result && !slots[claim.slot].journaled) {
        // Write-ahead: on disk before the first set that could leave a stamp behind.
        long sequence = journalRecord(slots[claim.slot].file, slots[claim.slot].originalArtist);
        slots[claim.slot].journaled = sequence >= 0;
        slots[claim.slot].sequence = sequence > 0 ? static_cast<unsigned int>(sequence) : 0;
        result = sequence >= 0;
    }
    if (result) {
        ArtistWrite write = writeArtist(slots[claim.slot].file, value, listIndex);
        // An accepted set may have changed the file even where its write failed: undo it too.
        if (write != ARTIST_REFUSED) slots[claim.slot].stamped = true;
        result = write == ARTIST_WRITTEN;
        if (!result) noteRefusedStamp(slots[claim.slot].file);
    }
    LeaveCriticalSection(&claimsLock);
    return result;
}

bool restoreFile(const FileClaim& claim, int listIndex, unsigned int* journalEntry) {
    EnterCriticalSection(&claimsLock);
    bool done = true;
    if (owns(claim)) {
        ClaimSlot& slot = slots[claim.slot];
        // Where the host never accepted a value of ours the file is as it was: nothing to undo.
        done = !slot.stamped || writeArtist(slot.file, slot.originalArtist, listIndex) == ARTIST_WRITTEN;
        if (done) slot.stamped = false;
        if (done && slot.sequence > 0) *journalEntry = slot.sequence;
        if (done) slot.sequence = 0;
    }
    LeaveCriticalSection(&claimsLock);
    return done;
}

void releaseFile(const FileClaim& claim) {
    EnterCriticalSection(&claimsLock);
    if (owns(claim)) slots[claim.slot].used = false;
    LeaveCriticalSection(&claimsLock);
}

// Room for the longest original and the longest stamp behind it.
const int REPAIR_READ_SIZE = SAVED_ARTIST_SIZE + TIME_TEXT_SIZE;

RepairOutcome repairFile(const TrackFile& file, const textUnit* original) {
    static textUnit now[REPAIR_READ_SIZE];  // used under claimsLock
    EnterCriticalSection(&claimsLock);
    RepairOutcome outcome = REPAIR_SKIPPED;
    if (findSlot(file) < 0) {
        int length = readArtist(file, now, REPAIR_READ_SIZE);
        // A value that fills the read may have been cut: what follows the original is unknown.
        if (length >= (file.wide ? REPAIR_READ_SIZE : METADATA_SIZE) - 1) length = -1;
        // The host answers an empty value for a file it could not open: not a reading.
        if (length == 0) length = -1;
        int stamp = length > 0 ? leftoverStampLength(now, length) : 0;
        outcome = length < 0 ? REPAIR_UNREADABLE : REPAIR_DONE;
        if (stamp > 0) {
            now[length - stamp] = 0;
            // Only the original with one stamp of ours behind it: anything else is someone's edit.
            if (sameText(now, original) && writeArtist(file, original, askHostInt(0, IPC_GETLISTPOS)) != ARTIST_WRITTEN)
                outcome = REPAIR_REFUSED;
        }
    }
    LeaveCriticalSection(&claimsLock);
    return outcome;
}
