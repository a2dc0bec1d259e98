// The track-change watcher, fed every message of the playlist editor window.
#ifndef VORLU_STAMPING_WATCHER_H
#define VORLU_STAMPING_WATCHER_H

#include <windows.h>

// On a track-change notice (WM_USER, wParam 666, bit 30 of lParam set) naming a file
// other than the last one, starts a worker for it; any other message is ignored. Runs on
// the thread that owns the host's windows.
void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam);

// 1 when lengthA equals lengthB and the first lengthA bytes of a and b are equal (equal
// lengths of 0 or less included), else 0.
int compareStrings(int lengthA, const char* a, int lengthB, const char* b);

#endif
