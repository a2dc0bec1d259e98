// The journal of stamped files: written before the first stamp, dropped after the
// write-back, and repaired at the next start when a player died in between; robust to
// whatever a journal on disk may hold.
#include "plugin/gen_vorlu.h"
#include "stamping/journal.h"
#include "stamping/repair.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"
#include "text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>

using vorlu_test::asVersion1;
using vorlu_test::bytesOf;
using vorlu_test::entriesOf;
using vorlu_test::PluginSession;

namespace {

const std::string fileA = "C:\\music\\a.mp3";
const DWORD deadPlayer = 777;  // a process that no longer runs
const DWORD livePlayer = 778;  // another player that still runs

std::string journalPath(const std::string& folder) { return folder + "/vorlu.journal"; }

// What a player left in folder when it died stamping fileA: its journal entry, written
// by the plug-in itself in a session as that player.
void leaveEntryOfADeadPlayer(const std::string& folder, const std::string& original, DWORD player = deadPlayer,
                             int entries = 1) {
    PluginSession died({{fileA, original, 240}}, {.journalFolder = folder, .processId = player});
    std::u16string units = standin::utf16FromUtf8(original);
    textUnit saved[WIDE_TEXT_SIZE] = {};
    std::copy(units.begin(), units.end(), saved);
    unsigned int sequence = 0;
    for (int i = 0; i < entries; ++i)
        ASSERT_EQ(journalRecord(vorlu_test::trackFileOf(fileA), saved, &sequence), JOURNAL_WRITTEN);
}

// The library's path as Windows gives it, which the file calls read back with slashes.
std::string libraryPathIn(const std::string& folder) {
    std::string path = folder + "/gen_vorlu.dll";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Folders for journals, removed when the test process ends.
std::string freshFolder() {
    static struct Made {
        std::vector<std::string> folders;
        ~Made() {
            for (const auto& folder : folders) std::filesystem::remove_all(folder);
        }
    } made;
    made.folders.push_back(vorlu_test::emptyFolder("journal-" + std::to_string(made.folders.size() + 1)));
    return made.folders.back();
}

// Where fileA is when the repair looks for it: on its drive, or on a stick mounted in the
// folder C:\music (its mount point an empty folder on the drive once it is unplugged).
enum class Place { There, Deleted, DriveUnplugged, AnotherVolume, OnAStick, StickUnplugged };

// Maps fileA's drive to a fresh folder, holding the file or not, or unplugs the drive;
// another volume under its letter holds no such file.
void placeFileA(Place place) {
    std::string drive = freshFolder(), stick = freshFolder();
    std::filesystem::create_directories(drive + "/music");
    if (place == Place::There) std::ofstream(drive + "/music/a.mp3") << "";
    if (place == Place::OnAStick) std::ofstream(stick + "/a.mp3") << "";
    winshim::mapDrive('C', place == Place::DriveUnplugged ? "" : drive,
                      place == Place::AnotherVolume ? 0x5EED0002 : 0x5EED0001);
    winshim::mountFolder("C:\\music", place == Place::OnAStick ? stick : "", 0x5EED0003);
}

struct RepairCase {
    const char* name;
    std::string storedNow;  // what the file holds at the next start
    bool readable;
    bool setsAccepted;
    std::string endsAs;
    bool writesBack;  // sends the original
    bool entryKept;
    int startsCounted = 0;
    enum { NoFault, ReadsEmpty, WritesFail } fault = NoFault;
    Place place = Place::There;
    std::string original = "Artist A";
    // Two entries of the file a dead player left; it plays, its input plug-in stopping it at a refused set.
    bool playsTwiceJournaled = false;
};

TEST(Journal, theNextStartTakesOutOnlyAStampOfOursAndKeepsWhatItCannotReadForLater) {
    const RepairCase cases[] = {
        {"a time stamp", "Artist A (1:05/4:00)", true, true, "Artist A", true, false},
        {"the pause mark", "Artist A (paused)", true, true, "Artist A", true, false},
        {"exactly the original", "Artist A", true, true, "Artist A", false, false},
        {"edited since", "Someone Else", true, true, "Someone Else", false, false},
        {"edited, with a stamp behind it", "Artist B (1:05/4:00)", true, true, "Artist B (1:05/4:00)", false, false},
        {"two stamps", "Artist A (1:05/4:00) (0:10/4:00)", true, true, "Artist A (1:05/4:00) (0:10/4:00)", false,
         false},
        {"unreadable now", "Artist A (1:05/4:00)", false, true, "Artist A (1:05/4:00)", false, true, 1},
        {"unreadable, its drive unplugged", "Artist A (1:05/4:00)", false, true, "Artist A (1:05/4:00)", false, true, 0,
         RepairCase::NoFault, Place::DriveUnplugged},
        {"unreadable, the file deleted", "Artist A (1:05/4:00)", false, true, "Artist A (1:05/4:00)", false, false, 0,
         RepairCase::NoFault, Place::Deleted},
        {"another volume under its drive letter, without the file", "Artist A (1:05/4:00)", false, true,
         "Artist A (1:05/4:00)", false, true, 0, RepairCase::NoFault, Place::AnotherVolume},
        {"the write-back refused", "Artist A (1:05/4:00)", true, false, "Artist A (1:05/4:00)", true, true},
        {"read as empty: it could not be opened, or the artist was cleared", "Artist A (1:05/4:00)", true, true,
         "Artist A (1:05/4:00)", false, true, 1, RepairCase::ReadsEmpty},
        {"the write-back fails at the commit", "Artist A (1:05/4:00)", true, true, "Artist A (1:05/4:00)", true, true,
         0, RepairCase::WritesFail},
        {"an artist ending in \u00ff, the highest single byte", "Artist \u00ff (1:05/4:00)", true, true,
         "Artist \u00ff", true, false, 0, RepairCase::NoFault, Place::There, "Artist \u00ff"},
        {"the write-back refused, stopping the file that plays: one set while it plays", "Artist A (1:05/4:00)", true,
         true, "Artist A (1:05/4:00)", true, true, 0, RepairCase::NoFault, Place::There, "Artist A", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = freshFolder();
        placeFileA(Place::There);  // the volume the entry names
        leaveEntryOfADeadPlayer(folder, c.original, deadPlayer, c.playsTwiceJournaled ? 2 : 1);
        placeFileA(c.place);
        PluginSession next({{fileA, c.storedNow, 240}}, {.journalFolder = folder, .settleRepair = false});
        next.model.acceptReads([&](const std::string&) { return c.readable; });
        next.model.acceptSets([&](const std::string&, const std::string&) { return c.setsAccepted; });
        next.model.setFaults(fileA, {.emptyReads = c.fault == RepairCase::ReadsEmpty});
        next.model.acceptWrites([&](const std::string&) { return c.fault != RepairCase::WritesFail; });
        if (c.playsTwiceJournaled) {
            next.model.setFaults(fileA, {.stopsOnSet = true, .readOnly = true});
            next.play();
        }
        next.runFor(1000);  // the repair alone, or with the file playing unstamped
        EXPECT_EQ(next.model.storedArtist(fileA), c.endsAs);
        EXPECT_EQ(next.sets().size(), c.writesBack ? 1u : 0u);
        EXPECT_LE(next.model.refusedSetStops().size(), 1u);
        auto left = entriesOf(bytesOf(journalPath(folder)));
        ASSERT_EQ(left.size(), c.entryKept ? (c.playsTwiceJournaled ? 2u : 1u) : 0u);
        if (c.entryKept) EXPECT_EQ(left[0].starts, c.startsCounted);
    }
}

// A file deleted from a share that is there: its entry goes, as on a drive.
TEST(Journal, aFileDeletedFromAShareThatIsThereLosesItsEntry) {
    std::string share = freshFolder();  // \\tmp\\<its name>, as a share
    std::string file = "\\\\tmp\\" + share.substr(share.find_last_of('/') + 1) + "\\music\\a.mp3";
    std::string folder = freshFolder();
    {
        PluginSession died({{file, "Artist A", 240}}, {.journalFolder = folder, .processId = deadPlayer});
        textUnit saved[WIDE_TEXT_SIZE] = {};
        unitsFromBytes(saved, WIDE_TEXT_SIZE, "Artist A");
        unsigned int sequence = 0;
        ASSERT_EQ(journalRecord(vorlu_test::trackFileOf(file), saved, &sequence), JOURNAL_WRITTEN);
    }
    PluginSession next({{"C:\\music\\b.mp3", "Artist B", 240}}, {.journalFolder = folder, .settleRepair = false});
    next.runFor(1000);  // the file is not in this player's list: it cannot be read
    EXPECT_TRUE(entriesOf(bytesOf(journalPath(folder))).empty());
}

// An entry is given up only for a reason that holds: its file there and unreadable (or
// read empty: the listener cleared the artist) at ten starts of a player, however long
// each runs and however often it repairs; never while its drive is unplugged.
TEST(Journal, anEntryIsGivenUpAfterTenStartsThatFoundItsFileThereAndUnreadable) {
    for (Place place : {Place::There, Place::DriveUnplugged}) {
        SCOPED_TRACE(place == Place::There ? "there" : "its drive unplugged");
        std::string folder = freshFolder();
        leaveEntryOfADeadPlayer(folder, "Artist A");
        placeFileA(place);
        for (int start = 1; start <= JOURNAL_MAX_STARTS + 2; ++start) {
            PluginSession next({{fileA, "Artist A (1:05/4:00)", 240}, {"C:\\music\\b.mp3", "Artist B", 4000}},
                               {.journalFolder = folder, .settleRepair = false});
            next.model.acceptReads([](const std::string& file) { return file != fileA; });
            // The first start plays for an hour: its repairs, every 40 s, count it once.
            if (start == 1) {
                next.jump(1);
                next.runUntil(3600 * 1000);
                next.stop();
            }
            next.runFor(1000);
            bool kept = place == Place::DriveUnplugged || start < JOURNAL_MAX_STARTS;
            int entriesOfA = 0;
            for (const auto& entry : entriesOf(bytesOf(journalPath(folder))))
                entriesOfA += sameFileName(entry.file, vorlu_test::trackFileOf(fileA));
            EXPECT_EQ(entriesOfA, kept ? 1 : 0) << start;
        }
    }
}

struct OwnerCase {
    const char* name;
    std::vector<winshim::OtherProcess> running;
    bool repaired;
};

TEST(Journal, onlyEntriesOfPlayersThatHaveEndedAreRepaired) {
    const OwnerCase cases[] = {
        {"its player has ended", {}, true},
        {"its player still runs", {{deadPlayer, 1}}, false},
        {"its process id now names a newer process", {{deadPlayer, 99}}, true},
        {"it runs elevated", {{deadPlayer, 1, false, PROCESS_QUERY_INFORMATION}}, false},
        {"it ran elevated and has ended", {{deadPlayer, 1, true, PROCESS_QUERY_INFORMATION}}, true},
        {"it ended with exit code 259, a handle to it still open", {{deadPlayer, 1, true}}, true},
        {"another user's, which Vorlu may not open", {{deadPlayer, 1, false, 0xFFFFFFFFu}}, false},
        {"its id reused, on a system without the limited right",
         {{deadPlayer, 99, false, PROCESS_QUERY_LIMITED_INFORMATION}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = freshFolder();
        leaveEntryOfADeadPlayer(folder, "Artist A");
        winshim::setOtherProcesses(c.running);
        PluginSession next({{fileA, "Artist A (1:05/4:00)", 240}},
                           {.journalFolder = folder, .processId = livePlayer, .settleRepair = false});
        next.runFor(1000);
        winshim::setOtherProcesses({});
        EXPECT_EQ(next.model.storedArtist(fileA), c.repaired ? "Artist A" : "Artist A (1:05/4:00)");
        EXPECT_EQ(entriesOf(bytesOf(journalPath(folder))).size(), c.repaired ? 0u : 1u);
    }
}

// Quit stops the repair between two files: what it has not reached waits, whole, for the
// next start.
TEST(Journal, aQuitDuringTheRepairLeavesTheRestForTheNextStart) {
    std::string folder = freshFolder();
    leaveEntryOfADeadPlayer(folder, "Artist A");
    {
        PluginSession next({{fileA, "Artist A (1:05/4:00)", 240}},
                           {.journalFolder = folder, .processId = livePlayer, .settleRepair = false});
        plugin.quit();
        EXPECT_EQ(winshim::threadsRunning(), 0);
        EXPECT_EQ(next.model.storedArtist(fileA), "Artist A (1:05/4:00)");
        EXPECT_EQ(entriesOf(bytesOf(journalPath(folder))).size(), 1u);
    }
    PluginSession later({{fileA, "Artist A (1:05/4:00)", 240}},
                        {.journalFolder = folder, .processId = livePlayer + 1, .settleRepair = false});
    later.runFor(1000);
    EXPECT_EQ(later.model.storedArtist(fileA), "Artist A");
}

// A worker of this run and the repair meet on one file: whichever claims it first, the
// other leaves it alone, and the file ends as its original.
TEST(Journal, theRepairAndAWorkerShareTheClaimOnAFile) {
    for (bool workerFirst : {true, false}) {
        SCOPED_TRACE(workerFirst ? "the worker first" : "the repair first");
        std::string folder = freshFolder();
        leaveEntryOfADeadPlayer(folder, "Artist A");
        PluginSession next({{fileA, "Artist A (1:05/4:00)", 240}}, {.journalFolder = folder, .settleRepair = false});
        bool slowed = false;
        next.overrideAnswer = [&](WPARAM, LPARAM code) -> std::optional<LRESULT> {
            // The repair's read takes its time, the claims held meanwhile.
            if (!workerFirst && !slowed && code == next.readCode()) {
                slowed = true;
                Sleep(300);
            }
            return std::nullopt;
        };
        // The repair waits while another player updates the journal; the worker claims the file meanwhile.
        HANDLE held = workerFirst ? CreateFileW(standin::utf16FromUtf8(folder + "/vorlu.journal.lock").c_str(),
                                                GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, nullptr)
                                  : nullptr;
        if (!workerFirst) next.runFor(100);
        next.play();
        if (held) {
            next.runFor(100);
            CloseHandle(held);
        }
        next.runUntil(20500);
        next.stop();
        next.runUntil(25000);
        std::string why;
        auto history = next.artistHistory(fileA);
        history.front() = "Artist A";  // what the journal says it was
        EXPECT_TRUE(vorlu_test::historyIsSound(history, "Artist A", &why)) << why;
        EXPECT_EQ(next.model.storedArtist(fileA), "Artist A");
        bool stamped = false;
        for (const auto& commit : next.commitsOf(fileA)) stamped |= vorlu_test::isStamp(commit.artist, "Artist A");
        EXPECT_TRUE(stamped);
        EXPECT_TRUE(entriesOf(bytesOf(journalPath(folder))).empty());
    }
}

std::string validJournalOf(const std::string& original) {
    std::string folder = freshFolder();
    leaveEntryOfADeadPlayer(folder, original);
    return bytesOf(journalPath(folder));
}

std::string validJournal() { return validJournalOf("Artist A"); }

struct BrokenCase {
    const char* name;
    std::function<std::string(std::string)> broken;  // from a valid journal of one entry
    std::size_t validEntries;
    bool readWhole = true;  // else it is never read as a journal, nor replaced
};

TEST(Journal, aBrokenJournalIsNeverActedOnAndVorluWorksOn) {
    const BrokenCase cases[] = {
        {"empty", [](std::string) { return std::string(); }, 0},
        {"the header alone", [](std::string j) { return j.substr(0, JOURNAL_HEADER_SIZE); }, 0},
        {"another file's magic",
         [](std::string j) {
             j[0] = 'X';
             return j;
         },
         0},
        {"a later version",
         [](std::string j) {
             j[8] = JOURNAL_VERSION + 1;
             return j;
         },
         0},
        {"version 1, as an earlier Vorlu wrote it", asVersion1, 1},
        {"cut inside its entry", [](std::string j) { return j.substr(0, j.size() - 3); }, 0},
        {"a bit flipped in a name",
         [](std::string j) {
             j[j.size() - 12] ^= 0x10;
             return j;
         },
         0},
        {"a size beyond the file",
         [](std::string j) {
             j[JOURNAL_HEADER_SIZE + 3] = 0x7F;
             return j;
         },
         0},
        {"garbage after a whole entry", [](std::string j) { return j + std::string(100, '\xEE'); }, 1},
        {"longer than any journal we write",
         [](std::string j) { return j + std::string(static_cast<std::size_t>(JOURNAL_BUFFER_SIZE), '\0'); }, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = freshFolder(), library = freshFolder();
        std::string bytes = c.broken(validJournal());
        EXPECT_EQ(entriesOf(bytes).size(), c.validEntries);
        std::ofstream(journalPath(folder), std::ios::binary) << bytes;
        // A later version's journal is not ours to write: the next folder takes this run's.
        winshim::setModulePath(libraryPathIn(library));
        // The file's stamp is taken out only from a whole entry; else it stays, no journal
        // proving it ours, and the file plays unstamped.
        PluginSession next({{fileA, "Artist A (1:05/4:00)", 240}}, {.journalFolder = folder, .settleRepair = false});
        next.runFor(1000);
        bool actedOn = c.validEntries > 0 && c.readWhole;
        std::string artist = actedOn ? "Artist A" : "Artist A (1:05/4:00)";
        EXPECT_EQ(next.model.storedArtist(fileA), artist);
        next.play();
        next.runUntil(5000);
        next.stop();
        next.runUntil(8000);
        winshim::setModulePath("");
        bool stamped = false;
        for (const auto& commit : next.commitsOf(fileA)) stamped |= vorlu_test::isStamp(commit.artist, artist);
        EXPECT_EQ(stamped, actedOn);
        EXPECT_EQ(next.model.storedArtist(fileA), artist);
        // Not ours to judge, nor to remove at a clean quit: a later version's journal stays whole.
        plugin.quit();
        if (std::string(c.name) == "a later version" || !c.readWhole) EXPECT_EQ(bytesOf(journalPath(folder)), bytes);
    }
}

// The corners where a stamp could outlive its entry: the listener's moves, the step slowed
// or failed meanwhile, how the player ends, and what must survive. In every row the harness
// checks, at each set and each journal that reaches its disk, that every file a power cut
// could leave stamped has its entry there; and the next start finds A as its original, with
// no entry of it left (but after the version 1 journal, which must stay as it was).
enum class Slowed {
    None,
    JournalLockHeld,      // another player holds the journal's lock for the first 1.1 s
    WriteBackSlow,        // the host takes 30 ms to write A's original back
    FileHeld,             // another program holds A from 20 s on, sharing reads only: no flush of it
    StickOutAtNextStart,  // A is on a stick mounted in C:\music, out at the next start, back at the one after
    Version1NearBound,    // the version before's journal, which written anew would outgrow the bound
};
enum class Ending { Kill, PowerCut, Quit };

struct Move {
    long long at;
    void (PluginSession::*move)();
};

struct Corner {
    const char* name;
    std::vector<Move> moves;
    Slowed slowed;
    long long endsAt;
    Ending ending;
    int stampsOfA = -1;   // exactly this many stamps of A (-1: at least one)
    int entriesOfA = -1;  // A's entries on disk once the player has ended (-1: not looked at)
};

// A version 1 journal of a dead player's entries of A whose long originals, written anew
// as version 2 (a few bytes more an entry), would not fit the bound.
std::string version1JournalNearTheBound() {
    for (std::size_t length = vorlu_test::oldHostRun() ? 150 : 900;; ++length) {
        std::string two = validJournalOf(std::string(length, 'a')), one = asVersion1(two);
        std::size_t entry = one.size() - JOURNAL_HEADER_SIZE,
                    fits = (JOURNAL_BUFFER_SIZE - JOURNAL_HEADER_SIZE) / entry;
        if (JOURNAL_HEADER_SIZE + fits * (two.size() - JOURNAL_HEADER_SIZE) <= std::size_t{JOURNAL_BUFFER_SIZE})
            continue;
        std::string bytes = one.substr(0, JOURNAL_HEADER_SIZE);
        for (std::size_t i = 0; i < fits; ++i) bytes += one.substr(JOURNAL_HEADER_SIZE);
        return bytes;
    }
}

int entriesOfAIn(const std::string& folder) {
    int count = 0;
    for (const auto& entry : entriesOf(bytesOf(journalPath(folder))))
        count += sameFileName(entry.file, vorlu_test::trackFileOf(fileA));
    return count;
}

TEST(Journal, noCornerLeavesAStampWithoutItsEntry) {
    {
        // Two claims of one file by this player meet in the journal where the first waited
        // there: each entry goes with its own number only.
        PluginSession session({{fileA, "Artist A", 240}}, {.journalFolder = freshFolder()});
        unsigned int first = 0, second = 0;
        for (unsigned int* sequence : {&first, &second})
            journalRecord(vorlu_test::trackFileOf(fileA), standin::utf16FromUtf8("Artist A").c_str(), sequence);
        EXPECT_EQ(entriesOfAIn(session.journalFolder), 2);
        journalForget(first);
        EXPECT_EQ(entriesOfAIn(session.journalFolder), 1);
        journalForget(second);
    }
    using P = PluginSession;
    auto awayAndBack = [](long long at, long long gap) {
        return std::vector<Move>{{0, &P::play}, {at, &P::next}, {at + gap, &P::previous}};
    };
    const std::vector<Move> playing = {{0, &P::play}}, onToB = {{0, &P::play}, {20500, &P::next}};
    const long long writerDone = 20500 + SYSTEM_WRITER_DELAY_MS + 1500;
    const Corner corners[] = {
        {"A plays while the lock is held: one stamp, once it is let go", playing, Slowed::JournalLockHeld, 5000,
         Ending::Quit, 1, 0},
        {"A, B and A again while the lock is held: of A's two waiting workers one stamps, once", awayAndBack(500, 300),
         Slowed::JournalLockHeld, 5000, Ending::Quit, 1, 0},
        {"A, B and A again at once while A's write-back is slow", awayAndBack(10500, 0), Slowed::WriteBackSlow, 40000,
         Ending::PowerCut},
        {"... 1 ms apart", awayAndBack(10500, 1), Slowed::WriteBackSlow, 40000, Ending::PowerCut},
        {"... 2 ms apart", awayAndBack(10500, 2), Slowed::WriteBackSlow, 40000, Ending::PowerCut},
        {"... 5 ms apart", awayAndBack(10500, 5), Slowed::WriteBackSlow, 40000, Ending::PowerCut},
        {"... 10 ms apart", awayAndBack(10500, 10), Slowed::WriteBackSlow, 40000, Ending::PowerCut},
        {"... 50 ms apart", awayAndBack(10500, 50), Slowed::WriteBackSlow, 40000, Ending::PowerCut},
        {"the power goes right after A's write-back, which was flushed", onToB, Slowed::None, 20600, Ending::PowerCut,
         -1, 0},
        {"the power goes after A's write-back while another program holds A", onToB, Slowed::FileHeld, 21000,
         Ending::PowerCut, -1, 1},
        {"... once the system's writer has had its time", onToB, Slowed::FileHeld, writerDone, Ending::PowerCut, -1, 0},
        {"the player quits after A's write-back while another program holds A", onToB, Slowed::FileHeld, 21000,
         Ending::Quit, -1, 1},
        {"A on a stick mounted in a folder", playing, Slowed::StickOutAtNextStart, 20500, Ending::Kill, -1, 1},
        {"a version 1 journal just under the bound", {}, Slowed::Version1NearBound, 1000, Ending::Quit, 0},
    };
    for (const auto& c : corners) {
        SCOPED_TRACE(c.name);
        std::string folder = freshFolder(), library = freshFolder(), older;
        placeFileA(c.slowed == Slowed::StickOutAtNextStart ? Place::OnAStick : Place::There);
        if (c.slowed == Slowed::Version1NearBound) {
            older = version1JournalNearTheBound();
            std::ofstream(journalPath(folder), std::ios::binary) << older;
            winshim::mapDrive('C', "");  // their drive unplugged: the repair keeps every entry
            winshim::setModulePath(libraryPathIn(library));
        }
        std::optional<PluginSession> session;
        // The repair of the journal of the version before must find every read refused.
        bool settle = c.slowed != Slowed::Version1NearBound;
        session.emplace(std::vector<standin::Entry>{{fileA, "Artist A", 240}, {"C:\\music\\b.mp3", "Artist B", 600}},
                        vorlu_test::SessionOptions{.journalFolder = folder, .settleRepair = settle});
        HANDLE lock = INVALID_HANDLE_VALUE, held = INVALID_HANDLE_VALUE;
        std::vector<std::pair<long long, std::function<void()>>> events;
        for (const auto& m : c.moves) events.emplace_back(m.at, [&, m] { (*session.*m.move)(); });
        switch (c.slowed) {
        case Slowed::JournalLockHeld:
            lock = CreateFileW(standin::utf16FromUtf8(folder + "/vorlu.journal.lock").c_str(),
                               GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            events.emplace_back(1100, [&] {
                winshim::yieldAtLockRelease(true);
                CloseHandle(lock);
            });
            break;
        case Slowed::WriteBackSlow:
            winshim::yieldAtLockRelease(true);
            session->overrideAnswer = [&, writingBack = false](WPARAM wParam, LPARAM code) mutable {
                if (code == session->setCode()) writingBack = vorlu_test::valueOfSet(wParam, code) == "Artist A";
                if (code == IPC_WRITE_EXTENDED_FILE_INFO && writingBack) Sleep(30);
                return std::optional<LRESULT>();
            };
            break;
        case Slowed::FileHeld:
            events.emplace_back(20000, [&] {
                held = CreateFileW(standin::utf16FromUtf8(fileA).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            });
            break;
        case Slowed::Version1NearBound:
            session->model.acceptReads([](const std::string&) { return false; });
            break;
        default:
            break;
        }
        std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [at, event] : events) {
            session->runUntil(at);
            event();
        }
        session->runUntil(c.endsAt);
        if (c.slowed == Slowed::Version1NearBound) {
            winshim::setModulePath("");
            EXPECT_TRUE(bytesOf(journalPath(folder)) == older);
            EXPECT_FALSE(bytesOf(journalPath(library)).empty());
        }
        if (c.ending != Ending::Quit)
            session->overrideAnswer = [](WPARAM, LPARAM) -> std::optional<LRESULT> { return 0; };
        plugin.quit();
        if (c.ending == Ending::PowerCut) {
            session->model.powerCut();
            winshim::powerCut();
        }
        winshim::yieldAtLockRelease(false);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        int stamps = 0;
        for (const auto& commit : session->commitsOf(fileA)) stamps += vorlu_test::isStamp(commit.artist, "Artist A");
        if (c.stampsOfA >= 0) EXPECT_EQ(stamps, c.stampsOfA);
        if (c.stampsOfA < 0) EXPECT_GT(stamps, 0);
        if (c.entriesOfA >= 0) EXPECT_EQ(entriesOfAIn(folder), c.entriesOfA);
        std::string left = session->model.storedArtist(fileA);
        session.reset();
        if (c.slowed == Slowed::Version1NearBound) continue;
        // The next start, on what the disk holds; with A's stick out, A and its entry stay for the one after.
        if (c.slowed == Slowed::StickOutAtNextStart) {
            placeFileA(Place::StickUnplugged);
            PluginSession out({{fileA, left, 240}},
                              {.journalFolder = folder, .processId = 4243, .settleRepair = false});
            out.model.acceptReads([](const std::string&) { return false; });
            out.runFor(1000);
            EXPECT_EQ(out.model.storedArtist(fileA), left);
            EXPECT_EQ(entriesOfAIn(folder), 1);
            placeFileA(Place::OnAStick);
        }
        PluginSession next({{fileA, left, 240}}, {.journalFolder = folder, .processId = 4244, .settleRepair = false});
        next.runFor(1000);
        EXPECT_EQ(next.model.storedArtist(fileA), "Artist A");
        EXPECT_EQ(entriesOfAIn(folder), 0);
    }
}

struct FolderCase {
    const char* name;
    LRESULT hostVersion;
    std::string settingsName;  // under the test's folder; empty: the host names none
    bool settingsReadOnly;
    bool inSettings;  // else beside the library
};

// The journal goes to the first folder it can be written in, named in UTF-16 wherever
// the host gives it so.
TEST(Journal, livesInTheFirstFolderItCanBeWrittenIn) {
    const FolderCase cases[] = {
        {"a host before 2.9: no settings folder", 0x2081, "settings", false, false},
        {"a 2.9 host: its settings folder", 0x2090, "settings", false, true},
        {"a host that answers 1 to the folder request", 0x2090, "", false, false},
        {"a 5.58 host that answers 1 to both folder requests", 0x5066, "", false, false},
        {"a 5.13 host", 0x5013, "settings", false, true},
        {"a 5.58 host, a folder in Cyrillic and Chinese", 0x5058,
         "\u0414\u043c\u0438\u0442\u0440\u0438\u0439 \u97f3\u697d", false, true},
        {"a 5.57 host, the same folder: '?' through the code page", 0x5057,
         "\u0414\u043c\u0438\u0442\u0440\u0438\u0439 \u97f3\u697d", false, false},
        {"a settings folder that cannot be written, with a lock file left in it", 0x5066, "settings", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string root = freshFolder();
        std::string settings = root + "/" + (c.settingsName.empty() ? "settings" : c.settingsName);
        std::string library = root + "/library";
        std::filesystem::create_directories(settings);
        std::filesystem::create_directories(library);
        winshim::setModulePath(libraryPathIn(library));
        if (c.settingsReadOnly) {
            std::ofstream(settings + "/vorlu.journal.lock") << "";
            winshim::setReadOnlyFolder(settings, true);
        }
        std::string expected = journalPath(c.inSettings ? settings : library);
        std::vector<std::size_t> entriesAtSets;
        {
            PluginSession session(
                {{fileA, "Artist A", 240}},
                {.hostVersion = c.hostVersion, .journalFolder = c.settingsName.empty() ? "" : settings});
            session.overrideAnswer = [&](WPARAM, LPARAM code) -> std::optional<LRESULT> {
                // In the folder expected: the harness finds the entry in either.
                if (code == IPC_SET_EXTENDED_FILE_INFO || code == IPC_SET_EXTENDED_FILE_INFOW)
                    entriesAtSets.push_back(entriesOf(bytesOf(expected)).size());
                return std::nullopt;
            };
            session.play();
            session.runUntil(20500);
            session.stop();
            session.runUntil(25000);
            EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
        }
        winshim::setReadOnlyFolder(settings, false);
        winshim::setModulePath("");
        ASSERT_EQ(entriesAtSets.size(), 3u);  // two stamps, one write-back
        for (std::size_t count : entriesAtSets) EXPECT_EQ(count, 1u);
    }
}

// At a clean quit a journal that holds nothing goes, and its lock file with it, wherever
// this run left them: from its stamps, or from a start that only repaired; one that holds
// another player's entry stays.
TEST(Journal, aCleanQuitLeavesNoEmptyJournalBehind) {
    const struct {
        const char* name;
        bool anotherPlayersEntry;
        bool plays;
    } cases[] = {{"stamped, then empty", false, true},
                 {"another player's entry", true, true},
                 {"a start that only repaired a killed player's stamp", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = freshFolder(), library = freshFolder();
        leaveEntryOfADeadPlayer(folder, "Artist A", c.anotherPlayersEntry ? livePlayer : deadPlayer);
        winshim::setOtherProcesses({{livePlayer, 1}});
        winshim::setModulePath(libraryPathIn(library));
        std::ofstream(library + "/vorlu.journal.lock") << "";  // a lock file a killed player left alone
        PluginSession session({{fileA, "Artist A (1:05/4:00)", 240}, {"C:\\music\\b.mp3", "Artist B", 240}},
                              {.journalFolder = folder, .settleRepair = false});
        session.runFor(1000);
        if (c.plays) {
            session.jump(1);
            session.runUntil(20500);
        }
        plugin.quit();
        winshim::setOtherProcesses({});
        winshim::setModulePath("");
        EXPECT_EQ(session.model.storedArtist(fileA), c.anotherPlayersEntry ? "Artist A (1:05/4:00)" : "Artist A");
        EXPECT_EQ(std::filesystem::exists(journalPath(folder)), c.anotherPlayersEntry);
        EXPECT_EQ(std::filesystem::exists(folder + "/vorlu.journal.lock"), c.anotherPlayersEntry);
        EXPECT_TRUE(std::filesystem::is_empty(library));
    }
}

// Entries left beside the library, where a player journaled while its settings folder
// could not be written, are repaired at the next start as well.
TEST(Journal, theNextStartRepairsEveryFolderAJournalMayBeIn) {
    std::string root = freshFolder();
    std::string settings = root + "/settings", library = root + "/library";
    std::filesystem::create_directories(settings);
    std::filesystem::create_directories(library);
    winshim::setModulePath(libraryPathIn(library));
    leaveEntryOfADeadPlayer(root + "/nowhere", "Artist A");
    ASSERT_EQ(entriesOf(bytesOf(journalPath(library))).size(), 1u);
    PluginSession next({{fileA, "Artist A (1:05/4:00)", 240}},
                       {.journalFolder = settings, .processId = livePlayer, .settleRepair = false});
    next.runFor(1000);
    winshim::setModulePath("");
    EXPECT_EQ(next.model.storedArtist(fileA), "Artist A");
    EXPECT_TRUE(entriesOf(bytesOf(journalPath(library))).empty());
}

enum class Survivor { Playing, Paused, IdleUntilTheKill };

// A player that goes on running, playing or paused, takes out the stamps of one killed
// beside it within a minute, without a start of its own, whenever the other dies: just
// after one of its own repairs is the latest case. One that sat idle since its start does
// so once it plays: the minute counts from its last repair, however long ago that was.
TEST(Journal, aRunningPlayerRepairsAKilledPlayersStampsWithinAMinute) {
    for (Survivor situation : {Survivor::Playing, Survivor::Paused, Survivor::IdleUntilTheKill}) {
        SCOPED_TRACE(static_cast<int>(situation));
        long long latest = 0;
        for (long long killedAt = 2000; killedAt <= 100000; killedAt += 3700) {
            std::string folder = freshFolder();
            leaveEntryOfADeadPlayer(folder, "Artist A");
            winshim::setOtherProcesses({{deadPlayer, 1}});  // still running when this one starts
            PluginSession survivor({{fileA, "Artist A (1:05/4:00)", 240}, {"C:\\music\\b.mp3", "Artist B", 600}},
                                   {.journalFolder = folder, .processId = livePlayer});
            if (situation != Survivor::IdleUntilTheKill) survivor.jump(1);
            survivor.runUntil(1500);
            if (situation == Survivor::Paused) survivor.pause();
            survivor.runUntil(killedAt);
            EXPECT_EQ(survivor.model.storedArtist(fileA), "Artist A (1:05/4:00)");
            winshim::setOtherProcesses({});  // killed now
            if (situation == Survivor::IdleUntilTheKill) survivor.jump(1);
            survivor.runUntil(killedAt + 90000);
            EXPECT_EQ(survivor.model.storedArtist(fileA), "Artist A") << killedAt;
            if (!survivor.commitsOf(fileA).empty())
                latest = std::max(latest, survivor.commitsOf(fileA).back().time - killedAt);
        }
        EXPECT_LE(latest, 60000);
    }
}

// Every update is flushed to disk before it replaces the journal: a crash in between
// leaves the old journal or the new one, whole.
TEST(Journal, everyUpdateIsOnDiskBeforeItReplacesTheJournal) {
    PluginSession session({{fileA, "Artist A", 240}}, {.journalFolder = freshFolder()});
    session.play();
    session.runUntil(20500);
    session.stop();
    session.runUntil(25000);
    auto operations = winshim::fileOperations();
    int replaced = 0;
    for (std::size_t i = 0; i < operations.size(); ++i) {
        if (operations[i].rfind("move ", 0) != 0) continue;
        std::string from = operations[i].substr(5, operations[i].find(" -> ") - 5);
        EXPECT_GT(i, 0u);
        if (i > 0) EXPECT_EQ(operations[i - 1], "flush " + from);
        ++replaced;
    }
    EXPECT_EQ(replaced, 3);  // the journal proved at init, the entry written, the entry dropped
}

// Where no update of the journal can land, the file plays unstamped rather than stamped
// without a record, the journal stays as it was, and no temporary file is left behind:
// no folder takes the journal (the settings folder read-only or not there, the library's
// unknown); or it is there, but held open without delete sharing so it cannot be
// replaced, on a file system that writes short, or it opens but cannot be read.
enum class Unwritable { ReadOnlyFolder, NoFolder, HeldWithoutDeleteSharing, WritesComeShort, ReadsFail };

struct UnwritableCase {
    const char* name;
    Unwritable fault;
    long long playsFor;  // ms of playback before the stop, the fault lifted 4.5 s later
};

TEST(Journal, whereNoUpdateCanLandTheFilePlaysUnstampedAndTheJournalStaysAsItWas) {
    const UnwritableCase cases[] = {
        {"the settings folder read-only", Unwritable::ReadOnlyFolder, 20500},
        {"no such settings folder", Unwritable::NoFolder, 20500},
        {"the journal held without delete sharing", Unwritable::HeldWithoutDeleteSharing, 5000},
        {"writes come short", Unwritable::WritesComeShort, 5000},
        {"reads of the journal fail", Unwritable::ReadsFail, 5000},
    };
    const std::string fileB = "C:\\music\\b.mp3";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = c.fault == Unwritable::NoFolder ? "/nonexistent/vorlu" : freshFolder();
        if (c.fault == Unwritable::ReadOnlyFolder) {
            std::ofstream(folder + "/vorlu.journal.lock") << "";
            winshim::setReadOnlyFolder(folder, true);
        } else if (c.fault != Unwritable::NoFolder) {
            // Another player's entry, which no update that fails may lose.
            leaveEntryOfADeadPlayer(folder, "Artist A", livePlayer);
            winshim::setOtherProcesses({{livePlayer, 1}});
        }
        PluginSession session({{fileB, "Artist B", 240}}, {.journalFolder = folder});
        std::string before = bytesOf(journalPath(folder));
        HANDLE reader = c.fault == Unwritable::HeldWithoutDeleteSharing
                            ? CreateFileW(standin::utf16FromUtf8(journalPath(folder)).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                            : nullptr;
        winshim::writeShort(c.fault == Unwritable::WritesComeShort);
        winshim::failReads(c.fault == Unwritable::ReadsFail);
        session.play();
        session.runUntil(c.playsFor);
        session.stop();
        session.runUntil(c.playsFor + 4500);
        winshim::writeShort(false);
        winshim::failReads(false);
        if (reader) CloseHandle(reader);
        winshim::setOtherProcesses({});
        winshim::setReadOnlyFolder(folder, false);
        EXPECT_TRUE(session.sets().empty());
        EXPECT_EQ(session.model.storedArtist(fileB), "Artist B");
        EXPECT_EQ(bytesOf(journalPath(folder)), before);
        EXPECT_FALSE(std::filesystem::exists(folder + "/vorlu.journal.new"));
    }
}

// A write-back retried after the player moved on drops its own file's entry when it
// succeeds, never the entry of the file that plays now.
TEST(Journal, theEndOfARetriedWriteBackDropsOnlyItsOwnEntry) {
    std::string folder = freshFolder();
    PluginSession session({{fileA, "Artist A", 240}, {"C:\\music\\b.mp3", "Artist B", 240}}, {.journalFolder = folder});
    session.model.acceptSets(vorlu_test::refuseWriteBacks("Artist A", 2));
    session.play();
    session.runUntil(10500);
    session.next();
    session.runUntil(20000);
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
    auto left = entriesOf(bytesOf(journalPath(folder)));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(sameFileName(left[0].file, vorlu_test::trackFileOf("C:\\music\\b.mp3")));
}

struct FailedUpdateCase {
    const char* name;
    long long failsFor;  // ms during which the folder takes no new journal
    bool firstStamped;
};

// An update that fails is tried again in the same folder: the folder never moves on, so a
// later file is stamped with its entry there, never without one.
TEST(Journal, aFailedUpdateIsTriedAgainInTheSameFolderAndNoFileIsStampedWithoutItsEntry) {
    const FailedUpdateCase cases[] = {
        {"for a moment: an antivirus holding the folder", 300, true},
        {"for longer than the retries: the first file plays unstamped", 5000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = freshFolder();
        PluginSession session({{fileA, "Artist A", 240}, {"C:\\music\\b.mp3", "Artist B", 240}},
                              {.journalFolder = folder});
        winshim::setReadOnlyFolder(folder, true);
        session.play();
        session.runFor(c.failsFor);
        winshim::setReadOnlyFolder(folder, false);
        session.runUntil(20500);
        session.next();
        session.runUntil(40500);
        session.stop();
        session.runUntil(45000);
        EXPECT_EQ(session.commitsOf(fileA).empty(), !c.firstStamped);
        EXPECT_FALSE(session.commitsOf("C:\\music\\b.mp3").empty());
        EXPECT_TRUE(entriesOf(bytesOf(journalPath(folder))).empty());
    }
}

// Another program (a backup, a sync tool) holds the journal open without read sharing:
// it is never taken for "no journal" and replaced, which would lose the other players'
// entries. A moment's hold is waited for; a longer one leaves the file unstamped, and
// stamping goes on afterwards.
TEST(Journal, aJournalHeldWithoutReadSharingIsWaitedForAndNeverReplaced) {
    for (long long heldFor : {300, 20500}) {
        SCOPED_TRACE(heldFor);
        // Read by the sync tool, not shared for reading: nothing of it can be read.
        std::string folder = freshFolder();
        leaveEntryOfADeadPlayer(folder, "Artist A", livePlayer);
        winshim::setOtherProcesses({{livePlayer, 1}});
        const std::string fileB = "C:\\music\\b.mp3", fileC = "C:\\music\\c.mp3";
        PluginSession session({{fileB, "Artist B", 240}, {fileC, "Artist C", 240}}, {.journalFolder = folder});
        std::string before = bytesOf(journalPath(folder));
        HANDLE backup = CreateFileW(standin::utf16FromUtf8(journalPath(folder)).c_str(), GENERIC_READ,
                                    FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(backup, INVALID_HANDLE_VALUE);
        session.play();
        session.runFor(heldFor);
        EXPECT_EQ(bytesOf(journalPath(folder)), before);
        CloseHandle(backup);
        session.runUntil(20500);
        EXPECT_EQ(session.sets().empty(), heldFor > 1000);
        session.next();
        session.runUntil(30500);
        session.stop();
        session.runUntil(35000);
        winshim::setOtherProcesses({});
        EXPECT_FALSE(session.commitsOf(fileC).empty());
        EXPECT_EQ(session.model.storedArtist(fileC), "Artist C");
        auto left = entriesOf(bytesOf(journalPath(folder)));
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(left[0].processId, livePlayer);
    }
}

struct HeldFolderCase {
    const char* name;
    bool entryInTheHeldFolder;
};

// A file holding a stamp of a killed run plays while one of the journals cannot be read:
// where the held one may prove the stamp ours, the file waits for a later play rather than
// be stamped behind it; where another journal proves it, it is taken off at once.
TEST(Journal, aHeldJournalThatMayProveAStampOursHoldsTheFileBack) {
    const HeldFolderCase cases[] = {{"the entry in the held journal", true}, {"the entry in the other one", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string settings = freshFolder(), library = freshFolder();
        // The library's journal is the one held; the entry is in it, or in the settings folder's.
        winshim::setModulePath(libraryPathIn(library));
        leaveEntryOfADeadPlayer(c.entryInTheHeldFolder ? "/nonexistent/vorlu" : settings, "Artist A");
        const std::string& held = library;
        if (!std::filesystem::exists(journalPath(held)))
            std::ofstream(journalPath(held), std::ios::binary)
                << bytesOf(journalPath(settings)).substr(0, JOURNAL_HEADER_SIZE);
        HANDLE backup = CreateFileW(standin::utf16FromUtf8(journalPath(held)).c_str(), GENERIC_READ, FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(backup, INVALID_HANDLE_VALUE);
        // Its player still runs, so the repair leaves it: healing alone decides.
        winshim::setOtherProcesses({{deadPlayer, 1}});
        PluginSession next({{fileA, "Artist A (1:05/4:00)", 240}},
                           {.journalFolder = settings, .processId = livePlayer, .settleRepair = false});
        next.play();
        next.runUntil(5000);
        auto sets = next.sets();
        if (c.entryInTheHeldFolder) {
            EXPECT_TRUE(sets.empty());
        } else {
            ASSERT_FALSE(sets.empty());
            EXPECT_EQ(sets.back().value, "Artist A (0:00/4:00)");
        }
        CloseHandle(backup);
        next.stop();
        next.runUntil(10000);
        next.play();
        next.runUntil(15000);
        next.stop();
        next.runUntil(20000);
        winshim::setModulePath("");
        winshim::setOtherProcesses({});
        EXPECT_EQ(next.model.storedArtist(fileA), "Artist A");
    }
}

// The listener clears the artist while the file plays: no write-back puts it back. The
// entry waits for the next starts, which find the file there and empty, and after ten of
// them the clearing is left as it is. A read that comes back empty only for a moment (a
// file another program opened) delays the write-back and no more.
TEST(Journal, anArtistClearedWhilePlayingStaysCleared) {
    for (bool cleared : {true, false}) {
        SCOPED_TRACE(cleared ? "cleared" : "read empty for two seconds");
        std::string folder = freshFolder();
        placeFileA(Place::There);
        {
            PluginSession session({{fileA, "Artist A", 240}}, {.journalFolder = folder});
            session.play();
            session.runUntil(10500);
            if (cleared) session.model.editArtist(fileA, "");
            if (!cleared) session.model.setFaults(fileA, {.emptyReads = true});
            session.runUntil(12500);
            session.stop();
            session.runUntil(14500);
            if (!cleared) session.model.setFaults(fileA, {});
            session.runUntil(25000);
            EXPECT_EQ(session.model.storedArtist(fileA), cleared ? "" : "Artist A");
            EXPECT_EQ(entriesOf(bytesOf(journalPath(folder))).size(), cleared ? 1u : 0u);
        }
        for (int start = 1; cleared && start <= JOURNAL_MAX_STARTS; ++start) {
            PluginSession next(
                {{fileA, "", 240}},
                {.journalFolder = folder, .processId = livePlayer + static_cast<DWORD>(start), .settleRepair = false});
            next.runFor(1000);
            EXPECT_TRUE(next.sets().empty());
            EXPECT_EQ(entriesOf(bytesOf(journalPath(folder))).size(), start < JOURNAL_MAX_STARTS ? 1u : 0u) << start;
        }
    }
}

struct ReadOnlyJournalCase {
    const char* name;
    std::string original;
    bool lockFileLeft;
    bool stampedAfter;
};

// A killed run's entry sits in a folder that cannot be written now: the next start repairs
// its stamp but cannot drop the entry, which outlives it. The file playing then keeps its
// whole artist, " (paused)" included: an ending no entry proves ours plays unstamped.
// Where no lock file can be made there, the journal is read as it stands all the same.
TEST(Journal, aJournalInAFolderThatCannotBeWrittenIsReadAndNeverCutsARealEnding) {
    const ReadOnlyJournalCase cases[] = {{"an entry that outlived its stamp", "The Band (paused)", true, false},
                                         {"a folder that takes no lock file", "Artist A", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = freshFolder(), library = freshFolder();
        leaveEntryOfADeadPlayer(folder, c.original);
        if (!c.lockFileLeft) std::filesystem::remove(folder + "/vorlu.journal.lock");
        winshim::setReadOnlyFolder(folder, true);
        winshim::setModulePath(libraryPathIn(library));
        PluginSession next({{fileA, c.original + " (1:05/4:00)", 240}},
                           {.journalFolder = folder, .processId = livePlayer, .settleRepair = false});
        next.runFor(1000);
        EXPECT_EQ(next.model.storedArtist(fileA), c.original);
        EXPECT_EQ(entriesOf(bytesOf(journalPath(folder))).size(), 1u);
        next.play();
        next.runUntil(20500);
        next.stop();
        next.runUntil(25000);
        winshim::setReadOnlyFolder(folder, false);
        winshim::setModulePath("");
        auto sets = next.sets();
        ASSERT_EQ(sets.size() >= 2u, c.stampedAfter) << sets.size();
        if (c.stampedAfter) EXPECT_EQ(sets[1].value, c.original + " (0:00/4:00)");
        EXPECT_EQ(next.model.storedArtist(fileA), c.original);
        EXPECT_EQ(std::filesystem::exists(folder + "/vorlu.journal.lock"), c.lockFileLeft);
    }
}

// A journal never outgrows what is read of it, and a new stamp never makes room by
// dropping entries, whosever they are: each may be a stamp still to take out (a file on a
// drive not plugged in). The new file plays unstamped, and the journal stays as it was.
TEST(Journal, aFullJournalRefusesANewStampAndKeepsEveryEntry) {
    std::string folder = freshFolder();
    const std::string fileB = "C:\\music\\bb.mp3";
    // Another player's entries leave a unit too little for fileB's.
    vorlu_test::fillJournal(folder, livePlayer, vorlu_test::journalEntrySizeOf(fileB, "Artist B") - 2);
    std::string full = bytesOf(journalPath(folder));
    PluginSession session({{fileB, "Artist B", 240}}, {.journalFolder = folder});
    session.play();
    session.runUntil(5000);
    EXPECT_TRUE(session.sets().empty());
    EXPECT_TRUE(bytesOf(journalPath(folder)) == full);
}

// While this player runs, the repair comes once per interval, not at every second of a
// long pause: a file it cannot read is asked for no more often than that.
TEST(Journal, aLongPauseRepairsOncePerInterval) {
    std::string folder = freshFolder();
    leaveEntryOfADeadPlayer(folder, "Artist A");
    // fileA is there, but not in this player's list: it cannot read it, and its entry stays.
    placeFileA(Place::There);
    PluginSession survivor({{"C:\\music\\b.mp3", "Artist B", 600}}, {.journalFolder = folder, .processId = livePlayer});
    survivor.play();
    survivor.runUntil(1500);
    survivor.pause();
    survivor.runUntil(201500);
    int readsOfA = 0;
    for (const auto& read : survivor.requests(survivor.readCode())) readsOfA += read.file == fileA ? 1 : 0;
    // Every 40 s, as the interval is meant: five passes in the 200 s, one more at each end at most.
    EXPECT_GE(readsOfA, 5);
    EXPECT_LE(readsOfA, 7);
}

// The longest name and original each path saves (1023 units of name, the wide read's 1022
// units, the single-byte one's 254 bytes) come back whole from the journal.
TEST(Journal, theLongestOriginalsComeBackWhole) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "wide" : "single-byte");
        std::string folder = freshFolder();
        PluginSession session({{fileA, "Artist A", 240}}, {.journalFolder = folder});
        TrackFile file = vorlu_test::trackFileOf("C:\\" + std::string(WIDE_TEXT_SIZE - 4, 'n'));
        file.wide = wide;
        int longest = wide ? WIDE_TEXT_SIZE - 2 : METADATA_SIZE - 2;
        textUnit original[WIDE_TEXT_SIZE] = {};
        std::fill(original, original + longest, u'o');
        unsigned int sequence = 0;
        ASSERT_EQ(journalRecord(file, original, &sequence), JOURNAL_WRITTEN);
        auto entries = entriesOf(bytesOf(journalPath(folder)));
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(textLength(entries[0].file.name, WIDE_TEXT_SIZE), WIDE_TEXT_SIZE - 1);
        EXPECT_EQ(textLength(entries[0].original, WIDE_TEXT_SIZE), longest);
    }
}

// Random bytes, and random damage to a valid journal: the reader stays inside the bytes
// (the sanitizers watch) and finds no entry where it was damaged.
TEST(Journal, theReaderSurvivesRandomBytes) {
    std::string valid = validJournal();
    std::mt19937 random(20261208);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes = valid;
        if (round % 2 == 0) {
            bytes.resize(std::uniform_int_distribution<std::size_t>(0, 600)(random));
            for (char& b : bytes) b = static_cast<char>(random());
            if (bytes.size() >= JOURNAL_HEADER_SIZE)
                bytes.replace(0, JOURNAL_HEADER_SIZE, valid, 0, JOURNAL_HEADER_SIZE);
        } else {
            for (int flips = 1 + round % 4; flips > 0; --flips)
                bytes[std::uniform_int_distribution<std::size_t>(JOURNAL_HEADER_SIZE, bytes.size() - 1)(random)] ^=
                    static_cast<char>(1 + random() % 255);
        }
        // A changed byte in the one entry is caught by its check: nothing is read from it.
        if (round % 2 == 1) EXPECT_TRUE(entriesOf(bytes).empty());
    }
}

}  // namespace
