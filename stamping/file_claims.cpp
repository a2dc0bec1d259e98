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
    bool edited;            // someone else changed the field since: nothing more is written
    unsigned int sequence;  // its journal entry, recorded before the claim was published
    unsigned int owner;
    TrackFile file;  // a file is known by its name on the path it is read and set through
    textUnit originalArtist[SAVED_ARTIST_SIZE];
};

static ClaimSlot slots[CLAIM_SLOTS];
static unsigned int lastOwner;
static CRITICAL_SECTION claimsLock;                            // stamping/README.md
static textUnit fieldNow[SAVED_ARTIST_SIZE + TIME_TEXT_SIZE];  // a field as read now, under claimsLock

// Units a read of file's field holds, its terminator included: the single-byte read is
// the host's 256 bytes.
static int fieldReadSize(const TrackFile& file) {
    return file.wide ? static_cast<int>(sizeof fieldNow / sizeof fieldNow[0]) : METADATA_SIZE;
}

// Files remembered for the rest of this run, the oldest forgotten first when full. Their
// own lock, held for memory operations only, lets the windows' thread ask.
const int RUN_LIST_FILES = 32;
struct RunList {
    TrackFile files[RUN_LIST_FILES];
    int used, next;
};
// Files whose stamp the host refused or failed to write: on the real host a refused set on
// the playing file can stop playback, so such a file is never stamped again.
static RunList refusedFiles;
// Files a refused set of ours stopped (the m4a and wma input plug-ins stop the file at the
// set): no set of them while they play, write-backs included, since each would stop them again.
static RunList filesStoppedByRefusals;
// Files a write of ours started playing while the listener had paused them (the wma input
// plug-in restarts a file playing): their pauses are never marked again.
static RunList filesUnpausedByWrites;
static CRITICAL_SECTION runListsLock;

void initFileClaims() {
    InitializeCriticalSection(&claimsLock);
    InitializeCriticalSection(&runListsLock);
    // A library the host starts again without unloading it (it was pinned) tries every file again.
    refusedFiles.used = refusedFiles.next = filesUnpausedByWrites.used = filesUnpausedByWrites.next = 0;
    filesStoppedByRefusals.used = filesStoppedByRefusals.next = 0;
}

static bool listHolds(const RunList& list, const TrackFile& file) {
    EnterCriticalSection(&runListsLock);
    bool held = false;
    for (int i = 0; i < list.used && !held; i++) held = sameFileName(list.files[i], file);
    LeaveCriticalSection(&runListsLock);
    return held;
}

static void addToList(RunList& list, const TrackFile& file) {
    if (listHolds(list, file)) return;
    EnterCriticalSection(&runListsLock);
    list.files[list.next] = file;
    list.next = (list.next + 1) % RUN_LIST_FILES;
    if (list.used < RUN_LIST_FILES) list.used++;
    LeaveCriticalSection(&runListsLock);
}

bool stampRefusedInThisRun(const TrackFile& file) { return listHolds(refusedFiles, file); }

bool pauseMarkAllowed(const TrackFile& file) { return !listHolds(filesUnpausedByWrites, file); }

// Whether a write of file must wait: a refused set stopped it in this run, and it plays.
static bool heldWhilePlaying(const TrackFile& file, const Playback* playback) {
    return playback && playback->filePlays && listHolds(filesStoppedByRefusals, file);
}

// Writes value to file, keeping playback, and remembers what the write did to it.
static ArtistWrite writeRemembering(const TrackFile& file, const textUnit* value, int listIndex, Playback* playback) {
    ArtistWrite write = writeKeepingPlayback(file, value, listIndex, playback);
    if (playback && playback->pauseRestored) addToList(filesUnpausedByWrites, file);
    if (playback && playback->stoppedByRefusal) {
        addToList(filesStoppedByRefusals, file);
        addToList(refusedFiles, file);
    }
    return write;
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

static bool holdsQuestionMark(const textUnit* text) {
    for (; *text != 0; text++) {
        if (*text == '?') return true;
    }
    return false;
}

// Whether an artist of length units read from file is safe to stamp and later write back;
// if so, takes off a stamp that a run left at its end. Only a stamp the journal proves
// ours goes: an entry holds this file with exactly the artist without its ending. Any
// other such ending may be another player's stamp (two players, one file: each sees only
// its own journal) or the artist's own: the file plays unstamped, its artist whole.
static Unstamped healOriginal(const TrackFile& file, textUnit* artist, int length) {
    if (length <= 0) return UNSTAMPED_UNREADABLE;
    // A value that fills the read buffer may have been cut to fit it: writing it back would
    // shorten it. An empty value may be a file the host could not open: it answers that
    // exactly as it answers a file without an artist.
    if (length >= (file.wide ? WIDE_TEXT_SIZE : METADATA_SIZE) - 1) return UNSTAMPED_MAY_BE_CUT;
    // The single-byte requests hand text over in the system code page and turn what it
    // cannot represent into '?': writing that back would replace the real artist. On the
    // wide path a '?' is only a character.
    if (!file.wide && holdsQuestionMark(artist)) return UNSTAMPED_QUESTION_MARK;
    int stamp = stampSuffixLengthAtEnd(artist, length);
    if (stamp > 0) {
        textUnit ending = artist[length - stamp];
        artist[length - stamp] = 0;
        if (journalHoldsOriginal(file, artist) != JOURNAL_HOLDS) {
            artist[length - stamp] = ending;
            return UNSTAMPED_UNPROVEN_STAMP;
        }
        length -= stamp;
    }
    // The artist with its longest stamp must come back whole from a later read: else
    // neither the checks before each write nor the repair could tell what it holds.
    return length + TIME_TEXT_SIZE - 1 < fieldReadSize(file) - 1 ? STAMPED : UNSTAMPED_MAY_BE_CUT;
}

// Makes claim the owner of slot.
static void own(FileClaim* claim, int slot) {
    slots[slot].owner = ++lastOwner;
    claim->slot = slot;
    claim->owner = lastOwner;
    claim->why = STAMPED;
}

FileClaim claimFile(const TrackFile& file, textUnit* savedArtist) {
    FileClaim claim = {-1, 0, UNSTAMPED_QUIETLY};
    // A file with no name, or one the host refused a stamp of in this run, is left alone.
    if (file.name[0] == 0 || stampRefusedInThisRun(file)) return claim;
    EnterCriticalSection(&claimsLock);
    int slot = findSlot(file);
    if (slot >= 0) memcpy(savedArtist, slots[slot].originalArtist, sizeof slots[slot].originalArtist);
    if (slot >= 0) own(&claim, slot);
    int length = slot < 0 ? readArtist(file, savedArtist, SAVED_ARTIST_SIZE) : 0;
    LeaveCriticalSection(&claimsLock);
    if (slot >= 0) return claim;

    // The journal's disk work, holding nothing: a new file's entry is on disk before its claim is.
    claim.why = healOriginal(file, savedArtist, length);
    unsigned int sequence = 0;
    if (claim.why == STAMPED && journalRecord(file, savedArtist, &sequence) != JOURNAL_WRITTEN)
        claim.why = UNSTAMPED_NO_JOURNAL;
    if (claim.why != STAMPED) return claim;

    EnterCriticalSection(&claimsLock);
    // Another worker may have claimed the file meanwhile, from the same original: it is taken over.
    slot = findSlot(file);
    bool takenOver = slot >= 0;
    if (takenOver) memcpy(savedArtist, slots[slot].originalArtist, sizeof slots[slot].originalArtist);
    if (!takenOver && (slot = freeSlot()) >= 0) {
        memset(&slots[slot], 0, sizeof slots[slot]);
        slots[slot].used = true;
        slots[slot].file = file;
        slots[slot].sequence = sequence;
        memcpy(slots[slot].originalArtist, savedArtist, sizeof slots[slot].originalArtist);
    }
    if (slot >= 0) own(&claim, slot);
    if (slot < 0) claim.why = UNSTAMPED_QUIETLY;
    LeaveCriticalSection(&claimsLock);
    if (takenOver || slot < 0) journalForget(sequence);
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

enum FieldState {
    FIELD_ORIGINAL,    // exactly the original
    FIELD_STAMPED,     // the original with one suffix of ours: any time text, or the pause mark
    FIELD_EDITED,      // anything else: someone else's edit
    FIELD_UNREADABLE,  // not read, or read empty: the host answers "" for a file it could not open
};

// What file's field holds now, against original.
static FieldState readField(const TrackFile& file, const textUnit* original) {
    int length = readArtist(file, fieldNow, static_cast<int>(sizeof fieldNow / sizeof fieldNow[0]));
    if (length <= 0) return FIELD_UNREADABLE;
    // A value that fills the read is longer than anything of ours: every original leaves
    // room for its longest stamp.
    if (length >= fieldReadSize(file) - 1) return FIELD_EDITED;
    if (sameText(fieldNow, original)) return FIELD_ORIGINAL;
    int stamp = stampSuffixLengthAtEnd(fieldNow, length);
    if (stamp == 0) return FIELD_EDITED;
    fieldNow[length - stamp] = 0;
    return sameText(fieldNow, original) ? FIELD_STAMPED : FIELD_EDITED;
}

StampResult stampFile(const FileClaim& claim, const textUnit* value, int listIndex, Playback* playback) {
    EnterCriticalSection(&claimsLock);
    bool owned = owns(claim) && !slots[claim.slot].edited;
    StampResult result = owned ? STAMP_WRITTEN : STAMP_ENDED;
    ClaimSlot& slot = slots[owned ? claim.slot : 0];
    if (owned) {
        // Only a value that is ours to change: the original, or the original with a suffix of ours.
        FieldState field = readField(slot.file, slot.originalArtist);
        if (field == FIELD_EDITED) slot.edited = true;
        result = field == FIELD_EDITED ? STAMP_ENDED : field == FIELD_UNREADABLE ? STAMP_SKIPPED : STAMP_WRITTEN;
    }
    // A file whose pause a write of ours once dropped gets no write while paused: its last
    // stamp stays until the listener plays on.
    if (result == STAMP_WRITTEN && playback->filePlays && !pauseMarkAllowed(slot.file) &&
        askHost(0, IPC_ISPLAYING) == HOST_PAUSED)
        result = STAMP_SKIPPED;
    if (result == STAMP_WRITTEN) {
        ArtistWrite write = writeRemembering(slot.file, value, listIndex, playback);
        // An accepted set may have changed the file even where its write failed: undo it too.
        if (write != ARTIST_REFUSED) slot.stamped = true;
        if (write != ARTIST_WRITTEN) {
            addToList(refusedFiles, slot.file);
            result = STAMP_ENDED;
        }
    }
    LeaveCriticalSection(&claimsLock);
    return result;
}

RestoreOutcome restoreFile(const FileClaim& claim, int listIndex, unsigned int* journalEntry, Playback* playback) {
    EnterCriticalSection(&claimsLock);
    RestoreOutcome outcome = RESTORE_DONE;
    if (owns(claim)) {
        ClaimSlot& slot = slots[claim.slot];
        // Where the host never accepted a value of ours the file is as it was, and an edit
        // someone made since is theirs: nothing to undo. Only a field read as the original
        // with one suffix of ours is written back: one that reads empty may be the
        // listener's clearing, and is tried again, and at worst left to the next start.
        FieldState field = slot.stamped && !slot.edited ? readField(slot.file, slot.originalArtist) : FIELD_ORIGINAL;
        if (field == FIELD_EDITED) slot.edited = true;
        if (field == FIELD_UNREADABLE) outcome = RESTORE_RETRY;
        if (field == FIELD_STAMPED && heldWhilePlaying(slot.file, playback)) outcome = RESTORE_HELD;
        if (field == FIELD_STAMPED && outcome == RESTORE_DONE &&
            writeRemembering(slot.file, slot.originalArtist, listIndex, playback) != ARTIST_WRITTEN)
            outcome = RESTORE_RETRY;
        if (outcome == RESTORE_DONE) {
            *journalEntry = slot.sequence;
            // The playlist holds the title it read last, a stamp where the file no longer plays.
            if (slot.stamped) refreshPlaylistTitles(slot.file);
            // Let go in this same step: a worker that took the file over after it would stamp
            // it under the entry that the caller is about to drop.
            slot.used = false;
        }
    }
    LeaveCriticalSection(&claimsLock);
    return outcome;
}

void releaseFile(const FileClaim& claim) {
    EnterCriticalSection(&claimsLock);
    if (owns(claim)) slots[claim.slot].used = false;
    LeaveCriticalSection(&claimsLock);
}

RepairOutcome repairFile(const TrackFile& file, const textUnit* original) {
    EnterCriticalSection(&claimsLock);
    RepairOutcome outcome = REPAIR_SKIPPED;
    if (findSlot(file) < 0) {
        // Only the original with one stamp of ours behind it: anything else is someone's edit.
        FieldState field = readField(file, original);
        outcome = field == FIELD_UNREADABLE ? REPAIR_UNREADABLE : REPAIR_DONE;
        // The file the journal holds is the one a player started again most likely plays:
        // written as a worker writes it.
        Playback playback = {false, 0, 0, false, false};
        if (field == FIELD_STAMPED) {
            playback.filePlays = isCurrentFile(file) && askHost(0, IPC_ISPLAYING) != HOST_STOPPED;
            playback.position = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
            playback.positionReadAt = GetTickCount();
        }
        if (field == FIELD_STAMPED && heldWhilePlaying(file, &playback)) outcome = REPAIR_SKIPPED;
        ArtistWrite write = field == FIELD_STAMPED && outcome == REPAIR_DONE
                                ? writeRemembering(file, original, askHostInt(0, IPC_GETLISTPOS), &playback)
                                : ARTIST_REFUSED;
        if (field == FIELD_STAMPED && outcome == REPAIR_DONE)
            outcome = write == ARTIST_WRITTEN ? REPAIR_TAKEN_OUT : REPAIR_REFUSED;
        // The playlist read its titles from the files as the run that died left them.
        if (write != ARTIST_REFUSED) refreshPlaylistTitles(file);
    }
    LeaveCriticalSection(&claimsLock);
    return outcome;
}
