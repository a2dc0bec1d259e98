#include "stamping/file_claims.h"

#include "host/requests.h"
#include "stamping/debug_notes.h"
#include "stamping/journal.h"

#include <string.h>

// More files than workers can run at once: an old worker lingers at most a poll after a
// change, so even ten changes a second leave a dozen files claimed.
const int CLAIM_SLOTS = 32;

static ClaimedFile slots[CLAIM_SLOTS];
static unsigned int lastOwner;

// The files this run has marked, by the hash of their names, for the rest of the run.
// Once the table is full every other file counts as carrying every mark, so nothing is
// done to it that a mark forbids (it plays unstamped until the player starts again): what
// it went through could not be kept.
const unsigned int EVERY_MARK = MARK_STAMP_REFUSED | MARK_STOPPED_BY_REFUSAL | MARK_UNPAUSED_BY_WRITE;
struct MarkedFile {
    unsigned long long name;
    unsigned int marks;
};
static MarkedFile markedFiles[MARKED_FILES];
static int markedUsed;

void initFileClaims() {
    // A library the host starts again without unloading it (it was pinned) tries every file again.
    markedUsed = 0;
    memset(slots, 0, sizeof slots);
}

int fieldReadSize(const TrackFile& file) { return file.wide ? FIELD_READ_SIZE : METADATA_SIZE; }

static MarkedFile* findMarked(const TrackFile& file) {
    unsigned long long name = fileNameHash(file);
    for (int i = 0; i < markedUsed; i++) {
        if (markedFiles[i].name == name) return &markedFiles[i];
    }
    return 0;
}

unsigned int marksOf(const TrackFile& file) {
    MarkedFile* marked = findMarked(file);
    return marked ? marked->marks : markedUsed == MARKED_FILES ? EVERY_MARK : 0;
}

void markFile(const TrackFile& file, unsigned int marks) {
    MarkedFile* marked = findMarked(file);
    if (!marked && markedUsed < MARKED_FILES) {
        marked = &markedFiles[markedUsed++];
        marked->name = fileNameHash(file);
        marked->marks = 0;
        if (markedUsed == MARKED_FILES)
            noteForDebugger(0, false,
                            "this run remembers no more files: none further is stamped until the player starts again");
    }
    if (marked) marked->marks |= marks;
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

// The two steps of a claim: a look at the file (taken over, or its artist read), and,
// after its journal entry is on disk, the claim published.
struct ClaimStep {
    const TrackFile* file;
    textUnit* savedArtist;
    const bool* told;
    FileClaim claim;
    int length;             // the artist read, or -1
    bool lookedOnly;        // the first step: a look
    unsigned int sequence;  // the journal entry, for the second
    bool forgetEntry;       // the second step found the entry not needed
};

static void claimInStep(void* context) {
    ClaimStep& step = *static_cast<ClaimStep*>(context);
    // A file the host refused a stamp of in this run, or that a refused set stopped, is left.
    if (step.lookedOnly && (marksOf(*step.file) & MARK_STAMP_REFUSED) != 0) return;
    // A worker told to end while it waited for the journal claims nothing: above all, it
    // takes no file over from the worker that plays it now.
    if (*step.told) {
        step.forgetEntry = !step.lookedOnly;
        return;
    }
    int slot = findSlot(*step.file);
    if (slot >= 0) {
        // Claimed meanwhile (or still) by another worker, from the same original: taken over.
        memcpy(step.savedArtist, slots[slot].originalArtist, sizeof slots[slot].originalArtist);
        own(&step.claim, slot);
        step.forgetEntry = !step.lookedOnly;
        return;
    }
    if (step.lookedOnly) {
        step.length = readArtist(*step.file, step.savedArtist, SAVED_ARTIST_SIZE);
        step.claim.why = STAMPED;
        return;
    }
    slot = freeSlot();
    step.forgetEntry = slot < 0;
    if (slot < 0) return;
    memset(&slots[slot], 0, sizeof slots[slot]);
    slots[slot].used = true;
    slots[slot].file = *step.file;
    slots[slot].sequence = step.sequence;
    memcpy(slots[slot].originalArtist, step.savedArtist, sizeof slots[slot].originalArtist);
    own(&step.claim, slot);
}

FileClaim claimFile(const TrackFile& file, textUnit* savedArtist, const bool* told) {
    ClaimStep step = {&file, savedArtist, told, {-1, 0, UNSTAMPED_QUIETLY}, -1, true, 0, false};
    if (file.name[0] == 0) return step.claim;
    // No file name holds a '?': on the single-byte path it stands for a character the code
    // page lacks, and the player, given the name back, finds no such file.
    if (!file.wide && holdsQuestionMark(file.name)) {
        step.claim.why = UNSTAMPED_NAME_NOT_IN_CODE_PAGE;
        return step.claim;
    }
    runStep(claimInStep, &step);
    if (step.claim.slot >= 0 || step.claim.why != STAMPED) return step.claim;

    // The journal's disk work, holding nothing: a new file's entry is on disk before its claim is.
    step.claim.why = healOriginal(file, savedArtist, step.length);
    if (step.claim.why == STAMPED && journalRecord(file, savedArtist, &step.sequence) != JOURNAL_WRITTEN)
        step.claim.why = UNSTAMPED_NO_JOURNAL;
    if (step.claim.why != STAMPED) return step.claim;

    step.lookedOnly = false;
    step.claim.why = UNSTAMPED_QUIETLY;
    runStep(claimInStep, &step);
    if (step.forgetEntry) journalForget(step.sequence);
    return step.claim;
}

ClaimedFile* claimedFile(const FileClaim& claim) {
    bool owned = claim.slot >= 0 && slots[claim.slot].used && slots[claim.slot].owner == claim.owner;
    return owned ? &slots[claim.slot] : 0;
}

bool fileClaimed(const TrackFile& file) { return findSlot(file) >= 0; }

void letGo(const FileClaim& claim) {
    if (ClaimedFile* claimed = claimedFile(claim)) claimed->used = false;
}

static void letGoInStep(void* claim) { letGo(*static_cast<const FileClaim*>(claim)); }

void releaseFile(const FileClaim& claim) { runStep(letGoInStep, const_cast<FileClaim*>(&claim)); }
