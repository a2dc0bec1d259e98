// The track-change watcher, fed every message of the playlist editor window.
#ifndef VORLU_STAMPING_WATCHER_H
#define VORLU_STAMPING_WATCHER_H

#include "trackinfo/track_metadata.h"

#include <windows.h>

// On a track-change notice (WM_USER, wParam 666, bit 30 of lParam set) reads which file
// is current, tells every worker of another file to end now, and, when the file is not
// the one it last saw, starts a worker for it; any other message is ignored. Runs on the
// thread that owns the host's windows.
void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam);

// Whether two files, both zero-filled before they were named, are one: the same path and
// the same whole name buffer (compareStrings).
bool sameFile(const TrackFile& a, const TrackFile& b);

// 1 when lengthA equals lengthB and the first lengthA bytes of a and b are equal (equal
// lengths of 0 or less included), else 0.
int compareStrings(int lengthA, const char* a, int lengthB, const char* b);

#endif
