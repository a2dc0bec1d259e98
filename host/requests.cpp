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

void pressHostButton(WPARAM button) { SendMessageA(hostWindow, WM_COMMAND, button, 0); }

int clearBuffer(int count, void* buffer) {
    if (count > 0) memset(buffer, 0, static_cast<size_t>(count));
    return 0;
}
