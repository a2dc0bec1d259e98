// What the plug-in asks of the player's playback and playlist beside the tag itself: play
// tracking, and the playlist's titles read again once an artist of ours is written back.
// Threads and locks: stamping/README.md.
#ifndef VORLU_TRACKINFO_PLAYBACK_H
#define VORLU_TRACKINFO_PLAYBACK_H

#include "trackinfo/track_metadata.h"

// On: a step. Takes: none. Asks: IPC_ALLOW_PLAYTRACKING, on hosts from 5.0 (else nothing).
// Turns play tracking on or off: off while a write of ours may restart the playing file,
// or a press of ours start it again, so that no such start counts as a play.
void allowPlayTracking(bool allow);

// On: a step. Takes: none. Asks: IPC_REFRESHPLCACHE, on hosts from 2.2 (else nothing). Has
// the playlist read again the titles of the entries naming file (every entry before 5.3,
// or where the file is not named in UTF-16), which hold the title they read last: a stamp.
void refreshPlaylistTitles(const TrackFile& file);

#endif
