#include "stamping/worker.h"

#include "host/requests.h"
#include "stamping/debug_notes.h"
#include "stamping/file_claims.h"
#include "stamping/plugin_threads.h"
#include "stamping/repair.h"
#include "trackinfo/time_text.h"
#include "trackinfo/track_metadata.h"

const int POLL_INTERVAL_MS = 1000;
const int POLLS_PER_CYCLE = 15;
const int END_MARGIN_MS = 1500;
// A write-back the host refuses (the file locked for a moment) is tried again this often.
const int WRITE_BACK_RETRIES = 5;

const int ARTIST_WITH_TIME_SIZE = SAVED_ARTIST_SIZE - 1 + TIME_TEXT_SIZE;  // the longer of the two suffixes

// A running worker as the watcher sees it: the file it stamps, and the event that tells
// it to end now.
struct WorkerRecord {
    bool used;
    bool told;       // ending: its file no longer plays, quit came, or it writes back
    TrackFile file;  // as readCurrentFile names it, the way the watcher compares names
    HANDLE wake;     // auto-reset; every wait of the worker ends when it is set
};

// More than can run at once: a worker told to end is gone within its write-back,
// which the host may refuse for a few seconds at most.
const int WORKER_RECORDS = 32;

static WorkerRecord records[WORKER_RECORDS];
// Guards the records. It is held for a few memory operations only, never across a host
// request, so the windows' thread may take it.
static CRITICAL_SECTION recordsLock;

void initWorkers() {
    InitializeCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS; i++) records[i].wake = CreateEventA(0, FALSE, FALSE, 0);
}

// Every wait of a worker goes through here; false when it is to end now. A worker that
// was told goes on waiting its full seconds between write-back attempts.
static bool waitOneSecond(WorkerRecord* record) {
    return !pluginThreadsStopping() && WaitForSingleObject(record->wake, POLL_INTERVAL_MS) == WAIT_TIMEOUT;
}

// Between two write-back attempts: a second, or, once the threads are to stop, a share of
// the wait for them, so that every attempt still comes while the host can write.
static void waitBeforeRetry(WorkerRecord* record) {
    if (!waitOneSecond(record) && pluginThreadsStopping()) Sleep(pluginThreadsStopSpacing(WRITE_BACK_RETRIES));
}

static void tell(WorkerRecord* record) {
    record->told = true;
    SetEvent(record->wake);
}

bool tellWorkersOtherThan(const TrackFile& current) {
    bool held = false;
    EnterCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS; i++) {
        if (!records[i].used || records[i].told) continue;
        if (sameFileName(records[i].file, current))
            held = true;
        else
            tell(&records[i]);
    }
    LeaveCriticalSection(&recordsLock);
    return held;
}

// Names the file the worker stamps; false when it was told to end already.
static bool noteFile(WorkerRecord* record, const TrackFile& file) {
    EnterCriticalSection(&recordsLock);
    record->file = file;
    bool told = record->told;
    LeaveCriticalSection(&recordsLock);
    return !told;
}

// The worker writes back: from now on a notice for its file starts a new worker, which
// takes the file over if this one has not let it go yet.
static void markLeaving(WorkerRecord* record) {
    EnterCriticalSection(&recordsLock);
    record->told = true;
    LeaveCriticalSection(&recordsLock);
}

// Time sums in 64 bits: exact for every 32-bit position and length.
static bool pastEndMargin(int outputTime, int trackLength) {
    return static_cast<long long>(outputTime) + END_MARGIN_MS > static_cast<long long>(trackLength) * 1000;
}

static bool beforeEndMargin(int outputTime, int trackLength) {
    return static_cast<long long>(outputTime) + END_MARGIN_MS < static_cast<long long>(trackLength) * 1000;
}

// What one worker knows of its track; on its own thread's stack.
struct Track {
    WorkerRecord* record;
    int listPos;         // the entry it was started for: every write names it
    int knownListPos;    // where its file stood in the playlist at the last poll that looked
    int currentListPos;  // the current entry at the latest poll
    int trackLength;     // seconds
    int outputTime;      // the latest position read, by a poll or the pause wait
    DWORD outputTimeReadAt;
    // The position of the last poll that passed; below every 32-bit value at first, so
    // that a pause present at the start shows at the second poll.
    long long lastOutputTime;
    bool filePlays;  // its file played (or stood paused) at the latest look
    // A write of ours restarted the paused file before we paused it again: it stands a blip
    // further on, which the pause wait takes as its new standing position.
    bool standingMoved;
    TrackFile file;
    FileClaim claim;
    textUnit savedArtist[SAVED_ARTIST_SIZE];
};

// Says why file plays unstamped, where a listener might ask.
static void sayWhyUnstamped(const TrackFile& file, Unstamped why) {
    const char* reason = 0;
    switch (why) {
    case UNSTAMPED_UNREADABLE:
        reason = "plays unstamped: its artist cannot be read, or reads empty";
        break;
    case UNSTAMPED_MAY_BE_CUT:
        reason = "plays unstamped: its artist is too long to be read back whole with a stamp";
        break;
    case UNSTAMPED_QUESTION_MARK:
        reason = "plays unstamped: its artist holds '?', which may stand for a character the code page lacks";
        break;
    case UNSTAMPED_UNPROVEN_STAMP:
        reason =
            "plays unstamped: its artist ends like a stamp that no journal proves Vorlu's (another "
            "player's, or the artist's own)";
        break;
    case UNSTAMPED_NO_JOURNAL:
        reason = "plays unstamped: the journal cannot record it now";
        break;
    case UNSTAMPED_SET_REFUSED:
        reason =
            "plays unstamped from now on: the player refused to write it (read-only, or held by another "
            "program)";
        break;
    case STAMPED:
    case UNSTAMPED_QUIETLY:
        break;
    }
    if (reason) noteForDebugger(file.name, file.wide, reason);
}

// Reads which entry plays, its length and its file, and claims the file. False when there
// is nothing to stamp: another file plays already, nothing plays, the track is within its
// end margin as the end of a cycle tests it (a stamp would be undone at once: on the host
// a write-back there restarts the file, and its title update brings a new worker), or the
// file is not to be stamped.
static bool claimTrack(Track* track) {
    track->listPos = askHostInt(0, IPC_GETLISTPOS);
    track->knownListPos = track->currentListPos = track->listPos;
    track->trackLength = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
    readCurrentFile(&track->file);
    if (!noteFile(track->record, track->file)) return false;
    track->outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    track->outputTimeReadAt = GetTickCount();
    if (track->outputTime < 0 || !beforeEndMargin(track->outputTime, track->trackLength)) return false;
    track->lastOutputTime = -2147483649LL;
    track->filePlays = true;
    track->claim = claimFile(track->file, track->savedArtist);
    if (track->claim.slot < 0) sayWhyUnstamped(track->file, track->claim.why);
    return track->claim.slot >= 0;
}

// Writes the saved artist with suffix behind it (a time text or the pause mark), playback
// standing at position, read just now, into playback.
static StampResult stamp(Track* track, const char* suffix, int position, Playback* playback) {
    textUnit artistWithTime[ARTIST_WITH_TIME_SIZE];
    copyText(artistWithTime, ARTIST_WITH_TIME_SIZE, track->savedArtist);
    appendAscii(artistWithTime, ARTIST_WITH_TIME_SIZE, suffix);
    Playback written = {track->filePlays, position, GetTickCount(), false, false};
    *playback = written;
    StampResult result = stampFile(track->claim, artistWithTime, track->listPos, playback);
    clearBuffer(sizeof artistWithTime, artistWithTime);
    return result;
}

// Stamps the time the host gives, only while the track's file is the one that plays: any
// move of the position since the last poll (the end of a pause among them) may be another
// file's start.
static StampResult stampTime(Track* track) {
    if (!isCurrentFile(track->file)) {
        track->filePlays = false;
        return STAMP_ENDED;
    }
    int position = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    if (position < 0) {
        track->filePlays = false;  // stopped since
        return STAMP_ENDED;
    }
    int length = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
    char timeString[TIME_TEXT_SIZE];
    formatTimeText(position, length, timeString);
    Playback playback;
    return stamp(track, timeString, position, &playback);
}

// Marks the pause, unless a write of ours once started this file playing while paused.
static StampResult markPause(Track* track) {
    if (!pauseMarkAllowed(track->file)) return STAMP_SKIPPED;
    Playback playback;
    StampResult result = stamp(track, pauseSuffix, static_cast<int>(track->lastOutputTime), &playback);
    track->standingMoved = playback.pauseRestored;
    return result;
}

enum PollOutcome { POLLS_DONE, POLLS_PAUSED, POLLS_TOLD };

// The worker was told to end: by the watcher, because another file plays; or by quit, its
// file playing on as it was.
static void toldToEnd(Track* track) {
    if (!pluginThreadsStopping()) track->filePlays = false;
}

// Up to fifteen polls a second apart. Done early when nothing plays, the track is within
// its end margin, another file plays, or the file was taken over; paused on a repeated
// position. A playlist edit that moves the file's entry (or another entry naming the same
// file) is followed: one name request, only when the index changed.
static PollOutcome poll(Track* track) {
    for (int pollCount = 0; pollCount < POLLS_PER_CYCLE;) {
        if (!waitOneSecond(track->record)) {
            toldToEnd(track);
            return POLLS_TOLD;
        }
        track->filePlays = false;
        track->outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
        track->outputTimeReadAt = GetTickCount();
        track->currentListPos = askHostInt(0, IPC_GETLISTPOS);
        if (track->outputTime < 0) return POLLS_DONE;
        if (track->currentListPos != track->knownListPos) {
            if (!isCurrentFile(track->file)) return POLLS_DONE;
            track->knownListPos = track->currentListPos;
        }
        track->filePlays = true;
        if (pastEndMargin(track->outputTime, track->trackLength)) return POLLS_DONE;
        if (!ownsFile(track->claim)) return POLLS_DONE;
        if (track->outputTime == track->lastOutputTime) return POLLS_PAUSED;
        track->lastOutputTime = track->outputTime;
        pollCount++;
    }
    return POLLS_DONE;
}

// Waits a second at a time until the position moves; false when told to end. The list
// position is not read meanwhile. Where a write of ours moved the standing position, the
// first read once the restart settled names it: until the host's title update a restarted
// file reads 0, and its length -1.
static bool waitOutPause(Track* track) {
    bool moved;
    do {
        if (!waitOneSecond(track->record)) {
            toldToEnd(track);
            return false;
        }
        track->outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
        track->outputTimeReadAt = GetTickCount();
        moved = track->outputTime != track->lastOutputTime;
        if (track->standingMoved) {
            moved = false;
            if (track->outputTime >= 0 && askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME) >= 0) {
                track->lastOutputTime = track->outputTime;
                track->standingMoved = false;
            }
        }
        repairNowAndThen();  // however long the pause
    } while (!moved);
    return true;
}

static bool anotherCycle(const Track* track) {
    return beforeEndMargin(track->outputTime, track->trackLength) && track->outputTime > 0 &&
           track->currentListPos == track->knownListPos;
}

// Waits, a second at a time, until the track's file no longer plays: nothing plays, or
// another file does. False when the threads are to stop while it still plays.
static bool waitUntilFileStops(Track* track) {
    for (;;) {
        bool waited = waitOneSecond(track->record);
        track->outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
        track->outputTimeReadAt = GetTickCount();
        if (track->outputTime < 0 || !isCurrentFile(track->file)) {
            track->filePlays = false;
            return true;
        }
        if (!waited && pluginThreadsStopping()) return false;
    }
}

// Writes the original back, again a second apart (closer once the threads are to stop)
// while the host refuses it or the field cannot be read, and lets the file go. A file a
// refused set stopped waits until it no longer plays, or the threads are to stop.
// Returns the sequence number of the journal entry that the write-back settled, or 0: an
// entry not settled stays for the next start's repair.
static unsigned int writeBack(Track* track) {
    markLeaving(track->record);
    unsigned int journalEntry = 0;
    for (int retry = 0; retry <= WRITE_BACK_RETRIES; retry++) {
        if (retry > 0) waitBeforeRetry(track->record);
        Playback playback = {track->filePlays, track->outputTime, track->outputTimeReadAt, false, false};
        RestoreOutcome outcome = restoreFile(track->claim, track->listPos, &journalEntry, &playback);
        if (outcome == RESTORE_DONE) break;
        // At quit the player closes: its playback is no longer ours to keep, and the tries go on.
        if (outcome == RESTORE_HELD && !waitUntilFileStops(track)) track->filePlays = false;
    }
    releaseFile(track->claim);
    return journalEntry;
}

// Claims the track, stamps it about every 15 seconds and marks pauses while it plays on,
// then writes its artist back. Returns the journal entry to drop, or 0.
static unsigned int stampTrack(WorkerRecord* record) {
    Track track;
    clearBuffer(sizeof track, &track);
    track.record = record;
    if (!claimTrack(&track)) return 0;
    for (bool stamping = true; stamping;) {
        if (stampTime(&track) == STAMP_ENDED) {
            if (stampRefusedInThisRun(track.file)) sayWhyUnstamped(track.file, UNSTAMPED_SET_REFUSED);
            break;
        }
        PollOutcome outcome = poll(&track);
        if (outcome == POLLS_TOLD) break;
        if (outcome == POLLS_PAUSED && (markPause(&track) == STAMP_ENDED || !waitOutPause(&track))) break;
        stamping = anotherCycle(&track);
        if (stamping) repairNowAndThen();
    }
    unsigned int journalEntry = writeBack(&track);
    clearBuffer(sizeof track, &track);
    return journalEntry;
}

// A free record, marked used, for a worker about to start; null when all are in use.
static WorkerRecord* takeRecord(const TrackFile& file) {
    WorkerRecord* record = 0;
    EnterCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS && !record; i++) {
        if (!records[i].used) record = &records[i];
    }
    if (record) {
        record->used = true;
        record->told = false;
        record->file = file;
        ResetEvent(record->wake);  // a tell its last worker never waited for
    }
    LeaveCriticalSection(&recordsLock);
    return record;
}

static void giveBack(WorkerRecord* record) {
    EnterCriticalSection(&recordsLock);
    record->used = false;
    LeaveCriticalSection(&recordsLock);
}

unsigned WINAPI ThreadProc(void* argument) {
    WorkerRecord* record = static_cast<WorkerRecord*>(argument);
    unsigned int journalEntry = stampTrack(record);
    giveBack(record);
    endPluginThread(journalEntry);
    return 0;
}

bool startWorker(const TrackFile& file) {
    WorkerRecord* record = pluginThreadsStopping() ? 0 : takeRecord(file);
    if (!record) return false;
    if (startPluginThread(ThreadProc, record)) return true;
    giveBack(record);
    return false;
}

int stopWorkers(DWORD limitMs) {
    signalPluginThreadsToStop(limitMs);
    EnterCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS; i++) {
        if (records[i].used) tell(&records[i]);
    }
    LeaveCriticalSection(&recordsLock);
    return waitForPluginThreads(limitMs);
}
