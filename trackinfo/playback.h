// What the plug-in asks of the player's playback and playlist beside the tag itself: a
// write of the playing file that keeps the play state as the listener left it, play
// tracking off around it, and the playlist's titles read again once an artist of ours is
// written back. Threads and locks: stamping/README.md.
#ifndef VORLU_TRACKINFO_PLAYBACK_H
#define VORLU_TRACKINFO_PLAYBACK_H

#include "trackinfo/track_metadata.h"

// What a writer knows of its file's playback when it writes, and what the write did to it.
struct Playback {
    bool filePlays;  // its file is the one playing, or paused, as far as the last look told
    int position;    // ms, as read at positionReadAt (GetTickCount): to start it again there
    DWORD positionReadAt;
    bool pauseRestored;     // set by a write that dropped the listener's pause and paused again
    bool stoppedByRefusal;  // set by a refused set that stopped playback, started again since
};

// On: worker or repair, holding claims. Takes: none. Asks: play tracking off, a set and its
// commit, play tracking on; where playback says the file plays, the play state around the
// set and the commit (read by the main window's procedure as the host handles each), and
// the buttons and jump that put back what this write changed. The host's input plug-in
// for some kinds of file restarts the playing file at a write, playing even where it was
// paused (wma), or stops it at the set and leaves it stopped when the set is refused (m4a,
// wma). Only a change made within the host's handling of our own set or commit counts:
// one made between them, or after, is the listener's and stays.
ArtistWrite writeKeepingPlayback(const TrackFile& file, const textUnit* value, int listIndex, Playback* playback);

// On: any. Takes: none. Asks: IPC_REFRESHPLCACHE, on hosts from 2.2 (else nothing). Has the
// playlist read again the titles of the entries naming file (every entry before 5.3, or
// where the file is not named in UTF-16), which hold the title they read last: a stamp.
void refreshPlaylistTitles(const TrackFile& file);

#endif
