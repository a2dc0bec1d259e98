#include "stamping/plugin_threads.h"

#include "stamping/journal.h"

#include <process.h>

static HANDLE stopEvent;  // set once, by the stop
static LONG volatile stopLimitMs;
static LONG volatile liveThreads;
static HMODULE libraryModule;  // this library, named once by init; each thread holds a reference of its own

void initPluginThreads() {
    stopEvent = CreateEventA(0, TRUE, FALSE, 0);
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&initPluginThreads), &libraryModule);
}

bool pluginThreadsStopping() { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }

DWORD pluginThreadsStopSpacing(int tries) {
    return static_cast<DWORD>(InterlockedCompareExchange(&stopLimitMs, 0, 0)) / static_cast<DWORD>(tries + 1);
}

bool startPluginThread(unsigned(WINAPI* entry)(void*), void* argument) {
    HMODULE reference;
    if (pluginThreadsStopping()) return false;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&initPluginThreads),
                            &reference))
        return false;
    InterlockedIncrement(&liveThreads);
    uintptr_t thread = _beginthreadex(0, 0, entry, argument, 0, 0);
    if (thread == 0) {
        InterlockedDecrement(&liveThreads);
        FreeLibrary(reference);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

void endPluginThread(unsigned int journalEntry) {
    if (journalEntry > 0) journalForget(journalEntry);
    journalForgetDue();
    // Counted out last: quit, once no thread of ours runs, finds every entry they settled gone.
    InterlockedDecrement(&liveThreads);
    // Drops this thread's reference without returning into code that may be unloaded.
    FreeLibraryAndExitThread(libraryModule, 0);
}

void signalPluginThreadsToStop(DWORD limitMs) {
    InterlockedExchange(&stopLimitMs, static_cast<LONG>(limitMs));
    SetEvent(stopEvent);
}

int waitForPluginThreads(DWORD limitMs) {
    DWORD start = GetTickCount();
    int running;
    while ((running = InterlockedCompareExchange(&liveThreads, 0, 0)) > 0 && GetTickCount() - start < limitMs) {
        // Workers' requests are messages sent to windows of the host's thread, which may
        // be this one: take them in while waiting.
        MsgWaitForMultipleObjects(0, 0, FALSE, 10, QS_SENDMESSAGE);
        MSG message;
        PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return running;
}
