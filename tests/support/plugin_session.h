// A native host for the plug-in: a main window answering requests from the player
// model, a playlist editor window, both with recording procedures of their own, and
// playback driven on the virtual clock. One session at a time per process.
#ifndef VORLU_TESTS_PLUGIN_SESSION_H
#define VORLU_TESTS_PLUGIN_SESSION_H

#include "player_model.h"
#include "stamping/journal.h"
#include "trackinfo/track_metadata.h"
#include "winshim.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vorlu_test {

struct Message {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int threadsStartedBefore;  // threads the plug-in had started when the message arrived
};

// What every recording procedure answers for a message that is not a request.
LRESULT recordedResult(UINT message, WPARAM wParam, LPARAM lParam);

// A title update's notice (bit 30) as the host sent it, and what played then.
struct TitleUpdate {
    long long time;
    std::string file;  // empty: no entry
    standin::PlayState state;
    int position;            // ms
    int lengthSeconds;       // the entry's
    long long journalBytes;  // the size of the journal on disk then
    int workersStarted = 0;  // threads the plug-in started while it handled the notice
};

struct SessionOptions {
    bool init = true;               // load the plug-in: fill the descriptor and call init
    bool hasPlaylistEditor = true;  // whether IPC_GETWND answers a window
    int realTimeDivisor = 0;        // 0: virtual clock
    // The host's version: one with the wide requests unless VORLU_OLD_HOST=1 is set, so
    // that every test runs on both paths (CTest runs the tests both ways).
    std::optional<LRESULT> hostVersion;
    // The folder the host names for plug-ins' files, where the journal goes: a new empty
    // one of the session's own unless given.
    std::optional<std::string> journalFolder;
    // What the files hold when the session begins, where it is not their playlist entry's artist.
    standin::FileMap<std::string> storedArtists;
    // Files whose writes are still in the system's cache, as after a run that ended: what
    // their disks hold, then each value cached (PlayerModel::setNotYetOnDisk).
    standin::FileMap<std::vector<std::string>> notYetOnDisk;
    // This process as the plug-in sees it.
    DWORD processId = 4242;
    unsigned long long processCreation = 1;
    // Let the repair that init starts finish before the test begins.
    bool settleRepair = true;
    // How long after each start, and each write of the playing file, the host's title
    // update sends the notice with bit 30: [min, max] ms, drawn with seed. The real host
    // takes 100 to 500 ms; 0 keeps the cadence of the unit tests' exact timings.
    long long titleDelayMin = 0, titleDelayMax = 0;
    unsigned titleDelaySeed = 1;
};

// A file's bytes, empty when there is none; the valid entries of a journal's bytes, as the
// plug-in reads them.
std::string bytesOf(const std::string& path);
std::vector<JournalEntry> entriesOf(const std::string& bytes);
// A version 2 journal's bytes as version 1 would hold its entries: no flags, no volume serial.
std::string asVersion1(const std::string& journal);
// The bytes of the journal's entry of file (named as trackFileOf names it) with original.
int journalEntrySizeOf(const std::string& file, const std::string& original);
// Entries of player processId, of a file on a drive that is not there, fill the journal in
// folder to all but room bytes. Returns how many there are.
std::size_t fillJournal(const std::string& folder, DWORD processId, int room);

// A new empty folder under the temporary directory, named after name and this process.
std::string emptyFolder(const std::string& name);

// Creates the file named (as the player names it) where its drive is there: the player's files are on disk
// before anything writes them.
void placeOnDisk(const std::string& name);

// Whether this run plays the host without the wide requests (VORLU_OLD_HOST=1).
bool oldHostRun();

// A file as the plug-in names it on this run's path.
TrackFile trackFileOf(const std::string& name);

// The file and the value of a set request (wide or single-byte) as the host receives it,
// in UTF-8; single-byte texts are ASCII in the tests that look.
std::string fileOfSet(WPARAM wParam, LPARAM code);
std::string valueOfSet(WPARAM wParam, LPARAM code);

// For PlayerModel::acceptSets: refuses the first `refusals` sets of the value original
// (a file's write-back, as a file locked for a moment), accepts every other set.
std::function<bool(const std::string&, const std::string&)> refuseWriteBacks(std::string original, int refusals);

class PluginSession {
public:
    explicit PluginSession(std::vector<standin::Entry> playlist, SessionOptions options = {});
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    standin::PlayerModel model;
    HWND mainWindow;
    HWND playlistEditor;
    WNDPROC hostMainProcedure;
    WNDPROC hostEditorProcedure;

    // Answers that replace the model's for one request code, for hosts that misbehave.
    std::function<std::optional<LRESULT>(WPARAM wParam, LPARAM code)> overrideAnswer;
    // How long the host's input plug-in takes to open a file for a set before it answers,
    // on the windows' thread: playback moves on meanwhile.
    DWORD setTakesMs = 0;

    std::vector<Message> mainMessages() const;
    std::vector<TitleUpdate> titleUpdates() const;
    std::vector<Message> editorMessages() const;

    // Playback that notifies the playlist editor as the host does: at a start and a stop
    // without bit 30, and with bit 30 from the title update a moment after a start. Each
    // is done as the windows' thread (between two messages, never inside one), and is
    // followed by the status callbacks it posted, as the host's message loop delivers them.
    void play();
    void pause();
    void resume();
    void stop();
    void seek(long long ms);
    void next();
    void previous();
    void jump(int index);
    // Replaces the playlist and stops, as a host does when a new list is loaded.
    void replacePlaylist(std::vector<standin::Entry> playlist);
    // Inserts an entry while playing: the playing entry plays on at its new index.
    void insertEntry(int at, standin::Entry entry);
    // The title update's notice (bit 30) for the current entry.
    void sendTrackChangeNotice();

    // The host's exit, in its order: WM_CLOSE asks IPC_HOOK_OKTOQUIT of its own main
    // window, playback stops, the main window is destroyed (on WM_DESTROY the playlist is
    // freed and the input plug-ins shut down: from then on every request answers 0), and
    // only then are the plug-in's quit called and the library let go. False when the host
    // was told not to quit.
    bool exit();
    // The end of a Windows session (WM_ENDSESSION, wParam TRUE): playback stops, the
    // playlist is freed, quit is called with the window still there, then the input
    // plug-ins shut down.
    void logOff();
    // A log-off that another program cancelled: WM_ENDSESSION with wParam FALSE, after
    // which the session and the host go on.
    void cancelledLogOff();
    // The stored artists as they stood when the host called quit (exit and logOff).
    standin::FileMap<std::string> storedWhenQuitCalled;

    // Advances the virtual clock, moving on at the end of each track.
    void runUntil(long long time);
    void runFor(long long duration);
    // Stops playback and lets every worker end; false if one still runs after ten minutes of the
    // clock (on the real clock, shortened by its divisor, with room for the journal's disk writes).
    bool finish();

    // The committed values of one file's ARTIST field, in order, starting with the original.
    std::vector<std::string> artistHistory(const std::string& file) const;
    // What the file must end as: the last edit by hand, else its original.
    std::string expectedEnd(const std::string& file) const;
    std::vector<standin::Commit> commitsOf(const std::string& file) const;
    std::vector<standin::Request> requests(int code) const;
    // The codes of the path the host has: name, read and set requests, wide or single-byte.
    int nameCode() const;
    int readCode() const;
    int setCode() const;
    std::vector<standin::Request> sets() const { return requests(setCode()); }
    // Whether every run of play-state changes the plug-in made (by its writes, the buttons
    // it pressed, its jumps) ended within 100 ms in the state it began in, before any
    // action of the listener's and before until (clock time; -1: the end of the log).
    bool everyPlaybackChangeOfOursIsABlip(std::string* why, long long until = -1) const;
    // The first accepted set whose write (295) did not follow before another set, as the
    // host's one pending edit needs; empty when every set was written in one step.
    std::string setWithoutItsWrite() const;
    // What the plug-in must keep in every session, checked by the harness itself: every
    // set of the plug-in's comes with its file's journal entry on disk, and (on the
    // virtual clock, where no action of the driver's comes between a worker's reads and
    // its set) every stamp shows the position and length the host gave while that file
    // played, only of the current entry's file while it plays or stands paused, and a
    // pause mark only while it stands paused. The first break, or empty. Every session's
    // end fails its test on one.
    std::string brokenInvariant() const;
    std::string journalFolder;
    long long journalSize() const;  // bytes, 0 when there is none

private:
    // Runs action as the windows' thread, then delivers what it posted.
    template <typename Action>
    void asWindowsThread(Action action);
    // The posted status callbacks, through the main window's procedures as installed now.
    void deliverPosted();
    std::mutex postedMutex;
    std::vector<WPARAM> posted;
    void sendNotice(bool titleUpdate);
    void started();  // a start's notices: at once without bit 30, the title update's when due
    void quitPlugin();
    bool ownFolder;
    std::string ownDrive;  // the folder drive C: maps to, where no test mapped it first
    HANDLE driverWake;     // set when the host schedules a notice from within a request
    static LRESULT CALLBACK mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK editorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Whether a valid entry of the journals on disk (in the host's folder and the library's) matches.
    bool anyJournalEntryOnDisk(const std::function<bool(const JournalEntry&)>& matches) const;
    std::string fileOfEntry(const JournalEntry& entry) const;  // the stored file it names
    std::string originalOfEntry(const JournalEntry& entry) const;
    // A set of the plug-in's (not the driver's own) whose file no journal entry on disk names.
    void checkJournalAtSet(WPARAM wParam, LPARAM code);
    // A file that a power cut now, or later with no more writes, could leave holding what is
    // neither an original nor an edit, with no journal entry on disk naming it.
    void checkPowerCut();
    // Besides its first original and its edits, what a file may hold with no entry: the
    // originals of the entries naming it at the start, else what it held then.
    standin::FileMap<std::set<std::string>> originalsAtStart;
    int driverThread = 0;
    bool virtualClock;
    std::vector<std::string> setsWithoutEntry;
    standin::FileMap<std::string> originals;
    mutable std::mutex messagesMutex;
    std::vector<Message> mainLog;
    std::vector<Message> editorLog;
    std::vector<TitleUpdate> titleLog;
};

std::vector<standin::Entry> playlistOf(std::initializer_list<standin::Entry> entries);

}  // namespace vorlu_test

#endif
