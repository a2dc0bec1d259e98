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

// The request askHostReadingPlayState has in flight: its code (0: none) and wParam, and
// where the states it reads go. Only one is in flight at a time.
static LONG volatile inFlightCode;
static WPARAM inFlightWParam;
static PlayStateAround* inFlightAround;
static LONG volatile watched;

void setRequestsWatched(bool on) { InterlockedExchange(&watched, on ? 1 : 0); }

bool requestsWatched() { return InterlockedCompareExchange(&watched, 0, 0) != 0; }

LRESULT askHostReadingPlayState(WPARAM wParam, LPARAM code, PlayStateAround* around) {
    around->seen = false;
    inFlightWParam = wParam;
    inFlightAround = around;
    InterlockedExchange(&inFlightCode, static_cast<LONG>(code));
    LRESULT answer = askHost(wParam, code);
    InterlockedExchange(&inFlightCode, 0);
    return answer;
}

void watchRequestOfOurs(UINT message, WPARAM wParam, LPARAM lParam, bool handled) {
    LONG code = InterlockedCompareExchange(&inFlightCode, 0, 0);
    if (message != WM_WA_IPC || code == 0 || lParam != code || wParam != inFlightWParam) return;
    LRESULT state = askHost(0, IPC_ISPLAYING);
    if (handled) {
        inFlightAround->after = state;
    } else {
        inFlightAround->before = state;
    }
    inFlightAround->seen = true;
}

void pressHostButton(WPARAM button) { SendMessageA(hostWindow, WM_COMMAND, button, 0); }

int clearBuffer(int count, void* buffer) {
    if (count > 0) memset(buffer, 0, static_cast<size_t>(count));
    return 0;
}
