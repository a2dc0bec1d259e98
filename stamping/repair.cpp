#include "stamping/repair.h"

#include "stamping/file_claims.h"
#include "stamping/journal.h"
#include "stamping/worker.h"

// One repair runs at a time, on whichever thread wins repairing: these are its own.
static unsigned char snapshot[JOURNAL_BUFFER_SIZE];
static JournalEntry entry;
static LONG volatile repairing;
static LONG volatile lastRepairStart;  // GetTickCount at the last start of a repair

// Goes through the journal in one candidate folder.
static void repairFolder(int candidate) {
    int size = journalSnapshot(candidate, snapshot);
    int offset = JOURNAL_HEADER_SIZE;
    while (size > 0 && offset >= 0 && !workersStopping()) {
        bool valid;
        offset = readJournalEntry(snapshot, size, offset, &entry, &valid);
        if (!valid || !ownerHasEnded(entry)) continue;
        RepairOutcome outcome = repairFile(entry.file, entry.original);
        if (outcome != REPAIR_SKIPPED && !workersStopping())
            journalSettle(candidate, entry, outcome == REPAIR_UNREADABLE || outcome == REPAIR_REFUSED);
    }
}

// Runs the repair here unless another thread runs one.
static void repairHere() {
    if (InterlockedCompareExchange(&repairing, 1, 0) != 0) return;
    InterlockedExchange(&lastRepairStart, static_cast<LONG>(GetTickCount()));
    for (int candidate = 0; candidate < JOURNAL_FOLDERS && !workersStopping(); candidate++) repairFolder(candidate);
    InterlockedExchange(&repairing, 0);
}

static unsigned WINAPI repairJournal(void*) {
    repairHere();
    endPluginThread(0);
    return 0;
}

void startRepair() {
    InterlockedExchange(&lastRepairStart, static_cast<LONG>(GetTickCount()));
    startPluginThread(repairJournal, 0);
}

void repairNowAndThen() {
    DWORD since = GetTickCount() - static_cast<DWORD>(InterlockedCompareExchange(&lastRepairStart, 0, 0));
    if (since >= REPAIR_INTERVAL_MS) repairHere();
}
