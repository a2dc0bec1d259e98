// The stand-in player's model: a playlist, playback on a clock, stored tags and the
// answers to the host requests the plug-in sends, as harsh as the real host:
// - one pending edit: a set for another file drops the one before; 295 writes it and
//   answers 1, or 0 when the write failed or nothing was pending;
// - a write of the playing file stops it and restarts it at the same position (notices
//   without bit 30); until the title update a moment later, the position reads 0 and the
//   length -1;
// - the track-change notice with bit 30 comes from the title update, a moment after each
//   start (titleNoticeDue); the notices at start and stop carry no bit 30;
// - each kind of file as the host's input plug-in for it writes the playing file (FileKind);
// - per-file faults: reads that answer "" with success, sets that stop the playing file
//   and, when refused, leave it stopped, read-only files; and writes that fail after an
//   accepted set;
// - after shutDown (the input plug-ins gone) every request answers 0;
// - the playlist holds each entry's title as it last read it from the file: at the
//   entry's add, for the current entry at each start (a write's restart too) and title
//   update, and at its next paint once 247 marked it; its writer saves the held titles;
// - play tracking (3007): every start while it is on counts as a play of the file; the
//   mp3, flac and m4a input plug-ins turn it off around their own stop and restart and on
//   again after, the wma one presses stop and play as anyone would.
// The Win32 stand-in player and the native tests both drive it; they own the windows and
// send the notices it asks for.
//
// Thread use: answer() may be called from any thread (workers' requests); everything
// else from the thread that drives playback. One mutex guards all of it; the notice and
// commit callbacks are called outside it.
#ifndef VORLU_STANDIN_PLAYER_MODEL_H
#define VORLU_STANDIN_PLAYER_MODEL_H

#include "host/host_api.h"
#include "text_encoding.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace standin {

struct Entry {
    std::string file;
    std::string artist;
    int lengthSeconds;
    // The player's own, from the entry's add: the artist as the title last read it, when
    // (in writes of the host), and whether 247 marked it to be read again.
    std::string heldArtist = {};
    long long titleReadAfterWrites = 0;
    bool titleMarked = false;
};

// The title an entry shows and a saved playlist holds: "artist - name of the file".
std::string titleOf(const Entry& entry);

// Names that differ only in the case of their letters are one file, as on Windows (Ёлка.mp3
// and ЁЛКА.MP3); a file keeps the spelling it was first known by.
struct SameFileLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool sameFile(const std::string& a, const std::string& b);
template <typename Value>
using FileMap = std::map<std::string, Value, SameFileLess>;

// Whether value is base followed by one suffix a plug-in stamps: " (m:ss/m:ss)" or " (paused)".
bool isStampOf(const std::string& value, const std::string& base);

// Who started playback: the listener (the script, the driver of a test, the end of a
// track), the host's input plug-in restarting the file it writes, or a plug-in's button.
enum class Starter { Listener, Restart, Plugin };

struct PlayStart {
    long long time;
    std::string file;
    Starter by;
    bool counted;  // play tracking was on: the plug-ins heard of a play, the library counted it
};
std::string describe(const PlayStart& start);

enum class PlayState { Stopped, Playing, Paused };

// The kinds of file the host's input plug-ins serve, told by the name's extension (any
// other is served as mp3), and what a write of the one that plays does to its playback:
// - Mp3, Flac: the write stops it, writes, starts it again where it stood, paused again if
//   it was; for flac the title update's notice comes from inside the write, while the
//   position reads -1. A refused set stops nothing.
// - M4a: the set stops it; the write starts it again where it stood, paused again if it
//   was; a refused set leaves it stopped.
// - Wma (also wmv, asf): as m4a, but the write starts it again playing, paused or not.
// - Ogg: written in place, playback untouched.
// - Wav: no tag writer: every set answers 0, playback untouched.
// - Stream ("http://", "https://"): no end, no tag writer; a read answers 0 unless it
//   is the stream that plays.
enum class FileKind { Mp3, Flac, M4a, Wma, Ogg, Wav, Stream };
FileKind kindOf(const std::string& file);

// What can go wrong with one file, as the host's input plug-ins fail.
struct FileFaults {
    bool emptyReads = false;              // a read answers "" with success (the file could not be opened)
    bool stopsOnSet = false;              // served as m4a whatever its kind
    bool readOnly = false;                // every set refused (a read-only file, one another program holds)
    bool writesLandButFail = false;       // a write changes the file yet answers 0 (it failed after writing)
    bool fillsReadsUnterminated = false;  // a value that does not fit fills the whole buffer, with no terminator
};

// Host versions as IPC_GETVERSION answers them: one with the wide requests, and the last
// without, which answers 1 to them as to every request it does not know.
const LRESULT modernHostVersion = 0x5066;
const LRESULT oldHostVersion = 0x5012;

struct Request {
    long long time;
    int code;
    long long wParam;    // the index for 211, 214 and 295, otherwise what the code says
    std::string file;    // for the metadata requests, in UTF-8 whichever path they took; for 105, the playing file
    std::string value;   // the value set or read, in UTF-8
    long long capacity;  // retlen of a read
    std::string sender;  // what the sender tagger said, e.g. which thread sent it
    long long answer;
    // Playback stood still when the request came: paused, or playing an entry without a
    // length, whose position stays 0.
    bool standingStill = false;
    PlayState state = PlayState::Stopped;  // when the request came
    std::string current;                   // the current entry's file then; empty: none
    long long position = -1;               // ms, where playback stood then; -1: stopped
};

struct Commit {
    long long time;
    std::string file;
    std::string artist;
    bool byHand = false;  // someone edited the field: a tag editor, the player's own dialog
};

// A change of the play state, and whether the plug-in made it: by a request (a set or
// write of the playing file, a jump) or a button it pressed.
struct PlayStateChange {
    long long time;
    PlayState state;
    bool byPlugin;
    bool listenerAction = false;                 // no change: an action of the listener's, and the state it left
    std::string current = {};                    // the current entry's file then; empty: none
    long long position = -1;                     // an action's: where playback stands after it, ms
    PlayState stateBefore = PlayState::Stopped;  // an action's: the state and current file it found
    std::string currentBefore = {};
};

// The code under which an edit by hand stands in the request log, among the requests.
const int EDIT_BY_HAND = -1;

class PlayerModel {
public:
    using Clock = std::function<long long()>;  // player time in ms

    explicit PlayerModel(Clock clock);

    // Replaces the playlist and stops. A file not yet in the tag store gets its entry's artist.
    void setPlaylist(std::vector<Entry> entries);
    // The host's exit: the playlist freed (nothing plays, no entry), then the input
    // plug-ins shut down (every request answers 0).
    void freePlaylist();
    void shutDown();
    void setPlaylistEditor(HWND window);

    // Playback. Each returns true when an entry began to play, so the caller sends the
    // playlist editor the track-change notice.
    bool play();  // from stop: the current entry from 0; from pause: resumes
    void pause();
    void resume();
    void stop();
    void seek(long long ms);
    // A button of the player's (HOST_BUTTON_PLAY, _PAUSE, _STOP) as WM_COMMAND brings it
    // from the plug-in, or the listener's own press; true when an entry began to play.
    // Play while playing starts the entry from 0 again.
    bool command(WPARAM id, Starter by = Starter::Plugin);
    bool next();
    bool previous();
    bool jump(int index);
    // The title update: the current entry's title read again.
    void titleUpdate();
    // A tick of the display timer, which runs only while something plays: a title update
    // that 243 asked for.
    void displayTimerTick();
    // The titles of entries [first, first + count) as a paint shows them: each marked one
    // read again first.
    std::vector<std::string> paintTitles(std::size_t first, std::size_t count);
    // The playlist as its writer saves it, extended M3U with the held titles, in UTF-8.
    std::string savedPlaylist() const;
    // The entries whose title will not show their file as it is now: read before its last
    // write by the host and not marked to be read again.
    std::vector<std::string> staleTitles() const;
    // The first set of a plug-in's that went against playback as the request found it: a
    // stamp of a file that was not the current entry's or not playing or paused, a pause
    // mark of one not paused. A stamp is the file's artist (as first known, or as last
    // edited by hand) followed by " (m:ss/m:ss)" or " (paused)". Empty when none did.
    std::string firstWriteAgainstPlayback() const;
    // The first run of play-state changes a plug-in made (by its writes, the buttons it
    // pressed, its jumps) that did not end in the state it began in within blipMs, or
    // that an action of the listener's came inside; before until (-1: the end of the log).
    // Empty when every one was a blip.
    std::string firstChangeOfPluginsNotUndone(long long blipMs, long long until = -1) const;
    std::vector<PlayStart> starts() const;
    // Every stop of the playing file that a refused set made (its input plug-in stops it at
    // the set): when, and which file.
    std::vector<std::pair<long long, std::string>> refusedSetStops() const;
    // The starts whose count differs from the listener's: one of the host's or a plug-in's
    // that counted as a play, or one of the listener's that did not.
    std::vector<std::string> miscountedPlays() const;
    bool playTracking() const;
    // Playlist edits while playing: the playing entry keeps playing, at its new index.
    void insertEntry(int at, Entry entry);
    void removeEntry(int at);  // not the playing entry
    // Repeat one: at its end the playing entry starts again.
    void setRepeatOne(bool repeat);

    // At the end of the playing track: the next entry plays (or the same with repeat one),
    // or playback stops after the last.
    bool advanceIfEnded();
    long long endTime() const;  // clock time at which the playing track ends; -1 when not playing

    // The title update's notice (bit 30), due a delay after each start and each restart.
    // The delay is drawn from [minMs, maxMs] of clock time (0 and 0 unless set).
    void setTitleNoticeDelay(long long minMs, long long maxMs, unsigned seed);
    long long titleNoticeDue() const;  // clock time; -1 when none is due
    // True, once, when the title notice is due by now: send it.
    bool takeTitleNotice();
    // Called, outside the lock, with the lParam of every notice the host sends its
    // playlist editor from within a request (a write's stop and restart).
    void onNotice(std::function<void(LPARAM)> callback);
    // Called, under the lock, with the wParam of every status callback the host posts to its
    // main window (hosts from 5.0): at every start, stop, pause and resume, its restarts at a
    // write included, and from 5.65 the pause and resume callbacks too. It must only post.
    void onStatus(std::function<void(WPARAM)> callback);

    int position() const;
    int currentIndex() const;
    PlayState state() const;
    std::vector<PlayStateChange> playStates() const;  // every change, in order
    // The changes and, among them in order, every action of the listener's (play, pause, seek,
    // resume, stop, next, previous, jump) with the state it left, changed or not.
    std::vector<PlayStateChange> playHistory() const;
    const std::vector<Entry>& playlist() const { return entries; }

    // Failure injection: a set or read is refused, or an accepted set fails at its write
    // (295 answers 0), when the predicate says no.
    void acceptSets(std::function<bool(const std::string& file, const std::string& value)> accept);
    void acceptReads(std::function<bool(const std::string& file)> accept);
    void acceptWrites(std::function<bool(const std::string& file)> accept);
    void setFaults(const std::string& file, FileFaults faults);

    // Which host to be: its version, and the code page of its single-byte answers
    // (Latin-1 unless set). Stored names and artists are UTF-8 either way.
    void setHostVersion(LRESULT version);
    void setCodePage(CodePage codePage);
    // The folder IPC_GETINIDIRECTORY (through the code page) and IPC_GETINIDIRECTORYW
    // (hosts from 5.58) name, as a Windows program sees it, in UTF-8.
    void setSettingsFolder(const std::string& folder);
    // Where the files are on disk, so that a plug-in can open and flush them: a name with a
    // drive letter reaches a plug-in as the same path under folder (C:\Music\a.mp3 as
    // folder\C\Music\a.mp3), and what it sends back names the file again; the playlist, the
    // tag store and the logs keep the names as given. Other names (streams) go as they are.
    void setMusicFolder(const std::string& folder);
    // The name a plug-in gets for file, in UTF-8.
    std::string diskName(const std::string& file) const;
    bool hasWideRequests() const;

    // The host's answer to a request sent to its main window. Like the host, it answers
    // 1 to a request it does not know, and both name requests with one buffer each that
    // the next such request overwrites.
    LRESULT answer(WPARAM wParam, LPARAM code);

    // The system's cache, as a power cut finds it: what the player writes reaches the disk
    // once someone flushes the file, or the system's own writer has had systemWriterDelayMs;
    // an edit by hand reaches it at once (the editor flushes).
    static constexpr long long systemWriterDelayMs = 8000;
    void markOnDisk(const std::string& file);
    // A file whose writes the system's cache holds, as a new run of the player finds it:
    // values.front() on its disk, each later value cached since now, the last its artist.
    void setNotYetOnDisk(const std::string& file, const std::vector<std::string>& values);
    // The power goes: every file holds what reached its disk.
    void powerCut();
    // What each file with writes not yet on its disk may hold after a power cut, now or
    // later with no more writes: what its disk holds now, then each write still cached.
    FileMap<std::vector<std::string>> valuesAPowerCutMayLeave() const;
    // The stored file a single-byte name stands for, as a set of that name reaches; a
    // single-byte text in UTF-8.
    std::string fileOfName(const std::string& singleByteName) const;
    std::string utf8OfSingleByte(const std::string& text) const;

    // Where the files' tags live on disk, shared with any other player on the same files:
    // read again before every read of a file and every title read, written at every write
    // (another player's writes are seen at once). Without one, the tags live here only.
    struct TagStore {
        std::function<std::optional<std::string>(const std::string& file)> read;
        std::function<void(const std::string& file, const std::string& artist)> write;
    };
    void setTagStore(TagStore store);

    std::string storedArtist(const std::string& file) const;
    void setStoredArtist(const std::string& file, const std::string& artist);
    // Someone edits the field while the player runs: stored at once, and logged among the
    // requests (EDIT_BY_HAND) and the commits (byHand).
    void editArtist(const std::string& file, const std::string& artist);
    FileMap<std::string> storedArtists() const;
    std::vector<Request> requests() const;
    std::size_t requestCount() const;
    std::vector<Commit> commits() const;
    // Called, outside the lock, for every commit that changed a stored artist.
    void onCommit(std::function<void(const Commit&)> callback);
    // Names the sender of each request as it is answered.
    void tagSenders(std::function<std::string()> tagger);

private:
    // Notes a listener's action, made under the lock, as it ends.
    struct ListenerAction {
        PlayerModel& model;
        bool listeners = true;  // false: none, a plug-in acts
        PlayState before = model.playState;
        std::string currentBefore = model.currentLocked();
        ~ListenerAction() {
            if (listeners)
                model.stateLog.push_back(PlayStateChange{model.clock(), model.playState, false, true,
                                                         model.currentLocked(), model.positionLocked(), before,
                                                         currentBefore});
        }
    };
    int positionLocked() const;
    std::string currentLocked() const;  // the current entry's file; empty: none
    // The stored file a single-byte name stands for: only a name that the code page
    // represents whole names a file.
    std::string fileOfSingleByteName(const char* name) const;
    // What file may hold after a power cut: its disk now, by the system's writer, then *cached.
    std::string onDiskNowLocked(const std::string& file, std::vector<std::string>* cachedValues) const;
    bool hasWideRequestsLocked() const;
    std::string singleByte(const std::string& utf8) const;
    bool startLocked(int index, Starter by);
    // The play button from stopped: the current entry, or with tracking off the file that played last.
    bool playFromStopLocked(Starter by);
    void readTitleLocked(Entry& entry);
    void restartedLocked(FileKind kind);
    void scheduleTitleNoticeLocked();
    bool playingFileLocked(const std::string& file) const;
    long long endLocked() const;  // the playing entry's end in ms; -1: a stream, which has none
    void changeStateLocked(PlayState state);
    void postStatusLocked(WPARAM what);
    void pauseLocked();
    void resumeLocked();
    void stopLocked();
    // A set the host's input plug-in takes: the stop it may cause, then the one pending edit.
    bool setLocked(const std::string& file, const std::string& value, bool accepted, std::vector<LPARAM>& notices);
    LRESULT writeLocked(std::vector<Commit>& changed, std::vector<LPARAM>& notices);

    Clock clock;
    mutable std::mutex mutex;
    std::vector<Entry> entries;
    HWND playlistEditor = nullptr;
    int index = 0;
    bool repeatOne = false;
    PlayState playState = PlayState::Stopped;
    long long positionBase = 0;  // position when playback last started or stood still
    long long startedAt = 0;     // clock time of that moment
    FileMap<std::string> stored;
    TagStore tagStore;
    // The stored artist of file as the tag store holds it now.
    void refreshLocked(const std::string& file);
    FileMap<std::string> artistBases;                                // as first known, or as last edited by hand
    FileMap<std::string> onDisk;                                     // each file's artist as its disk holds it
    FileMap<std::vector<std::pair<long long, std::string>>> cached;  // writes not yet on disk, with their times
    LRESULT hostVersion = modernHostVersion;
    std::string settingsFolder;  // UTF-8
    std::string settingsFolderBytes;
    std::u16string settingsFolderUnits;
    std::string musicFolder;  // UTF-8, without a trailing backslash; empty: names as given
    std::string diskNameLocked(const std::string& file) const;
    // The file a name a plug-in sent stands for.
    std::string fileOfDiskNameLocked(const std::string& name) const;
    CodePage codePage = latin1CodePage();
    std::vector<char> nameBuffer = std::vector<char>(32768);
    std::vector<char16_t> wideNameBuffer = std::vector<char16_t>(32768);
    struct PendingEdit {
        std::string file, value;
    };
    std::optional<PendingEdit> pending;
    bool stoppedForSet = false;     // a set stopped the playing file; its write restarts it
    bool titleFromWrite = false;    // a flac write sends its title update: the position reads -1 meanwhile
    long long stoppedAt = 0;        // the position it stood at
    bool wasPaused = false;         // and whether it was paused
    long long restartSettles = -1;  // until then a restarted file reads position 0, length -1
    long long titleNoticeAt = -1;
    long long titleDelayMin = 0, titleDelayMax = 0;
    std::mt19937 titleDelays;
    bool inputPluginsShutDown = false;
    FileMap<FileFaults> faults;
    std::function<bool(const std::string&, const std::string&)> setAccepted;
    std::function<bool(const std::string&)> readAccepted;
    std::function<bool(const std::string&)> writeAccepted;
    std::function<void(const Commit&)> commitCallback;
    std::function<void(LPARAM)> noticeCallback;
    std::function<void(WPARAM)> statusCallback;
    std::function<std::string()> senderTagger;
    std::vector<Request> requestLog;
    std::vector<PlayStateChange> stateLog;  // the play history
    bool servingPlugin = false;             // within an answer or a button: changes are the plug-in's
    bool tracking = true;
    std::string lastPlayedFile;
    std::vector<PlayStart> startLog;
    std::vector<std::pair<long long, std::string>> refusedStopLog;
    long long hostWrites = 0;        // writes by the host that changed a stored artist
    FileMap<long long> lastWriteOf;  // file -> hostWrites after its last one
    bool titleUpdateAsked = false;   // 243, for the display timer's next tick
    std::vector<Commit> commitLog;
};

}  // namespace standin

#endif
