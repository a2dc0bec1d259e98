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
        // An original not flushed to disk keeps its entry: the next pass finds it there and drops it.
        if (outcome == REPAIR_DONE || (outcome == REPAIR_TAKEN_OUT && flushToDisk(entry.file))) {
            journalSettle(candidate, entry, SETTLE_DROP);
            continue;
        }
        if (outcome == REPAIR_TAKEN_OUT) continue;
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
    for (int candidate = 0; candidate < JOURNAL_FOLDERS && !pluginThreadsStopping(); candidate++)
        repairFolder(candidate, countStart);
    InterlockedExchange(&repairing, 0);
}

// argument: non-zero to count this start for the files found unreadable.
static unsigned WINAPI repairJournal(void* countStart) {
    repairHere(countStart != 0);
    endPluginThread(0);
    return 0;
}

void startRepair() {
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
