#include "stamping/watcher.h"

#include "plugin/gen_vorlu.h"

LRESULT CALLBACK WinampPEWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(lpWinampPEWndProcOld, window, message, wParam, lParam);
}
