// The track-change watcher: the playlist editor window's replacement procedure.
#ifndef VORLU_STAMPING_WATCHER_H
#define VORLU_STAMPING_WATCHER_H

#include <windows.h>

LRESULT CALLBACK WinampPEWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
