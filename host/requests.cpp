#include "host/requests.h"

#include <string.h>

static HWND hostWindow;
static LRESULT version;

void setHostWindow(HWND mainWindow) { hostWindow = mainWindow; }

void detectHostVersion() {
    version = askHost(0, IPC_GETVERSION);
    if (version < 0 || version >= HOST_VERSION_LIMIT) version = 0;
}

LRESULT hostVersion() { return version; }

LRESULT askHost(WPARAM wParam, LPARAM code) { return SendMessageA(hostWindow, WM_WA_IPC, wParam, code); }

int askHostInt(WPARAM wParam, LPARAM code) {
    // The host answers 32-bit values; on a wider platform only the low half carries them.
    return static_cast<int>(static_cast<LONG>(askHost(wParam, code)));
}

// The message that carries a step to the windows' thread. Its wParam names a slot of the
// table below and its lParam the slot's ticket: a message of another program's that
// happens to carry it finds no step, so nothing of its values is taken as an address.
static UINT stepMessage;
struct StepInFlight {
    StepWork work;  // null: the slot is free
    void* context;
    LPARAM ticket;
    bool ran;
};
// More than the threads of ours that can send a step at once (workers, the repair and the
// windows' own).
const int STEP_SLOTS = 64;
static StepInFlight stepsInFlight[STEP_SLOTS];
static LPARAM lastTicket;
static CRITICAL_SECTION stepTableLock;  // held for memory operations only

// The steps lock: an auto-reset event, owned by one thread at a time, again by that thread
// where a step runs another. A thread waiting for it takes sent messages in meanwhile: on
// the windows' thread, the holder may be a thread of ours waiting for that thread's answer.
static HANDLE stepsLock;
static LONG volatile stepsOwner;  // a thread id; 0: none
static int stepsDepth;

void initSteps() {
    stepMessage = RegisterWindowMessageA("Vorlu.step");
    InitializeCriticalSection(&stepTableLock);
    stepsLock = CreateEventA(0, FALSE, TRUE, 0);
    InterlockedExchange(&stepsOwner, 0);
    stepsDepth = 0;
}

static void runUnderStepsLock(StepWork work, void* context) {
    LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&stepsOwner, 0, 0) != self) {
        while (MsgWaitForMultipleObjects(1, &stepsLock, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
            MSG message;
            PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        InterlockedExchange(&stepsOwner, self);
    }
    stepsDepth++;
    work(context);
    if (--stepsDepth == 0) {
        InterlockedExchange(&stepsOwner, 0);
        SetEvent(stepsLock);
    }
}

// A free slot holding work, with its ticket; -1 when none is free.
static int takeStepSlot(StepWork work, void* context, LPARAM* ticket) {
    EnterCriticalSection(&stepTableLock);
    int slot = -1;
    for (int i = 0; i < STEP_SLOTS && slot < 0; i++) {
        if (stepsInFlight[i].work == 0) slot = i;
    }
    if (slot >= 0) {
        if (++lastTicket <= 0) lastTicket = 1;
        StepInFlight taken = {work, context, lastTicket, false};
        stepsInFlight[slot] = taken;
        *ticket = lastTicket;
    }
    LeaveCriticalSection(&stepTableLock);
    return slot;
}

void runStep(StepWork work, void* context) {
    int slot;
    LPARAM ticket = 0;
    while ((slot = takeStepSlot(work, context, &ticket)) < 0) Sleep(1);
    SendMessageA(hostWindow, stepMessage, static_cast<WPARAM>(slot), ticket);
    EnterCriticalSection(&stepTableLock);
    bool ran = stepsInFlight[slot].ran;
    stepsInFlight[slot].work = 0;
    LeaveCriticalSection(&stepTableLock);
    if (!ran) runUnderStepsLock(work, context);
}

bool runStepMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (stepMessage == 0 || message != stepMessage) return false;
    EnterCriticalSection(&stepTableLock);
    StepInFlight step = {0, 0, 0, false};
    if (wParam < static_cast<WPARAM>(STEP_SLOTS) && stepsInFlight[wParam].work != 0 &&
        stepsInFlight[wParam].ticket == lParam && !stepsInFlight[wParam].ran) {
        step = stepsInFlight[wParam];
        stepsInFlight[wParam].ran = true;
    }
    LeaveCriticalSection(&stepTableLock);
    if (step.work) runUnderStepsLock(step.work, step.context);
    return true;
}

void pressHostButton(WPARAM button) { SendMessageA(hostWindow, WM_COMMAND, button, 0); }

int clearBuffer(int count, void* buffer) {
    if (count > 0) memset(buffer, 0, static_cast<size_t>(count));
    return 0;
}
