#include "stamping/worker.h"

#include "host/requests.h"
#include "stamping/file_claims.h"
#include "trackinfo/time_text.h"
#include "trackinfo/track_metadata.h"

#include <process.h>

const int POLL_INTERVAL_MS = 1000;
const int POLLS_PER_CYCLE = 15;
const int END_MARGIN_MS = 1500;
// A write-back the host refuses (the file locked for a moment) is tried again this often.
const int WRITE_BACK_RETRIES = 5;

const int ARTIST_WITH_TIME_SIZE = SAVED_ARTIST_SIZE - 1 + TIME_TEXT_SIZE;  // the longer of the two suffixes

static HANDLE stopEvent;  // set once, by quit
static LONG volatile liveWorkers;
static HMODULE workerModule;

void initWorkers() { stopEvent = CreateEventA(0, TRUE, FALSE, 0); }

static bool stopRequested() { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }

// Every wait of a worker goes through here; false when the workers are to stop.
static bool waitOneSecond() { return WaitForSingleObject(stopEvent, POLL_INTERVAL_MS) == WAIT_TIMEOUT; }

// Time sums in 64 bits: exact for every 32-bit position and length.
static bool pastEndMargin(int outputTime, int trackLength) {
    return static_cast<long long>(outputTime) + END_MARGIN_MS > static_cast<long long>(trackLength) * 1000;
}

static bool beforeEndMargin(int outputTime, int trackLength) {
    return static_cast<long long>(outputTime) + END_MARGIN_MS < static_cast<long long>(trackLength) * 1000;
}

static void stampTrack() {
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
    FileClaim claim = claimFile(&file, savedArtist);
    if (claim.slot < 0) return;  // nothing saved that could be written back: leave the file alone

    // Below every 32-bit value, so the first poll never sees a pause: one present at
    // start shows at the second poll.
    long long lastOutputTime = -2147483649LL;
    int outputTime = 0;
    int currentListPos = listPos;
    bool stamping = true;
    while (stamping && !stopRequested()) {
        getFileTime(listPos, timeString);
        copyText(artistWithTime, ARTIST_WITH_TIME_SIZE, savedArtist);
        appendAscii(artistWithTime, ARTIST_WITH_TIME_SIZE, timeString);
        if (!stampFile(claim, artistWithTime, listPos)) break;

        for (int pollCount = 0; pollCount < POLLS_PER_CYCLE;) {
            if (!waitOneSecond()) break;
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
            stampFile(claim, artistWithTime, listPos);
            do {
                if (!waitOneSecond()) break;
                outputTime = askHostInt(IPC_GETOUTPUTTIME_POSITION_MS, IPC_GETOUTPUTTIME);
            } while (outputTime == lastOutputTime);
            paused = false;
        }
        clearBuffer(sizeof artistWithTime, artistWithTime);
        clearBuffer(sizeof timeString, timeString);
        stamping = beforeEndMargin(outputTime, trackLength) && outputTime > 0 && listPos == currentListPos;
    }

    // Once quit has asked the workers to stop, the retries no longer wait.
    for (int retry = 0; !restoreFile(claim, listPos) && retry < WRITE_BACK_RETRIES; retry++) waitOneSecond();
    releaseFile(claim);
    clearBuffer(sizeof savedArtist, savedArtist);
    clearBuffer(sizeof file, &file);
}

unsigned WINAPI ThreadProc(void*) {
    stampTrack();
    InterlockedDecrement(&liveWorkers);
    // Drops this worker's reference without returning into code that may be unloaded.
    FreeLibraryAndExitThread(workerModule, 0);
    return 0;
}

bool startWorker() {
    if (stopRequested()) return false;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ThreadProc),
                            &workerModule))
        return false;
    InterlockedIncrement(&liveWorkers);
    uintptr_t thread = _beginthreadex(0, 0, ThreadProc, 0, 0, 0);
    if (thread == 0) {
        InterlockedDecrement(&liveWorkers);
        FreeLibrary(workerModule);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

int stopWorkers(DWORD limitMs) {
    SetEvent(stopEvent);
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
