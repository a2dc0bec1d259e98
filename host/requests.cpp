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

// The one step in flight, and the message that carries it to the windows' thread: its
// wParam and lParam are the step's context and work, compared here and never taken as
// addresses, so another program's message, or a copy of ours, runs nothing.
static UINT stepMessage;
static CRITICAL_SECTION stepsLock;  // held by a step's sender from its send until its work has run
static StepWork stepWork;
static void* stepContext;
static LONG volatile stepWaiting;  // 1 from the send until the step's work starts

void initSteps() {
    stepMessage = RegisterWindowMessageA("Vorlu.step");
    InitializeCriticalSection(&stepsLock);
}

void runStep(StepWork work, void* context) {
    EnterCriticalSection(&stepsLock);
    stepWork = work;
    stepContext = context;
    InterlockedExchange(&stepWaiting, 1);
    SendMessageA(hostWindow, stepMessage, reinterpret_cast<WPARAM>(context), reinterpret_cast<LPARAM>(work));
    // No procedure of ours ran it (after quit, or with the window gone): it runs here.
    if (InterlockedExchange(&stepWaiting, 0) == 1) work(context);
    LeaveCriticalSection(&stepsLock);
}

bool runStepMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != stepMessage) return false;
    bool named = wParam == reinterpret_cast<WPARAM>(stepContext) && lParam == reinterpret_cast<LPARAM>(stepWork);
    if (named && InterlockedExchange(&stepWaiting, 0) == 1) stepWork(stepContext);
    return true;
}

void pressHostButton(WPARAM button) { SendMessageA(hostWindow, WM_COMMAND, button, 0); }

int clearBuffer(int count, void* buffer) {
    if (count > 0) memset(buffer, 0, static_cast<size_t>(count));
    return 0;
}
