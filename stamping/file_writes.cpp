#include "stamping/file_writes.h"

#include "host/requests.h"
#include "trackinfo/playback.h"

#include <limits.h>

// A field as read now, in a step.
static textUnit fieldNow[FIELD_READ_SIZE];

enum FieldState {
    FIELD_ORIGINAL,    // exactly the original
    FIELD_STAMPED,     // the original with one suffix of ours: any time text, or the pause mark
    FIELD_EDITED,      // anything else: someone else's edit
    FIELD_UNREADABLE,  // not read, or read empty: the host answers "" for a file it could not open
};

// Whether units are exactly ascii.
static bool sameAsAscii(const textUnit* units, const char* ascii) {
    while (*ascii != 0 && *units == static_cast<textUnit>(*ascii)) {
        units++;
        ascii++;
    }
    return *ascii == 0 && *units == 0;
}

// What file's field holds now, against original; *holdsSuffix: it holds original followed
// by exactly suffix, one of ours.
static FieldState readField(const TrackFile& file, const textUnit* original, const char* suffix = 0,
                            bool* holdsSuffix = 0) {
    if (holdsSuffix) *holdsSuffix = false;
    int length = readArtist(file, fieldNow, FIELD_READ_SIZE);
    if (length <= 0) return FIELD_UNREADABLE;
    // A value that fills the read is longer than anything of ours: every original leaves
    // room for its longest stamp.
    if (length >= fieldReadSize(file) - 1) return FIELD_EDITED;
    if (sameText(fieldNow, original)) return FIELD_ORIGINAL;
    int stamp = stampSuffixLengthAtEnd(fieldNow, length);
    if (stamp == 0) return FIELD_EDITED;
    if (holdsSuffix) *holdsSuffix = sameAsAscii(fieldNow + length - stamp, suffix);
    fieldNow[length - stamp] = 0;
    return sameText(fieldNow, original) ? FIELD_STAMPED : FIELD_EDITED;
}

// Playback as a step finds it, for one file.
struct Playing {
    bool current;   // the file is the current entry's
    LRESULT state;  // HOST_PLAYING, HOST_PAUSED or HOST_STOPPED
    int position;   // ms
    DWORD positionReadAt;
};

static Playing lookAt(const TrackFile& file) {
    Playing now;
    now.current = isCurrentFile(file);
    now.state = askHost(0, IPC_ISPLAYING);
    now.position = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    now.positionReadAt = GetTickCount();
    return now;
}

// Whether a write of the file restarts it: the input plug-in of the file that plays (or
// stands paused) stops it for the write, and may start it again.
static bool writeRestarts(const Playing& now) {
    return now.current && (now.state == HOST_PLAYING || now.state == HOST_PAUSED);
}

// Writes value, keeping playback as the step found it: what changed between the look
// and the end of the write is the write's doing, and is undone.
static ArtistWrite writeKeepingPlayback(const TrackFile& file, const textUnit* value, int listIndex,
                                        const Playing& now) {
    if (!writeRestarts(now)) return writeArtist(file, value, listIndex);
    allowPlayTracking(false);
    ArtistWrite write = writeArtist(file, value, listIndex);
    // Asked only where what the write did to playback is undone.
    LRESULT after = now.state == HOST_PAUSED || write == ARTIST_REFUSED ? askHost(0, IPC_ISPLAYING) : HOST_PLAYING;
    if (now.state == HOST_PAUSED && after == HOST_PLAYING) {
        pressHostButton(HOST_BUTTON_PAUSE);
        markFile(file, MARK_UNPAUSED_BY_WRITE);
    } else if (write == ARTIST_REFUSED && after == HOST_STOPPED) {
        // Where it stood: the position looked at, moved on by the time since if it played.
        long long at = now.position;
        if (now.state == HOST_PLAYING) at += GetTickCount() - now.positionReadAt;
        // An input plug-in may turn tracking on again after its own stop.
        allowPlayTracking(false);
        pressHostButton(HOST_BUTTON_PLAY);
        askHost(static_cast<WPARAM>(at < INT_MAX ? at : INT_MAX), IPC_JUMPTOTIME);
        if (now.state == HOST_PAUSED) pressHostButton(HOST_BUTTON_PAUSE);
        markFile(file, MARK_STOPPED_BY_REFUSAL | MARK_STAMP_REFUSED);
    }
    allowPlayTracking(true);
    return write;
}

// Whether a set of file must wait: a refused set stopped it in this run, and it plays.
static bool heldWhilePlaying(const TrackFile& file, const Playing& now) {
    return writeRestarts(now) && (marksOf(file) & MARK_STOPPED_BY_REFUSAL) != 0;
}

enum WriteKind { WRITE_STAMP, WRITE_PAUSE_MARK, WRITE_BACK, WRITE_REPAIR };

// One write, as its step finds and leaves things.
struct WriteStep {
    WriteKind kind;
    const FileClaim* claim;    // all but the repair's
    const TrackFile* file;     // the repair's
    const textUnit* original;  // the repair's
    int listIndex;             // the entry the commit names
    bool closing;              // a write-back's: the threads are to stop
    int outcome;               // a StampResult, RestoreOutcome or RepairOutcome
    int shownPosition;         // a stamp's: the position its time text shows
    unsigned int journalEntry;
    bool wrote;      // a write-back's: a value of ours reached the file, and its original must be on disk
    bool restarted;  // a stamp's: its mark's write restarted the file; as it was where nothing was written
};

// A stamp or a pause mark of a claimed file.
static StampResult stampInStep(WriteStep& step) {
    ClaimedFile* claimed = claimedFile(*step.claim);
    if (!claimed || claimed->edited || (marksOf(claimed->file) & MARK_STAMP_REFUSED) != 0) return STAMP_ENDED;
    Playing now = lookAt(claimed->file);
    // Only the time of the file that plays, and the mark of the file that stands paused:
    // a stamp of a paused file is its mark.
    if (!writeRestarts(now) || now.position < 0) return step.kind == WRITE_PAUSE_MARK ? STAMP_SKIPPED : STAMP_ENDED;
    bool marking = now.state == HOST_PAUSED;
    if (step.kind == WRITE_PAUSE_MARK && !marking) return STAMP_SKIPPED;
    // A write of ours started this file playing once while paused: it stays as it stands.
    if (now.state == HOST_PAUSED && (marksOf(claimed->file) & MARK_UNPAUSED_BY_WRITE) != 0) return STAMP_SKIPPED;
    char timeText[TIME_TEXT_SIZE];
    if (!marking) {
        int length = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
        // A claim that waited (for the journal, say) may find the track near its end: a
        // stamp there would be undone at once, a restart of the file for nothing.
        if (length > 0 && static_cast<long long>(now.position) + END_MARGIN_MS > static_cast<long long>(length) * 1000)
            return STAMP_ENDED;
        formatTimeText(now.position, length, timeText);
    }
    // Only a value that is ours to change: the original, or the original with a suffix of ours.
    const char* suffix = marking ? pauseSuffix : timeText;
    bool holdsSuffix;
    FieldState field = readField(claimed->file, claimed->originalArtist, suffix, &holdsSuffix);
    if (field == FIELD_EDITED) claimed->edited = true;
    if (field == FIELD_EDITED) return STAMP_ENDED;
    if (field == FIELD_UNREADABLE) return STAMP_SKIPPED;
    // A stamp found there (a run that died left it) is undone at the write-back as ours is.
    if (field == FIELD_STAMPED) claimed->stamped = true;
    if (!marking) step.shownPosition = now.position;
    // Shown already (marked, or the same second): another write would only restart the file.
    if (holdsSuffix) return STAMP_WRITTEN;
    copyText(fieldNow, FIELD_READ_SIZE, claimed->originalArtist);
    appendAscii(fieldNow, FIELD_READ_SIZE, suffix);
    ArtistWrite write = writeKeepingPlayback(claimed->file, fieldNow, step.listIndex, now);
    // A paused file the mark's write restarted reads position 0 until the host's title
    // update, as does one it started playing (paused again since); one written in place
    // reads where it stood (at 0 alike: its time is right).
    if (write == ARTIST_WRITTEN)
        step.restarted =
            marking && ((marksOf(claimed->file) & MARK_UNPAUSED_BY_WRITE) != 0 ||
                        (now.position > 0 && askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME) <= 0));
    // An accepted set may have changed the file even where its write failed: undo it too.
    if (write != ARTIST_REFUSED) claimed->stamped = true;
    if (write == ARTIST_WRITTEN) return STAMP_WRITTEN;
    markFile(claimed->file, MARK_STAMP_REFUSED);
    return STAMP_REFUSED;
}

// The write-back of a claimed file's original.
static RestoreOutcome writeBackInStep(WriteStep& step) {
    ClaimedFile* claimed = claimedFile(*step.claim);
    if (!claimed) return RESTORE_DONE;
    // Where the host never accepted a value of ours the file is as it was, and an edit
    // someone made since is theirs: nothing to undo. Only a field read as the original
    // with one suffix of ours is written back: one that reads empty may be the listener's
    // clearing, and is tried again, and at worst left to the next start.
    FieldState field =
        claimed->stamped && !claimed->edited ? readField(claimed->file, claimed->originalArtist) : FIELD_ORIGINAL;
    if (field == FIELD_EDITED) claimed->edited = true;
    if (field == FIELD_UNREADABLE) return RESTORE_RETRY;
    if (field == FIELD_STAMPED) {
        Playing now = lookAt(claimed->file);
        // Once the threads are to stop, a held file gets its tries all the same, watched: a
        // player that goes on after quit keeps playing it where it stood.
        if (!step.closing && heldWhilePlaying(claimed->file, now)) return RESTORE_HELD;
        if (writeKeepingPlayback(claimed->file, claimed->originalArtist, step.listIndex, now) != ARTIST_WRITTEN)
            return RESTORE_RETRY;
    }
    // An earlier try may have written the original and answered failure: what this one
    // read may be in the system's cache only.
    step.wrote = claimed->stamped;
    step.journalEntry = claimed->sequence;
    // The playlist holds the title it read last, a stamp where the file no longer plays.
    if (claimed->stamped) refreshPlaylistTitles(claimed->file);
    // Let go in this same step: a worker that took the file over after it would stamp it
    // under the entry that the caller is about to drop.
    letGo(*step.claim);
    return RESTORE_DONE;
}

// The repair of a file a run that died left, unless a worker of this run has it.
static RepairOutcome repairInStep(WriteStep& step) {
    if (fileClaimed(*step.file)) return REPAIR_SKIPPED;
    // Only the original with one stamp of ours behind it: anything else is someone's edit.
    FieldState field = readField(*step.file, step.original);
    if (field == FIELD_UNREADABLE) return REPAIR_UNREADABLE;
    if (field != FIELD_STAMPED) return REPAIR_DONE;
    // The file the journal holds is the one a player started again most likely plays:
    // written as a worker writes it.
    Playing now = lookAt(*step.file);
    if (heldWhilePlaying(*step.file, now)) return REPAIR_SKIPPED;
    ArtistWrite write = writeKeepingPlayback(*step.file, step.original, askHostInt(0, IPC_GETLISTPOS), now);
    // The playlist read its titles from the files as the run that died left them.
    if (write != ARTIST_REFUSED) refreshPlaylistTitles(*step.file);
    return write == ARTIST_WRITTEN ? REPAIR_TAKEN_OUT : REPAIR_REFUSED;
}

static void writeInStep(void* context) {
    WriteStep& step = *static_cast<WriteStep*>(context);
    switch (step.kind) {
    case WRITE_STAMP:
    case WRITE_PAUSE_MARK:
        step.outcome = stampInStep(step);
        break;
    case WRITE_BACK:
        step.outcome = writeBackInStep(step);
        break;
    case WRITE_REPAIR:
        step.outcome = repairInStep(step);
        break;
    }
}

static WriteStep runWrite(WriteKind kind, const FileClaim* claim, int listIndex, bool closing, bool restarted = false) {
    WriteStep step = {kind, claim, 0, 0, listIndex, closing, 0, -1, 0, false, restarted};
    runStep(writeInStep, &step);
    return step;
}

StampResult stampTime(const FileClaim& claim, int listIndex, int* shownPosition, bool* restarted) {
    WriteStep step = runWrite(WRITE_STAMP, &claim, listIndex, false, *restarted);
    if (step.outcome == STAMP_WRITTEN) *shownPosition = step.shownPosition;
    *restarted = step.restarted;
    return static_cast<StampResult>(step.outcome);
}

StampResult markPause(const FileClaim& claim, int listIndex, bool* restarted) {
    WriteStep step = runWrite(WRITE_PAUSE_MARK, &claim, listIndex, false, *restarted);
    *restarted = step.restarted;
    return static_cast<StampResult>(step.outcome);
}

RestoreOutcome writeBackOriginal(const FileClaim& claim, int listIndex, bool closing, unsigned int* journalEntry,
                                 bool* wrote) {
    WriteStep step = runWrite(WRITE_BACK, &claim, listIndex, closing);
    *journalEntry = step.journalEntry;
    *wrote = step.wrote;
    return static_cast<RestoreOutcome>(step.outcome);
}

RepairOutcome repairFile(const TrackFile& file, const textUnit* original) {
    WriteStep step = {WRITE_REPAIR, 0, &file, original, 0, false, 0, -1, 0, false, false};
    runStep(writeInStep, &step);
    return static_cast<RepairOutcome>(step.outcome);
}
