#include "stamping/journal.h"

#include "stamping/debug_notes.h"
#include "stamping/file_place.h"

#include <string.h>

static const char journalName[] = "\\vorlu.journal";
static const char temporaryName[] = "\\vorlu.journal.new";
static const char lockName[] = "\\vorlu.journal.lock";
const int LOCK_ATTEMPTS = 200;  // ten milliseconds apart: another process's update is short
const DWORD LOCK_RETRY_MS = 10;
// An update that failed (an antivirus or a backup holding the journal, the folder full or
// read-only for a moment) is tried this many times in all, this far apart.
const int UPDATE_ATTEMPTS = 5;
const DWORD UPDATE_RETRY_MS = 200;

// A folder and the longest of the journal's file names behind it.
const int FILE_PATH_SIZE = JOURNAL_PATH_SIZE + 32;

// Everything below is used under journalLock, by workers, the repair thread, init before
// them and quit after them.
static CRITICAL_SECTION journalLock;
// The folders a journal may be in, in the order they are tried (JOURNAL_FOLDERS); an
// empty one is none. The one in use took the journal at init, and holds every entry of
// this run.
static textUnit candidates[JOURNAL_FOLDERS][JOURNAL_PATH_SIZE];
static int folderInUse;  // JOURNAL_FOLDERS: none took it
static unsigned int ownProcessId, ownCreationLow, ownCreationHigh;
static unsigned int lastSequence;
// The buffers of the one update or lookup under way: too large for a thread's stack.
static struct {
    unsigned char contents[JOURNAL_BUFFER_SIZE];    // the journal as read
    unsigned char encoded[JOURNAL_ENTRY_MAX_SIZE];  // a header or an entry as written
    JournalEntry entry;                             // an old entry as read
    JournalEntry own;                               // this process's entry to add or drop
} work;

static void pathIn(const textUnit* base, const char* name, textUnit* path) {
    copyText(path, FILE_PATH_SIZE, base);
    appendAscii(path, FILE_PATH_SIZE, name);
}

static LPCWSTR widePath(const textUnit* path) { return reinterpret_cast<LPCWSTR>(path); }

// Holds the lock file open with no sharing, waiting a little for another process's
// update; INVALID_HANDLE_VALUE when the folder cannot hold it.
static HANDLE lockFolder(const textUnit* base) {
    textUnit path[FILE_PATH_SIZE];
    pathIn(base, lockName, path);
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; attempt++) {
        HANDLE lock =
            CreateFileW(widePath(path), GENERIC_READ | GENERIC_WRITE, 0, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
        if (lock != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) return lock;
        Sleep(LOCK_RETRY_MS);
    }
    return INVALID_HANDLE_VALUE;
}

enum JournalRead {
    READ_WHOLE,    // *size bytes, at most the buffer's
    READ_MISSING,  // no journal there: the only way there is none
    READ_HELD      // there, but it could not be opened or read now
};

// The journal's bytes in the candidate folder into buffer (JOURNAL_BUFFER_SIZE).
static JournalRead readJournal(int candidate, unsigned char* buffer, int* size) {
    *size = 0;
    textUnit path[FILE_PATH_SIZE];
    pathIn(candidates[candidate], journalName, path);
    HANDLE file =
        CreateFileW(widePath(path), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? READ_MISSING : READ_HELD;
    }
    DWORD total = 0, got = 0;
    bool read = true;
    while (total < static_cast<DWORD>(JOURNAL_BUFFER_SIZE) &&
           (read = ReadFile(file, buffer + total, JOURNAL_BUFFER_SIZE - total, &got, 0) != FALSE) && got > 0)
        total += got;
    // A journal longer than the buffer was never written by us: damaged, never read as whole.
    unsigned char beyond;
    if (read && total == static_cast<DWORD>(JOURNAL_BUFFER_SIZE))
        read = ReadFile(file, &beyond, 1, &got, 0) != FALSE && got == 0;
    CloseHandle(file);
    *size = static_cast<int>(total);
    return read ? READ_WHOLE : READ_HELD;
}

static bool writeAll(HANDLE file, const unsigned char* data, int size) {
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, 0) && written == static_cast<DWORD>(size);
}

// One update of the journal in a folder: under the folder's lock, the journal as it stood
// (in work.contents) and the new one written beside it, then moved over it.
struct Rewrite {
    int candidate;
    HANDLE lock;
    HANDLE out;
    int size;    // bytes of the old journal
    int offset;  // where its next entry begins; -1 past the last
    int total;   // bytes of the new journal so far
    bool ok;
    bool tooBig;  // the new journal would outgrow the buffer: nothing changes
};

// Writes data to the new journal, unless it would outgrow the buffer (an older version's
// entries grow as they are written anew): then nothing of the update lands.
static void append(Rewrite* rewrite, const unsigned char* data, int size) {
    rewrite->tooBig = rewrite->tooBig || rewrite->total + size > JOURNAL_BUFFER_SIZE;
    rewrite->ok = rewrite->ok && !rewrite->tooBig && writeAll(rewrite->out, data, size);
    rewrite->total += size;
}

static JournalUpdate beginRewrite(int candidate, Rewrite* rewrite) {
    rewrite->candidate = candidate;
    rewrite->lock = lockFolder(candidates[candidate]);
    if (rewrite->lock == INVALID_HANDLE_VALUE) return JOURNAL_NOT_WRITTEN;
    JournalRead read = readJournal(candidate, work.contents, &rewrite->size);
    int version = journalVersion(work.contents, rewrite->size);
    JournalUpdate begun = read == READ_HELD           ? JOURNAL_UNREADABLE
                          : version > JOURNAL_VERSION ? JOURNAL_LATER_VERSION
                                                      : JOURNAL_WRITTEN;
    textUnit temporary[FILE_PATH_SIZE];
    pathIn(candidates[candidate], temporaryName, temporary);
    rewrite->out = begun != JOURNAL_WRITTEN
                       ? INVALID_HANDLE_VALUE
                       : CreateFileW(widePath(temporary), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (begun == JOURNAL_WRITTEN && rewrite->out == INVALID_HANDLE_VALUE) begun = JOURNAL_NOT_WRITTEN;
    if (begun != JOURNAL_WRITTEN) {
        CloseHandle(rewrite->lock);
        return begun;
    }
    rewrite->ok = true;
    rewrite->tooBig = false;
    rewrite->total = 0;
    append(rewrite, work.encoded, writeJournalHeader(work.encoded));
    rewrite->offset = version >= 1 ? JOURNAL_HEADER_SIZE : -1;  // a garbled one holds nothing
    return JOURNAL_WRITTEN;
}

// The next whole entry of the old journal into work.entry; false past the last. Broken
// entries are stepped over, and so dropped.
static bool nextOldEntry(Rewrite* rewrite) {
    while (rewrite->offset >= 0) {
        bool valid;
        rewrite->offset = readJournalEntry(work.contents, rewrite->size, rewrite->offset, &work.entry, &valid);
        if (rewrite->offset >= 0 && valid) return true;
    }
    return false;
}

// Writes entry as this version writes it: one of an earlier version's journal anew.
static void writeEntry(Rewrite* rewrite, const JournalEntry& entry) {
    append(rewrite, work.encoded, writeJournalEntry(entry, work.encoded));
}

// Lands the new journal over the old, unless a step failed or it outgrew the buffer:
// where it would, every entry the old one holds may be a stamp still to take out (a file on
// a drive not plugged in), so none is dropped to make room.
static JournalUpdate finishRewrite(Rewrite* rewrite) {
    textUnit temporary[FILE_PATH_SIZE], journal[FILE_PATH_SIZE];
    pathIn(candidates[rewrite->candidate], temporaryName, temporary);
    pathIn(candidates[rewrite->candidate], journalName, journal);
    bool done = rewrite->ok && FlushFileBuffers(rewrite->out);
    CloseHandle(rewrite->out);
    done =
        done && MoveFileExW(widePath(temporary), widePath(journal), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done) DeleteFileW(widePath(temporary));
    CloseHandle(rewrite->lock);
    return done ? JOURNAL_WRITTEN : rewrite->tooBig ? JOURNAL_FULL : JOURNAL_NOT_WRITTEN;
}

// What an update does, besides dropping the journal's broken entries.
enum Change {
    KEEP_ALL,    // nothing more: proves the folder takes the journal
    ADD,         // adds the entry
    DROP,        // drops the entry of its owner and sequence
    COUNT_START  // counts one more start for that entry; dropped at the last
};

// Rewrites the journal in candidate with change made to entry. Every entry is dropped by
// its own sequence number only: another claim of the same file by this player may still
// stand on an older one. Where the journal would outgrow its buffer a new file goes
// unstamped instead.
static JournalUpdate rewriteJournal(int candidate, Change change, const JournalEntry& entry) {
    Rewrite rewrite;
    JournalUpdate begun = beginRewrite(candidate, &rewrite);
    if (begun != JOURNAL_WRITTEN) return begun;
    while (nextOldEntry(&rewrite)) {
        JournalEntry& old = work.entry;
        bool named = (change == DROP || change == COUNT_START) && old.processId == entry.processId &&
                     old.creationLow == entry.creationLow && old.creationHigh == entry.creationHigh &&
                     old.sequence == entry.sequence;
        if (!named || (change == COUNT_START && ++old.starts < JOURNAL_MAX_STARTS)) writeEntry(&rewrite, old);
    }
    if (change == ADD) writeEntry(&rewrite, entry);
    return finishRewrite(&rewrite);
}

// Runs one kind of update in candidate, again a moment later while it fails in a way that
// may pass.
static JournalUpdate update(Change change, int candidate, const JournalEntry& entry) {
    JournalUpdate result = rewriteJournal(candidate, change, entry);
    for (int attempt = 1; attempt < UPDATE_ATTEMPTS && (result == JOURNAL_UNREADABLE || result == JOURNAL_NOT_WRITTEN);
         attempt++) {
        Sleep(UPDATE_RETRY_MS);
        result = rewriteJournal(candidate, change, entry);
    }
    return result;
}

// This library's folder, from its own path; empty when it cannot be told.
static void libraryFolder(textUnit* out) {
    HMODULE self = 0;
    out[0] = 0;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&libraryFolder), &self))
        return;
    DWORD length = GetModuleFileNameW(self, reinterpret_cast<LPWSTR>(out), JOURNAL_PATH_SIZE);
    if (length == 0 || length >= static_cast<DWORD>(JOURNAL_PATH_SIZE)) length = 0;
    while (length > 0 && out[length - 1] != '\\') length--;
    out[length > 0 ? length - 1 : 0] = 0;
}

// Makes folder candidate i, unless it is empty, too long for the journal's names behind
// it, or names an earlier candidate.
static void addCandidate(int i, const textUnit* folder) {
    if (!folder || folder[0] == 0 || textLength(folder, JOURNAL_PATH_SIZE) >= JOURNAL_PATH_SIZE - 1) return;
    for (int earlier = 0; earlier < i; earlier++) {
        if (sameText(candidates[earlier], folder)) return;
    }
    copyText(candidates[i], JOURNAL_PATH_SIZE, folder);
}

// Entries whose files' write-backs could not be flushed, and when the system's own writer
// will have written them. More than can wait at once: a full list leaves an entry on disk
// for the next start.
struct LaterDrop {
    unsigned int sequence;
    DWORD due;  // GetTickCount
};
const int LATER_DROPS = 64;
static LaterDrop laterDrops[LATER_DROPS];
static int laterDropCount;

// This process's entry of sequence, to fill in or to name an entry to drop.
static JournalEntry& ownEntry(unsigned int sequence) {
    JournalEntry& own = work.own;
    memset(&own, 0, sizeof own);
    own.processId = ownProcessId;
    own.creationLow = ownCreationLow;
    own.creationHigh = ownCreationHigh;
    own.sequence = sequence;
    return own;
}

void initJournal(const textUnit* settingsFolder, const char* singleByteSettingsFolder) {
    InitializeCriticalSection(&journalLock);
    laterDropCount = 0;
    memset(candidates, 0, sizeof candidates);
    addCandidate(0, settingsFolder);
    textUnit folder[JOURNAL_PATH_SIZE];
    // The single-byte request's folder, as the system's single-byte file calls would read it.
    if (singleByteSettingsFolder && MultiByteToWideChar(CP_ACP, 0, singleByteSettingsFolder, -1,
                                                        reinterpret_cast<LPWSTR>(folder), JOURNAL_PATH_SIZE) > 0)
        addCandidate(1, folder);
    libraryFolder(folder);
    addCandidate(2, folder);
    ownProcessId = GetCurrentProcessId();
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        ownCreationLow = created.dwLowDateTime;
        ownCreationHigh = created.dwHighDateTime;
    }
    // Chosen by writing there, once: a folder that takes the journal now takes every update
    // of this run, or fails for a moment only. No waiting on the windows' thread for one
    // that does not: the next serves.
    folderInUse = 0;
    while (folderInUse < JOURNAL_FOLDERS &&
           (candidates[folderInUse][0] == 0 || rewriteJournal(folderInUse, KEEP_ALL, work.own) != JOURNAL_WRITTEN))
        folderInUse++;
    if (folderInUse < JOURNAL_FOLDERS)
        noteForDebugger(candidates[folderInUse], true, "the journal's folder");
    else
        noteForDebugger(0, true, "no folder takes the journal: no file is stamped in this run");
}

JournalUpdate journalRecord(const TrackFile& file, const textUnit* original, unsigned int* sequence) {
    EnterCriticalSection(&journalLock);
    JournalUpdate result = JOURNAL_NO_FOLDER;
    if (folderInUse < JOURNAL_FOLDERS) {
        JournalEntry& entry = ownEntry(++lastSequence);
        entry.file = file;
        entry.volumeKnown = volumeSerialOf(file, &entry.volumeSerial);
        copyText(entry.original, WIDE_TEXT_SIZE, original);
        result = update(ADD, folderInUse, entry);
        *sequence = result == JOURNAL_WRITTEN ? entry.sequence : 0;
    }
    LeaveCriticalSection(&journalLock);
    return result;
}

void journalForgetLater(unsigned int sequence) {
    EnterCriticalSection(&journalLock);
    LaterDrop later = {sequence, GetTickCount() + SYSTEM_WRITER_DELAY_MS};
    if (laterDropCount < LATER_DROPS) laterDrops[laterDropCount++] = later;
    LeaveCriticalSection(&journalLock);
}

void journalForgetDue() {
    for (;;) {
        unsigned int sequence = 0;
        EnterCriticalSection(&journalLock);
        for (int i = 0; i < laterDropCount && sequence == 0; i++) {
            if (static_cast<LONG>(GetTickCount() - laterDrops[i].due) < 0) continue;
            sequence = laterDrops[i].sequence;
            laterDrops[i] = laterDrops[--laterDropCount];
        }
        LeaveCriticalSection(&journalLock);
        if (sequence == 0) return;
        journalForget(sequence);
    }
}

JournalUpdate journalForget(unsigned int sequence) {
    EnterCriticalSection(&journalLock);
    JournalUpdate result = JOURNAL_NO_FOLDER;
    if (folderInUse < JOURNAL_FOLDERS) result = update(DROP, folderInUse, ownEntry(sequence));
    LeaveCriticalSection(&journalLock);
    return result;
}

// The journal in candidate folder, read under its lock into buffer; its size in bytes,
// 0 when there is no usable journal there, or -1 when it could not be read now.
static int snapshotOf(int candidate, unsigned char* buffer) {
    int size = 0;
    if (candidate < 0 || candidate >= JOURNAL_FOLDERS || candidates[candidate][0] == 0) return 0;
    // No lock file is left in a folder that holds no journal.
    textUnit journal[FILE_PATH_SIZE];
    pathIn(candidates[candidate], journalName, journal);
    if (GetFileAttributesW(widePath(journal)) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
        return 0;
    HANDLE lock = lockFolder(candidates[candidate]);
    // A folder that takes no lock file is one no player updates: its journal is read as it is.
    if (lock == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) return -1;
    JournalRead read = readJournal(candidate, buffer, &size);
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    if (read == READ_HELD) return -1;
    return readableJournal(buffer, size) ? size : 0;
}

int journalSnapshot(int candidate, unsigned char* snapshot) {
    EnterCriticalSection(&journalLock);
    int size = snapshotOf(candidate, snapshot);
    LeaveCriticalSection(&journalLock);
    return size > 0 ? size : 0;
}

JournalLookup journalHoldsOriginal(const TrackFile& file, const textUnit* original) {
    EnterCriticalSection(&journalLock);
    JournalLookup found = JOURNAL_LACKS;
    for (int candidate = 0; candidate < JOURNAL_FOLDERS && found != JOURNAL_HOLDS; candidate++) {
        int size = snapshotOf(candidate, work.contents);
        if (size < 0) found = JOURNAL_CANNOT_TELL;
        for (int offset = size > 0 ? JOURNAL_HEADER_SIZE : -1; found != JOURNAL_HOLDS && offset >= 0;) {
            bool valid;
            offset = readJournalEntry(work.contents, size, offset, &work.entry, &valid);
            if (valid && sameFileName(work.entry.file, file) && sameText(work.entry.original, original))
                found = JOURNAL_HOLDS;
        }
    }
    LeaveCriticalSection(&journalLock);
    return found;
}

// Whether the journal bytes hold no whole entry (or are no journal at all).
static bool holdsNoEntry(const unsigned char* data, int size) {
    if (size == 0) return true;
    if (!readableJournal(data, size)) return false;  // not ours to judge
    bool valid = false;
    for (int offset = JOURNAL_HEADER_SIZE; !valid && offset >= 0;)
        offset = readJournalEntry(data, size, offset, &work.entry, &valid);
    return !valid;
}

void journalLetGo() {
    EnterCriticalSection(&journalLock);
    for (int candidate = 0; candidate < JOURNAL_FOLDERS; candidate++) {
        const textUnit* folder = candidates[candidate];
        if (folder[0] == 0) continue;
        textUnit journal[FILE_PATH_SIZE], lockFile[FILE_PATH_SIZE];
        pathIn(folder, journalName, journal);
        pathIn(folder, lockName, lockFile);
        // A folder that holds no lock file was never one of ours: nothing to take back.
        if (GetFileAttributesW(widePath(lockFile)) == INVALID_FILE_ATTRIBUTES) continue;
        HANDLE lock = lockFolder(folder);
        if (lock == INVALID_HANDLE_VALUE) continue;
        int size;
        bool empty = readJournal(candidate, work.contents, &size) != READ_HELD && holdsNoEntry(work.contents, size);
        if (empty) DeleteFileW(widePath(journal));
        CloseHandle(lock);
        // Fails while another player holds the lock: then it is theirs to keep.
        if (empty) DeleteFileW(widePath(lockFile));
    }
    LeaveCriticalSection(&journalLock);
}

bool ownerHasEnded(const JournalEntry& entry) {
    if (entry.processId == ownProcessId && entry.creationLow == ownCreationLow && entry.creationHigh == ownCreationHigh)
        return false;
    // The limited right opens an elevated player too; Windows XP knows only the full one.
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.processId);
    if (!process && GetLastError() == ERROR_ACCESS_DENIED)
        process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.processId);
    // No such process: ended. One we may not look at (another user's) still runs.
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
    FILETIME created, exited, kernel, user;
    bool reused = GetProcessTimes(process, &created, &exited, &kernel, &user) &&
                  (created.dwLowDateTime != entry.creationLow || created.dwHighDateTime != entry.creationHigh);
    // The exit code cannot tell: a process may end with 259, STILL_ACTIVE.
    bool ended = reused || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void journalSettle(int candidate, const JournalEntry& entry, JournalSettlement settlement) {
    EnterCriticalSection(&journalLock);
    if (candidate >= 0 && candidate < JOURNAL_FOLDERS && candidates[candidate][0] != 0)
        update(settlement == SETTLE_DROP ? DROP : COUNT_START, candidate, entry);
    LeaveCriticalSection(&journalLock);
}
