// Which worker stamps which file, and what this run remembers of each file. At most one
// worker writes a file's ARTIST field at a time, and the value it writes back is the
// artist as it was before any worker stamped the file: a worker started for a file that
// another worker still stamps (the player moved away and back within one poll) takes the
// file over, with the saved original, and the older worker writes nothing more. The claims
// and the marks are read and changed on the windows' thread only, in steps (host/requests.h)
// or by the watcher, which keeps them apart; no disk work is done in a step: a file's
// journal entry is written before its claim is published and dropped after its
// write-back. Threads and locks: stamping/README.md.
#ifndef VORLU_STAMPING_FILE_CLAIMS_H
#define VORLU_STAMPING_FILE_CLAIMS_H

#include "trackinfo/time_text.h"
#include "trackinfo/track_metadata.h"

const int SAVED_ARTIST_SIZE = WIDE_TEXT_SIZE;  // in text units; the single-byte path reads fewer
// A field as read before a write: an original with its longest stamp fits whole.
const int FIELD_READ_SIZE = SAVED_ARTIST_SIZE + TIME_TEXT_SIZE;

// On: any. Takes: none. Units a read of file's field holds, its terminator included: the
// single-byte read is the host's 256 bytes.
int fieldReadSize(const TrackFile& file);

// Why a file plays unstamped, where a listener might ask.
enum Unstamped {
    STAMPED,                          // claimed: it is stamped
    UNSTAMPED_QUIETLY,                // no name, refused earlier in this run, or no room: nothing to say again
    UNSTAMPED_UNREADABLE,             // its artist cannot be read, or reads empty (a file the host cannot open)
    UNSTAMPED_MAY_BE_CUT,             // its artist fills the read, or leaves no room for the longest stamp
    UNSTAMPED_QUESTION_MARK,          // a '?' on the single-byte path: a character the code page lacks
    UNSTAMPED_NAME_NOT_IN_CODE_PAGE,  // a '?' in a single-byte name: the player cannot name the file
    UNSTAMPED_UNPROVEN_STAMP,         // it ends like a stamp that no journal proves ours (another player's?)
    UNSTAMPED_NO_JOURNAL,             // the journal cannot record it now (no folder, full, held, later version)
    UNSTAMPED_SET_REFUSED,            // the host refused a set of it or failed to write it: no more in this run
    UNSTAMPED_READ_ONLY,              // the same, the file read-only or its writing denied
    UNSTAMPED_HELD,                   // the same, another program holding the file
    UNSTAMPED_KIND_NOT_WRITABLE,      // the same, though the file could be written: the host has no writer for its kind
    UNSTAMPED_STREAM                  // the host gives no length: a stream, with no tag of its own
};

struct FileClaim {
    int slot;            // -1: the file is not to be stamped
    unsigned int owner;  // this worker's ticket for the slot
    Unstamped why;       // for slot -1
};

// A claimed file as the steps that write it see it.
struct ClaimedFile {
    bool used;
    bool stamped;           // the host accepted a set of a stamp of ours that has not been undone
    bool edited;            // someone else changed the field since: nothing more is written
    unsigned int sequence;  // its journal entry, recorded before the claim was published
    unsigned int owner;
    TrackFile file;  // a file is known by its name on the path it is read and set through
    textUnit originalArtist[SAVED_ARTIST_SIZE];
};

// On: init, before any worker starts. Takes: none.
void initFileClaims();

// On: worker. Takes: steps, then, holding nothing, journal; then steps again. Asks: a
// read. Claims file for the calling worker and puts its original artist into savedArtist
// (SAVED_ARTIST_SIZE units): the original saved by a worker still stamping the file (the
// file is taken over), else the value read now, without a stamp-like ending where a
// journal entry holds the file with exactly the rest. A new claim's journal entry is on
// disk before the claim is published. Slot -1 (left alone), for the reason in why; also a
// file whose set the host refused or failed to write, or that a refused set stopped, in
// this run; and where *told, which the watcher sets between steps, holds in either step.
FileClaim claimFile(const TrackFile& file, textUnit* savedArtist, const bool* told);

// On: a step. Takes: none. The file claim holds; null once a newer worker took it over or
// it was let go.
ClaimedFile* claimedFile(const FileClaim& claim);
// On: a step. Takes: none. Whether any claim holds file.
bool fileClaimed(const TrackFile& file);
// On: a step. Takes: none. Lets go of the file claim holds, if it still holds it.
void letGo(const FileClaim& claim);
// On: worker. Takes: steps. letGo, as a step of its own: unless another worker took the file
// over or it was let go, its journal entry stays for the next start.
void releaseFile(const FileClaim& claim);

// What this run remembers of a file, whoever claims it.
enum FileMark {
    // The host refused a stamp of it, or failed to write it: on the real host a refused
    // set on the playing file can stop playback, so it is never stamped again.
    MARK_STAMP_REFUSED = 1,
    // A refused set of ours stopped it (the m4a and wma input plug-ins stop the file at the
    // set): no set of it while it plays, write-backs included, since each would stop it again.
    MARK_STOPPED_BY_REFUSAL = 2,
    // A write of ours started it playing while the listener had paused it (the wma input
    // plug-in restarts a file playing): no write of it while it is paused.
    MARK_UNPAUSED_BY_WRITE = 4
};

// Files whose marks a run keeps. Marks come from refusals and from paused wma files: a
// thousand is days of play.
const int MARKED_FILES = 1024;

// On: a step. Takes: none. The marks file has in this run (FileMark bits), and adding
// some. Once MARKED_FILES files have marks, every other file has every mark.
unsigned int marksOf(const TrackFile& file);
void markFile(const TrackFile& file, unsigned int marks);

#endif
