// The native stand-in for the Windows services the plug-in calls: a window table whose
// SendMessageA calls the window's procedure on the calling thread, message boxes that
// are recorded, and threads, events and sleeps on the virtual or the real clock.
#include "winshim.h"

#include <process.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <list>
#include <mutex>
#include <new>
#include <thread>

namespace {

std::mutex windowsMutex;
std::vector<WNDPROC> windowTable;  // HWND n is windowTable[n - 1]
std::vector<winshim::MessageBoxCall> boxes;
std::vector<HWND> setWindowLongLog;

WNDPROC* findWindow(HWND window) {
    std::size_t n = reinterpret_cast<std::size_t>(window);
    return n >= 1 && n <= windowTable.size() ? &windowTable[n - 1] : nullptr;
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
std::atomic<int> lockWaiters{0};
thread_local int currentThread = 0;

long long deadline(long long now, DWORD milliseconds) {
    return milliseconds == INFINITE ? forever : now + milliseconds;
}

}  // namespace

namespace winshim {

void reset(int realTimeDivisor) {
    {
        std::lock_guard<std::mutex> lock(windowsMutex);
        windowTable.clear();
        boxes.clear();
        setWindowLongLog.clear();
    }
    restartThreadsAndClock(realTimeDivisor);
}

void restartThreadsAndClock(int realTimeDivisor) {
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
    scheduler.failStarts = false;
    currentThread = scheduler.nextId++;
    scheduler.running = currentThread;
}

HWND createWindow(WNDPROC procedure) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    windowTable.push_back(procedure);
    return reinterpret_cast<HWND>(windowTable.size());
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

int threadsStarted() {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    return scheduler.started;
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

void failThreadStarts(bool fail) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    scheduler.failStarts = fail;
}

int moduleLoadPins() {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    return scheduler.pins;
}

int threadsWaitingForLocks() { return lockWaiters.load(); }

}  // namespace winshim

LONG_PTR WINAPI SetWindowLongA(HWND window, int index, LONG_PTR value) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    setWindowLongLog.push_back(window);
    WNDPROC* procedure = findWindow(window);
    if (!procedure || index != GWL_WNDPROC) return 0;
    WNDPROC previous = *procedure;
    *procedure = reinterpret_cast<WNDPROC>(value);
    return reinterpret_cast<LONG_PTR>(previous);
}

LONG_PTR WINAPI GetWindowLongA(HWND window, int index) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    WNDPROC* procedure = findWindow(window);
    return procedure && index == GWL_WNDPROC ? reinterpret_cast<LONG_PTR>(*procedure) : 0;
}

LRESULT WINAPI CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return previous ? previous(window, message, wParam, lParam) : 0;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC procedure = winshim::windowProcedure(window);
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    std::lock_guard<std::mutex> lock(windowsMutex);
    boxes.push_back(winshim::MessageBoxCall{owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

// Sent messages are delivered inside SendMessageA here, so none is ever queued.
BOOL WINAPI PeekMessageA(MSG*, HWND, UINT, UINT, UINT) { return FALSE; }

uintptr_t _beginthreadex(void*, unsigned, unsigned (*start)(void*), void* argument, unsigned, unsigned* threadId) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    if (scheduler.failStarts) return 0;
    int id = scheduler.nextId++;
    scheduler.started++;
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

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
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

DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD milliseconds, DWORD) {
    if (count == 0) {
        Sleep(milliseconds);
        return WAIT_TIMEOUT;
    }
    return WaitForSingleObject(handles[0], milliseconds);
}

DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(winshim::now()); }

LONG WINAPI InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }

LONG WINAPI InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }

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
    lockWaiters++;
    mutex->lock();
    lockWaiters--;
}

void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section) { reinterpret_cast<std::mutex*>(section->mutex)->unlock(); }

BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR, HMODULE* module) {
    std::lock_guard<std::mutex> lock(scheduler.mutex);
    if (flags & GET_MODULE_HANDLE_EX_FLAG_PIN)
        scheduler.pins++;
    else
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
