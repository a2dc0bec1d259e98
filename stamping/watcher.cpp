#include "stamping/watcher.h"

#include "host/requests.h"
#include "stamping/file_claims.h"
#include "stamping/worker.h"
#include "trackinfo/track_metadata.h"

static bool isTrackChangeNotice(UINT message, WPARAM wParam, LPARAM lParam) {
    return message == TRACK_CHANGE_MESSAGE && wParam == TRACK_CHANGE_WPARAM && (lParam & TRACK_CHANGE_LPARAM_BIT) != 0;
}

void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!isTrackChangeNotice(message, wParam, lParam)) return;
    TrackFile currentFile;
    clearBuffer(sizeof currentFile, &currentFile);
    readCurrentFile(&currentFile);
    bool held = tellWorkersOtherThan(currentFile);
    // A thread that cannot be made is not retried: that file plays unstamped until its next notice.
    if (!held && currentFile.name[0] != 0 && !stampRefusedInThisRun(currentFile)) startWorker(currentFile);
}
