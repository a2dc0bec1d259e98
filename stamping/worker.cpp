#include "stamping/worker.h"

#include "host/requests.h"
#include "stamping/debug_notes.h"
#include "stamping/file_place.h"
#include "stamping/file_writes.h"
#include "stamping/journal.h"
#include "stamping/plugin_threads.h"
#include "stamping/repair.h"
#include "trackinfo/track_metadata.h"

const DWORD POLL_INTERVAL_MS = 1000;
const int POLLS_PER_CYCLE = 15;
// How far a playing position may fall behind the clock between two looks, as the output
// reports it in blocks: a pause within the last of a poll's second shows at the next.
const long long POSITION_LAG_MS = 100;
// A write-back the host refuses (the file locked for a moment) is tried again this often.
const int WRITE_BACK_RETRIES = 5;

// A running worker as the watcher sees it: the file it stamps, and the event that has it
// look at playback now (a change the host called back about), or end now (told).
struct WorkerRecord {
    bool used;
    bool told;               // ending: its file no longer plays, quit came, or it writes back
    bool awaitsTitleUpdate;  // a restart of its file reads position 0 until the title update, which clears this
    TrackFile file;          // as readCurrentFile names it, the way the watcher compares names
    HANDLE wake;             // auto-reset; every wait of the worker ends when it is set
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

// A record's flag, read or set under the lock: the watcher's thread sets them too.
static bool readFlag(const bool* flag) {
    EnterCriticalSection(&recordsLock);
    bool value = *flag;
    LeaveCriticalSection(&recordsLock);
    return value;
}

static void setFlag(bool* flag, bool value) {
    EnterCriticalSection(&recordsLock);
    *flag = value;
    LeaveCriticalSection(&recordsLock);
}

enum Waited {
    WAITED_OUT,    // the time came
    WAITED_WOKEN,  // the host called back about a change of playback: look now
    WAITED_TOLD    // told to end, or the threads are to stop
};

// Every wait of a worker goes through here: until deadline (GetTickCount), or a wake.
static Waited waitUntil(WorkerRecord* record, DWORD deadline) {
    if (pluginThreadsStopping()) return WAITED_TOLD;
    LONG left = static_cast<LONG>(deadline - GetTickCount());
    if (left <= 0) return WAITED_OUT;
    if (WaitForSingleObject(record->wake, static_cast<DWORD>(left)) == WAIT_TIMEOUT) return WAITED_OUT;
    return readFlag(&record->told) || pluginThreadsStopping() ? WAITED_TOLD : WAITED_WOKEN;
}

// Between two write-back attempts: a second whatever wakes the worker, or, once the
// threads are to stop, a share of the wait for them, so that every attempt still comes
// while the host can write.
static void waitBeforeRetry(WorkerRecord* record) {
    DWORD deadline = GetTickCount() + POLL_INTERVAL_MS;
    while (!pluginThreadsStopping() && waitUntil(record, deadline) != WAITED_OUT) {
    }
    if (pluginThreadsStopping()) Sleep(pluginThreadsStopSpacing(WRITE_BACK_RETRIES));
}

static void tell(WorkerRecord* record) {
    record->told = true;
    SetEvent(record->wake);
}

bool tellWorkersOtherThan(const TrackFile& current, HolderWake wake) {
    bool held = false;
    EnterCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS; i++) {
        if (!records[i].used || records[i].told) continue;
        if (!sameFileName(records[i].file, current)) {
            tell(&records[i]);
            continue;
        }
        held = true;
        bool titleAwaited = wake == WAKE_HOLDER_AWAITING_TITLE && records[i].awaitsTitleUpdate;
        if (titleAwaited) records[i].awaitsTitleUpdate = false;
        if (wake == WAKE_HOLDER || titleAwaited) SetEvent(records[i].wake);
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
    int listPos;       // the entry it was started for: every write names it
    int knownListPos;  // where its file stood in the playlist at the last look
    int trackLength;   // seconds
    int outputTime;    // the latest position read
    DWORD outputTimeReadAt;
    int shownPosition;  // the position its file's latest stamp shows; -1: the pause mark
    bool filePlays;     // its file played, or stood paused, at the latest look
    TrackFile file;
    FileClaim claim;
    textUnit savedArtist[SAVED_ARTIST_SIZE];
};

// Why a file plays unstamped, as a listener reads it in a debugger, by Unstamped.
static const char* const unstampedReasons[] = {
    0,  // stamped
    0,  // quietly
    "plays unstamped: its artist cannot be read, or reads empty",
    "plays unstamped: its artist is too long to be read back whole with a stamp",
    "plays unstamped: its artist holds '?', which may stand for a character the code page lacks",
    "plays unstamped: its name holds characters the system code page lacks, which players before 5.13 cannot "
    "hand over",
    "plays unstamped: its artist ends like a stamp that no journal proves Vorlu's (another player's, or the "
    "artist's own)",
    "plays unstamped: the journal cannot record it now",
    "plays unstamped from now on: the player refused to write it",
    "plays unstamped from now on: the file is read-only, or writing it is denied",
    "plays unstamped from now on: another program holds the file",
    "plays unstamped from now on: the player cannot write this kind of file",
    "plays unstamped: streams have no tag to write",
};
static_assert(sizeof unstampedReasons / sizeof *unstampedReasons == UNSTAMPED_STREAM + 1,
              "a reason for every Unstamped");

static void sayWhyUnstamped(const TrackFile& file, Unstamped why) {
    if (unstampedReasons[why]) noteOnceForDebugger(file, unstampedReasons[why]);
}

// Which entry plays, its length, its file and the position, as a worker starts.
static void lookAtStartInStep(void* context) {
    Track& track = *static_cast<Track*>(context);
    track.listPos = askHostInt(0, IPC_GETLISTPOS);
    track.trackLength = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
    readCurrentFile(&track.file);
    track.outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    track.outputTimeReadAt = GetTickCount();
}

// Reads which entry plays, its length and its file, and claims the file. False when there
// is nothing to stamp: another file plays already, nothing plays, the track is within its
// end margin as the end of a cycle tests it (a stamp would be undone at once: on the host
// a write-back there restarts the file, and its title update brings a new worker), or the
// file is not to be stamped.
static bool claimTrack(Track* track) {
    runStep(lookAtStartInStep, track);
    track->knownListPos = track->listPos;
    if (!noteFile(track->record, track->file)) return false;
    if (track->outputTime < 0) return false;
    // No length (a restart of a file settling, or a stream) and no file behind the name: a stream.
    if (track->trackLength <= 0 && writeBlockOf(track->file) == WRITE_NOT_FOUND)
        sayWhyUnstamped(track->file, UNSTAMPED_STREAM);
    if (!beforeEndMargin(track->outputTime, track->trackLength)) return false;
    track->filePlays = true;
    track->claim = claimFile(track->file, track->savedArtist, &track->record->told);
    if (track->claim.slot < 0) sayWhyUnstamped(track->file, track->claim.why);
    return track->claim.slot >= 0;
}

// Why a worker looks: what it must ask follows.
enum LookKind {
    LOOK_POLL,   // a second since the last look: the play state only where the position fell behind
    LOOK_WAKE,   // the watcher found the file current as the host called back: its entry is not asked
    LOOK_PAUSED  // the worker waits out a pause: the play state always
};

// Playback as one look of a worker's finds it.
struct Look {
    Track* track;
    LookKind kind;
    LRESULT state;
    int position;
    int listPos;
    bool fileCurrent;  // the track's file is the current entry's
    bool owned;        // the claim still holds the file
};

static void lookInStep(void* context) {
    Look& look = *static_cast<Look*>(context);
    look.position = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
    look.listPos = look.kind == LOOK_WAKE ? look.track->knownListPos : askHostInt(0, IPC_GETLISTPOS);
    // The host answers a negative position when stopped; a pause holds it where it stood:
    // a position that fell behind the clock since the last look is asked about.
    const Track& track = *look.track;
    long long moved = static_cast<long long>(look.position) - track.outputTime;
    long long lag = static_cast<long long>(GetTickCount() - track.outputTimeReadAt) - moved;
    if (look.kind != LOOK_POLL || lag > POSITION_LAG_MS)
        look.state = askHost(0, IPC_ISPLAYING);
    else
        look.state = look.position < 0 ? HOST_STOPPED : HOST_PLAYING;
    // A playlist edit that moves the file's entry (or another entry naming the same file)
    // is followed: one name request, only when the index changed.
    look.fileCurrent = look.listPos == look.track->knownListPos || isCurrentFile(look.track->file);
    look.owned = claimedFile(look.track->claim) != 0;
}

// Looks at playback in one step, and keeps what the worker follows of it.
static Look lookNow(Track* track, LookKind kind) {
    Look look = {track, kind, HOST_STOPPED, -1, -1, false, false};
    runStep(lookInStep, &look);
    track->outputTime = look.position;
    track->outputTimeReadAt = GetTickCount();
    track->filePlays = look.fileCurrent && look.state != HOST_STOPPED && look.position >= 0;
    if (look.fileCurrent) track->knownListPos = look.listPos;
    return look;
}

enum PollOutcome { POLLS_DONE, POLLS_PAUSED, POLLS_TOLD };

// Up to fifteen polls a second apart. Done early when nothing plays, the track is within
// its end margin, another file plays, or the file was taken over; paused once playback
// stands paused. Done too when a poll finds the position more than a second behind the
// furthest of the stamp and the cycle's polls (a seek back, a replay, the file started
// again from another entry): the tag shows a time this play has not reached, and the next
// cycle stamps at once. A wake (the host called back about a change of playback) looks at
// once, and counts as no poll: a listener dragging the position gets a stamp a second at
// most. Forward moves keep the cadence.
static PollOutcome poll(Track* track) {
    long long furthest = track->shownPosition;
    DWORD nextPoll = GetTickCount() + POLL_INTERVAL_MS;
    for (int pollCount = 0; pollCount < POLLS_PER_CYCLE;) {
        Waited waited = waitUntil(track->record, nextPoll);
        if (waited == WAITED_TOLD) return POLLS_TOLD;
        Look look = lookNow(track, waited == WAITED_WOKEN ? LOOK_WAKE : LOOK_POLL);
        if (!track->filePlays || !look.owned || pastEndMargin(look.position, track->trackLength)) return POLLS_DONE;
        if (look.state == HOST_PAUSED) return POLLS_PAUSED;
        // The cycle's stamp found the file paused and wrote the mark: it plays again.
        if (track->shownPosition < 0) return POLLS_DONE;
        if (waited == WAITED_WOKEN) continue;
        // A restart after a write of ours reads 0 until the host's title update: no move.
        if (look.position > 0 && look.position + static_cast<long long>(POLL_INTERVAL_MS) < furthest) return POLLS_DONE;
        if (look.position > furthest) furthest = look.position;
        nextPoll = GetTickCount() + POLL_INTERVAL_MS;
        pollCount++;
    }
    return POLLS_DONE;
}

// Waits, looking a second apart and at every wake, until playback no longer stands
// paused. True once it plays on; false when it stops, another file plays, the file was
// taken over, or the worker is told to end. Where the mark's write restarted the file (the
// worker awaits the title update) its position reads 0 until the host's title update,
// which wakes the worker: played on meanwhile, it plays on once its position has moved.
// Where the mark restarted nothing (a file written in place), or once the restart
// settled, a 0 is a new start of the listener's: it plays on at once.
static bool waitOutPause(Track* track) {
    for (;;) {
        Waited waited = waitUntil(track->record, GetTickCount() + POLL_INTERVAL_MS);
        if (waited == WAITED_TOLD) break;
        Look look = lookNow(track, waited == WAITED_WOKEN ? LOOK_WAKE : LOOK_PAUSED);
        repairNowAndThen();  // however long the pause
        if (look.position > 0) setFlag(&track->record->awaitsTitleUpdate, false);
        if (!track->filePlays || !look.owned) break;
        if (look.state == HOST_PLAYING && !readFlag(&track->record->awaitsTitleUpdate)) return true;
    }
    setFlag(&track->record->awaitsTitleUpdate, false);
    return false;
}

static bool anotherCycle(const Track* track) {
    return track->filePlays && beforeEndMargin(track->outputTime, track->trackLength) && track->outputTime > 0;
}

// Waits, looking a second apart and at every wake, until the track's file no longer plays:
// nothing plays, or another file does; or the threads are to stop.
static void waitUntilFileStops(Track* track) {
    for (;;) {
        waitUntil(track->record, GetTickCount() + POLL_INTERVAL_MS);
        if (pluginThreadsStopping()) return;
        // As the write-back holds it: the file current, playing or paused, whatever its position.
        Look look = lookNow(track, LOOK_POLL);
        if (!look.fileCurrent || look.state == HOST_STOPPED) return;
    }
}

// Writes the original back, again a second apart (closer once the threads are to stop)
// while the host refuses it or the field cannot be read, and lets the file go. A file a
// refused set stopped waits until it no longer plays, or the threads are to stop.
// Returns the sequence number of the journal entry that the write-back settled, or 0: an
// entry not settled stays for the next start's repair.
static unsigned int writeBack(Track* track) {
    // From now on a notice for its file starts a new worker, which takes the file over if
    // this one has not let it go yet.
    setFlag(&track->record->told, true);
    unsigned int journalEntry = 0;
    bool wrote = false;
    for (int tries = 0; tries <= WRITE_BACK_RETRIES;) {
        RestoreOutcome outcome =
            writeBackOriginal(track->claim, track->listPos, pluginThreadsStopping(), &journalEntry, &wrote);
        if (outcome == RESTORE_DONE) break;
        if (outcome == RESTORE_HELD) {
            waitUntilFileStops(track);
            continue;
        }
        if (++tries <= WRITE_BACK_RETRIES) waitBeforeRetry(track->record);
    }
    releaseFile(track->claim);
    // The player writes through the system's cache and never flushes: a power cut could still
    // take the original back out of the file. Its entry goes once the original is on disk.
    if (journalEntry != 0 && wrote && !flushToDisk(track->file)) {
        journalForgetLater(journalEntry);
        journalEntry = 0;
    }
    return journalEntry;
}

// Why the host refused to write file, as the file system tells: where nothing keeps the
// file from being written, its kind has no writer.
static Unstamped refusalOf(const TrackFile& file) {
    switch (writeBlockOf(file)) {
    case WRITE_NOT_BLOCKED:
        return UNSTAMPED_KIND_NOT_WRITABLE;
    case WRITE_READ_ONLY:
        return UNSTAMPED_READ_ONLY;
    case WRITE_HELD:
        return UNSTAMPED_HELD;
    case WRITE_NOT_FOUND:
        break;
    }
    return UNSTAMPED_SET_REFUSED;
}

// A write's result, said where the host refused it; a refusal ends the stamps as an end does.
static StampResult stamped(const Track& track, StampResult result) {
    if (result != STAMP_REFUSED) return result;
    sayWhyUnstamped(track.file, refusalOf(track.file));
    return STAMP_ENDED;
}

// The stamp, or the pause mark. A restart by a mark's write brings a title update, on the
// windows' thread after the write's step: awaited from before the step, it is never missed.
static StampResult writeStampOrMark(Track* track, bool mark) {
    bool restarted = readFlag(&track->record->awaitsTitleUpdate);
    setFlag(&track->record->awaitsTitleUpdate, true);
    StampResult result = mark ? markPause(track->claim, track->listPos, &restarted)
                              : stampTime(track->claim, track->listPos, &track->shownPosition, &restarted);
    setFlag(&track->record->awaitsTitleUpdate, restarted);
    return stamped(*track, result);
}

// Claims the track, stamps it about every 15 seconds and marks pauses while it plays on,
// then writes its artist back. Returns the journal entry to drop, or 0.
static unsigned int stampTrack(WorkerRecord* record) {
    Track track;
    clearBuffer(sizeof track, &track);
    track.record = record;
    if (!claimTrack(&track)) return 0;
    // Told to end while the claim waited (for the journal, say): nothing is stamped.
    for (bool stamping = !readFlag(&record->told); stamping;) {
        if (writeStampOrMark(&track, false) == STAMP_ENDED) break;
        PollOutcome outcome = poll(&track);
        if (outcome == POLLS_TOLD) break;
        if (outcome == POLLS_PAUSED) {
            if (writeStampOrMark(&track, true) == STAMP_ENDED || !waitOutPause(&track)) break;
            continue;  // it plays on: stamped at once
        }
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
        record->awaitsTitleUpdate = false;
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
