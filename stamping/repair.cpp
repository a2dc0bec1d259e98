#include "stamping/repair.h"

#include "stamping/file_claims.h"
#include "stamping/journal.h"
#include "stamping/worker.h"

// The repair thread's own: one repair runs per start.
static unsigned char snapshot[JOURNAL_BUFFER_SIZE];
static JournalEntry entry;

static unsigned WINAPI repairJournal(void*) {
    int size = journalSnapshot(snapshot);
    int offset = JOURNAL_HEADER_SIZE;
    while (size > 0 && offset >= 0 && !workersStopping()) {
        bool valid;
        offset = readJournalEntry(snapshot, size, offset, &entry, &valid);
        if (!valid || !ownerHasEnded(entry)) continue;
        RepairOutcome outcome = repairFile(entry.file, entry.original);
        if (outcome != REPAIR_SKIPPED && !workersStopping())
            journalSettle(entry, outcome == REPAIR_UNREADABLE || outcome == REPAIR_REFUSED);
    }
    endPluginThread(0);
    return 0;
}

void startRepair() { startPluginThread(repairJournal, 0); }
