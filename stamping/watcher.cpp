#include "stamping/watcher.h"

#include "host/requests.h"
#include "stamping/file_claims.h"
#include "stamping/plugin_threads.h"
#include "stamping/worker.h"
#include "trackinfo/track_metadata.h"

static bool isTrackChangeNotice(UINT message, WPARAM wParam, LPARAM lParam) {
    return message == TRACK_CHANGE_MESSAGE && wParam == TRACK_CHANGE_WPARAM && (lParam & TRACK_CHANGE_LPARAM_BIT) != 0;
}

// The current entry's file, and whether this run refused a stamp of it.
struct CurrentFile {
    TrackFile file;
    bool refused;
};

// On the windows' thread, between steps, as a step would read it.
static void readCurrent(CurrentFile* current) {
    readCurrentFile(&current->file);
    current->refused = (marksOf(current->file) & MARK_STAMP_REFUSED) != 0;
}

void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // Once the threads are to stop, no worker starts: there is nothing to tell.
    if (!isTrackChangeNotice(message, wParam, lParam) || pluginThreadsStopping()) return;
    CurrentFile current;
    clearBuffer(sizeof current, &current);
    readCurrent(&current);
    bool held = tellWorkersOtherThan(current.file, WAKE_HOLDER_AWAITING_TITLE);
    // A thread that cannot be made is not retried: that file plays unstamped until its next notice.
    if (!held && current.file.name[0] != 0 && !current.refused) startWorker(current.file);
}

void watchMainWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // The pause and resume callbacks of newer hosts come beside a status callback each.
    bool status = message == WM_WA_IPC && lParam == IPC_CB_MISC && wParam == IPC_CB_MISC_STATUS;
    if (!status || hostVersion() < HOST_VERSION_STATUS_CALLBACK || pluginThreadsStopping()) return;
    CurrentFile current;
    clearBuffer(sizeof current, &current);
    readCurrent(&current);
    tellWorkersOtherThan(current.file, WAKE_HOLDER);
}
