#include "stamping/repair.h"

#include "stamping/debug_notes.h"
#include "stamping/file_writes.h"
#include "stamping/file_place.h"
#include "stamping/journal.h"
#include "stamping/plugin_threads.h"

// One repair runs at a time, on whichever thread wins repairing: these are its own.
static unsigned char snapshot[JOURNAL_BUFFER_SIZE];
static JournalEntry entry;
static LONG volatile repairing;
static LONG volatile lastRepairStart;  // GetTickCount at the last start of a repair

// Entries whose file a pass found holding its original, or an edit, where no flush could
// be made (another program holds the file, a share takes no flush). Its player had ended
// by then, so the system's own writer has written the file SYSTEM_WRITER_DELAY_MS later:
// a later pass drops the entry from then on. Until then a power cut could still bring
// back a stamp the cache had replaced. With no room, an entry waits for a later run.
const int AWAITING_DISK = 32;
struct AwaitingDisk {
    unsigned int processId, creationLow, creationHigh, sequence;
    DWORD since;  // GetTickCount when first found so
    bool seen;    // by the pass that runs: one no pass finds any more is forgotten
};
static AwaitingDisk awaitingDisk[AWAITING_DISK];
static int awaitingCount;

// Whether what entry's file holds now can be taken as on its disk: flushed now, or found
// so SYSTEM_WRITER_DELAY_MS ago.
static bool knownOnDisk(const JournalEntry& entry) {
    if (flushToDisk(entry.file)) return true;
    DWORD now = GetTickCount();
    for (int i = 0; i < awaitingCount; i++) {
        AwaitingDisk& awaiting = awaitingDisk[i];
        if (awaiting.processId != entry.processId || awaiting.creationLow != entry.creationLow ||
            awaiting.creationHigh != entry.creationHigh || awaiting.sequence != entry.sequence)
            continue;
        awaiting.seen = true;
        return now - awaiting.since >= SYSTEM_WRITER_DELAY_MS;
    }
    AwaitingDisk found = {entry.processId, entry.creationLow, entry.creationHigh, entry.sequence, now, true};
    if (awaitingCount < AWAITING_DISK) awaitingDisk[awaitingCount++] = found;
    return false;
}

// Goes through the journal in one candidate folder. countStart: this pass is the one that
// counts this start for a file that is there and cannot be read.
static void repairFolder(int candidate, bool countStart) {
    int size = journalSnapshot(candidate, snapshot);
    int offset = JOURNAL_HEADER_SIZE;
    while (size > 0 && offset >= 0 && !pluginThreadsStopping()) {
        bool valid;
        offset = readJournalEntry(snapshot, size, offset, &entry, &valid);
        // A file on another volume than its own (another stick under its letter) is not
        // this entry's: kept, as for a drive unplugged.
        if (!valid || !ownerHasEnded(entry) || !onItsVolume(entry.file, entry.volumeKnown, entry.volumeSerial))
            continue;
        RepairOutcome outcome = repairFile(entry.file, entry.original);
        if (outcome == REPAIR_SKIPPED || outcome == REPAIR_REFUSED || pluginThreadsStopping()) continue;
        if (outcome == REPAIR_TAKEN_OUT)
            noteForDebugger(entry.file.name, entry.file.wide, "took out a stamp a player that ended left");
        // An original found in the system's cache only keeps its entry until it is on disk.
        if (outcome == REPAIR_DONE || outcome == REPAIR_TAKEN_OUT) {
            if (knownOnDisk(entry)) journalSettle(candidate, entry, SETTLE_DROP);
            continue;
        }
        Whereabouts where = whereabouts(entry.file);
        if (where == FILE_GONE)
            journalSettle(candidate, entry, SETTLE_DROP);
        else if (where == FILE_THERE && countStart)
            journalSettle(candidate, entry, SETTLE_COUNT_START);
    }
}

// Runs the repair here unless another thread runs one.
static void repairHere(bool countStart) {
    if (InterlockedCompareExchange(&repairing, 1, 0) != 0) return;
    InterlockedExchange(&lastRepairStart, static_cast<LONG>(GetTickCount()));
    for (int i = 0; i < awaitingCount; i++) awaitingDisk[i].seen = false;
    for (int candidate = 0; candidate < JOURNAL_FOLDERS && !pluginThreadsStopping(); candidate++)
        repairFolder(candidate, countStart);
    int kept = 0;
    for (int i = 0; i < awaitingCount; i++) {
        if (awaitingDisk[i].seen) awaitingDisk[kept++] = awaitingDisk[i];
    }
    awaitingCount = kept;
    InterlockedExchange(&repairing, 0);
}

// argument: non-zero to count this start for the files found unreadable.
static unsigned WINAPI repairJournal(void* countStart) {
    repairHere(countStart != 0);
    endPluginThread(0);
    return 0;
}

void startRepair() {
    awaitingCount = 0;
    InterlockedExchange(&lastRepairStart, static_cast<LONG>(GetTickCount()));
    startPluginThread(repairJournal, reinterpret_cast<void*>(1));
}

void repairNowAndThen() {
    LONG last = InterlockedCompareExchange(&lastRepairStart, 0, 0);
    DWORD now = GetTickCount();
    // One worker starts it; on a thread of its own, as another player holding the journal's
    // lock would keep a worker from seeing a change of playback for seconds.
    if (now - static_cast<DWORD>(last) >= REPAIR_INTERVAL_MS &&
        InterlockedCompareExchange(&lastRepairStart, static_cast<LONG>(now), last) == last)
        startPluginThread(repairJournal, 0);
}
