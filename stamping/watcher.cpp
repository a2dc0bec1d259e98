#include "stamping/watcher.h"

#include "host/requests.h"
#include "stamping/worker.h"
#include "trackinfo/track_metadata.h"

#include <string.h>

// The file for which the last worker was started; written only on the windows' thread.
// Its name is the wide one whenever the host gives it, so that two files whose
// single-byte names collapse to the same text are still two.
static TrackFile playingFile;

int compareStrings(int lengthA, const char* a, int lengthB, const char* b) {
    if (lengthA != lengthB) return 0;
    if (lengthA <= 0) return 1;
    return memcmp(a, b, static_cast<size_t>(lengthA)) == 0 ? 1 : 0;
}

bool sameFile(const TrackFile& a, const TrackFile& b) {
    return a.wide == b.wide && a.cut == b.cut &&
           compareStrings(static_cast<int>(sizeof a.name), reinterpret_cast<const char*>(a.name),
                          static_cast<int>(sizeof b.name), reinterpret_cast<const char*>(b.name)) == 1;
}

static bool isTrackChangeNotice(UINT message, WPARAM wParam, LPARAM lParam) {
    return message == TRACK_CHANGE_MESSAGE && wParam == TRACK_CHANGE_WPARAM && (lParam & TRACK_CHANGE_LPARAM_BIT) != 0;
}

void watchPlaylistEditorMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (isTrackChangeNotice(message, wParam, lParam)) {
        TrackFile currentFile;
        clearBuffer(sizeof currentFile, &currentFile);
        readCurrentFile(&currentFile);
        tellWorkersOtherThan(currentFile);
        if (!sameFile(currentFile, playingFile)) {
            clearBuffer(sizeof playingFile, &playingFile);
            readCurrentFile(&playingFile);
            // A thread that cannot be made is not retried: that file plays unstamped.
            startWorker(playingFile);
        }
    }
}
