#include "stamping/file_claims.h"

#include "trackinfo/time_text.h"

#include <string.h>

// More files than workers can run at once: an old worker lingers at most a poll after a
// change, so even ten changes a second leave a dozen files claimed.
const int CLAIM_SLOTS = 32;

struct ClaimSlot {
    bool used;
    bool stamped;  // the host accepted a stamp of ours that has not been undone
    unsigned int owner;
    char fileName[FILE_NAME_SIZE];
    char originalArtist[SAVED_ARTIST_SIZE];
};

static ClaimSlot slots[CLAIM_SLOTS];
static unsigned int lastOwner;
// Held across the host requests that read or write a claimed file, so that a take-over
// never falls between an owner's check and its write. The windows' thread never takes it.
static CRITICAL_SECTION claimsLock;

void initFileClaims() { InitializeCriticalSection(&claimsLock); }

static int findSlot(const char* fileName) {
    for (int i = 0; i < CLAIM_SLOTS; i++) {
        if (slots[i].used && strcmp(slots[i].fileName, fileName) == 0) return i;
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
static int leftoverStampLength(const char* artist, int length) {
    int suffix = static_cast<int>(sizeof pauseSuffix) - 1;
    if (length >= suffix && strcmp(artist + length - suffix, pauseSuffix) == 0) return suffix;
    return timeTextLengthAtEnd(artist, length);
}

// Reads the file's artist as it stands, healed of a leftover stamp; false when it is not
// safe to stamp and later write back.
static bool readOriginal(const char* fileName, char* savedArtist) {
    int length = copyExtendedFileInfo(fileName, artistField, savedArtist, SAVED_ARTIST_SIZE);
    // A value that fills the read buffer may have been cut to fit it: writing it back would shorten it.
    if (length < 0 || length >= METADATA_SIZE - 1) return false;
    // The host hands over text in the system code page and turns what it cannot represent
    // into '?': writing that back would replace the real artist.
    if (strchr(savedArtist, '?')) return false;
    savedArtist[length - leftoverStampLength(savedArtist, length)] = '\0';
    return true;
}

FileClaim claimFile(const char* fileName, char* savedArtist) {
    FileClaim claim = {-1, 0};
    EnterCriticalSection(&claimsLock);
    int slot = findSlot(fileName);
    if (slot >= 0) {
        memcpy(savedArtist, slots[slot].originalArtist, SAVED_ARTIST_SIZE);
    } else {
        slot = freeSlot();
        if (slot >= 0 && readOriginal(fileName, savedArtist)) {
            slots[slot].used = true;
            slots[slot].stamped = false;
            memcpy(slots[slot].fileName, fileName, FILE_NAME_SIZE);
            memcpy(slots[slot].originalArtist, savedArtist, SAVED_ARTIST_SIZE);
        } else {
            slot = -1;
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

bool stampFile(const FileClaim& claim, const char* fileName, const char* value, int listIndex) {
    EnterCriticalSection(&claimsLock);
    bool result = owns(claim);
    if (result && writeArtist(fileName, value, listIndex)) slots[claim.slot].stamped = true;
    LeaveCriticalSection(&claimsLock);
    return result;
}

bool restoreFile(const FileClaim& claim, const char* fileName, int listIndex) {
    EnterCriticalSection(&claimsLock);
    bool done = true;
    if (owns(claim)) {
        ClaimSlot& slot = slots[claim.slot];
        bool accepted = writeArtist(fileName, slot.originalArtist, listIndex);
        if (accepted) slot.stamped = false;
        done = accepted || !slot.stamped;
    }
    LeaveCriticalSection(&claimsLock);
    return done;
}

void releaseFile(const FileClaim& claim) {
    EnterCriticalSection(&claimsLock);
    if (owns(claim)) slots[claim.slot].used = false;
    LeaveCriticalSection(&claimsLock);
}
