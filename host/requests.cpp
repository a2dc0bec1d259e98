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
enum StepState { STEP_SENT, STEP_RAN, STEP_BUSY };
struct StepInFlight {
    StepWork work;  // null: the slot is free
    void* context;
    LPARAM ticket;
    DWORD sender;  // the thread that sent it
    StepState state;
};
// More than the threads of ours that can send a step at once (workers, the repair and the
// windows' own).
const int STEP_SLOTS = 64;
static StepInFlight stepsInFlight[STEP_SLOTS];
static LPARAM lastTicket;
static CRITICAL_SECTION stepTableLock;  // held for memory operations only

// The steps lock: an auto-reset event, owned by one thread at a time, again by that thread
// where a step runs another (a notice the host sends from within a request of ours). The
// windows' thread never waits for it: it is held elsewhere only by a step that runs on
// its own thread (our procedure no longer serves the window), which may be waiting for
// the windows' thread to answer.
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

// Takes the steps lock, again where this thread holds it; waiting for it only where
// mayWait, taking in the messages sent to this thread meanwhile. False when not taken.
static bool lockSteps(bool mayWait) {
    LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&stepsOwner, 0, 0) != self) {
        if (!mayWait && WaitForSingleObject(stepsLock, 0) != WAIT_OBJECT_0) return false;
        while (mayWait && MsgWaitForMultipleObjects(1, &stepsLock, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
            MSG message;
            PeekMessageA(&message, 0, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        InterlockedExchange(&stepsOwner, self);
    }
    stepsDepth++;
    return true;
}

static void unlockSteps() {
    if (--stepsDepth > 0) return;
    InterlockedExchange(&stepsOwner, 0);
    SetEvent(stepsLock);
}

// A free slot holding work, with its ticket; -1 when none is free.
static int takeStepSlot(StepWork work, void* context, LPARAM* ticket) {
    EnterCriticalSection(&stepTableLock);
    int slot = -1;
    for (int i = 0; i < STEP_SLOTS && slot < 0; i++) {
        if (stepsInFlight[i].work == 0) slot = i;
    }
    if (slot >= 0) {
        lastTicket = lastTicket >= 0x7FFFFFFF ? 1 : lastTicket + 1;
        StepInFlight taken = {work, context, lastTicket, GetCurrentThreadId(), STEP_SENT};
        stepsInFlight[slot] = taken;
        *ticket = lastTicket;
    }
    LeaveCriticalSection(&stepTableLock);
    return slot;
}

// Sends the step in slot until the windows' thread has run it, or refused it where the
// sender may not wait; its state then.
static StepState sendStep(int slot, LPARAM ticket, bool mayWait) {
    for (;;) {
        SendMessageA(hostWindow, stepMessage, static_cast<WPARAM>(slot), ticket);
        EnterCriticalSection(&stepTableLock);
        StepState state = stepsInFlight[slot].state;
        stepsInFlight[slot].state = STEP_SENT;
        LeaveCriticalSection(&stepTableLock);
        if (state != STEP_BUSY || !mayWait) return state;
        Sleep(1);
    }
}

static bool runStepWaiting(StepWork work, void* context, bool mayWait) {
    int slot;
    LPARAM ticket = 0;
    while ((slot = takeStepSlot(work, context, &ticket)) < 0) Sleep(1);
    StepState state = sendStep(slot, ticket, mayWait);
    EnterCriticalSection(&stepTableLock);
    stepsInFlight[slot].work = 0;
    LeaveCriticalSection(&stepTableLock);
    if (state == STEP_RAN) return true;
    // Our procedure does not serve the window (after quit, or with the window gone): here.
    if (state == STEP_BUSY || !lockSteps(mayWait)) return false;
    work(context);
    unlockSteps();
    return true;
}

void runStep(StepWork work, void* context) { runStepWaiting(work, context, true); }

bool runStepIfFree(StepWork work, void* context) { return runStepWaiting(work, context, false); }

bool runStepMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (stepMessage == 0 || message != stepMessage) return false;
    EnterCriticalSection(&stepTableLock);
    StepInFlight step = {0, 0, 0, 0, STEP_SENT};
    if (wParam < static_cast<WPARAM>(STEP_SLOTS) && stepsInFlight[wParam].work != 0 &&
        stepsInFlight[wParam].ticket == lParam && stepsInFlight[wParam].state == STEP_SENT)
        step = stepsInFlight[wParam];
    LeaveCriticalSection(&stepTableLock);
    if (!step.work) return true;
    // Within a step, only a step this very thread sends: another thread's step can reach us
    // here only if a request of the step took sent messages in, and it waits for its turn.
    LONG owner = InterlockedCompareExchange(&stepsOwner, 0, 0);
    bool runs = (owner == 0 || step.sender == GetCurrentThreadId()) && lockSteps(false);
    if (runs) {
        step.work(step.context);
        unlockSteps();
    }
    EnterCriticalSection(&stepTableLock);
    stepsInFlight[wParam].state = runs ? STEP_RAN : STEP_BUSY;
    LeaveCriticalSection(&stepTableLock);
    return true;
}

void pressHostButton(WPARAM button) { SendMessageA(hostWindow, WM_COMMAND, button, 0); }

int clearBuffer(int count, void* buffer) {
    if (count > 0) memset(buffer, 0, static_cast<size_t>(count));
    return 0;
}
