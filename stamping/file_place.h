// Where a stamped file lives: the volume it is on, and whether it is there now. A drive
// letter is not a volume (another stick may be E: today), so an entry keeps the volume's
// serial number. Every call here touches the file system, never the host.
#ifndef VORLU_STAMPING_FILE_PLACE_H
#define VORLU_STAMPING_FILE_PLACE_H

#include "trackinfo/track_metadata.h"

// On: any. Takes: none. The serial number of the volume that holds file, as the system
// names its root ("X:\", "\\server\share\", or a folder a volume is mounted in); false
// when no volume is there.
bool volumeSerialOf(const TrackFile& file, unsigned int* serial);

// On: worker or repair. Takes: none. Has the system write file's cached bytes to its disk,
// through a handle of its own that asks only for what a flush needs and shares everything,
// so the player's own handles go on undisturbed; false where the file cannot be opened so
// (the player holds it without sharing writes, it is read-only) or the flush fails.
bool flushToDisk(const TrackFile& file);

// What keeps a file from being written, as the file system shows it.
enum WriteBlock {
    WRITE_NOT_BLOCKED,  // it can be opened for writing now
    WRITE_READ_ONLY,    // read-only, or writing it is denied
    WRITE_HELD,         // another program holds it without sharing writes
    WRITE_NOT_FOUND     // no such file, or its name is no path (a stream)
};

// On: worker, holding nothing. Takes: none. What keeps file from being written now, by
// its attributes and a write handle of its own that shares everything, closed at once.
WriteBlock writeBlockOf(const TrackFile& file);

// On: repair. Takes: none. Whether the volume at file's root is the one of serial, where
// it is known: another stick under the same letter holds other files, whatever their names.
bool onItsVolume(const TrackFile& file, bool volumeKnown, unsigned int serial);

enum Whereabouts {
    FILE_THERE,
    FILE_GONE,         // deleted or moved: its drive or share is there, the file is not
    FILE_OUT_OF_REACH  // its drive or share is missing, or the path tells no root
};

// On: repair. Takes: none. Where file is now.
Whereabouts whereabouts(const TrackFile& file);

#endif
