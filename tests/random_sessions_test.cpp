// Random player sessions on the virtual clock against the harsh host (one pending edit,
// the title update's notice late, the playing file restarted at each write, faults of its
// input plug-ins), each reproducible from its seed. After every session: each file's
// stored artist is its original, or the last edit someone made to it while it played, and
// was so already when the host's exit or log-off called quit; every value a file took
// was its original or that edit, one stamp of it or its pause mark, so nothing was
// written over an edit; every set was written before another set came; no worker wrote
// a file after another worker had begun writing it; no worker outlived quit; no playlist
// entry holds a title read before its file's last write (after a kill, once the next
// start has repaired). On the virtual clock also: only the listener's starts counted as
// plays, and play tracking is on at the end; every file that plays on for 3 s after a title update (or after
// another player let go of the journal's lock it held briefly) is stamped by then, unless the host cannot hand
// its name and artist over whole or refused it, or its artist ends as a stamp would; a pause
// mark comes only while playback stands still; a file whose stamp the host refused or
// failed to write gets no other stamp, nor a worker, in the run. Sessions replay files, repeat one
// entry, insert and remove entries above the playing one, and have log-offs cancelled.
//
// VORLU_SESSIONS sets how many (default 2000), VORLU_SEED the first seed (default: from
// the clock, printed). A failing session prints its seed and plan. VORLU_REAL_TIME_DIVISOR
// runs them on the real clock instead, sleeps shortened by that divisor, with threads
// running freely: for the race detector, not for reproduction.
#include "plugin/gen_vorlu.h"
#include "stamping/file_claims.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"
#include "text_encoding.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <new>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include <unistd.h>

using vorlu_test::historyIsSound;
using vorlu_test::PluginSession;

namespace {

enum class Refusal {
    None,
    AllSets,
    SetsForAMoment,
    ReadsOfOneFile,
    EmptyReadsOfOneFile,        // the host cannot open it, and answers "" with success
    WritesForAMoment,           // accepted sets whose writes fail
    SetsStopOneFileForAMoment,  // refused for a moment; a set on that file stops its playback
    ReadOnlyFile,               // every set of one file refused, from the start
    FilledReadsOfOneFile,       // its artist, about the read's size, fills the buffer unterminated
    WritesOfOneFileLandButFail  // each write of one file changes it and answers failure
};

// How the session ends: playback stops and the workers finish, or the host's quit comes
// early (a kinder host), or the host exits or logs off in its own order.
enum class Ending { Finish, Quit, Exit, LogOff };

struct Action {
    long long time;
    std::string kind;
    long long argument;
    std::vector<standin::Entry> playlist;  // for "replace"
};

struct Plan {
    unsigned long long seed;
    std::vector<standin::Entry> playlist;
    Refusal refusal;
    std::vector<std::pair<long long, long long>> refusalWindows;  // [from, to) in ms
    std::string faultyFile;
    std::vector<Action> actions;
    Ending ending;
    LRESULT hostVersion;         // on this run's path, at or near the versions the plug-in tells apart
    long long killAt = -1;       // the player dies then, and starts again on the same files
    int killAfterOperation = 0;  // or it dies right after this flush or move of the journal's
    // The first start after the kill finds C: (or the files' stick) as it was, another volume there, or none.
    enum class FirstStart { OwnVolume, AnotherVolume, Unplugged } firstStart = FirstStart::OwnVolume;
    bool version1Journal = false;  // the journal left by the kill as the version before wrote it
    int unreadableStarts = 0;      // starts that find the files there and unreadable, before the last
    // The journal begins nearly full of another player's entries: this many bytes more than
    // the first entry's file needs are left (-3: it begins without them).
    int journalSlack = -3;
    bool powerCut = false;  // the kill is the power going: what no disk holds yet is lost
    // The files' disk refuses flushes (a network share): a write-back's entry waits for the system's writer.
    bool flushesRefused = false;
    // Or the player quits this long after it began refusing every set (-1: it does not):
    // write-backs cut short by quit leave their stamps to the next start.
    int quitWhileRefusingFor = -1;
    int switchOneIn = 0;              // threads switch at one in this many lock releases and messages
    bool anotherPluginOnTop = false;  // another plug-in subclasses both windows after ours
    std::string editedFile;           // edited by hand between the two runs
    std::string deletedFile;          // deleted between the two runs, its drive still there
    bool titleAtOnce = false;         // the host's title update comes as playback starts, at position 0
    bool laterJournal = false;        // the journal is a later version's: never ours to write
    DWORD setTakes = 0;               // ms the host takes over a set, playback moving on
    bool onAStick = false;            // the files' folder is a stick mounted there: the first start's volume
    // At the last start the killed player's id names a newer process, created at a time that
    // differs from the killed one's in its low half (1) or its high half (2); 0: no process.
    int killedIdReused = 0;
    bool powerCutAfterRestart = false;  // the power goes once the next start's repair has run
    // The listener acts just before the plug-in's n-th message (a look or a write) reaches
    // the host's windows: a click its thread handles first.
    std::map<int, std::string> clicksBeforeMessages;

    std::string describe() const {
        std::ostringstream out;
        out << "seed " << seed << ", host version " << std::hex << hostVersion << std::dec << ", refusal "
            << static_cast<int>(refusal) << ", ending " << static_cast<int>(ending)
            << (killAt >= 0 ? ", killed at " + std::to_string(killAt) : "")
            << (killAfterOperation > 0 ? ", killed after file operation " + std::to_string(killAfterOperation) : "")
            << (powerCut ? ", by a power cut" : "") << (flushesRefused ? ", flushes of the files refused" : "")
            << (quitWhileRefusingFor >= 0
                    ? ", quit " + std::to_string(quitWhileRefusingFor) + " ms into refusing every set"
                    : "")
            << (switchOneIn > 0 ? ", threads switched at one in " + std::to_string(switchOneIn) : "")
            << (anotherPluginOnTop ? ", another plug-in on top" : "")
            << (editedFile.empty() ? "" : ", then " + editedFile + " edited")
            << (deletedFile.empty() ? "" : ", then " + deletedFile + " deleted")
            << (titleAtOnce ? ", title updates at once" : "") << (laterJournal ? ", a later version's journal" : "")
            << (setTakes > 0 ? ", sets taking " + std::to_string(setTakes) + " ms" : "")
            << (onAStick ? ", the files on a stick mounted in their folder" : "")
            << (killedIdReused > 0 ? ", the killed player's id reused" : "")
            << (powerCutAfterRestart ? ", the power cut after the next start's repair" : "")
            << (firstStart == FirstStart::AnotherVolume ? ", then a start with another volume as C:"
                : firstStart == FirstStart::Unplugged   ? ", then a start with C: unplugged"
                                                        : "")
            << (version1Journal ? ", its journal as version 1" : "")
            << (unreadableStarts > 0 ? ", " + std::to_string(unreadableStarts) + " starts finding the files unreadable"
                                     : "")
            << (journalSlack > -3 ? ", the journal full but for " + std::to_string(journalSlack) + " bytes" : "")
            << "\nplaylist:";
        for (const auto& e : playlist) out << " [" << e.file << " \"" << e.artist << "\" " << e.lengthSeconds << "s]";
        for (const auto& [message, kind] : clicksBeforeMessages) out << "\n  " << kind << " before message " << message;
        for (const auto& a : actions) {
            out << "\n  " << a.time << " " << a.kind << " " << a.argument;
            for (const auto& e : a.playlist) out << " [" << e.file << " " << e.lengthSeconds << "s]";
        }
        return out.str();
    }
};

class Generator {
public:
    explicit Generator(unsigned long long seed) : rng(seed) {}

    Plan plan(unsigned long long seed) {
        Plan p;
        p.seed = seed;
        int fileCount = between(1, 5);
        for (int i = 0; i < fileCount; ++i) {
            files.push_back({fileName(static_cast<std::size_t>(i)), artist(), length()});
            // Now and then a name that begins with the whole name of the file before.
            if (i > 0 && chance(10) && files[i - 1].file.rfind("C:", 0) == 0)
                files.back().file = files[i - 1].file + ".mp3";
        }
        p.playlist = playlist();
        if (chance(100)) {  // rare: every update of a full journal moves half a megabyte
            static const int slacks[] = {-2, 0, 0, 2};
            p.journalSlack = chance(4) ? between(4, 4000) & ~1 : slacks[between(0, 3)];
            // The room is measured by the first entry's file: one that plays stamped, if its kind has tags.
            giveArtist(p, p.playlist.front().file, "Artist " + std::to_string(between(0, 99)));
        }
        const Refusal refusals[] = {Refusal::AllSets,
                                    Refusal::SetsForAMoment,
                                    Refusal::ReadsOfOneFile,
                                    Refusal::EmptyReadsOfOneFile,
                                    Refusal::WritesForAMoment,
                                    Refusal::SetsStopOneFileForAMoment,
                                    Refusal::ReadOnlyFile,
                                    Refusal::WritesOfOneFileLandButFail,
                                    Refusal::FilledReadsOfOneFile};
        p.refusal = chance(2) ? Refusal::None : refusals[between(0, static_cast<int>(std::size(refusals)) - 1)];
        p.faultyFile = files[static_cast<std::size_t>(between(0, fileCount - 1))].file;
        if (p.refusal == Refusal::FilledReadsOfOneFile)
            giveArtist(p, p.faultyFile, std::string(static_cast<std::size_t>(between(1021, 1026)), 'L'));
        long long t = 0;
        int count = between(3, 25);
        for (int i = 0; i < count; ++i) {
            t += chance(4) ? between(1, 900) : between(500, 40000);
            p.actions.push_back(action(t));
            // The listener pauses as the file starts, before its title update starts a
            // worker, and plays on a moment later.
            if (chance(6)) {
                long long pausedAt = t + between(1, 150);
                p.actions.push_back(Action{pausedAt, "pause", 0, {}});
                p.actions.push_back(Action{pausedAt + between(500, 1500), "resume", 0, {}});
            }
            // Another player holds the journal's lock, or another program the journal, for a
            // while: a moment, or seconds.
            if (chance(12)) {
                p.actions.push_back(Action{t, "lock-journal", between(0, 1), {}});
                // Up to 1.5 s a claim waits it out, and stamps once it is let go.
                long long held = chance(2) ? between(10, 300) : chance(2) ? between(300, 1500) : between(1000, 8000);
                p.actions.push_back(Action{t + held, "unlock-journal", 0, {}});
                // The listener goes to the next entry and back while a claim waits (two claims
                // of one file), or pauses and plays on.
                if (chance(2)) {
                    long long away = t + between(1, static_cast<int>(held));
                    bool leaves = chance(2);
                    p.actions.push_back(Action{away, leaves ? "next" : "pause", 0, {}});
                    p.actions.push_back(Action{away + between(0, 300), leaves ? "previous" : "resume", 0, {}});
                }
            }
        }
        std::stable_sort(p.actions.begin(), p.actions.end(),
                         [](const Action& a, const Action& b) { return a.time < b.time; });
        // In some sessions the listener clicks often, before one message of ours in a few.
        for (int rate = chance(3) ? between(3, 40) : 0, message = 1; rate > 0 && message <= 400; ++message) {
            static const char* kinds[] = {"pause", "resume", "stop", "next", "play"};
            if (chance(rate))
                p.clicksBeforeMessages[message] = kinds[between(0, static_cast<int>(std::size(kinds)) - 1)];
        }
        if (chance(2)) p.switchOneIn = between(1, 12);
        p.anotherPluginOnTop = chance(8);
        p.flushesRefused = chance(4);
        const Ending endings[] = {Ending::Finish, Ending::Finish, Ending::Quit, Ending::Exit, Ending::LogOff};
        p.ending = endings[between(0, static_cast<int>(std::size(endings)) - 1)];
        static const LRESULT modernVersions[] = {0x5013, 0x5029, 0x5030, 0x5057, 0x5058,
                                                 0x5064, 0x5065, 0x5066, 0xFFFF, HOST_VERSION_LIMIT};
        // Before 5.0: no status callback (a change shows at the next poll), no play tracking.
        static const LRESULT oldVersions[] = {0x5000, 0x5012, 0x2950};
        p.hostVersion = vorlu_test::oldHostRun()
                            ? oldVersions[between(0, 2)]
                            : modernVersions[between(0, static_cast<int>(std::size(modernVersions)) - 1)];
        if (chance(4)) {
            // At a moment, or at any point of the journal's updates (each a flush, then a move).
            if (chance(2))
                p.killAt = between(0, static_cast<int>(t));
            else
                p.killAfterOperation = between(1, 16);
            p.firstStart = static_cast<Plan::FirstStart>(chance(2) ? 0 : between(1, 2));
            // Entries of the version before name no volume: another stick there is taken as theirs.
            p.version1Journal = chance(4) && p.firstStart != Plan::FirstStart::AnotherVolume;
            p.powerCut = chance(2);
            static const int unreadable[] = {1, 9, 10, 11};
            if (chance(5)) p.unreadableStarts = unreadable[between(0, 3)];
            if (chance(2)) p.editedFile = files[static_cast<std::size_t>(between(0, fileCount - 1))].file;
            if (chance(4)) p.deletedFile = files[static_cast<std::size_t>(between(0, fileCount - 1))].file;
        } else if (chance(8)) {
            p.quitWhileRefusingFor = chance(2) ? between(0, 300) : between(300, 12000);
        }
        // A file locked for a moment, never longer than the write-back retries last (now and
        // then just under), and not at the end, where quit cuts the retries short.
        for (long long from = between(0, 20000); from + 5000 < t - 6000; from += between(5000, 60000))
            p.refusalWindows.push_back({from, from + (chance(4) ? between(4000, 4900) : between(200, 3000))});
        // Not with a track of no length: each of its repeats would bring a worker at once.
        p.titleAtOnce = chance(6) && std::none_of(files.begin(), files.end(),
                                                  [](const standin::Entry& e) { return e.lengthSeconds == 0; });
        p.laterJournal = chance(50) && p.journalSlack == -3 && p.killAt < 0 && p.killAfterOperation == 0;
        p.setTakes = chance(4) ? static_cast<DWORD>(between(1, 3)) : 0;
        // Entries of the version before name no volume: a file under an unplugged stick's folder reads as gone.
        p.onAStick = chance(4) && !(p.version1Journal && p.firstStart == Plan::FirstStart::Unplugged);
        if ((p.killAt >= 0 || p.killAfterOperation > 0) && chance(6)) p.killedIdReused = between(1, 2);
        if (p.killAt >= 0 || p.killAfterOperation > 0 || p.quitWhileRefusingFor >= 0)
            p.powerCutAfterRestart = chance(3);
        return p;
    }

private:
    void giveArtist(Plan& p, const std::string& file, const std::string& artist) {
        for (auto* list : {&files, &p.playlist}) {
            for (auto& entry : *list) {
                if (standin::sameFile(entry.file, file)) entry.artist = artist;
            }
        }
    }

    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(int oneIn) { return between(1, oneIn) == 1; }

    // Letters of several scripts (UTF-8): Latin-1 ones the single-byte path carries, others
    // it turns into '?', a surrogate pair, a combining mark, right-to-left letters.
    std::string piece() {
        static const char* const pieces[] = {"a",      "b",      "c",          "X",      "Y",      "Z",      " ",
                                             "0",      "1",      "9",          "(",      ")",      ":",      "/",
                                             "-",      ".",      "&",          "'",      "\u00e9", "\u00f8", "\u0416",
                                             "\u03bb", "\u8a9e", "\U0001F3B5", "\u0301", "\u0639"};
        return pieces[between(0, static_cast<int>(std::size(pieces)) - 1)];
    }

    std::string artist() {
        // In UTF-16 units, up to one past what either read can hold (255 bytes, 1023 units).
        int size = chance(3) ? (chance(2) ? between(0, 256) : between(1000, 1024)) : between(0, 24);
        std::string text;
        for (int units = 0; units < size;) {
            std::string next = piece();
            units += static_cast<int>(standin::utf16FromUtf8(next).size());
            text += next;
        }
        if (chance(15)) text += "?";
        return text;
    }

    // Names of several scripts, of every kind of file the host's input plug-ins serve, and
    // now and then a stream; two with the same number may read alike through the
    // single-byte code page ("C:\\r\\?3.mp3").
    std::string fileName(std::size_t number) {
        static const char* const stems[] = {"", "\u00e9", "\u66f2", "\u6b4c", "\u0416", "\u0451\u043b\u043a\u0430"};
        static const char* const kinds[] = {".mp3", ".mp3", ".flac", ".m4a", ".wma", ".ogg", ".wav", ".MP3"};
        if (chance(20)) return "http://r/" + std::to_string(number);
        return "C:\\r\\" + std::string(stems[between(0, static_cast<int>(std::size(stems)) - 1)]) +
               std::to_string(number) + kinds[between(0, static_cast<int>(std::size(kinds)) - 1)];
    }

    int length() {
        switch (between(0, 9)) {
        case 0:
            return -1;
        case 1:
            return between(0, 1);
        case 2:
            return INT_MAX;
        case 3:
            return between(2147483, 2147486);
        default:
            return between(2, 150);
        }
    }

    // Entries of the files, now and then one named in other case: the same file on Windows.
    std::vector<standin::Entry> playlist() {
        std::vector<standin::Entry> entries;
        int size = between(1, 6);
        for (int i = 0; i < size; ++i) {
            entries.push_back(files[static_cast<std::size_t>(between(0, static_cast<int>(files.size()) - 1))]);
            if (chance(8)) entries.back().file = standin::upperCase(entries.back().file);
        }
        return entries;
    }

    Action action(long long t) {
        // A notice alone is the host's repeat while the same entry plays.
        static const char* kinds[] = {"play",   "play",     "pause", "resume",           "seek",   "stop",   "next",
                                      "next",   "previous", "jump",  "replace",          "notice", "notice", "repeat",
                                      "insert", "remove",   "edit",  "cancelled-logoff", "hold",   "release"};
        Action a{t, kinds[between(0, static_cast<int>(std::size(kinds)) - 1)], 0, {}};
        // Now and then to a limit: where the seconds digits turn, or just before, at or after
        // the end margin (a negative argument: that many ms before the end).
        static const long long limits[] = {4999, 5000, -1501, -1500, -1499};
        if (a.kind == "seek")
            a.argument = chance(3)   ? 0
                         : chance(3) ? limits[between(0, 4)]
                         : chance(2) ? 1000LL * between(0, 200)
                                     : INT_MAX;
        if (a.kind == "jump") a.argument = between(-1, 6);
        if (a.kind == "repeat") a.argument = between(0, 1);
        if (a.kind == "insert" || a.kind == "remove") a.argument = between(0, 5);  // held above the playing entry
        if (a.kind == "insert")
            a.playlist = {files[static_cast<std::size_t>(between(0, static_cast<int>(files.size()) - 1))]};
        if (a.kind == "edit") a.argument = between(1, 99) + (chance(8) ? 100 * between(1, 2) : 0);
        // Another program opens one of the files, sharing reads only, or closes it again.
        if (a.kind == "hold") a.argument = between(0, static_cast<int>(files.size()) - 1);
        if (a.kind == "replace") {
            if (chance(3)) files.push_back({fileName(files.size()), artist(), length()});
            a.playlist = playlist();
        }
        return a;
    }

    std::mt19937_64 rng;
    std::vector<standin::Entry> files;
};

// Another plug-in's procedures, installed on top of ours, passing every message on.
WNDPROC underMain, underEditor;
LRESULT CALLBACK anotherPluginsMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(underMain, window, message, wParam, lParam);
}
LRESULT CALLBACK anotherPluginsEditor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(underEditor, window, message, wParam, lParam);
}

// Another program's handle on a file of the session's, which shares reads only, and every
// file held so in the session; another program's hold on the journal's lock file or on
// the journal itself, and when it was held.
HANDLE heldFile = INVALID_HANDLE_VALUE;
std::vector<std::string> filesHeld;
HANDLE heldJournal = INVALID_HANDLE_VALUE;
struct JournalHold {
    long long from, to;  // [from, to)
    bool itself;         // not only its lock: an update fails after a second of tries
};
std::vector<JournalHold> journalHeld;
bool journalItselfHeld = false;

void perform(PluginSession& session, const Action& a) {
    // Its lock (another player), or the journal itself without sharing (a backup, a scanner).
    if (a.kind == "lock-journal" && heldJournal == INVALID_HANDLE_VALUE) {
        std::string held = session.journalFolder + (a.argument == 0 ? "/vorlu.journal.lock" : "/vorlu.journal");
        heldJournal = CreateFileW(standin::utf16FromUtf8(held).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  a.argument == 0 ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (heldJournal != INVALID_HANDLE_VALUE) journalHeld.push_back({winshim::now(), LLONG_MAX, a.argument == 1});
        journalItselfHeld |= heldJournal != INVALID_HANDLE_VALUE && a.argument == 1;
    }
    if (a.kind == "unlock-journal" && heldJournal != INVALID_HANDLE_VALUE) {
        CloseHandle(heldJournal);
        heldJournal = INVALID_HANDLE_VALUE;
        journalHeld.back().to = winshim::now();
    }
    if (a.kind == "lock-journal" || a.kind == "unlock-journal") return;
    if (a.kind == "hold" || a.kind == "release") {
        if (heldFile != INVALID_HANDLE_VALUE) CloseHandle(heldFile);
        heldFile = INVALID_HANDLE_VALUE;
        const auto& list = session.model.playlist();
        if (a.kind != "hold" || list.empty()) return;
        const std::string& file = list[static_cast<std::size_t>(a.argument) % list.size()].file;
        heldFile = CreateFileW(standin::utf16FromUtf8(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        filesHeld.push_back(file);
        return;
    }
    if (a.kind == "play")
        session.play();
    else if (a.kind == "pause")
        session.pause();
    else if (a.kind == "resume")
        session.resume();
    else if (a.kind == "seek") {
        const auto& list = session.model.playlist();
        auto index = static_cast<std::size_t>(session.model.currentIndex());
        long long end = index < list.size() ? list[index].lengthSeconds * 1000LL : 0;
        session.seek(a.argument >= 0 ? a.argument : std::max(0LL, end + a.argument));
    } else if (a.kind == "stop")
        session.stop();
    else if (a.kind == "next")
        session.next();
    else if (a.kind == "previous")
        session.previous();
    else if (a.kind == "notice")
        session.sendTrackChangeNotice();
    else if (a.kind == "jump")
        session.jump(static_cast<int>(a.argument));
    else if (a.kind == "replace") {
        session.replacePlaylist(a.playlist);
        session.play();
    } else if (a.kind == "repeat") {
        session.model.setRepeatOne(a.argument != 0);
    } else if (a.kind == "insert") {
        session.insertEntry(std::min(static_cast<int>(a.argument), session.model.currentIndex()), a.playlist[0]);
    } else if (a.kind == "remove") {
        session.model.removeEntry(std::min(static_cast<int>(a.argument), session.model.currentIndex() - 1));
    } else if (a.kind == "cancelled-logoff") {
        session.cancelledLogOff();
    } else if (a.kind == "edit") {
        // Someone corrects the artist of the entry that plays, or played last.
        const auto& list = session.model.playlist();
        int index = session.model.currentIndex();
        // Now and then one that ends as a stamp of ours would, or is only such an ending.
        std::string edit = "Edited " + std::to_string(a.argument % 100);
        if (a.argument >= 100) edit = a.argument >= 200 ? edit + " (paused)" : " (0:00/0:00)";
        if (index < static_cast<int>(list.size()))
            session.model.editArtist(list[static_cast<std::size_t>(index)].file, edit);
    }
}

// Whether artist ends as a stamp of ours or the pause mark would: no journal proves such an
// ending ours, and so the file plays unstamped.
bool endsLikeStamp(const std::string& artist) {
    static const std::regex ending(R"(( \(-?[0-9]{1,8}:[0-9]{2}/-?[0-9]{1,8}:[0-9]{2}\)| \(paused\))$)");
    return std::regex_search(artist, ending);
}

// Every value the file took was its base (the original, then each edit by hand), one
// stamp of it or its pause mark (none where the base ends as one would), and it ends as
// its last base: nothing of ours was written over an edit, nor an edit reverted.
bool soundAcrossEdits(const PluginSession& session, const std::string& file, std::string* why) {
    std::string base = session.artistHistory(file).front();
    for (const auto& commit : session.commitsOf(file)) {
        if (commit.byHand) {
            base = commit.artist;
        } else if (commit.artist != base && (endsLikeStamp(base) || (!vorlu_test::isStamp(commit.artist, base) &&
                                                                     !vorlu_test::isPauseMark(commit.artist, base)))) {
            *why = file + " took \"" + commit.artist + "\" where its artist was \"" + base + "\"";
            return false;
        }
    }
    return true;
}

// The senders of one file's sets never go back to a worker once another has begun.
bool oneWriterAtATime(const std::vector<standin::Request>& sets, const std::string& file, std::string* why) {
    std::vector<std::string> finished;
    std::string current;
    for (const auto& set : sets) {
        if (!standin::sameFile(set.file, file) || set.sender == current) continue;
        if (std::find(finished.begin(), finished.end(), set.sender) != finished.end()) {
            *why = "thread " + set.sender + " wrote " + file + " again after thread " + current;
            return false;
        }
        if (!current.empty()) finished.push_back(current);
        current = set.sender;
    }
    return true;
}

// Every stamp shows exactly the position and length its worker was answered just before.
bool stampsShowTheHostsTimes(const std::vector<standin::Request>& requests, const PluginSession& session,
                             std::string* why) {
    std::map<std::string, std::pair<long long, long long>> lastTimes;  // sender -> position, length
    std::map<std::string, std::string> base;                           // file -> its original or last edit
    for (const auto& request : requests) {
        if (request.code == IPC_GETOUTPUTTIME) {
            auto& times = lastTimes[request.sender];
            (request.wParam == 0 ? times.first : times.second) = request.answer;
            continue;
        }
        if (request.code == standin::EDIT_BY_HAND) base[request.file] = request.value;
        if (request.code != session.setCode()) continue;
        if (!base.count(request.file)) base[request.file] = session.artistHistory(request.file).front();
        const std::string& original = base[request.file];
        if (request.value == original || vorlu_test::isPauseMark(request.value, original)) continue;
        auto times = lastTimes[request.sender];
        // A stamp only before the last 1.5 s of its track, where its original goes back.
        if (times.second > 0 && times.first + 1500 > times.second * 1000) {
            *why = "stamp \"" + request.value + "\" within the end margin";
            return false;
        }
        std::string expected = original + vorlu_test::expectedTimeText(times.first, times.second);
        if (request.value != expected) {
            *why = "stamp \"" + request.value + "\" where the host's times give \"" + expected + "\"";
            return false;
        }
    }
    return true;
}

// What the host saw of one file's stamps: when each was set, and when the host first
// refused one or failed to write it.
struct FileStamps {
    std::vector<long long> times;
    long long refusedAt = LLONG_MAX;
};

// The artist file held at time: its original, or the last edit by hand before then.
std::string artistAt(const PluginSession& session, const std::string& file, long long time) {
    std::string artist = session.artistHistory(file).front();
    for (const auto& commit : session.commitsOf(file)) {
        if (commit.byHand && commit.time <= time) artist = commit.artist;
    }
    return artist;
}

// Walks the requests in order: a file gets no stamp, nor a worker, after the host refused
// one of its stamps or failed to write it (on the real host each would stop or restart its
// playback again). Collects each file's stamps for the liveness check.
bool stampsKeepToTheRules(const PluginSession& session, standin::FileMap<FileStamps>* stamps, std::string* why) {
    std::string awaitingWrite;  // the file of the stamp whose write comes next
    for (const auto& request : session.model.requests()) {
        if (request.code == IPC_WRITE_EXTENDED_FILE_INFO && !awaitingWrite.empty()) {
            if (request.answer == 0) (*stamps)[awaitingWrite].refusedAt = request.time;
            awaitingWrite.clear();
        }
        if (request.code != session.setCode()) continue;
        std::string artist = artistAt(session, request.file, request.time);
        if (request.value == artist) continue;  // a write-back
        FileStamps& file = (*stamps)[request.file];
        if (file.refusedAt != LLONG_MAX) {
            *why = request.file + " stamped at " + std::to_string(request.time) + " after the host refused its stamp";
            return false;
        }
        file.times.push_back(request.time);
        if (request.answer == 0)
            file.refusedAt = request.time;
        else
            awaitingWrite = request.file;
    }
    // Nor a worker: its title updates start none.
    for (const auto& update : session.titleUpdates()) {
        auto found = stamps->find(update.file);
        if (update.workersStarted > 0 && found != stamps->end() && found->second.refusedAt < update.time) {
            *why =
                update.file + " got a worker at " + std::to_string(update.time) + " after the host refused its stamp";
            return false;
        }
    }
    return true;
}

// No entry of the player's process is left in the journal once its threads have ended:
// every write-back dropped its own; but for a file another program held, which the plug-in
// may not have flushed: its entry waits for the system's writer.
std::string entryLeft(const std::string& folder, DWORD processId, const std::string& failingFile = "") {
    for (const auto& entry : vorlu_test::entriesOf(vorlu_test::bytesOf(folder + "/vorlu.journal"))) {
        std::string file = standin::utf8FromUtf16(entry.file.name);
        bool held = std::any_of(filesHeld.begin(), filesHeld.end(),
                                [&](const std::string& name) { return standin::sameFile(name, file); }) ||
                    standin::sameFile(file, failingFile);
        // A drop that met the journal held for longer than its tries leaves the entry to the next start.
        if (entry.processId == processId && !held && !journalItselfHeld)
            return "the journal still holds the entry of " + file;
    }
    return "";
}

// A file plays on with nothing done: its worker stamps it once a cycle, about every 15 s,
// never more often. Two stamps of one file closer than that need an action of the
// listener's, or a start of that file not by a write of ours, between them; seeks alone, a
// poll between them: dragging the position writes once a second at most.
bool stampsKeepTheirCadence(const Plan& plan, const PluginSession& session, std::string* why) {
    const long long shortestCycle = 14000;
    std::map<std::string, long long, standin::SameFileLess> lastStampOf;
    auto starts = session.model.starts();
    for (const auto& set : session.sets()) {
        if (!vorlu_test::isStamp(set.value, artistAt(session, set.file, set.time))) continue;
        auto last = lastStampOf.find(set.file);
        if (last != lastStampOf.end() && set.time - last->second < shortestCycle) {
            long long from = last->second;
            bool acted = std::any_of(plan.actions.begin(), plan.actions.end(),
                                     [&](const Action& a) {
                                         return a.time >= from && a.time <= set.time &&
                                                (a.kind != "seek" || set.time - from >= 1000);
                                     }) ||
                         std::any_of(starts.begin(), starts.end(), [&](const standin::PlayStart& s) {
                             return s.time >= from && s.time <= set.time && s.by != standin::Starter::Restart &&
                                    standin::sameFile(s.file, set.file);
                         });
            if (!acted) {
                *why = set.file + " stamped at " + std::to_string(from) + " and again at " + std::to_string(set.time);
                return false;
            }
        }
        lastStampOf[set.file] = set.time;
    }
    return true;
}

// A refused set that stopped a file is followed by no other that stops it again before the
// listener starts that file again: no set of it while it plays, write-backs included.
bool noFileStoppedTwiceByRefusals(const PluginSession& session, std::string* why) {
    auto starts = session.model.starts();
    std::map<std::string, long long> stoppedAt;
    for (const auto& [time, file] : session.model.refusedSetStops()) {
        auto last = stoppedAt.find(file);
        bool startedSince =
            last != stoppedAt.end() && std::any_of(starts.begin(), starts.end(), [&](const standin::PlayStart& s) {
                return standin::sameFile(s.file, file) && s.by == standin::Starter::Listener && s.time > last->second &&
                       s.time <= time;
            });
        if (last != stoppedAt.end() && !startedSince) {
            *why = file + " stopped again at " + std::to_string(time) + " by a refused set, as at " +
                   std::to_string(last->second);
            return false;
        }
        stoppedAt[file] = time;
    }
    return true;
}

// Every set of ours changes the field as the read before it in its step found it (a set
// that leaves it as it stood is, on the player, a restart of the file for nothing), and no
// set, from any path, reaches a file a refused set stopped while it plays or stands
// paused, until quit, whose write-backs are tried all the same.
bool everySetIsCalledFor(const PluginSession& session, long long quitAt, std::string* why) {
    auto stops = session.model.refusedSetStops();
    std::map<std::string, std::string, standin::SameFileLess> lastRead;
    for (const auto& r : session.model.requests()) {
        if (r.code == session.readCode()) lastRead[r.file] = r.value;
        if (r.code != session.setCode()) continue;
        bool stopped = std::any_of(stops.begin(), stops.end(), [&](const auto& stop) {
            return standin::sameFile(stop.second, r.file) && stop.first < r.time;
        });
        bool held = stopped && r.time < quitAt && r.state != standin::PlayState::Stopped &&
                    standin::sameFile(r.current, r.file);
        if (held || (lastRead.count(r.file) && lastRead[r.file] == r.value)) {
            *why = r.file + " set at " + std::to_string(r.time) +
                   (held ? " while it played after a refused set stopped it" : " to what it held already");
            return false;
        }
    }
    return true;
}

// A refused set that stopped the playing file is followed, in the same step, by a jump back
// to exactly where playback stood: a restart of ours moves no one's place in the track.
bool restartsResumeWhereTheyStood(const PluginSession& session, std::string* why) {
    auto requests = session.model.requests();
    for (const auto& [time, file] : session.model.refusedSetStops()) {
        auto set = std::find_if(requests.begin(), requests.end(), [&](const standin::Request& r) {
            return r.time == time && r.code == session.setCode() && r.answer == 0 && standin::sameFile(r.file, file);
        });
        auto jump =
            std::find_if(set, requests.end(), [](const standin::Request& r) { return r.code == IPC_JUMPTOTIME; });
        if (set == requests.end() || jump == requests.end() || jump->time != time || jump->wParam != set->position) {
            *why =
                file + " stopped by a refused set at " + std::to_string(time) + " and not started again where it stood";
            return false;
        }
    }
    return true;
}

// Whether someone edited file by hand after its last stamp before time.
bool editedSinceItsLastStamp(const PluginSession& session, const std::string& file, long long time,
                             const FileStamps* stamps) {
    long long lastStamp = -1;
    for (long long at : stamps ? stamps->times : std::vector<long long>{}) {
        if (at <= time) lastStamp = at;
    }
    for (const auto& commit : session.commitsOf(file)) {
        if (commit.byHand && commit.time > lastStamp && commit.time <= time) return true;
    }
    return false;
}

const DWORD otherPlayer = 778;

// Every entry of the other player's is still in the journal: none is dropped to make room.
std::size_t theirEntries = 0;
std::string theirEntriesKept(const std::string& folder) {
    auto entries = vorlu_test::entriesOf(vorlu_test::bytesOf(folder + "/vorlu.journal"));
    auto kept = std::count_if(entries.begin(), entries.end(),
                              [](const JournalEntry& entry) { return entry.processId == otherPlayer; });
    return static_cast<std::size_t>(kept) == theirEntries ? "" : "the journal lost an entry of another player's";
}

// Whether the plug-in can stamp artist in file on this run's path: a name and a value the
// path hands over whole, with room behind for the longest stamp (25 units).
bool stampable(const std::string& file, const std::string& artist) {
    standin::FileKind kind = standin::kindOf(file);
    if (kind == standin::FileKind::Wav || kind == standin::FileKind::Stream) return false;  // no tag writer
    std::u16string units = standin::utf16FromUtf8(artist);
    if (endsLikeStamp(artist)) return false;
    if (!vorlu_test::oldHostRun()) return !units.empty() && units.size() <= 1022;
    auto singleByte = [](const std::u16string& text) {
        return std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= 0xFF && c != u'?'; });
    };
    return singleByte(standin::utf16FromUtf8(file)) && singleByte(units) && !units.empty() && units.size() <= 229;
}

bool holdsOurStamp(const PluginSession& session, const std::string& file, long long time);

// Liveness: a file that plays on, well before its end, for 3 s after a title update with
// nothing done meanwhile is stamped by then (or was, within its last cycle), unless the
// host cannot hand its name and artist over whole, fails it on purpose, or refused it.
bool everyLongPlayIsStamped(const Plan& plan, const PluginSession& session, const standin::FileMap<FileStamps>& stamps,
                            std::string* why) {
    const long long settle = 3000, cycle = 16500;
    long long last = plan.actions.back().time + 5000;
    bool faultyFileExempt = plan.refusal == Refusal::ReadsOfOneFile || plan.refusal == Refusal::EmptyReadsOfOneFile ||
                            plan.refusal == Refusal::SetsStopOneFileForAMoment ||
                            plan.refusal == Refusal::ReadOnlyFile ||
                            plan.refusal == Refusal::WritesOfOneFileLandButFail;
    // No folder takes the journal: nothing is stamped.
    if (plan.hostVersion >= HOST_VERSION_LIMIT || plan.laterJournal) return true;
    auto notes = winshim::debugOutput();
    for (const auto& update : session.titleUpdates()) {
        long long t = update.time, until = t + settle;
        // A claim that meets another player's lock on the journal waits for it up to 2 s, and
        // stamps once it is let go; held longer, or the journal itself held, it gives up.
        bool givesUp = false;
        for (const auto& held : journalHeld) {
            if (held.from > until || held.to + 5000 < t - cycle) continue;
            givesUp |= held.itself || held.to - held.from > 1500;
            until = std::max(until, held.to + settle);
        }
        if (givesUp) continue;
        if (update.file.empty() || update.state != standin::PlayState::Playing || until > last) continue;
        if (std::any_of(plan.actions.begin(), plan.actions.end(), [t, until](const Action& a) {
                return a.time >= t && a.time <= until && a.kind.find("lock-journal") == std::string::npos;
            }))
            continue;
        // Well before its end, and before its position leaves the host's 32-bit answers.
        long long end = std::min(update.lengthSeconds * 1000LL, static_cast<long long>(INT_MAX));
        if (update.lengthSeconds <= 0 || update.position < 0 || update.position + 1500LL + (until - t) >= end) continue;
        if (faultyFileExempt && standin::sameFile(update.file, plan.faultyFile)) continue;
        // A journal with no room for the file's entry leaves it unstamped.
        if (update.journalBytes + vorlu_test::journalEntrySizeOf(update.file, artistAt(session, update.file, t)) >
            JOURNAL_BUFFER_SIZE)
            continue;
        auto found = stamps.find(update.file);
        if (found != stamps.end() && found->second.refusedAt <= until) continue;
        // A refused set that stopped the file bars its stamps for the run (each would stop it again).
        auto stops = session.model.refusedSetStops();
        if (std::any_of(stops.begin(), stops.end(), [&](const auto& stop) {
                return standin::sameFile(stop.second, update.file) && stop.first <= until;
            }))
            continue;
        // An edit by hand ends the stamping worker at its next look at the field, which a
        // pause puts off: a worker that has not looked yet still holds the file at this
        // update, and the edit is stamped from the host's next notice on.
        if (editedSinceItsLastStamp(session, update.file, t, found == stamps.end() ? nullptr : &found->second))
            continue;
        // A file that plays unstamped for a reason of its own: the debugger hears why (its
        // name on the single-byte path may not survive the code page).
        if (!stampable(update.file, artistAt(session, update.file, t))) {
            standin::FileKind kind = standin::kindOf(update.file);
            if (vorlu_test::oldHostRun() || kind == standin::FileKind::Wav || kind == standin::FileKind::Stream ||
                std::any_of(notes.begin(), notes.end(), [&](const std::string& note) {
                    auto end = note.find(": plays unstamped");
                    return note.rfind("Vorlu: ", 0) == 0 && end != std::string::npos &&
                           standin::sameFile(note.substr(7, end - 7), update.file);
                }))
                continue;
            *why = update.file + " played unstamped from " + std::to_string(t) + " and the debugger never heard why";
            return false;
        }
        // Or its tag shows already what a stamp would write: no set is made for nothing.
        bool stamped = (found != stamps.end() &&
                        std::any_of(found->second.times.begin(), found->second.times.end(),
                                    [t, until, cycle](long long at) { return at >= t - cycle && at <= until; })) ||
                       holdsOurStamp(session, update.file, until);
        if (!stamped) {
            *why = update.file + " played from its title update at " + std::to_string(t) + " unstamped";
            return false;
        }
    }
    return true;
}

// Whether the plug-in's last write of file before time left one of its stamps or its pause
// mark there: the last commit, not by hand, differs from the artist of the time.
bool holdsOurStamp(const PluginSession& session, const std::string& file, long long time) {
    std::string last = artistAt(session, file, time);
    for (const auto& commit : session.commitsOf(file)) {
        if (commit.time < time) last = commit.artist;
    }
    return last != artistAt(session, file, time);
}

// After every action of the listener's that leaves, stops, pauses or resumes a file that
// holds a stamp of ours, the plug-in looks at that file's field within the same step of
// the player's clock: a stop or a move to another file brings its artist back, a pause
// its mark, a resume a stamp or its artist: the tag shows the state the listener left.
// Not where the host refused a write of the file before (its stamps end), nor at a pause
// of a wma file, which a write of ours may have started playing once (no write while
// paused then); a file a refused set stopped is looked at within the second its held
// write-back waits, once it stops or another file plays.
bool everyChangeIsAnsweredAtOnce(const Plan& plan, const PluginSession& session,
                                 const standin::FileMap<FileStamps>& stamps, std::string* why) {
    // A click waits for the step in progress; on a host that does not call back, a pause, a
    // resume or a stop shows at the next poll, or at the one after, where its position had
    // stood still for too short a time to tell.
    const long long step = 5 + session.setTakesMs + (plan.hostVersion < HOST_VERSION_STATUS_CALLBACK ? 2000 : 0);
    auto requests = session.model.requests();
    auto stops = session.model.refusedSetStops();
    auto starts = session.model.starts();
    auto updates = session.titleUpdates();
    auto history = session.model.playHistory();
    for (std::size_t i = 0; i < history.size(); ++i) {
        const standin::PlayStateChange& change = history[i];
        if (!change.listenerAction || change.stateBefore == standin::PlayState::Stopped) continue;
        const std::string& file = change.currentBefore;
        long long t = change.time;
        bool left = change.state == standin::PlayState::Stopped || !standin::sameFile(change.current, file);
        bool paused =
            !left && change.stateBefore == standin::PlayState::Playing && change.state == standin::PlayState::Paused;
        bool resumed =
            !left && change.stateBefore == standin::PlayState::Paused && change.state == standin::PlayState::Playing;
        if (!(left || paused || resumed) || !holdsOurStamp(session, file, t)) continue;
        auto found = stamps.find(file);
        // The last write of the file before then a write-back refused, or failed at its
        // commit: it is tried again a second later, whatever happens meanwhile.
        bool retrying = false;
        for (std::size_t i = 0; i < requests.size() && requests[i].time < t; ++i) {
            if (requests[i].code != session.setCode() || !standin::sameFile(requests[i].file, file)) continue;
            bool committed = i + 1 < requests.size() && requests[i + 1].code == IPC_WRITE_EXTENDED_FILE_INFO &&
                             requests[i + 1].answer != 0;
            bool writeBack = requests[i].value == artistAt(session, file, requests[i].time);
            retrying = writeBack && (requests[i].answer == 0 || !committed);
        }
        bool stoppedByARefusal = std::any_of(stops.begin(), stops.end(), [&](const auto& stop) {
            return standin::sameFile(stop.second, file) && stop.first <= t;
        });
        bool refused = retrying || (found != stamps.end() && found->second.refusedAt <= t) || stoppedByARefusal;
        // A file a refused set stopped holds its write-back while it plays, looking a second apart.
        long long within = stoppedByARefusal && left && !retrying ? step + 1000 : step;
        if ((refused && within == step) || (paused && standin::kindOf(file) == standin::FileKind::Wma)) continue;
        // A restart of ours still settling (its position reads 0, as at a start of the
        // listener's meanwhile) is answered at its title update.
        long long restartedAt = -1;
        for (const auto& start : starts)
            if (start.time <= t && start.by == standin::Starter::Restart && standin::sameFile(start.file, file))
                restartedAt = start.time;
        auto settled = std::find_if(updates.begin(), updates.end(), [&](const auto& update) {
            return update.time > restartedAt && standin::sameFile(update.file, file);
        });
        if (restartedAt >= 0 && settled == updates.end()) continue;  // the listener acted first
        if (restartedAt >= 0 && settled->time >= t) within = std::max(within, settled->time - t + step);
        // Left, or held, it waits on where the file plays again meanwhile (an entry that
        // cannot play skips to it).
        bool playedAgain = std::any_of(history.begin() + static_cast<long>(i) + 1, history.end(),
                                       [&](const auto& c) {
                                           return c.time <= t + within && c.state != standin::PlayState::Stopped &&
                                                  standin::sameFile(c.current, file);
                                       }) ||
                           std::any_of(starts.begin(), starts.end(), [&](const standin::PlayStart& s) {
                               return s.time >= t && s.time <= t + within && s.by != standin::Starter::Restart &&
                                      standin::sameFile(s.file, file);
                           });
        if ((left || within != step) && playedAgain) continue;
        // Only the state the listener left last is answered: a click that comes before our
        // look (within the same millisecond) leaves another.
        if (std::any_of(history.begin() + static_cast<long>(i) + 1, history.end(),
                        [&](const auto& c) { return c.listenerAction && c.time <= t + within; }))
            continue;
        // The tag shows it by then, unless the write failed (tried again a second later).
        std::string artist = artistAt(session, file, t + within), tag = artist;
        for (const auto& commit : session.commitsOf(file))
            if (commit.time <= t + within) tag = commit.artist;
        bool shown = tag == artist || (paused && vorlu_test::isPauseMark(tag, artist)) ||
                     (resumed && vorlu_test::isStamp(tag, artist));
        bool failed = false;
        for (std::size_t r = 0; r + 1 < requests.size(); ++r) {
            failed |= requests[r].code == session.setCode() && requests[r].time >= t &&
                      requests[r].time <= t + within && standin::sameFile(requests[r].file, file) &&
                      (requests[r].answer == 0 || requests[r + 1].answer == 0);
        }
        if (!shown && !failed) {
            *why = file +
                   (left     ? " left"
                    : paused ? " paused"
                             : " resumed") +
                   " at " + std::to_string(t) + " holding a stamp of ours, and its tag shows \"" + tag + "\" at " +
                   std::to_string(t + within);
            return false;
        }
    }
    return true;
}

// The tag shows this play's time: an action that leaves its file playing more than two
// seconds behind the time its stamp of ours shows (a seek back, a replay, the file from
// another entry) has it stamped again by the worker's next poll, a second later at most,
// unless the listener acts again meanwhile. Where the host refuses no write.
bool theTagShowsThisPlaysTime(const Plan& plan, const PluginSession& session, std::string* why) {
    static const std::regex shown(R"( \(([0-9]+):([0-9]{2})/[0-9:-]+\)$)");
    const long long within = 1000 + 5 + session.setTakesMs;
    auto sets = session.sets();
    auto states = session.model.playStates();
    auto history = session.model.playHistory();
    for (std::size_t i = 0; i < history.size(); ++i) {
        const standin::PlayStateChange& move = history[i];
        long long t = move.time, until = t + within;
        const std::string& file = move.current;
        if (plan.refusal != Refusal::None || !move.listenerAction || file.empty() ||
            move.state != standin::PlayState::Playing)
            continue;
        std::string tag = artistAt(session, file, t);
        for (const auto& commit : session.commitsOf(file))
            if (commit.time <= t) tag = commit.artist;
        std::smatch time;
        if (!vorlu_test::isStamp(tag, artistAt(session, file, t)) || !std::regex_search(tag, time, shown) ||
            move.position + 2000 >= (std::stoll(time[1]) * 60 + std::stoll(time[2])) * 1000)
            continue;
        // Another action in the same millisecond (a click before a message of ours) counts too.
        bool movedOn =
            std::any_of(history.begin() + static_cast<long>(i) + 1, history.end(),
                        [&](const standin::PlayStateChange& c) { return c.listenerAction && c.time <= until; }) ||
            std::any_of(plan.actions.begin(), plan.actions.end(),
                        [&](const Action& a) { return a.time > t && a.time <= until; }) ||
            std::any_of(states.begin(), states.end(), [&](const standin::PlayStateChange& c) {
                return c.time > t && c.time <= until && !c.byPlugin;
            });
        if (!movedOn && std::none_of(sets.begin(), sets.end(), [&](const standin::Request& r) {
                return r.time >= t && r.time <= until && standin::sameFile(r.file, file);
            })) {
            *why = file + " left playing at " + std::to_string(move.position) + " ms at " + std::to_string(t) +
                   ", its tag showing" + time.str() + ", and not stamped again by " + std::to_string(until);
            return false;
        }
    }
    return true;
}

// The first playlist entry whose title was read before its file's last write and is not
// marked to be read again: a stamp it goes on showing.
std::string staleTitle(const PluginSession& session) {
    auto stale = session.model.staleTitles();
    return stale.empty() ? "" : "the playlist's " + stale.front() + ", read before its file's last write";
}

// Every worker let its file go, however its write-backs went: a claim left holds a slot for good.
std::string claimLeft(const PluginSession& session) {
    for (const auto& [file, stored] : session.model.storedArtists())
        if (fileClaimed(vorlu_test::trackFileOf(file))) return file + " still claimed once every worker ended";
    return "";
}

// The player dies (at plan.killAt, or after a file operation, whenever it comes): from then
// on it answers nothing, and quit ends the plug-in's threads as the end of the process would. A new run on the same
// files and journal, as another process, must leave every file as its original, or as the edit made in between.
// The volume the files are on (their drive C: maps to a folder of the session's), and another.
const DWORD filesVolume = 0x5EED0001, anotherVolume = 0x5EED0002, stickVolume = 0x5EED0003;

std::string killAndStartAgain(PluginSession& killed, const Plan& plan, const std::string& folder,
                              const std::string& drive, const std::string& stick) {
    if (plan.quitWhileRefusingFor < 0)
        killed.overrideAnswer = [](WPARAM, LPARAM) -> std::optional<LRESULT> { return 0; };
    plugin.quit();
    for (HANDLE* held : {&heldFile, &heldJournal}) {
        if (*held != INVALID_HANDLE_VALUE) CloseHandle(*held);
        *held = INVALID_HANDLE_VALUE;
    }
    if (plan.powerCut) {
        killed.model.powerCut();
        winshim::powerCut();
    }
    if (std::string left = claimLeft(killed); !left.empty()) return left;
    // Every value written before the kill was the original or an edit, or one stamp of it.
    std::string why;
    for (const auto& [file, stored] : killed.model.storedArtists()) {
        if (!soundAcrossEdits(killed, file, &why)) return "before the kill: " + why;
    }
    std::map<std::string, std::string> originals;
    for (const auto& [file, stored] : killed.model.storedArtists()) originals[file] = killed.expectedEnd(file);
    auto onDisk = killed.model.storedArtists();
    // What the system's cache holds is still there at the next start (none after a power cut).
    auto notYetOnDisk = killed.model.valuesAPowerCutMayLeave();
    const std::string edit = "Edited by hand";
    if (!plan.editedFile.empty()) onDisk[plan.editedFile] = edit;
    for (const std::string& file : {plan.editedFile, plan.deletedFile}) notYetOnDisk.erase(file);
    // The player starts again on its playlist, and most likely plays what it played when it
    // died, paused if it was, while the repair runs.
    auto playlist = killed.model.playlist();
    int playing = killed.model.currentIndex();
    standin::PlayState state = killed.model.state();
    killed.~PluginSession();
    if (plan.version1Journal) {
        std::string path = folder + "/vorlu.journal";
        std::string older = vorlu_test::asVersion1(vorlu_test::bytesOf(path));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << older;
    }
    if (plan.firstStart != Plan::FirstStart::OwnVolume) {
        // Another stick as C: or in the files' folder (their own is elsewhere), or none: a start
        // with nothing playing leaves every file as it is, and every entry for their own volume.
        bool unplugged = plan.firstStart == Plan::FirstStart::Unplugged;
        if (plan.onAStick)
            winshim::mountFolder("C:\\r", unplugged ? "" : stick, anotherVolume);
        else
            winshim::mapDrive('C', unplugged ? "" : drive, anotherVolume);
        auto entriesBefore = vorlu_test::entriesOf(vorlu_test::bytesOf(folder + "/vorlu.journal")).size();
        new (&killed) PluginSession(
            playlist, {.journalFolder = folder, .storedArtists = onDisk, .processId = 4244, .settleRepair = false});
        if (unplugged) killed.model.acceptReads([](const std::string&) { return false; });
        killed.runFor(3000);
        if (vorlu_test::entriesOf(vorlu_test::bytesOf(folder + "/vorlu.journal")).size() != entriesBefore)
            return "a start that found C: unplugged or another volume there changed the journal";
        for (const auto& [file, value] : onDisk) {
            if (killed.model.storedArtist(file) != value)
                return file + " was written at a start that found another volume as its drive";
        }
        killed.~PluginSession();
        winshim::mapDrive('C', drive, filesVolume);
        if (plan.onAStick) winshim::mountFolder("C:\\r", stick, stickVolume);
    }
    // The tenth start that finds a file there and unreadable gives its entry up (the
    // artist may be the listener's own, cleared): its stamp stays.
    for (int start = 0; start < plan.unreadableStarts; ++start) {
        // Ten starts take longer than the system's writer: the entry given up then names a file on disk.
        if (start == JOURNAL_MAX_STARTS - 1) notYetOnDisk.clear();
        new (&killed) PluginSession(playlist, {.journalFolder = folder,
                                               .storedArtists = onDisk,
                                               .notYetOnDisk = notYetOnDisk,
                                               .processId = static_cast<DWORD>(4250 + start),
                                               .settleRepair = false});
        killed.model.acceptReads([](const std::string&) { return false; });
        killed.runFor(3000);
        killed.~PluginSession();
    }
    bool givenUp = plan.unreadableStarts >= 10;
    std::error_code ignored;
    if (!plan.deletedFile.empty()) std::filesystem::remove(winshim::nativePathOf(plan.deletedFile), ignored);
    new (&killed) PluginSession(playlist, {.hostVersion = plan.hostVersion,
                                           .journalFolder = folder,
                                           .storedArtists = onDisk,
                                           .notYetOnDisk = notYetOnDisk,
                                           .processId = 4243,
                                           .settleRepair = false,
                                           .titleDelayMin = 100,
                                           .titleDelayMax = 500});
    // A share stays a share: its flushes are refused at every start.
    if (plan.flushesRefused)
        winshim::refuseFlushes(
            [=](const std::string& path) { return path.rfind(drive, 0) == 0 || path.rfind(stick, 0) == 0; });
    if (!plan.deletedFile.empty())
        killed.model.acceptReads([&](const std::string& file) { return !standin::sameFile(file, plan.deletedFile); });
    if (plan.killedIdReused > 0)
        winshim::setOtherProcesses({{4242, plan.killedIdReused == 1 ? 2ULL : 1ULL + (1ULL << 32)}});
    if (state != standin::PlayState::Stopped) killed.jump(playing);
    if (state == standin::PlayState::Paused) killed.pause();
    killed.runFor(3000);
    winshim::setOtherProcesses({});
    // The repair keeps the play state as the listener left it, as a worker does.
    if (!killed.everyPlaybackChangeOfOursIsABlip(&why)) return "at the next start's repair, " + why;
    killed.finish();
    if (!(why = killed.brokenInvariant()).empty()) return "after the next start, " + why;
    // Where flushes are refused, a write-back's entry waits for the system's writer.
    if (!plan.flushesRefused && !(why = entryLeft(folder, 4243)).empty()) return "after the next start, " + why;
    if (!(why = theirEntriesKept(folder)).empty()) return "after the next start, " + why;
    if (std::string stale = staleTitle(killed); !stale.empty()) return "after the next start's repair, " + stale;
    // In some sessions the power goes then, and the player starts once more on what the disks hold.
    if (plan.powerCutAfterRestart) {
        plugin.quit();
        killed.model.powerCut();
        winshim::powerCut();
        auto left = killed.model.storedArtists();
        killed.~PluginSession();
        new (&killed) PluginSession(
            playlist, {.journalFolder = folder, .storedArtists = left, .processId = 4245, .settleRepair = false});
        killed.runFor(3000);
        killed.finish();
        if (!(why = killed.brokenInvariant()).empty()) return "after the power cut's start, " + why;
    }
    // A file gone from a drive that is there needs its entry no more.
    for (const auto& entry : vorlu_test::entriesOf(vorlu_test::bytesOf(folder + "/vorlu.journal"))) {
        if (standin::sameFile(standin::utf8FromUtf16(entry.file.name), plan.deletedFile))
            return "the entry of " + plan.deletedFile + ", deleted, outlived the next start";
    }
    for (const auto& [file, original] : originals) {
        if (standin::sameFile(file, plan.deletedFile)) continue;
        std::string expected = standin::sameFile(file, plan.editedFile) ? edit : givenUp ? onDisk[file] : original;
        if (standin::utf16FromUtf8(killed.model.storedArtist(file)) != standin::utf16FromUtf8(expected))
            return file + " holds \"" + killed.model.storedArtist(file) + "\" after the next start, not \"" + expected +
                   "\"";
    }
    return "";
}

std::string runSession(const Plan& plan, int realTimeDivisor) {
    // A kill is simulated by swapping the host's answers, which only the virtual clock does safely.
    bool killed = (plan.killAt >= 0 || plan.killAfterOperation > 0) && realTimeDivisor == 0;
    std::string folder = vorlu_test::emptyFolder("random");
    std::string drive = vorlu_test::emptyFolder("random-drive");
    struct LetGo {
        ~LetGo() {
            for (HANDLE* held : {&heldFile, &heldJournal}) {
                if (*held != INVALID_HANDLE_VALUE) CloseHandle(*held);
                *held = INVALID_HANDLE_VALUE;
            }
        }
    } letGo;
    filesHeld.clear();
    journalHeld.clear();
    journalItselfHeld = false;
    winshim::mapDrive('C', drive, filesVolume);
    std::string stick = vorlu_test::emptyFolder("random-stick");
    if (plan.onAStick)
        winshim::mountFolder("C:\\r", stick, stickVolume);
    else
        winshim::unmountFolder("C:\\r");
    theirEntries = 0;
    // Journals left by others on the virtual clock only: on the real clock the first start's
    // settle is too short for a repair over half a megabyte under the race detector.
    if (plan.journalSlack > -3 && realTimeDivisor == 0) {
        const standin::Entry& first = plan.playlist.front();
        theirEntries = vorlu_test::fillJournal(
            folder, otherPlayer, vorlu_test::journalEntrySizeOf(first.file, first.artist) + plan.journalSlack);
    }
    std::string laterJournal;
    if (plan.laterJournal && realTimeDivisor == 0) {
        vorlu_test::fillJournal(folder, otherPlayer, JOURNAL_BUFFER_SIZE - JOURNAL_HEADER_SIZE - 200);
        laterJournal = vorlu_test::bytesOf(folder + "/vorlu.journal");
        laterJournal[8] = JOURNAL_VERSION + 1;
        std::ofstream(folder + "/vorlu.journal", std::ios::binary | std::ios::trunc) << laterJournal;
    }
    PluginSession session(plan.playlist, {.realTimeDivisor = realTimeDivisor,
                                          .hostVersion = plan.hostVersion,
                                          .journalFolder = folder,
                                          .titleDelayMin = plan.titleAtOnce ? 0 : 100,
                                          .titleDelayMax = plan.titleAtOnce ? 0 : 500,
                                          .titleDelaySeed = static_cast<unsigned>(plan.seed)});
    for (const auto& entry : plan.playlist) vorlu_test::placeOnDisk(entry.file);
    for (const auto& action : plan.actions)
        for (const auto& entry : action.playlist) vorlu_test::placeOnDisk(entry.file);
    if (realTimeDivisor == 0) winshim::switchThreads(static_cast<unsigned>(plan.seed), plan.switchOneIn);
    session.setTakesMs = plan.setTakes;
    if (plan.flushesRefused)
        winshim::refuseFlushes(
            [=](const std::string& path) { return path.rfind(drive, 0) == 0 || path.rfind(stick, 0) == 0; });
    if (plan.anotherPluginOnTop) {
        underMain = reinterpret_cast<WNDPROC>(
            SetWindowLongW(session.mainWindow, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(anotherPluginsMain)));
        underEditor = reinterpret_cast<WNDPROC>(
            SetWindowLongW(session.playlistEditor, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(anotherPluginsEditor)));
    }
    auto outsideTheWindows = [&plan] {
        long long now = winshim::now();
        for (const auto& [from, to] : plan.refusalWindows) {
            if (now >= from && now < to) return false;
        }
        return true;
    };
    switch (plan.refusal) {
    case Refusal::None:
        break;
    case Refusal::AllSets:
        session.model.acceptSets([](const std::string&, const std::string&) { return false; });
        break;
    case Refusal::SetsStopOneFileForAMoment:
        session.model.setFaults(plan.faultyFile, {.stopsOnSet = true});
        [[fallthrough]];
    case Refusal::SetsForAMoment:
        session.model.acceptSets([=](const std::string&, const std::string&) { return outsideTheWindows(); });
        break;
    case Refusal::WritesForAMoment:
        session.model.acceptWrites([=](const std::string&) { return outsideTheWindows(); });
        break;
    case Refusal::ReadsOfOneFile:
        session.model.acceptReads(
            [&plan](const std::string& file) { return !standin::sameFile(file, plan.faultyFile); });
        break;
    case Refusal::EmptyReadsOfOneFile:
        session.model.setFaults(plan.faultyFile, {.emptyReads = true});
        break;
    case Refusal::ReadOnlyFile:
        session.model.setFaults(plan.faultyFile, {.readOnly = true});
        break;
    case Refusal::WritesOfOneFileLandButFail:
        session.model.setFaults(plan.faultyFile, {.writesLandButFail = true});
        break;
    case Refusal::FilledReadsOfOneFile:
        session.model.setFaults(plan.faultyFile, {.fillsReadsUnterminated = true});
        break;
    }
    // The clicks before our messages, on the virtual clock, where the driver waits
    // meanwhile; made, they count among the listener's actions. Where threads are not
    // switched (the copies' lock releases would draw switches), another program sends each
    // step message with other values first, which must run nothing; after the click, a
    // copy of it runs the step, and a second copy, like ours then, must run nothing.
    Plan seen = plan;
    int messages = 0;
    std::string foreignStepRan;
    const UINT stepMessage = RegisterWindowMessageA("Vorlu.step");
    struct Unhook {
        ~Unhook() { winshim::setBeforeSend(nullptr); }
    } unhook;
    auto sendRunsNothing = [&](WPARAM wParam, LPARAM lParam, const char* what) {
        std::size_t requests = session.model.requestCount();
        SendMessageA(session.mainWindow, stepMessage, wParam, lParam);
        if (session.model.requestCount() != requests && foreignStepRan.empty())
            foreignStepRan = std::string(what) + " ran a step at " + std::to_string(winshim::now());
    };
    if (realTimeDivisor == 0)
        winshim::setBeforeSend([&](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            if (window != session.mainWindow) return;
            bool copied = message == stepMessage && plan.switchOneIn == 0;
            if (copied)
                for (auto [w, l] : {std::pair{wParam + 1, lParam}, {wParam, lParam + 1}, {lParam, wParam}})
                    sendRunsNothing(w, l, "another program's step message");
            auto click = plan.clicksBeforeMessages.find(++messages);
            if (click != plan.clicksBeforeMessages.end()) {
                seen.actions.push_back(Action{winshim::now(), click->second, 0, {}});
                perform(session, seen.actions.back());
            }
            if (!copied) return;
            SendMessageA(window, message, wParam, lParam);
            sendRunsNothing(wParam, lParam, "a copy of a step message that had run");
        });
    if (killed && plan.killAfterOperation > 0)
        winshim::dieAfterFileOperations(plan.killAfterOperation, [&session] {
            session.overrideAnswer = [](WPARAM, LPARAM) -> std::optional<LRESULT> { return 0; };
        });
    for (const auto& action : plan.actions) {
        if (killed && plan.killAt >= 0 && action.time > plan.killAt) break;
        session.runUntil(action.time);
        // Nothing can keep an edit from landing between a worker's read of the field and
        // its set: on real threads that instant is reachable, so edits are left to the
        // virtual clock, where the read and the set come together. A skipped action keeps
        // its time, and so the end keeps its distance from the refusals.
        if (realTimeDivisor > 0 && action.kind == "edit") continue;
        perform(session, action);
    }
    if (killed) {
        session.runUntil(plan.killAt >= 0 ? plan.killAt : winshim::now() + 5000);
        return killAndStartAgain(session, plan, folder, drive, stick);
    }
    if (plan.quitWhileRefusingFor >= 0 && realTimeDivisor == 0) {
        session.model.acceptSets([](const std::string&, const std::string&) { return false; });
        session.runFor(plan.quitWhileRefusingFor);
        return killAndStartAgain(session, plan, folder, drive, stick);
    }
    session.runFor(5000);
    // The host's exit and log-off end the input plug-ins as soon as quit's bound is over,
    // which the real clock shortens with every other wait: on the virtual clock only.
    Ending ending = realTimeDivisor > 0 && plan.ending != Ending::Finish ? Ending::Quit : plan.ending;
    long long quitAt = ending == Ending::Finish ? LLONG_MAX : winshim::now();
    switch (ending) {
    case Ending::Finish:
        if (!session.finish()) return "a worker still runs ten minutes after the stop";
        break;
    case Ending::Quit:
        plugin.quit();
        // On the real clock quit's bound is shortened with every other wait, but not the
        // disk's flush of the journal: allow the threads real time to finish.
        if (realTimeDivisor > 0) winshim::runUntilThreadsEnd(600000);
        break;
    case Ending::Exit:
        if (!session.exit()) return "the host was told not to quit";
        break;
    case Ending::LogOff:
        session.logOff();
        break;
    }
    if (winshim::threadsRunning() != 0) return "a worker outlived quit";
    if (std::string left = claimLeft(session); !left.empty()) return left;
    if (!foreignStepRan.empty()) return foreignStepRan;
    // Quit puts back each window's own procedure, or leaves another plug-in's where they
    // are, ours in the chain beneath.
    if ((ending == Ending::Quit || ending == Ending::LogOff) &&
        (winshim::windowProcedure(session.mainWindow) !=
             (plan.anotherPluginOnTop ? anotherPluginsMain : session.hostMainProcedure) ||
         winshim::windowProcedure(session.playlistEditor) !=
             (plan.anotherPluginOnTop ? anotherPluginsEditor : session.hostEditorProcedure)))
        return "quit left a window with another procedure than the one it had";
    // Where quit leaves a procedure of ours in the chain of a window still there, or runs
    // inside a frame of ours (a log-off's), the library stays loaded for good; else it may
    // go (on the virtual clock: on real threads the stand-in may still run a worker's step
    // message, on the worker's thread, in a frame of ours).
    bool mustPin = (ending == Ending::Quit && plan.anotherPluginOnTop) || ending == Ending::LogOff;
    bool pinned = winshim::moduleLoadPins() > 0;
    if (mustPin && !pinned) return "quit let the library go with code of ours still reachable";
    if (!mustPin && pinned && realTimeDivisor == 0) return "quit pinned the library";
    // A file whose writes all answer failure keeps its entry for the next start.
    std::string failing = plan.refusal == Refusal::WritesOfOneFileLandButFail ? plan.faultyFile : "";
    std::string left = plan.flushesRefused ? "" : entryLeft(folder, 4242, failing);
    if (!left.empty()) return left;
    if (std::string lost = theirEntriesKept(folder); !lost.empty()) return lost;
    if (!laterJournal.empty() && vorlu_test::bytesOf(folder + "/vorlu.journal") != laterJournal)
        return "a later version's journal was written";
    if (plan.hostVersion >= HOST_VERSION_LIMIT && !session.requests(IPC_GETPLAYLISTFILEW).empty())
        return "a host of no version known went the wide way";
    auto sets = session.sets();
    std::string why = session.setWithoutItsWrite();
    if (!why.empty()) return why;
    if (!(why = session.brokenInvariant()).empty()) return why;
    if (!stampsShowTheHostsTimes(session.model.requests(), session, &why)) return why;
    if (std::string stale = staleTitle(session); !stale.empty()) return stale;
    // Each reason a file plays unstamped is said once in a run, however often it plays.
    auto notes = winshim::debugOutput();
    std::sort(notes.begin(), notes.end());
    if (auto twice = std::adjacent_find(notes.begin(), notes.end()); twice != notes.end())
        return "the debugger was told twice: " + *twice;
    std::stable_sort(seen.actions.begin(), seen.actions.end(),
                     [](const Action& a, const Action& b) { return a.time < b.time; });
    if (realTimeDivisor == 0) {
        // Only the listener's starts count as plays, and every one of them: play tracking is
        // off only within a step of ours, which no click comes inside (a host before 5.0
        // counts as its input plug-ins have it).
        for (const auto& start : session.model.starts()) {
            bool counted = start.by == standin::Starter::Listener;
            if (seen.hostVersion >= HOST_VERSION_PLAY_TRACKING && start.counted != counted)
                return standin::describe(start);
        }
        if (!session.model.playTracking()) return "play tracking left off";
        // The play state stays the one the listener's actions left, but for blips of ours;
        // unless the host answered positions past its 32-bit range, which read as stopped.
        auto requests = session.model.requests();
        bool positionsWrapped = std::any_of(requests.begin(), requests.end(), [](const standin::Request& r) {
            return r.position < -1 ||
                   (r.code == IPC_GETOUTPUTTIME && r.wParam == IPC_GETOUTPUTTIME_POSITION_MS && r.answer < -1);
        });
        if (!positionsWrapped && !session.everyPlaybackChangeOfOursIsABlip(&why, seen.actions.back().time + 5000))
            return why;
        standin::FileMap<FileStamps> stamps;
        if (!stampsKeepToTheRules(session, &stamps, &why)) return why;
        if (!everyLongPlayIsStamped(seen, session, stamps, &why)) return why;
        if (!noFileStoppedTwiceByRefusals(session, &why)) return why;
        if (!restartsResumeWhereTheyStood(session, &why)) return why;
        if (!stampsKeepTheirCadence(seen, session, &why)) return why;
        if (!everyChangeIsAnsweredAtOnce(seen, session, stamps, &why)) return why;
        if (!positionsWrapped && !theTagShowsThisPlaysTime(seen, session, &why)) return why;
        if (!everySetIsCalledFor(session, quitAt, &why)) return why;
    }
    for (const auto& [file, stored] : session.model.storedArtists()) {
        std::string original = session.expectedEnd(file);
        if (!soundAcrossEdits(session, file, &why)) return why;
        if (standin::utf16FromUtf8(stored) != standin::utf16FromUtf8(original))
            return file + " ends as \"" + stored + "\", not \"" + original + "\"";
        if (ending == Ending::Exit || ending == Ending::LogOff) {
            if (standin::utf16FromUtf8(session.storedWhenQuitCalled.at(file)) != standin::utf16FromUtf8(original))
                return file + " was not back to its original when the host called quit";
        }
        if (!oneWriterAtATime(sets, file, &why)) return why;
    }
    return "";
}

// Runs count sessions from seed first; false at the first that fails.
// Runs the session of seed in a process of its own: the plug-in loaded fresh, as the
// player loads it at each of its starts, with nothing left from an earlier session.
std::string runInFreshProcess(unsigned long long seed) {
    std::string output = vorlu_test::emptyFolder("fresh") + "/output.txt";
    std::string command = "VORLU_FRESH_PROCESS=1 VORLU_SEED=" + std::to_string(seed) + " VORLU_SESSIONS=1 /proc/" +
                          std::to_string(getpid()) + "/exe > " + output + " 2>&1";
    if (std::system(command.c_str()) == 0) return "";
    return "in a process of its own:\n" + vorlu_test::bytesOf(output);
}

bool runSessions(unsigned long long first, int count, int divisor) {
    bool freshProcessesToo = std::getenv("VORLU_FRESH_PROCESS") == nullptr;
    for (int i = 0; i < count; ++i) {
        unsigned long long seed = first + static_cast<unsigned long long>(i);
        Plan plan = Generator(seed).plan(seed);
        std::string failure = freshProcessesToo && seed % 40 == 0 ? runInFreshProcess(seed) : runSession(plan, divisor);
        EXPECT_EQ(failure, "") << "session with VORLU_SEED=" << seed << " VORLU_SESSIONS=1\n" << plan.describe();
        if (!failure.empty()) return false;
    }
    return true;
}

// By default the same sessions every run, from a fixed seed, and one new session whose
// seed comes from the clock (printed, to repeat it); VORLU_SEED runs from that seed alone.
TEST(RandomSessions, everyFileEndsAsItsOriginal) {
    const char* countText = std::getenv("VORLU_SESSIONS");
    const char* seedText = std::getenv("VORLU_SEED");
    const char* divisorText = std::getenv("VORLU_REAL_TIME_DIVISOR");
    int count = countText ? std::atoi(countText) : 2000;
    int divisor = divisorText ? std::atoi(divisorText) : 0;
    const unsigned long long fixedSeed = 20261208;
    unsigned long long first = seedText ? std::strtoull(seedText, nullptr, 10) : fixedSeed;
    std::printf("random sessions: %d from seed %llu (VORLU_SEED=%llu VORLU_SESSIONS=%d repeats them)\n", count, first,
                first, count);
    auto started = std::chrono::steady_clock::now();
    if (!runSessions(first, count, divisor)) return;
    if (!seedText) {
        unsigned long long fresh =
            static_cast<unsigned long long>(std::chrono::system_clock::now().time_since_epoch().count()) %
            1000000007ULL;
        std::printf("and one new session: VORLU_SEED=%llu VORLU_SESSIONS=1\n", fresh);
        runSessions(fresh, 1, divisor);
    }
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::printf("%d sessions in %lld ms\n", count, static_cast<long long>(took.count()));
}

}  // namespace
