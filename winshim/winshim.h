// Test-side controls of the native Windows stand-in: windows, message boxes, threads
// and the clock.
//
// Two clocks. The virtual clock (the default) runs one thread at a time: every thread
// started through _beginthreadex, and the test's own thread that called reset(), hands
// over when it sleeps or waits, and the clock jumps to the earliest wake-up. Ties go
// to the thread that began waiting first. A four-minute track then plays in
// milliseconds, the same way every run. The real clock lets threads run freely and
// sleeps for real, shortened by a divisor, for the race detectors.
#ifndef VORLU_WINSHIM_WINSHIM_H
#define VORLU_WINSHIM_WINSHIM_H

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace winshim {

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// Forgets every window, box and finished thread and restarts the clock at 0 on the
// virtual clock, or on the real clock with sleeps divided by realTimeDivisor (> 0).
// Threads of an earlier test must have ended.
void reset(int realTimeDivisor = 0);
// The same, keeping the windows and boxes.
void restartThreadsAndClock(int realTimeDivisor = 0);

// A window whose procedure is procedure; a Unicode window (IsWindowUnicode) when unicode.
HWND createWindow(WNDPROC procedure, bool unicode = false);
// From now on messages to window go nowhere and IsWindow says no.
void destroyWindow(HWND window);
WNDPROC windowProcedure(HWND window);
std::vector<HWND> setWindowLongCalls();  // the window of every SetWindowLongA/W call, in order
// Single-byte window calls (SetWindowLongA, GetWindowLongA, CallWindowProcA) on Unicode
// windows: on Windows each makes the system convert the window's text messages.
int singleByteCallsOnUnicodeWindows();
std::vector<MessageBoxCall> messageBoxes();
// Runs action while a message box shows, as its own message loop runs the host's messages.
void setWhileMessageBoxShows(std::function<void()> action);
// Runs hook at the start of every SendMessageA from outside the windows' thread, before
// any procedure of the window: what that thread handles before such a message (a click).
void setBeforeSend(std::function<void(HWND, UINT, WPARAM, LPARAM)> hook);

// The host's windows are served by one thread, whose turn a message's handling holds:
// while a WindowsThread lives, the calling thread acts as that thread (a click, a notice),
// never inside another thread's message, and no message from outside comes in between.
class WindowsThread {
public:
    WindowsThread();
    ~WindowsThread();
    WindowsThread(const WindowsThread&) = delete;
    WindowsThread& operator=(const WindowsThread&) = delete;
};

long long now();                // ms since reset
void runUntil(long long time);  // let the other threads run until the clock reads time
void runFor(long long duration);
// Runs until every started thread has returned or the clock has advanced by limit;
// true when all have returned.
bool runUntilThreadsEnd(long long limit);

int currentThreadId();  // the calling thread's number: 1, 2, ... from reset, 0 if unknown
int threadsStarted(unsigned (*entry)(void*) = nullptr);  // since reset; only those at entry, if given
int threadsRunning();
int handlesOpen();  // thread handles not yet closed
void failThreadStarts(bool fail);

int moduleLoadPins();    // GetModuleHandleExA calls with the pin flag
int moduleReferences();  // references taken by GetModuleHandleExA, less those freed

// Threads blocked in EnterCriticalSection, or waiting for the windows' thread, right now,
// so tests can wait for one without timing.
int threadsWaitingForLocks();
// Whether a thread that leaves a critical section first lets every other thread due now
// run (on the virtual clock): the interleavings between two lock sections of one thread.
void yieldAtLockRelease(bool yield);
// On the virtual clock, the thread that runs hands over to the others due now at one in
// oneIn of its lock releases and of its messages to the windows' thread, as the seed draws
// them (0: never): the interleavings a scheduler may choose, the same for each seed.
void switchThreads(unsigned seed, int oneIn);

// Another process as OpenProcess finds it: one that has exited may still be opened while
// a handle to it is held somewhere; refusedRights are the access rights it refuses (an
// elevated process refuses PROCESS_QUERY_INFORMATION, another user's every right).
struct OtherProcess {
    DWORD id;
    unsigned long long creation;
    bool exited = false;
    DWORD refusedRights = 0;
};

// This process as the plug-in sees it, the other processes there are, and the path of
// the library (empty: GetModuleFileNameA fails).
void setProcess(DWORD id, unsigned long long creationTime);
void setOtherProcesses(const std::vector<OtherProcess>& processes);
void setModulePath(const std::string& path);
std::string modulePath();
// A folder whose files can be opened and written but where none can be made, renamed or
// deleted, as a folder the user may not write to (root ignores the file system's own).
void setReadOnlyFolder(const std::string& folder, bool readOnly);
// Paths on drive letter go to folder from now on, a volume whose serial number is serial;
// an empty folder unplugs the drive (its root is not there). A drive never mapped is not
// there either. A share (\\server\share\) is the volume of its folder's name.
void mapDrive(char letter, const std::string& folder, DWORD serial = 0x5EED0001);
// Whether drive letter was mapped (plugged or not), and forgetting it again; the native
// path a Windows path (UTF-8) stands for, empty where its drive is not there.
bool driveMapped(char letter);
void unmapDrive(char letter);
std::string nativePathOf(const std::string& windowsPath);
// Paths under windowsFolder ("C:\\mnt\\stick", ASCII) go to nativeFolder from now on, a
// volume mounted there whose serial number is serial; an empty nativeFolder unplugs it
// (the folder stays, empty, on the volume that holds it).
void mountFolder(const std::string& windowsFolder, const std::string& nativeFolder, DWORD serial);
// No volume is mounted in windowsFolder from now on: it is a folder of the volume that holds it.
void unmountFolder(const std::string& windowsFolder);
// From now on, while on, every file write reports success having written half its bytes
// (a file system that writes short).
void writeShort(bool shortWrites);
// While on, every file read fails (an I/O error, a byte-range lock).
void failReads(bool fail);
// Every line written with OutputDebugStringW since reset, in UTF-8.
std::vector<std::string> debugOutput();
// The process dies to the file system right after the count-th flush or move from now on
// (counted as fileOperations logs them): that one completes, every later create, write,
// flush, move and delete fails, and death runs, once, on the thread that made it.
void dieAfterFileOperations(int count, std::function<void()> death);
// The power goes: every file written through these calls holds what reached its disk (its
// bytes at its last flush, a move asked to write through, a delete), the rest is lost.
void powerCut();
// What the file at native path holds on its disk now; none where no file is.
std::optional<std::string> bytesOnDisk(const std::string& path);
// Called with the native path of every file whose disk takes a change from now on: one
// flushed, one moved over with write-through, one deleted.
void setOnDiskWrite(std::function<void(const std::string&)> written);
// While refused(path) holds, a flush of the file at native path fails, as on a disk whose
// driver does not take flushes (a network share); null: every flush goes through.
void refuseFlushes(std::function<bool(const std::string&)> refused);
// Every flush ("flush PATH") and move ("move FROM -> TO") of a file since reset, in order.
std::vector<std::string> fileOperations();

}  // namespace winshim

#endif
