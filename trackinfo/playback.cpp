#include "trackinfo/playback.h"

#include "host/requests.h"

void allowPlayTracking(bool allow) {
    if (hostVersion() >= HOST_VERSION_PLAY_TRACKING) askHost(allow ? 1 : 0, IPC_ALLOW_PLAYTRACKING);
}

void refreshPlaylistTitles(const TrackFile& file) {
    if (hostVersion() < HOST_VERSION_REFRESH_PLAYLIST) return;
    // A single-byte name comes only from a host before 5.13, which takes no name here.
    bool byName = file.wide && hostVersion() >= HOST_VERSION_REFRESH_BY_NAME;
    askHost(byName ? reinterpret_cast<WPARAM>(file.name) : 0, IPC_REFRESHPLCACHE);
}
