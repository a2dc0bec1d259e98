#include "stamping/repair.h"

#include "stamping/file_claims.h"
#include "stamping/journal.h"
#include "stamping/plugin_threads.h"

// One repair runs at a time, on whichever thread wins repairing: these are its own.
static unsigned char snapshot[JOURNAL_BUFFER_SIZE];
static JournalEntry entry;
static LONG volatile repairing;
static LONG volatile lastRepairStart;  // GetTickCount at the last start of a repair

enum Whereabouts {
    FILE_THERE,
    FILE_GONE,         // deleted or moved: its drive or share is there, the file is not
    FILE_OUT_OF_REACH  // its drive or share is missing, or the path tells no root
};

// Units of the root of a path: "X:\" or "\\server\share\"; 0 for any other path.
static int rootLength(const textUnit* path) {
    bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    if (letter && path[1] == ':' && path[2] == '\\') return 3;
    if (path[0] != '\\' || path[1] != '\\' || path[2] == '?' || path[2] == '.') return 0;
    int separators = 0, length = 2;
    while (path[length] != 0 && separators < 2) {
        if (path[length] == '\\') separators++;
        length++;
    }
    return separators == 2 ? length : 0;
}

static bool exists(const textUnit* path) {
    return GetFileAttributesW(reinterpret_cast<LPCWSTR>(path)) != INVALID_FILE_ATTRIBUTES;
}

static Whereabouts whereabouts(const TrackFile& file) {
    textUnit path[WIDE_TEXT_SIZE];
    if (file.wide) {
        copyText(path, WIDE_TEXT_SIZE, file.name);
    } else {
        // A single-byte name as the system's single-byte file calls would read it.
        char bytes[FILE_NAME_SIZE];
        bytesFromUnits(bytes, FILE_NAME_SIZE, file.name);
        if (MultiByteToWideChar(CP_ACP, 0, bytes, -1, reinterpret_cast<LPWSTR>(path), WIDE_TEXT_SIZE) == 0)
            return FILE_OUT_OF_REACH;
    }
    if (exists(path)) return FILE_THERE;
    DWORD error = GetLastError();
    int root = rootLength(path);
    if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || root == 0) return FILE_OUT_OF_REACH;
    path[root] = 0;
    return exists(path) ? FILE_GONE : FILE_OUT_OF_REACH;
}

// Goes through the journal in one candidate folder. countStart: this pass is the one that
// counts this start for a file that is there and cannot be read.
static void repairFolder(int candidate, bool countStart) {
    int size = journalSnapshot(candidate, snapshot);
    int offset = JOURNAL_HEADER_SIZE;
    while (size > 0 && offset >= 0 && !pluginThreadsStopping()) {
        bool valid;
        offset = readJournalEntry(snapshot, size, offset, &entry, &valid);
        if (!valid || !ownerHasEnded(entry)) continue;
        RepairOutcome outcome = repairFile(entry.file, entry.original);
        if (outcome == REPAIR_SKIPPED || outcome == REPAIR_REFUSED || pluginThreadsStopping()) continue;
        if (outcome == REPAIR_DONE) {
            journalSettle(candidate, entry, SETTLE_DROP);
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
    for (int candidate = 0; candidate < JOURNAL_FOLDERS && !pluginThreadsStopping(); candidate++)
        repairFolder(candidate, countStart);
    InterlockedExchange(&repairing, 0);
}

static unsigned WINAPI repairJournal(void*) {
    repairHere(true);
    endPluginThread(0);
    return 0;
}

void startRepair() {
    InterlockedExchange(&lastRepairStart, static_cast<LONG>(GetTickCount()));
    startPluginThread(repairJournal, 0);
}

void repairNowAndThen() {
    DWORD since = GetTickCount() - static_cast<DWORD>(InterlockedCompareExchange(&lastRepairStart, 0, 0));
    if (since >= REPAIR_INTERVAL_MS) repairHere(false);
}
