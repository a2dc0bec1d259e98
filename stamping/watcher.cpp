#include "stamping/watcher.h"

#include "host/requests.h"
#include "stamping/worker.h"
#include "trackinfo/track_metadata.h"

#include <string.h>

// The file for which the last worker was started; written only on the windows' thread.
static char playingFileName[FILE_NAME_SIZE];

int compareStrings(int lengthA, const char* a, int lengthB, const char* b) {
    if (lengthA != lengthB) return 0;
    if (lengthA <= 0) return 1;
    return memcmp(a, b, static_cast<size_t>(lengthA)) == 0 ? 1 : 0;
}

static bool isTrackChangeNotice(UINT message, WPARAM wParam, LPARAM lParam) {
    return message == TRACK_CHANGE_MESSAGE && wParam == TRACK_CHANGE_WPARAM && (lParam & TRACK_CHANGE_LPARAM_BIT) != 0;
}

void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (isTrackChangeNotice(message, wParam, lParam)) {
        char currentFileName[FILE_NAME_SIZE];
        clearBuffer(FILE_NAME_SIZE, currentFileName);
        GetFileName(currentFileName);
        if (compareStrings(FILE_NAME_SIZE, currentFileName, FILE_NAME_SIZE, playingFileName) == 0) {
            clearBuffer(FILE_NAME_SIZE, playingFileName);
            GetFileName(playingFileName);
            // A thread that cannot be made is not retried: that file plays unstamped.
            startWorker();
        }
    }
}
