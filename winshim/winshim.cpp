// The native stand-in for the Windows services the plug-in calls: a window table whose
// SendMessageA calls the window's procedure on the calling thread, message boxes that
// are recorded, and threads, events and sleeps on the virtual or the real clock.
#include "winshim.h"

#include <process.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <list>
#include <mutex>
#include <new>
#include <thread>

namespace {

struct WindowRecord {
    WNDPROC procedure;
    bool unicode;
    bool destroyed;
};

std::mutex windowsMutex;
std::vector<WindowRecord> windowTable;  // HWND n is windowTable[n - 1]
std::vector<winshim::MessageBoxCall> boxes;
std::vector<HWND> setWindowLongLog;
int singleByteCallsOnUnicode = 0;
std::function<void()> whileMessageBoxShows;
std::function<void(HWND, UINT, WPARAM, LPARAM)> beforeSend;
std::vector<std::string> debugLines;

WindowRecord* findRecord(HWND window) {
    std::size_t n = reinterpret_cast<std::size_t>(window);
    return n >= 1 && n <= windowTable.size() && !windowTable[n - 1].destroyed ? &windowTable[n - 1] : nullptr;
}

WNDPROC* findWindow(HWND window) {
    WindowRecord* record = findRecord(window);
    return record ? &record->procedure : nullptr;
}

// A single-byte call on a Unicode window: Windows would convert its text messages.
void noteCallOn(HWND window, bool wide) {
    WindowRecord* record = findRecord(window);
    if (record && record->unicode && !wide) singleByteCallsOnUnicode++;
}

struct Event {
    bool manualReset;
    bool set;
};

struct ThreadRecord {
    std::thread thread;
    bool finished = false;
    bool handleOpen = true;
};

struct Waiter {
    int id;
    long long wakeAt;
    unsigned long long order;
    Event* event;
    bool* signalled;
};

const long long forever = LLONG_MAX;

// Thrown by FreeLibraryAndExitThread, caught where the thread began.
struct ThreadExit {};

// All scheduler state, guarded by mutex.
struct Scheduler {
    std::mutex mutex;
    std::condition_variable changed;
    int realTimeDivisor = 0;
    std::chrono::steady_clock::time_point realStart;
    long long virtualNow = 0;
    unsigned long long nextOrder = 0;
    int running = 0;  // the thread that may run on the virtual clock
    int nextId = 1;
    std::vector<Waiter> waiters;
    std::list<ThreadRecord> threads;
    std::list<Event> events;
    int started = 0;
    std::map<unsigned (*)(void*), int> startedAt;  // by entry point
    int live = 0;
    int pins = 0;
    int references = 0;
    bool failStarts = false;

    bool virtualClock() const { return realTimeDivisor == 0; }

    long long now() const {
        if (virtualClock()) return virtualNow;
        auto elapsed = std::chrono::steady_clock::now() - realStart;
        return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() * realTimeDivisor;
    }

    // Hands the virtual clock to the earliest waiter; a waiter whose event is set is due now.
    void dispatchNext() {
        running = 0;
        auto best = waiters.end();
        long long bestWake = forever;
        for (auto it = waiters.begin(); it != waiters.end(); ++it) {
            long long wake = it->event && it->event->set ? virtualNow : it->wakeAt;
            if (best == waiters.end() || wake < bestWake || (wake == bestWake && it->order < best->order)) {
                best = it;
                bestWake = wake;
            }
        }
        if (best == waiters.end()) return;
        bool byEvent = best->event && best->event->set;
        if (byEvent && !best->event->manualReset) best->event->set = false;
        if (best->signalled) *best->signalled = byEvent;
        virtualNow = std::max(virtualNow, bestWake);
        running = best->id;
        waiters.erase(best);
        changed.notify_all();
    }

    // Blocks the calling thread until the clock reads wakeAt or event is set; true when
    // the event woke it.
    bool block(std::unique_lock<std::mutex>& lock, int self, long long wakeAt, Event* event) {
        bool signalled = false;
        if (virtualClock()) {
            waiters.push_back(Waiter{self, wakeAt, nextOrder++, event, &signalled});
            dispatchNext();
            changed.wait(lock, [&] { return running == self; });
            return signalled;
        }
        auto ready = [&] { return event && event->set; };
        if (wakeAt == forever) {
            changed.wait(lock, ready);
        } else {
            long long realMs = std::max(0LL, (wakeAt - now()) / realTimeDivisor);
            changed.wait_for(lock, std::chrono::milliseconds(realMs), ready);
        }
        signalled = ready();
        if (signalled && !event->manualReset) event->set = false;
        return signalled;
    }

    void joinFinished() {
        for (auto it = threads.begin(); it != threads.end();) {
            if (!it->finished) {
                ++it;
                continue;
            }
            if (it->thread.joinable()) it->thread.join();
            it = threads.erase(it);
        }
    }
};

Scheduler scheduler;

// The host's windows are served by one thread. Here SendMessageA calls the procedure on
// the sender's thread, so that thread's turn stands for it: a message's handling holds the
// turn, and so does whatever the driver does as the windows' thread (a click, a notice).
// A message sent from another thread waits for the handling in progress, and a click for
// the message in progress; a wait that takes sent messages in lets the turn go meanwhile.
struct WindowsThreadTurn {
    std::mutex mutex;
    std::condition_variable released;
    int holder = 0;  // a thread number; 0: free
    int depth = 0;
} windowsTurn;

int turnHolderId();
// Takes the turn (again, where this thread holds it); true when it was taken afresh: a
// message that came from outside the windows' thread.
bool takeTurn(int depth = 1);
// Lets go of the turn held depth times; lets it go whole and answers how deep it was held
// with depth 0 (0: not held by this thread).
int releaseTurn(int depth = 1);

std::atomic<int> lockWaiters{0};
std::atomic<bool> yieldAtRelease{false};

thread_local int currentThread = 0;

// Seeded switches of the thread that runs, at a lock's release and at a message sent from
// outside the windows' thread: one in switchOneIn of those points (0: none).
std::mutex switchesMutex;
std::mt19937 switches;
int switchOneIn = 0;

// Whether the thread that runs hands over here, on the virtual clock.
bool switchHere() {
    if (currentThread == 0) return false;
    std::lock_guard<std::mutex> lock(switchesMutex);
    return switchOneIn > 0 && std::uniform_int_distribution<int>(1, switchOneIn)(switches) == 1;
}

int turnHolderId() { return currentThread != 0 ? currentThread : -1; }

int windowsTurnHolder() {
    std::lock_guard<std::mutex> lock(windowsTurn.mutex);
    return windowsTurn.holder;
}

bool takeTurn(int depth) {
    int self = turnHolderId();
    bool virtualClock;
    {
        std::lock_guard<std::mutex> schedulerLock(scheduler.mutex);
        virtualClock = scheduler.virtualClock() && currentThread != 0;
    }
    std::unique_lock<std::mutex> lock(windowsTurn.mutex);
    if (windowsTurn.holder == self) {
        windowsTurn.depth += depth;
        return false;
    }
    // On the virtual clock the holder may be asleep: let the clock move on until it lets go.
    while (windowsTurn.holder != 0) {
        if (!virtualClock) {
            lockWaiters++;
            windowsTurn.released.wait(lock);
            lockWaiters--;
            continue;
        }
        lock.unlock();
        Sleep(1);
        lock.lock();
    }
    windowsTurn.holder = self;
    windowsTurn.depth = depth;
    return true;
}

int releaseTurn(int depth) {
    std::lock_guard<std::mutex> lock(windowsTurn.mutex);
    if (windowsTurn.holder != turnHolderId()) return 0;
    int held = windowsTurn.depth;
    windowsTurn.depth = depth == 0 ? 0 : windowsTurn.depth - depth;
    if (windowsTurn.depth == 0) {
        windowsTurn.holder = 0;
        windowsTurn.released.notify_all();
    }
    return held;
}

long long deadline(long long now, DWORD milliseconds) {
    return milliseconds == INFINITE ? forever : now + milliseconds;
}

thread_local DWORD lastError = 0;

// Files: a handle is a FileRecord, with what it asks and what it shares. Paths are counted
// by their open handles, and those that do not let the file be deleted or replaced.
struct FileRecord {
    int descriptor;
    std::string path;
    bool exclusive;
    bool deletable;
    DWORD access;  // GENERIC_READ, GENERIC_WRITE
    DWORD share;   // FILE_SHARE_...
};
std::mutex filesMutex;
std::map<std::string, int> openPaths, undeletablePaths;
std::atomic<bool> shortWrites{false};
std::atomic<bool> readsFail{false};
std::set<FileRecord*> liveFiles;
std::set<std::string> readOnlyFolders;
std::vector<std::string> fileOperationLog;
std::size_t deathAfter = 0;  // the length of the log at which the process dies; 0: never
bool deadToFiles = false;
std::function<void()> onDeath;
std::function<void(const std::string&)> onDiskWrite;
std::function<bool(const std::string&)> flushRefused;
// What each file opened for writing holds on its disk, where that differs from what reads
// see: its bytes when first opened so, then at each flush; none where no file is. Writes
// stay in the cache until flushed; a move asked to write through, and a delete, reach the
// disk at once.
std::map<std::string, std::optional<std::string>> onDisk;

std::optional<std::string> bytesIn(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

// Under filesMutex: starts following path, holding what its disk holds now.
void followOnDisk(const std::string& path) {
    if (!onDisk.count(path)) onDisk[path] = bytesIn(path);
}

// After logging an operation, under filesMutex: the death it brings, if any, to run outside the lock.
std::function<void()> dueDeath() {
    if (deathAfter == 0 || deadToFiles || fileOperationLog.size() < deathAfter) return nullptr;
    deadToFiles = true;
    return onDeath;
}

// Whether path is a file directly in a folder where no file may be made, renamed or deleted.
bool inReadOnlyFolder(const std::string& path) {
    return readOnlyFolders.count(path.substr(0, path.find_last_of('/'))) > 0;
}

// Processes: this one and the others that run.
using ProcessRecord = winshim::OtherProcess;
std::mutex processesMutex;
ProcessRecord ownProcess{4242, 1};
std::vector<ProcessRecord> otherProcesses;
std::list<ProcessRecord> openedProcesses;
std::map<char, std::string> mappedDrives;
std::map<char, DWORD> driveSerials;
std::string libraryPath;  // GetModuleFileNameW's answer, in UTF-8

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8Of(LPCWSTR text) {
    std::string out;
    for (; *text != 0; ++text) {
        unsigned int code = *text;
        if (code >= 0xD800 && code < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// A volume mounted in a folder: its Windows path ("C:\\mnt\\stick", no trailing
// backslash), the native folder it holds (empty: unplugged), and its serial number.
struct MountedFolder {
    std::string windowsFolder;
    std::string nativeFolder;
    DWORD serial;
};
std::vector<MountedFolder> mountedFolders;  // guarded by processesMutex

// Whether path lies in the folder folder (a Windows path, any ASCII case).
bool inFolder(const std::string& path, const std::string& folder) {
    if (path.size() < folder.size() || (path.size() > folder.size() && path[folder.size()] != '\\')) return false;
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(path[i])) != std::tolower(static_cast<unsigned char>(folder[i])))
            return false;
    }
    return true;
}

// The volume mounted in a folder that holds path, under processesMutex; null when none.
const MountedFolder* mountHolding(const std::string& path) {
    const MountedFolder* found = nullptr;
    for (const auto& mount : mountedFolders) {
        if (inFolder(path, mount.windowsFolder) && (!found || mount.windowsFolder.size() > found->windowsFolder.size()))
            found = &mount;
    }
    return found;
}

// UTF-8 to UTF-16.
std::u16string utf16Of(const std::string& text) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        unsigned int code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
    }
    return units;
}

// A name in upper case, as the file system compares names.
std::u16string upperName(const std::string& utf8) {
    std::u16string units = utf16Of(utf8);
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, units.c_str(), static_cast<int>(units.size()), units.data(),
                 static_cast<int>(units.size()));
    return units;
}

// The native path with each name that is not there as spelled found in its folder in any
// case, as Windows' file systems find it.
std::string foldedPath(const std::string& path) {
    struct stat status;
    if (path.empty() || ::stat(path.c_str(), &status) == 0) return path;
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return path;
    std::string folder = foldedPath(path.substr(0, slash)), name = path.substr(slash + 1);
    if (DIR* listing = ::opendir(folder.c_str())) {
        std::u16string wanted = upperName(name);
        for (dirent* entry; (entry = ::readdir(listing)) != nullptr;) {
            if (upperName(entry->d_name) != wanted) continue;
            name = entry->d_name;
            break;
        }
        ::closedir(listing);
    }
    return folder + "/" + name;
}

std::string nativePath(LPCWSTR name) {
    std::string path = utf8Of(name);
    {
        std::lock_guard<std::mutex> lock(processesMutex);
        // An unplugged volume leaves its folder to the volume that holds it.
        const MountedFolder* mount = mountHolding(path);
        if (mount && !mount->nativeFolder.empty()) {
            std::string rest = path.substr(mount->windowsFolder.size());
            std::replace(rest.begin(), rest.end(), '\\', '/');
            return foldedPath(mount->nativeFolder + rest);
        }
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        std::lock_guard<std::mutex> lock(processesMutex);
        auto drive = mappedDrives.find(letter);
        // A drive that is not there: a path under a folder that never exists.
        std::string root = drive != mappedDrives.end() && !drive->second.empty()
                               ? drive->second
                               : std::string("/nonexistent-vorlu-drive-") + letter;
        path = root + path.substr(2);
    }
    return foldedPath(path);
}

}  // namespace

namespace winshim {

void setProcess(DWORD id, unsigned long long creationTime) {
    std::lock_guard<std::mutex> lock(processesMutex);
    ownProcess = ProcessRecord{id, creationTime};
}

void setOtherProcesses(const std::vector<OtherProcess>& processes) {
    std::lock_guard<std::mutex> lock(processesMutex);
    otherProcesses = processes;
}

void mountFolder(const std::string& windowsFolder, const std::string& nativeFolder, DWORD serial) {
    std::lock_guard<std::mutex> lock(processesMutex);
    for (auto& mount : mountedFolders) {
        if (mount.windowsFolder == windowsFolder) {
            mount = MountedFolder{windowsFolder, nativeFolder, serial};
            return;
        }
    }
    mountedFolders.push_back(MountedFolder{windowsFolder, nativeFolder, serial});
}

void unmountFolder(const std::string& windowsFolder) {
    std::lock_guard<std::mutex> lock(processesMutex);
    mountedFolders.erase(
        std::remove_if(mountedFolders.begin(), mountedFolders.end(),
                       [&](const MountedFolder& mount) { return mount.windowsFolder == windowsFolder; }),
        mountedFolders.end());
}

bool driveMapped(char letter) {
    std::lock_guard<std::mutex> lock(processesMutex);
    return mappedDrives.count(static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) > 0;
}

void unmapDrive(char letter) {
    std::lock_guard<std::mutex> lock(processesMutex);
    mappedDrives.erase(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}

std::string nativePathOf(const std::string& windowsPath) {
    std::string path = nativePath(utf16Of(windowsPath).c_str());
    return path.rfind("/nonexistent-vorlu-drive-", 0) == 0 ? std::string() : path;
}

void mapDrive(char letter, const std::string& folder, DWORD serial) {
    std::lock_guard<std::mutex> lock(processesMutex);
    char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    mappedDrives[drive] = folder;
    driveSerials[drive] = serial;
}

void powerCut() {
    std::lock_guard<std::mutex> lock(filesMutex);
    for (const auto& [path, bytes] : onDisk) {
        if (!bytes)
            ::unlink(path.c_str());
        else
            std::ofstream(path, std::ios::binary | std::ios::trunc) << *bytes;
    }
    onDisk.clear();
}

std::optional<std::string> bytesOnDisk(const std::string& path) {
    std::lock_guard<std::mutex> lock(filesMutex);
    auto known = onDisk.find(path);
    return known != onDisk.end() ? known->second : bytesIn(path);
}

std::vector<std::string> debugOutput() {
    std::lock_guard<std::mutex> lock(windowsMutex);
    return debugLines;
}

std::vector<std::string> fileOperations() {
    std::lock_guard<std::mutex> lock(filesMutex);
    return fileOperationLog;
}

void setOnDiskWrite(std::function<void(const std::string&)> written) {
    std::lock_guard<std::mutex> lock(filesMutex);
    onDiskWrite = std::move(written);
}

void refuseFlushes(std::function<bool(const std::string&)> refused) {
    std::lock_guard<std::mutex> lock(filesMutex);
    flushRefused = std::move(refused);
}

void dieAfterFileOperations(int count, std::function<void()> death) {
    std::lock_guard<std::mutex> lock(filesMutex);
    deathAfter = fileOperationLog.size() + static_cast<std::size_t>(count);
    deadToFiles = false;
    onDeath = std::move(death);
}

void setReadOnlyFolder(const std::string& folder, bool readOnly) {
    std::lock_guard<std::mutex> lock(filesMutex);
    if (readOnly)
        readOnlyFolders.insert(folder);
    else
        readOnlyFolders.erase(folder);
}

void setModulePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(processesMutex);
    libraryPath = path;
}

std::string modulePath() {
    std::lock_guard<std::mutex> lock(processesMutex);
    return libraryPath;
}

void reset(int realTimeDivisor) {
    {
        std::lock_guard<std::mutex> lock(windowsMutex);
        windowTable.clear();
        boxes.clear();
        whileMessageBoxShows = nullptr;
        beforeSend = nullptr;
        setWindowLongLog.clear();
        singleByteCallsOnUnicode = 0;
        debugLines.clear();
    }
    {
        std::lock_guard<std::mutex> lock(filesMutex);
        fileOperationLog.clear();
        deathAfter = 0;
        deadToFiles = false;
        onDeath = nullptr;
        onDiskWrite = nullptr;
        flushRefused = nullptr;
        onDisk.clear();
    }
    switchThreads(0, 0);
    restartThreadsAndClock(realTimeDivisor);
}

void restartThreadsAndClock(int realTimeDivisor) {
    {
        std::lock_guard<std::mutex> turnLock(windowsTurn.mutex);
        windowsTurn.holder = windowsTurn.depth = 0;
    }
    std::unique_lock<std::mutex> lock(scheduler.mutex);
    for (auto& record : scheduler.threads) {
        if (!record.finished) std::terminate();  // a thread of an earlier test still runs
    }
    lock.unlock();
    for (auto& record : scheduler.threads) record.thread.join();
    lock.lock();
    scheduler.threads.clear();
    scheduler.waiters.clear();
    scheduler.realTimeDivisor = realTimeDivisor;
    scheduler.realStart = std::chrono::steady_clock::now();
    scheduler.virtualNow = 0;
    scheduler.started = scheduler.live = scheduler.pins = scheduler.references = 0;
    scheduler.startedAt.clear();
    scheduler.failStarts = false;
    currentThread = scheduler.nextId++;
    scheduler.running = currentThread;
}

HWND createWindow(WNDPROC procedure, bool unicode) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    windowTable.push_back(WindowRecord{procedure, unicode, false});
    return reinterpret_cast<HWND>(windowTable.size());
}

void destroyWindow(HWND window) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    if (WindowRecord* record = findRecord(window)) record->destroyed = true;
}

int singleByteCallsOnUnicodeWindows() {
    std::lock_guard<std::mutex> lock(windowsMutex);
    return singleByteCallsOnUnicode;
}

WNDPROC windowProcedure(HWND window) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    WNDPROC* procedure = findWindow(window);
    return procedure ? *procedure : nullptr;
}

std::vector<HWND> setWindowLongCalls() {
    std::lock_guard<std::mutex> lock(windowsMutex);
    return setWindowLongLog;
}

void setWhileMessageBoxShows(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    whileMessageBoxShows = std::move(action);
}

void setBeforeSend(std::function<void(HWND, UINT, WPARAM, LPARAM)> hook) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    beforeSend = std::move(hook);
}

std::vector<MessageBoxCall> messageBoxes() {
    std::lock_guard<std::mutex> lock(windowsMutex);
    return boxes;
}

long long now() {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    return scheduler.now();
}

void runUntil(long long time) {
    std::unique_lock<std::mutex> lock(scheduler.mutex);
    if (time > scheduler.now()) scheduler.block(lock, currentThread, time, nullptr);
}

void runFor(long long duration) { runUntil(now() + duration); }

int moduleReferences() {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    return scheduler.references;
}

bool runUntilThreadsEnd(long long limit) {
    long long end = now() + limit;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(scheduler.mutex);
            scheduler.joinFinished();
            if (scheduler.threads.empty()) return true;
        }
        long long t = now();
        if (t >= end) return false;
        runUntil(std::min(end, t + 100));
    }
}

int currentThreadId() { return currentThread; }

int threadsStarted(unsigned (*entry)(void*)) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    return entry ? scheduler.startedAt[entry] : scheduler.started;
}

int threadsRunning() {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    return scheduler.live;
}

int handlesOpen() {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    int open = 0;
    for (auto& record : scheduler.threads) open += record.handleOpen ? 1 : 0;
    return open;
}

void writeShort(bool on) { shortWrites = on; }

void failReads(bool fail) { readsFail = fail; }

void failThreadStarts(bool fail) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    scheduler.failStarts = fail;
}

int moduleLoadPins() {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    return scheduler.pins;
}

int threadsWaitingForLocks() { return lockWaiters.load(); }

void yieldAtLockRelease(bool yield) { yieldAtRelease = yield; }

void switchThreads(unsigned seed, int oneIn) {
    std::lock_guard<std::mutex> lock(switchesMutex);
    switches.seed(seed);
    switchOneIn = oneIn;
}

WindowsThread::WindowsThread() { takeTurn(); }

WindowsThread::~WindowsThread() { releaseTurn(); }

}  // namespace winshim

namespace {

LONG_PTR setWindowLong(HWND window, int index, LONG_PTR value, bool wide) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    setWindowLongLog.push_back(window);
    noteCallOn(window, wide);
    WNDPROC* procedure = findWindow(window);
    if (!procedure || index != GWL_WNDPROC) return 0;
    WNDPROC previous = *procedure;
    *procedure = reinterpret_cast<WNDPROC>(value);
    return reinterpret_cast<LONG_PTR>(previous);
}

LONG_PTR getWindowLong(HWND window, int index, bool wide) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    noteCallOn(window, wide);
    WNDPROC* procedure = findWindow(window);
    return procedure && index == GWL_WNDPROC ? reinterpret_cast<LONG_PTR>(*procedure) : 0;
}

LRESULT callWindowProc(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool wide) {
    {
        std::lock_guard<std::mutex> lock(windowsMutex);
        noteCallOn(window, wide);
    }
    return previous ? previous(window, message, wParam, lParam) : 0;
}

}  // namespace

LONG_PTR WINAPI SetWindowLongA(HWND window, int index, LONG_PTR value) {
    return setWindowLong(window, index, value, false);
}

LONG_PTR WINAPI SetWindowLongW(HWND window, int index, LONG_PTR value) {
    return setWindowLong(window, index, value, true);
}

LONG_PTR WINAPI GetWindowLongA(HWND window, int index) { return getWindowLong(window, index, false); }

LONG_PTR WINAPI GetWindowLongW(HWND window, int index) { return getWindowLong(window, index, true); }

LRESULT WINAPI CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return callWindowProc(previous, window, message, wParam, lParam, false);
}

LRESULT WINAPI CallWindowProcW(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return callWindowProc(previous, window, message, wParam, lParam, true);
}

BOOL WINAPI IsWindowUnicode(HWND window) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    WindowRecord* record = findRecord(window);
    return record && record->unicode;
}

BOOL WINAPI IsWindow(HWND window) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    return findRecord(window) != nullptr;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::function<void(HWND, UINT, WPARAM, LPARAM)> hook;
    {
        std::lock_guard<std::mutex> lock(windowsMutex);
        if (!findRecord(window)) return 0;
        hook = beforeSend;
    }
    // Another thread may run before a message reaches the windows' thread; only one from
    // outside that thread can find a click queued before it.
    if (windowsTurnHolder() != turnHolderId() && switchHere()) Sleep(0);
    bool fromOutside = takeTurn();
    if (hook && fromOutside) hook(window, message, wParam, lParam);
    WNDPROC procedure = winshim::windowProcedure(window);
    LRESULT result = procedure ? procedure(window, message, wParam, lParam) : 0;
    releaseTurn();
    return result;
}

DWORD WINAPI GetCurrentThreadId(void) {
    // A thread the stand-in did not start gets a number of its own, apart from all of its.
    static std::atomic<DWORD> others{0x80000000u};
    thread_local DWORD other = 0;
    if (currentThread != 0) return static_cast<DWORD>(currentThread);
    if (other == 0) other = others++;
    return other;
}

UINT WINAPI RegisterWindowMessageA(LPCSTR name) {
    static std::map<std::string, UINT> registered;
    std::lock_guard<std::mutex> lock(windowsMutex);
    auto found = registered.emplace(name, static_cast<UINT>(0xC000 + registered.size())).first;
    return found->second;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    std::function<void()> whileShown;
    {
        std::lock_guard<std::mutex> lock(windowsMutex);
        boxes.push_back(winshim::MessageBoxCall{owner, text ? text : "", caption ? caption : "", type});
        whileShown = whileMessageBoxShows;
    }
    if (whileShown) whileShown();  // the box's own message loop runs the host's messages
    return IDOK;
}

// Sent messages are delivered inside SendMessageA here, so none is ever queued.
BOOL WINAPI PeekMessageA(MSG*, HWND, UINT, UINT, UINT) { return FALSE; }

uintptr_t _beginthreadex(void*, unsigned, unsigned (*start)(void*), void* argument, unsigned, unsigned* threadId) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    if (scheduler.failStarts) return 0;
    int id = scheduler.nextId++;
    scheduler.started++;
    scheduler.startedAt[start]++;
    scheduler.live++;
    if (threadId) *threadId = static_cast<unsigned>(id);
    scheduler.threads.emplace_back();
    ThreadRecord* record = &scheduler.threads.back();
    if (scheduler.virtualClock()) {
        scheduler.waiters.push_back(Waiter{id, scheduler.virtualNow, scheduler.nextOrder++, nullptr, nullptr});
    }
    record->thread = std::thread([id, start, argument, record] {
        currentThread = id;
        {
            std::unique_lock<std::mutex> lock(scheduler.mutex);
            scheduler.changed.wait(lock, [&] { return !scheduler.virtualClock() || scheduler.running == id; });
        }
        try {
            start(argument);
        } catch (const ThreadExit&) {
        }
        std::lock_guard<std::mutex> lock(scheduler.mutex);
        record->finished = true;
        scheduler.live--;
        if (scheduler.virtualClock()) scheduler.dispatchNext();
        scheduler.changed.notify_all();
    });
    return reinterpret_cast<uintptr_t>(record);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    {
        std::lock_guard<std::mutex> lock(filesMutex);
        auto* file = static_cast<FileRecord*>(handle);
        if (liveFiles.erase(file)) {
            ::close(file->descriptor);
            if (--openPaths[file->path] == 0) openPaths.erase(file->path);
            if (!file->deletable && --undeletablePaths[file->path] == 0) undeletablePaths.erase(file->path);
            delete file;
            return TRUE;
        }
    }
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    for (auto& record : scheduler.threads) {
        if (&record == handle && record.handleOpen) {
            record.handleOpen = false;
            return TRUE;
        }
    }
    for (auto& event : scheduler.events) {
        if (&event == handle) return TRUE;
    }
    return FALSE;
}

void WINAPI Sleep(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(scheduler.mutex);
    scheduler.block(lock, currentThread, scheduler.now() + milliseconds, nullptr);
}

HANDLE WINAPI CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    scheduler.events.push_back(Event{manualReset != FALSE, initialState != FALSE});
    return &scheduler.events.back();
}

BOOL WINAPI SetEvent(HANDLE event) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    static_cast<Event*>(event)->set = true;
    scheduler.changed.notify_all();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    static_cast<Event*>(event)->set = false;
    return TRUE;
}

// A process handle, from OpenProcess or GetCurrentProcess; null for any other handle.
static const ProcessRecord* processOf(HANDLE handle) {
    std::lock_guard<std::mutex> lock(processesMutex);
    if (handle == &ownProcess) return &ownProcess;
    for (const auto& process : openedProcesses) {
        if (&process == handle) return &process;
    }
    return nullptr;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // Only zero timeouts on processes: whether one has exited.
    if (const ProcessRecord* process = processOf(handle)) return process->exited ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    std::unique_lock<std::mutex> lock(scheduler.mutex);
    Event* event = static_cast<Event*>(handle);
    if (event->set) {
        if (!event->manualReset) event->set = false;
        return WAIT_OBJECT_0;
    }
    if (milliseconds == 0) return WAIT_TIMEOUT;
    bool signalled = scheduler.block(lock, currentThread, deadline(scheduler.now(), milliseconds), event);
    return signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

// Sent messages are taken in meanwhile: the windows' thread lets its turn go while it waits.
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD milliseconds, DWORD) {
    int held = releaseTurn(0);
    DWORD result = WAIT_TIMEOUT;
    if (count == 0)
        Sleep(milliseconds);
    else
        result = WaitForSingleObject(handles[0], milliseconds);
    if (held > 0) takeTurn(held);
    return result;
}

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(winshim::now()); }

LONG WINAPI InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }

LONG WINAPI InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }

LONG WINAPI InterlockedExchange(LONG volatile* value, LONG exchange) {
    return __atomic_exchange_n(value, exchange, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* value, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(value, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

void WINAPI InitializeCriticalSection(CRITICAL_SECTION* section) {
    static_assert(sizeof(std::mutex) <= sizeof section->mutex && alignof(std::mutex) <= 16, "room for a mutex");
    new (section->mutex) std::mutex;
}

void WINAPI EnterCriticalSection(CRITICAL_SECTION* section) {
    std::mutex* mutex = reinterpret_cast<std::mutex*>(section->mutex);
    if (mutex->try_lock()) return;
    bool virtualClock;
    {
        std::lock_guard<std::mutex> lock(scheduler.mutex);
        virtualClock = scheduler.virtualClock() && currentThread != 0;
    }
    // On the virtual clock the holder may be asleep: let the clock move on until it lets go.
    if (virtualClock) {
        while (!mutex->try_lock()) Sleep(1);
        return;
    }
    lockWaiters++;
    mutex->lock();
    lockWaiters--;
}

void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section) {
    reinterpret_cast<std::mutex*>(section->mutex)->unlock();
    // Lets every other thread due now run between two lock sections of this one.
    if ((yieldAtRelease && currentThread != 0) || switchHere()) Sleep(0);
}

BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR, HMODULE* module) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    if (flags & GET_MODULE_HANDLE_EX_FLAG_PIN)
        scheduler.pins++;
    else if (!(flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))
        scheduler.references++;
    if (module) *module = reinterpret_cast<HMODULE>(1);
    return TRUE;
}

BOOL WINAPI FreeLibrary(HMODULE) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    scheduler.references--;
    return TRUE;
}

void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD) {
    FreeLibrary(module);
    throw ThreadExit{};
}

DWORD WINAPI GetLastError(void) { return lastError; }

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, void*, DWORD disposition, DWORD, HANDLE) {
    std::string path = nativePath(name);
    std::lock_guard<std::mutex> lock(filesMutex);
    if (deadToFiles) {
        lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    bool exclusive = (share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) == 0;
    // As Windows: every handle open on the file must share what this one asks, and this one
    // what each of them asks.
    for (const FileRecord* other : liveFiles) {
        if (other->path != path) continue;
        bool refused = ((access & GENERIC_READ) && !(other->share & FILE_SHARE_READ)) ||
                       ((access & GENERIC_WRITE) && !(other->share & FILE_SHARE_WRITE)) ||
                       ((other->access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
                       ((other->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE));
        if (refused || (exclusive && openPaths.count(path))) {
            lastError = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
    }
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (disposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
    if (disposition == OPEN_ALWAYS) flags |= O_CREAT;
    if ((flags & O_CREAT) && inReadOnlyFolder(path) &&
        (disposition == CREATE_ALWAYS || ::access(path.c_str(), F_OK) != 0)) {
        lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (access & GENERIC_WRITE) followOnDisk(path);
    int descriptor = ::open(path.c_str(), flags, 0644);
    if (descriptor < 0) {
        lastError = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    openPaths[path]++;
    bool deletable = (share & FILE_SHARE_DELETE) != 0;
    if (!deletable) undeletablePaths[path]++;
    auto* file = new FileRecord{descriptor, path, exclusive, deletable, access, share};
    liveFiles.insert(file);
    return file;
}

BOOL WINAPI ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void*) {
    if (readsFail) {
        *read = 0;
        return FALSE;
    }
    ssize_t got = ::read(static_cast<FileRecord*>(file)->descriptor, buffer, size);
    *read = got > 0 ? static_cast<DWORD>(got) : 0;
    return got >= 0;
}

BOOL WINAPI WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written, void*) {
    {
        std::lock_guard<std::mutex> lock(filesMutex);
        if (deadToFiles) return FALSE;
    }
    ssize_t put = ::write(static_cast<FileRecord*>(file)->descriptor, buffer, shortWrites ? size / 2 : size);
    *written = put > 0 ? static_cast<DWORD>(put) : 0;
    return put >= 0;
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    std::function<void()> death;
    std::function<void(const std::string&)> flushed;
    std::string path = static_cast<FileRecord*>(file)->path;
    {
        std::lock_guard<std::mutex> lock(filesMutex);
        if (deadToFiles || !(static_cast<FileRecord*>(file)->access & GENERIC_WRITE)) return FALSE;
        if (flushRefused && flushRefused(path)) {
            lastError = ERROR_INVALID_FUNCTION;
            return FALSE;
        }
        fileOperationLog.push_back("flush " + path);
        onDisk[path] = bytesIn(path);
        death = dueDeath();
        flushed = onDiskWrite;
    }
    // Logged, not synced: the tests read the order of flushes and moves, and a real sync
    // would only make every journal update wait for the disk.
    if (flushed) flushed(path);
    if (death) death();
    return TRUE;
}

BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    std::string target = nativePath(to);
    std::function<void()> death;
    std::function<void(const std::string&)> written;
    {
        std::lock_guard<std::mutex> lock(filesMutex);
        // Windows replaces no file open without delete sharing, nor any file unless asked to.
        bool exists = ::access(target.c_str(), F_OK) == 0;
        if (inReadOnlyFolder(target) || undeletablePaths.count(target) ||
            (exists && !(flags & MOVEFILE_REPLACE_EXISTING))) {
            lastError = exists && !(flags & MOVEFILE_REPLACE_EXISTING) ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
            return FALSE;
        }
        if (deadToFiles) return FALSE;
        fileOperationLog.push_back("move " + nativePath(from) + " -> " + target);
        death = dueDeath();
        followOnDisk(nativePath(from));
        followOnDisk(target);
        if (flags & MOVEFILE_WRITE_THROUGH) {
            onDisk[target] = onDisk[nativePath(from)];
            onDisk[nativePath(from)] = std::nullopt;
            written = onDiskWrite;
        }
    }
    bool moved = ::rename(nativePath(from).c_str(), target.c_str()) == 0;
    if (moved && written) written(target);
    if (death) death();
    return moved;
}

BOOL WINAPI DeleteFileW(LPCWSTR name) {
    std::string path = nativePath(name);
    std::function<void(const std::string&)> written;
    {
        std::lock_guard<std::mutex> lock(filesMutex);
        // Windows deletes no file open without delete sharing.
        if (deadToFiles || undeletablePaths.count(path) || inReadOnlyFolder(path)) return FALSE;
        if (::unlink(path.c_str()) != 0) return FALSE;
        if (onDisk.count(path)) onDisk[path] = std::nullopt;
        written = onDiskWrite;
    }
    if (written) written(path);
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
    struct stat status;
    if (::stat(nativePath(name).c_str(), &status) != 0) {
        lastError = errno == ENOENT    ? ERROR_FILE_NOT_FOUND
                    : errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                       : ERROR_ACCESS_DENIED;
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

// The module's path as UTF-16, from the UTF-8 one the test names; 0 when none is named or
// it does not fit, as Windows truncates.
DWORD WINAPI GetModuleFileNameW(HMODULE, LPWSTR name, DWORD size) {
    std::lock_guard<std::mutex> lock(processesMutex);
    if (libraryPath.empty() || size == 0) return 0;
    DWORD length =
        static_cast<DWORD>(MultiByteToWideChar(CP_UTF8, 0, libraryPath.c_str(), -1, name, static_cast<int>(size)));
    return length > 0 ? length - 1 : 0;
}

// As Windows: only a root with its trailing backslash ("X:\\", "\\\\server\\share\\", a
// mounted folder's "C:\\mnt\\stick\\") names a volume.
BOOL WINAPI GetVolumeInformationW(LPCWSTR root, LPWSTR, DWORD, DWORD* serial, DWORD*, DWORD*, LPWSTR, DWORD) {
    std::string path = utf8Of(root);
    struct stat info;
    if (path.empty() || path.back() != '\\' || stat(nativePath(root).c_str(), &info) != 0) {
        lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    DWORD number = static_cast<DWORD>(std::hash<std::string>()(path));
    {
        std::lock_guard<std::mutex> lock(processesMutex);
        std::string folder = path.substr(0, path.size() - 1);
        const MountedFolder* mount = mountHolding(folder);
        bool share = path.rfind("\\\\", 0) == 0 && std::count(path.begin(), path.end(), '\\') == 4;
        if (mount && !mount->nativeFolder.empty() && folder.size() == mount->windowsFolder.size()) {
            number = mount->serial;
        } else if (path.size() == 3 && path[1] == ':') {
            number = driveSerials[static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])))];
        } else if (!share) {
            lastError = ERROR_DIR_NOT_ROOT;  // a folder, not the root of a volume
            return FALSE;
        }
    }
    if (serial) *serial = number;
    return TRUE;
}

// The root of the volume that holds path: a mounted folder whose volume is plugged in, else
// its drive's root or its share.
BOOL WINAPI GetVolumePathNameW(LPCWSTR name, LPWSTR out, DWORD size) {
    std::string path = utf8Of(name), root;
    {
        std::lock_guard<std::mutex> lock(processesMutex);
        const MountedFolder* mount = mountHolding(path);
        if (mount && !mount->nativeFolder.empty()) root = path.substr(0, mount->windowsFolder.size()) + "\\";
    }
    if (root.empty() && path.size() >= 3 && path[1] == ':' && path[2] == '\\') root = path.substr(0, 3);
    if (root.empty() && path.rfind("\\\\", 0) == 0) {
        std::size_t share = path.find('\\', path.find('\\', 2) + 1);
        root = share == std::string::npos ? path + "\\" : path.substr(0, share + 1);
    }
    std::u16string units(root.begin(), root.end());
    if (root.empty() || units.size() + 1 > size) {
        lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    std::copy(units.begin(), units.end(), out);
    out[units.size()] = 0;
    return TRUE;
}

void WINAPI OutputDebugStringW(LPCWSTR text) {
    std::string line = utf8Of(text);
    std::lock_guard<std::mutex> lock(windowsMutex);
    debugLines.push_back(line);
}

// Upper case for the letters the tests' names use: ASCII, Latin-1, Greek and Cyrillic.
int WINAPI LCMapStringW(DWORD, DWORD, LPCWSTR source, int length, LPWSTR out, int size) {
    if (length < 0 || length > size) return 0;
    for (int i = 0; i < length; ++i) {
        char16_t c = source[i];
        bool lowerLatin = (c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
        bool lowerGreek = c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2;
        if (lowerLatin || lowerGreek || (c >= 0x430 && c <= 0x44F)) c = static_cast<char16_t>(c - 0x20);
        if (c >= 0x450 && c <= 0x45F) c = static_cast<char16_t>(c - 0x50);
        out[i] = c;
    }
    return length;
}

// CP_ACP reads as ISO 8859-1 here, the native tests' code page; CP_UTF8 as UTF-8.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR bytes, int length, LPWSTR out, int size) {
    std::u16string text;
    std::string input = length < 0 ? std::string(bytes) : std::string(bytes, static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < input.size();) {
        unsigned char c = static_cast<unsigned char>(input[i]);
        if (codePage != CP_UTF8 || c < 0x80) {
            text += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        unsigned int code = c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < input.size(); ++k) code = code << 6 | (input[i + k] & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(code);
        }
    }
    if (length < 0) text += u'\0';
    if (static_cast<int>(text.size()) > size) return 0;
    std::copy(text.begin(), text.end(), out);
    return static_cast<int>(text.size());
}

DWORD WINAPI GetCurrentProcessId(void) {
    std::lock_guard<std::mutex> lock(processesMutex);
    return ownProcess.id;
}

HANDLE WINAPI GetCurrentProcess(void) { return &ownProcess; }

HANDLE WINAPI OpenProcess(DWORD access, BOOL, DWORD id) {
    std::lock_guard<std::mutex> lock(processesMutex);
    for (const auto& process : otherProcesses) {
        if (process.id != id) continue;
        if (access & process.refusedRights) {
            lastError = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        openedProcesses.push_back(process);
        return &openedProcesses.back();
    }
    if (id == ownProcess.id) return &ownProcess;
    lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
}

BOOL WINAPI GetProcessTimes(HANDLE process, FILETIME* created, FILETIME*, FILETIME*, FILETIME*) {
    std::lock_guard<std::mutex> lock(processesMutex);
    unsigned long long time = static_cast<ProcessRecord*>(process)->creation;
    created->dwLowDateTime = static_cast<DWORD>(time);
    created->dwHighDateTime = static_cast<DWORD>(time >> 32);
    return TRUE;
}
