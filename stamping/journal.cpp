#include "stamping/journal.h"

#include <string.h>

static const char journalMagic[] = "VORLUJNL";
static const char journalName[] = "\\vorlu.journal";
static const char temporaryName[] = "\\vorlu.journal.new";
static const char lockName[] = "\\vorlu.journal.lock";
const int ENTRY_FIXED_SIZE = 24;  // the payload before the units
const int ENTRY_MAX_SIZE = 8 + ENTRY_FIXED_SIZE + 2 * 2 * (WIDE_TEXT_SIZE - 1);
const int LOCK_ATTEMPTS = 200;  // ten milliseconds apart: another process's update is short
const DWORD LOCK_RETRY_MS = 10;

// A folder and the longest of the journal's file names behind it.
const int FILE_PATH_SIZE = JOURNAL_PATH_SIZE + 32;

// Everything below is used under journalLock, by workers, the repair thread, and quit
// once every other thread of ours has ended.
static CRITICAL_SECTION journalLock;
// The folders a journal may be in, in the order they are tried (JOURNAL_FOLDERS); an
// empty one is none. The one in use is the first that could be written, chosen at first
// use and moved on from when it cannot be written; its first sequence number tells which
// entries it holds.
static textUnit candidates[JOURNAL_FOLDERS][JOURNAL_PATH_SIZE];
static int folderInUse;  // JOURNAL_FOLDERS: none can be written
static bool folderChosen;
static unsigned int firstSequenceIn[JOURNAL_FOLDERS];
static unsigned int ownProcessId, ownCreationLow, ownCreationHigh;
static unsigned int lastSequence;
static unsigned char contents[JOURNAL_BUFFER_SIZE];
static unsigned char encoded[ENTRY_MAX_SIZE];
static JournalEntry scratch;

static unsigned int crc32(const unsigned char* data, int size) {
    unsigned int crc = 0xFFFFFFFFu;
    for (int i = 0; i < size; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

static unsigned int read32(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8 |
           static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[3]) << 24;
}

static unsigned int read16(const unsigned char* p) {
    return static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8;
}

static void write32(unsigned char* p, unsigned int value) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

static void write16(unsigned char* p, unsigned int value) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

int journalVersion(const unsigned char* data, int size) {
    if (size < JOURNAL_HEADER_SIZE || memcmp(data, journalMagic, 8) != 0) return 0;
    unsigned int version = read32(data + 8);
    return version > 0 && version < 0x10000 ? static_cast<int>(version) : 0;
}

// Units of a text that a read on its path could have given: none zero, single bytes on
// the single-byte path.
static bool readUnits(const unsigned char* p, int length, bool wide, textUnit* out) {
    for (int i = 0; i < length; i++) {
        unsigned int unit = read16(p + 2 * i);
        if (unit == 0 || (!wide && unit > 0xFF)) return false;
        out[i] = static_cast<textUnit>(unit);
    }
    out[length] = 0;
    return true;
}

int readJournalEntry(const unsigned char* data, int size, int offset, JournalEntry* entry, bool* valid) {
    *valid = false;
    if (offset < JOURNAL_HEADER_SIZE || offset > size - 8) return -1;
    unsigned int payloadSize = read32(data + offset);
    if (payloadSize > static_cast<unsigned int>(size - offset - 8)) return -1;  // cut off: nothing more to read
    int next = offset + 8 + static_cast<int>(payloadSize);
    const unsigned char* payload = data + offset + 8;
    if (payloadSize < static_cast<unsigned int>(ENTRY_FIXED_SIZE) ||
        crc32(payload, static_cast<int>(payloadSize)) != read32(data + offset + 4))
        return next;
    unsigned int wide = payload[16];
    unsigned int nameLength = read16(payload + 18);
    unsigned int originalLength = read16(payload + 20);
    // A value the read may have cut is never saved: no original reaches its read's last unit.
    unsigned int longest = wide ? WIDE_TEXT_SIZE - 2 : METADATA_SIZE - 2;
    if (wide > 1 || nameLength == 0 || nameLength > WIDE_TEXT_SIZE - 1 || originalLength > longest ||
        read16(payload + 22) != 0 || payloadSize != ENTRY_FIXED_SIZE + 2 * (nameLength + originalLength))
        return next;
    memset(&entry->file, 0, sizeof entry->file);
    entry->file.wide = wide == 1;
    const unsigned char* units = payload + ENTRY_FIXED_SIZE;
    if (!readUnits(units, static_cast<int>(nameLength), entry->file.wide, entry->file.name) ||
        !readUnits(units + 2 * nameLength, static_cast<int>(originalLength), entry->file.wide, entry->original))
        return next;
    entry->processId = read32(payload);
    entry->creationLow = read32(payload + 4);
    entry->creationHigh = read32(payload + 8);
    entry->sequence = read32(payload + 12);
    entry->starts = payload[17];
    *valid = true;
    return next;
}

// The entry as it is written, into encoded; its size in bytes.
static int encodeEntry(const JournalEntry& entry) {
    int nameLength = textLength(entry.file.name, WIDE_TEXT_SIZE);
    int originalLength = textLength(entry.original, WIDE_TEXT_SIZE);
    unsigned char* payload = encoded + 8;
    write32(payload, entry.processId);
    write32(payload + 4, entry.creationLow);
    write32(payload + 8, entry.creationHigh);
    write32(payload + 12, entry.sequence);
    payload[16] = entry.file.wide ? 1 : 0;
    payload[17] = static_cast<unsigned char>(entry.starts);
    write16(payload + 18, static_cast<unsigned int>(nameLength));
    write16(payload + 20, static_cast<unsigned int>(originalLength));
    write16(payload + 22, 0);
    unsigned char* units = payload + ENTRY_FIXED_SIZE;
    for (int i = 0; i < nameLength; i++) write16(units + 2 * i, entry.file.name[i]);
    for (int i = 0; i < originalLength; i++) write16(units + 2 * (nameLength + i), entry.original[i]);
    int payloadSize = ENTRY_FIXED_SIZE + 2 * (nameLength + originalLength);
    write32(encoded, static_cast<unsigned int>(payloadSize));
    write32(encoded + 4, crc32(payload, payloadSize));
    return 8 + payloadSize;
}

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

// Moves the folder in use on to the next candidate that holds a lock file, from start.
static void useFolderFrom(int start) {
    folderInUse = start;
    while (folderInUse < JOURNAL_FOLDERS) {
        if (candidates[folderInUse][0] != 0) {
            HANDLE lock = lockFolder(candidates[folderInUse]);
            if (lock != INVALID_HANDLE_VALUE) {
                CloseHandle(lock);
                firstSequenceIn[folderInUse] = lastSequence + 1;
                return;
            }
        }
        folderInUse++;
    }
}

static bool chooseFolder() {
    if (!folderChosen) {
        folderChosen = true;
        useFolderFrom(0);
    }
    return folderInUse < JOURNAL_FOLDERS;
}

// The journal's bytes in the candidate folder into buffer (JOURNAL_BUFFER_SIZE); 0 when
// there is none.
static int readJournal(int candidate, unsigned char* buffer) {
    textUnit path[FILE_PATH_SIZE];
    pathIn(candidates[candidate], journalName, path);
    HANDLE file =
        CreateFileW(widePath(path), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD total = 0, got = 0;
    while (total < static_cast<DWORD>(JOURNAL_BUFFER_SIZE) &&
           ReadFile(file, buffer + total, JOURNAL_BUFFER_SIZE - total, &got, 0) && got > 0)
        total += got;
    CloseHandle(file);
    return static_cast<int>(total);
}

enum JournalChange { ADD_ENTRY, REMOVE_ENTRY, COUNT_START };

static bool sameOwner(const JournalEntry& a, const JournalEntry& b) {
    return a.processId == b.processId && a.creationLow == b.creationLow && a.creationHigh == b.creationHigh;
}

static bool writeAll(HANDLE file, const unsigned char* data, int size) {
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, 0) && written == static_cast<DWORD>(size);
}

enum RewriteResult { REWRITTEN, LATER_VERSION, NOT_WRITTEN };

// Rewrites the journal with one change: adds entry (dropping an older one of its owner
// for its file), removes the entry of its owner and sequence, or counts one more start
// for it. Unchanged entries are copied byte for byte; broken ones and ones past their
// starts are dropped. A journal of a later version is left as it is.
static RewriteResult rewriteJournal(int candidate, JournalChange change, const JournalEntry& entry) {
    const textUnit* folder = candidates[candidate];
    HANDLE lock = lockFolder(folder);
    if (lock == INVALID_HANDLE_VALUE) return NOT_WRITTEN;
    int size = readJournal(candidate, contents);
    int version = journalVersion(contents, size);
    bool done = false;
    textUnit temporary[FILE_PATH_SIZE], journal[FILE_PATH_SIZE];
    pathIn(folder, temporaryName, temporary);
    pathIn(folder, journalName, journal);
    HANDLE out = INVALID_HANDLE_VALUE;
    if (version <= JOURNAL_VERSION)  // a later version's journal is left alone
        out = CreateFileW(widePath(temporary), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (out != INVALID_HANDLE_VALUE) {
        unsigned char header[JOURNAL_HEADER_SIZE];
        memcpy(header, journalMagic, 8);
        write32(header + 8, JOURNAL_VERSION);
        bool ok = writeAll(out, header, JOURNAL_HEADER_SIZE);
        int written = JOURNAL_HEADER_SIZE;
        int offset = version == JOURNAL_VERSION ? JOURNAL_HEADER_SIZE : -1;  // a garbled one holds nothing
        while (ok && offset >= 0) {
            bool valid;
            int next = readJournalEntry(contents, size, offset, &scratch, &valid);
            if (next < 0) break;
            bool ownersEntry = valid && sameOwner(scratch, entry) && scratch.sequence == entry.sequence;
            bool replaced =
                change == ADD_ENTRY && valid && sameOwner(scratch, entry) && sameFileName(scratch.file, entry.file);
            int length = 0;
            if (!valid || replaced || (change == REMOVE_ENTRY && ownersEntry)) {
                length = 0;
            } else if (change == COUNT_START && ownersEntry) {
                scratch.starts++;
                if (scratch.starts < JOURNAL_MAX_STARTS) length = encodeEntry(scratch);
                ok = writeAll(out, encoded, length);
            } else {
                length = next - offset;
                ok = writeAll(out, contents + offset, length);
            }
            written += length;
            offset = next;
        }
        if (ok && change == ADD_ENTRY) {
            int length = encodeEntry(entry);
            // What could not be read back whole is not written.
            ok = written + length <= JOURNAL_BUFFER_SIZE && writeAll(out, encoded, length);
        }
        ok = ok && FlushFileBuffers(out);
        CloseHandle(out);
        done = ok &&
               MoveFileExW(widePath(temporary), widePath(journal), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!done) DeleteFileW(widePath(temporary));
    }
    CloseHandle(lock);
    return version > JOURNAL_VERSION ? LATER_VERSION : done ? REWRITTEN : NOT_WRITTEN;
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

void initJournal(const textUnit* settingsFolder, const char* singleByteSettingsFolder) {
    InitializeCriticalSection(&journalLock);
    memset(candidates, 0, sizeof candidates);
    folderChosen = false;
    folderInUse = JOURNAL_FOLDERS;
    for (int i = 0; i < JOURNAL_FOLDERS; i++) firstSequenceIn[i] = 0xFFFFFFFFu;
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
}

// This process's entry of sequence, to fill in or to name an entry to drop.
static JournalEntry& ownEntry(unsigned int sequence) {
    static JournalEntry own;
    memset(&own, 0, sizeof own);
    own.processId = ownProcessId;
    own.creationLow = ownCreationLow;
    own.creationHigh = ownCreationHigh;
    own.sequence = sequence;
    return own;
}

long journalRecord(const TrackFile& file, const textUnit* original) {
    EnterCriticalSection(&journalLock);
    long sequence = 0;
    bool failed = false;  // a folder took the lock but not the journal
    for (chooseFolder(); folderInUse < JOURNAL_FOLDERS;) {
        JournalEntry& entry = ownEntry(++lastSequence);
        entry.file = file;
        copyText(entry.original, WIDE_TEXT_SIZE, original);
        RewriteResult result = rewriteJournal(folderInUse, ADD_ENTRY, entry);
        // A later version's journal is not ours to write: Vorlu works on as without one.
        if (result != NOT_WRITTEN) {
            sequence = result == REWRITTEN ? static_cast<long>(entry.sequence) : 0;
            failed = false;
            break;
        }
        // A folder that cannot be written (read-only, full) is one we do not use.
        failed = true;
        useFolderFrom(folderInUse + 1);
    }
    LeaveCriticalSection(&journalLock);
    return failed ? -1 : sequence;
}

// The candidate folder an entry of this process of sequence went to.
static int folderOf(unsigned int sequence) {
    int folder = JOURNAL_FOLDERS;
    for (int i = 0; i < JOURNAL_FOLDERS; i++) {
        if (firstSequenceIn[i] <= sequence) folder = i;
    }
    return folder;
}

void journalForget(unsigned int sequence) {
    EnterCriticalSection(&journalLock);
    int folder = folderOf(sequence);
    if (folder < JOURNAL_FOLDERS) rewriteJournal(folder, REMOVE_ENTRY, ownEntry(sequence));
    LeaveCriticalSection(&journalLock);
}

// The journal in candidate folder, read under its lock into buffer; its size in bytes,
// or 0 when there is no usable journal there.
static int snapshotOf(int candidate, unsigned char* buffer) {
    int size = 0;
    if (candidate >= 0 && candidate < JOURNAL_FOLDERS && candidates[candidate][0] != 0) {
        HANDLE lock = lockFolder(candidates[candidate]);
        if (lock != INVALID_HANDLE_VALUE) {
            size = readJournal(candidate, buffer);
            CloseHandle(lock);
        }
    }
    return journalVersion(buffer, size) == JOURNAL_VERSION ? size : 0;
}

int journalSnapshot(int candidate, unsigned char* snapshot) {
    EnterCriticalSection(&journalLock);
    int size = snapshotOf(candidate, snapshot);
    LeaveCriticalSection(&journalLock);
    return size;
}

bool journalHolds(const TrackFile& file) {
    EnterCriticalSection(&journalLock);
    bool held = false;
    for (int candidate = 0; candidate < JOURNAL_FOLDERS && !held; candidate++) {
        int size = snapshotOf(candidate, contents);
        for (int offset = size > 0 ? JOURNAL_HEADER_SIZE : -1; !held && offset >= 0;) {
            bool valid;
            offset = readJournalEntry(contents, size, offset, &scratch, &valid);
            held = valid && sameFileName(scratch.file, file);
        }
    }
    LeaveCriticalSection(&journalLock);
    return held;
}

void journalLetGo() {
    EnterCriticalSection(&journalLock);
    if (folderChosen && folderInUse < JOURNAL_FOLDERS) {
        const textUnit* folder = candidates[folderInUse];
        textUnit journal[FILE_PATH_SIZE], lockFile[FILE_PATH_SIZE];
        pathIn(folder, journalName, journal);
        pathIn(folder, lockName, lockFile);
        HANDLE lock = lockFolder(folder);
        if (lock != INVALID_HANDLE_VALUE) {
            int size = readJournal(folderInUse, contents);
            bool empty = size == 0 || journalVersion(contents, size) == JOURNAL_VERSION;
            for (int offset = size > 0 ? JOURNAL_HEADER_SIZE : -1; empty && offset >= 0;) {
                bool valid;
                offset = readJournalEntry(contents, size, offset, &scratch, &valid);
                empty = !valid;
            }
            if (empty) DeleteFileW(widePath(journal));
            CloseHandle(lock);
            // Fails while another player holds the lock: then it is theirs to keep.
            if (empty) DeleteFileW(widePath(lockFile));
        }
    }
    LeaveCriticalSection(&journalLock);
}

bool ownerHasEnded(const JournalEntry& entry) {
    if (entry.processId == ownProcessId && entry.creationLow == ownCreationLow && entry.creationHigh == ownCreationHigh)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.processId);
    if (!process) return GetLastError() != ERROR_ACCESS_DENIED;  // one we may not look at still runs
    FILETIME created, exited, kernel, user;
    DWORD exitCode = STILL_ACTIVE;
    bool reused = GetProcessTimes(process, &created, &exited, &kernel, &user) &&
                  (created.dwLowDateTime != entry.creationLow || created.dwHighDateTime != entry.creationHigh);
    bool ended = reused || (GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE);
    CloseHandle(process);
    return ended;
}

void journalSettle(int candidate, const JournalEntry& entry, bool keep) {
    EnterCriticalSection(&journalLock);
    if (candidate >= 0 && candidate < JOURNAL_FOLDERS && candidates[candidate][0] != 0)
        rewriteJournal(candidate, keep ? COUNT_START : REMOVE_ENTRY, entry);
    LeaveCriticalSection(&journalLock);
}
