#include "trackinfo/playback.h"

#include "host/requests.h"

#include <limits.h>

// Play tracking, on hosts from 5.0: off while a write of ours may restart the playing file
// or a press of ours start it again, so that no such start counts as a play.
static void allowPlayTracking(bool allow) {
    if (hostVersion() >= HOST_VERSION_PLAY_TRACKING) askHost(allow ? 1 : 0, IPC_ALLOW_PLAYTRACKING);
}

static bool active(LRESULT state) { return state == HOST_PLAYING || state == HOST_PAUSED; }

// Where the listener left playback before our set, and what our own requests made of it.
struct OurChange {
    LRESULT before;         // the play state before our set
    bool pauseDropped;      // our commit started the paused file playing
    bool stoppedByRefusal;  // our refused set stopped it
};

// Read within the host's handling of our set and commit where our procedure saw them;
// else (our procedure is not in the window's chain: after quit) by requests of the
// writer's own just before and after, which a click may come between.
static OurChange ourChange(const WritePlayStates& states, LRESULT beforeAsked, LRESULT afterAsked, ArtistWrite write) {
    OurChange change;
    if (!states.set.seen) {
        change.before = beforeAsked;
        change.pauseDropped = beforeAsked == HOST_PAUSED && afterAsked == HOST_PLAYING;
        change.stoppedByRefusal = write == ARTIST_REFUSED && active(beforeAsked) && afterAsked == HOST_STOPPED;
        return change;
    }
    change.before = states.set.before;
    change.pauseDropped = change.before == HOST_PAUSED && states.commit.seen && states.commit.before != HOST_PLAYING &&
                          states.commit.after == HOST_PLAYING;
    change.stoppedByRefusal = write == ARTIST_REFUSED && active(change.before) && states.set.after == HOST_STOPPED;
    return change;
}

ArtistWrite writeKeepingPlayback(const TrackFile& file, const textUnit* value, int listIndex, Playback* playback) {
    bool guarded = playback && playback->filePlays;
    // Off whatever plays: a file taken for stopped may play after all (past the host's
    // 32-bit positions it reads as stopped).
    allowPlayTracking(false);
    WritePlayStates states;
    states.set.seen = states.commit.seen = false;
    bool watched = guarded && requestsWatched();
    LRESULT beforeAsked = guarded && !watched ? askHost(0, IPC_ISPLAYING) : HOST_STOPPED;
    ArtistWrite write = writeArtist(file, value, listIndex, watched ? &states : 0);
    LRESULT afterAsked = guarded && !watched ? askHost(0, IPC_ISPLAYING) : HOST_STOPPED;
    OurChange change = ourChange(states, beforeAsked, afterAsked, write);
    if (guarded && change.pauseDropped) {
        pressHostButton(HOST_BUTTON_PAUSE);
        playback->pauseRestored = true;
    } else if (guarded && change.stoppedByRefusal) {
        // Where it stood: the position read last, moved on by the time since if it played.
        long long at = playback->position;
        if (change.before == HOST_PLAYING) at += GetTickCount() - playback->positionReadAt;
        // An input plug-in may turn tracking on again after its own stop.
        allowPlayTracking(false);
        pressHostButton(HOST_BUTTON_PLAY);
        askHost(static_cast<WPARAM>(at < INT_MAX ? at : INT_MAX), IPC_JUMPTOTIME);
        if (change.before == HOST_PAUSED) pressHostButton(HOST_BUTTON_PAUSE);
        playback->stoppedByRefusal = true;
    }
    allowPlayTracking(true);
    return write;
}

void refreshPlaylistTitles(const TrackFile& file) {
    if (hostVersion() < HOST_VERSION_REFRESH_PLAYLIST) return;
    // A single-byte name comes only from a host before 5.13, which takes no name here.
    bool byName = file.wide && hostVersion() >= HOST_VERSION_REFRESH_BY_NAME;
    askHost(byName ? reinterpret_cast<WPARAM>(file.name) : 0, IPC_REFRESHPLCACHE);
}
