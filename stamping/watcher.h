// The watcher: hears of changes of playback from the host's windows, and tells the workers.
#ifndef VORLU_STAMPING_WATCHER_H
#define VORLU_STAMPING_WATCHER_H

#include <windows.h>

// On: windows. Takes: records. Asks: one name request, on a notice. On a
// track-change notice to the playlist editor (WM_USER, wParam 666, bit 30 of lParam set)
// reads which file is current, tells every worker of another file to end now, wakes the
// worker of the current file where it waits for the title update (a restart of its paused
// file read position 0 until then), or starts one when no live worker holds it, the host
// gave a name, and no stamp of it was refused in this run; any other message is ignored.
void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam);

// On: windows. Takes: records. Asks: one name request, on a status callback. On the
// host's status callback to its main window (hosts from 5.0: a start, stop, pause or
// resume has just happened) reads which file is current, tells every worker of another
// file to end now, and wakes the one of the current file to look at playback at once; any
// other message is ignored.
void watchMainWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

#endif
