#include "stamping/worker.h"

#include "host/requests.h"
#include "stamping/file_claims.h"
#include "stamping/journal.h"
#include "stamping/watcher.h"
#include "trackinfo/time_text.h"
#include "trackinfo/track_metadata.h"

#include <process.h>

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
    bool told;       // told to end: its file is no longer the one playing, or quit came
    TrackFile file;  // as readCurrentFile names it, the way the watcher compares names
    HANDLE wake;     // auto-reset; every wait of the worker ends when it is set
};

// More than can run at once: a worker told to end is gone within its write-back,
// which the host may refuse for a few seconds at most.
const int WORKER_RECORDS = 32;

static HANDLE stopEvent;  // set once, by quit
static LONG volatile liveWorkers;
static HMODULE workerModule;  // this library, named once by init; each thread holds a reference of its own
static WorkerRecord records[WORKER_RECORDS];
// Guards the records. It is held for a few memory operations only, never across a host
// request, so the windows' thread may take it.
static CRITICAL_SECTION recordsLock;

void initWorkers() {
    stopEvent = CreateEventA(0, TRUE, FALSE, 0);
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThreadProc), &workerModule);
    InitializeCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS; i++) records[i].wake = CreateEventA(0, FALSE, FALSE, 0);
}

static bool stopRequested() { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }

// Every wait of a worker goes through here; false when it is to end now. A worker that
// was told goes on waiting its full seconds between write-back attempts.
static bool waitOneSecond(WorkerRecord* record) {
    return !stopRequested() && WaitForSingleObject(record->wake, POLL_INTERVAL_MS) == WAIT_TIMEOUT;
}

static void tell(WorkerRecord* record) {
    record->told = true;
    SetEvent(record->wake);
}

void tellWorkersOtherThan(const TrackFile& current) {
    EnterCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS; i++) {
        if (records[i].used && !records[i].told && !sameFile(records[i].file, current)) tell(&records[i]);
    }
    LeaveCriticalSection(&recordsLock);
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

// Stamps the track; returns the sequence number of the journal entry that its
// write-back settled, or 0.
static unsigned int stampTrack(WorkerRecord* record) {
    TrackFile file;
    textUnit savedArtist[SAVED_ARTIST_SIZE];
    textUnit artistWithTime[ARTIST_WITH_TIME_SIZE];
    char timeString[TIME_TEXT_SIZE];

    int listPos = askHostInt(0, IPC_GETLISTPOS);
    clearBuffer(sizeof savedArtist, savedArtist);
    clearBuffer(sizeof artistWithTime, artistWithTime);
    clearBuffer(sizeof file, &file);
    clearBuffer(sizeof timeString, timeString);
    bool paused = false;
    int trackLength = askHostInt(IPC_GETOUTPUTTIME_LENGTH_S, IPC_GETOUTPUTTIME);
    readCurrentFile(&file);
    if (!noteFile(record, file)) return 0;  // another file plays already
    FileClaim claim = claimFile(&file, savedArtist);
    if (claim.slot < 0) return 0;  // nothing saved that could be written back: leave the file alone

    // Below every 32-bit value, so the first poll never sees a pause: one present at
    // start shows at the second poll.
    long long lastOutputTime = -2147483649LL;
    int outputTime = 0;
    int currentListPos = listPos;
    bool stamping = true;
    bool leaving = false;  // told to end now: no further stamp, the artist goes back
    while (stamping && !leaving) {
        getFileTime(listPos, timeString);
        copyText(artistWithTime, ARTIST_WITH_TIME_SIZE, savedArtist);
        appendAscii(artistWithTime, ARTIST_WITH_TIME_SIZE, timeString);
        if (!stampFile(claim, artistWithTime, listPos)) break;

        for (int pollCount = 0; pollCount < POLLS_PER_CYCLE;) {
            leaving = !waitOneSecond(record);
            if (leaving) break;
            outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
            currentListPos = askHostInt(0, IPC_GETLISTPOS);
            if (outputTime < 0) break;
            if (pastEndMargin(outputTime, trackLength)) break;
            if (currentListPos != listPos) break;
            if (!ownsFile(claim)) break;  // another worker has taken this file over: leave it to that one
            if (outputTime == lastOutputTime) {
                paused = true;
                break;
            }
            lastOutputTime = outputTime;
            pollCount++;
        }

        if (paused) {
            copyText(artistWithTime, ARTIST_WITH_TIME_SIZE, savedArtist);
            appendAscii(artistWithTime, ARTIST_WITH_TIME_SIZE, pauseSuffix);
            if (!stampFile(claim, artistWithTime, listPos)) break;
            do {
                leaving = !waitOneSecond(record);
                if (leaving) break;
                outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
            } while (outputTime == lastOutputTime);
            paused = false;
        }
        clearBuffer(sizeof artistWithTime, artistWithTime);
        clearBuffer(sizeof timeString, timeString);
        stamping = beforeEndMargin(outputTime, trackLength) && outputTime > 0 && listPos == currentListPos;
    }

    // Once quit has asked the workers to stop, the retries no longer wait.
    unsigned int journalEntry = 0;
    for (int retry = 0; !restoreFile(claim, listPos, &journalEntry) && retry < WRITE_BACK_RETRIES; retry++)
        waitOneSecond(record);
    releaseFile(claim);
    clearBuffer(sizeof savedArtist, savedArtist);
    clearBuffer(sizeof file, &file);
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

void endPluginThread(unsigned int journalEntry) {
    InterlockedDecrement(&liveWorkers);
    // Quit waits no longer for this thread: the journal's update may take a disk's while.
    if (journalEntry > 0) journalForget(journalEntry);
    // Drops this thread's reference without returning into code that may be unloaded.
    FreeLibraryAndExitThread(workerModule, 0);
}

unsigned WINAPI ThreadProc(void* argument) {
    WorkerRecord* record = static_cast<WorkerRecord*>(argument);
    unsigned int journalEntry = stampTrack(record);
    giveBack(record);
    endPluginThread(journalEntry);
    return 0;
}

bool startPluginThread(unsigned(WINAPI* entry)(void*), void* argument) {
    HMODULE reference;
    if (stopRequested()) return false;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ThreadProc), &reference))
        return false;
    InterlockedIncrement(&liveWorkers);
    uintptr_t thread = _beginthreadex(0, 0, entry, argument, 0, 0);
    if (thread == 0) {
        InterlockedDecrement(&liveWorkers);
        FreeLibrary(reference);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

bool workersStopping() { return stopRequested(); }

bool startWorker(const TrackFile& file) {
    WorkerRecord* record = stopRequested() ? 0 : takeRecord(file);
    if (!record) return false;
    if (startPluginThread(ThreadProc, record)) return true;
    giveBack(record);
    return false;
}

int stopWorkers(DWORD limitMs) {
    SetEvent(stopEvent);
    EnterCriticalSection(&recordsLock);
    for (int i = 0; i < WORKER_RECORDS; i++) {
        if (records[i].used) tell(&records[i]);
    }
    LeaveCriticalSection(&recordsLock);
    DWORD start = GetTickCount();
    int running;
    while ((running = InterlockedCompareExchange(&liveWorkers, 0, 0)) > 0 && GetTickCount() - start < limitMs) {
        // Workers' requests are messages sent to windows of the host's thread, which may
        // be this one: take them in while waiting.
        MsgWaitForMultipleObjects(0, 0, FALSE, 10, QS_SENDMESSAGE);
        MSG message;
        PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return running;
}
