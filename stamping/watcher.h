// The track-change watcher, fed every message of the playlist editor window.
#ifndef VORLU_STAMPING_WATCHER_H
#define VORLU_STAMPING_WATCHER_H

#include <windows.h>

// On: windows. Takes: names, records, run lists. Asks: one name request, on a notice. On a
// track-change notice (WM_USER, wParam 666, bit 30 of lParam set) reads which file is
// current, tells every worker of another file to end now, and starts a worker for the
// current file when no live worker holds it, the host gave a name, and no stamp of it was
// refused in this run; any other message is ignored.
void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam);

#endif
