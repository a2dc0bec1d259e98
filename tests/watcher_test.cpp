// The track-change watcher, and what happens when workers overlap.
#include "plugin/gen_vorlu.h"
#include "stamping/worker.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

using vorlu_test::historyIsSound;
using vorlu_test::PluginSession;

namespace {

const std::string fileA = "C:\\music\\a.mp3";
const std::string fileB = "C:\\music\\b, a longer name.mp3";

std::vector<standin::Entry> abaList() {
    return {{fileA, "Artist A", 240}, {fileB, "Artist B", 180}, {fileA, "Artist A", 240}};
}

void expectSound(const PluginSession& session, const std::string& file, const std::string& original) {
    std::string why;
    EXPECT_TRUE(historyIsSound(session.artistHistory(file), original, &why)) << file << ": " << why;
}

TEST(Watcher, aNoticeWithAnEmptyNameStartsNothing) {
    PluginSession session({{"", "Someone", 100}});
    session.sendTrackChangeNotice();
    EXPECT_EQ(winshim::threadsStarted(), 0);
}

struct NoticeCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int workers;
};

TEST(Watcher, onlyANoticeWithBit30SetStartsAWorker) {
    const NoticeCase cases[] = {
        {"bit 30 alone", WM_USER, 666, 0x40000000, 1},
        {"bit 30 with other bits", WM_USER, 666, static_cast<LPARAM>(0xC0000001u), 1},
        {"bit 30 clear", WM_USER, 666, 0x3FFFFFFF, 0},
        {"other wParam", WM_USER, 665, 0x40000000, 0},
        {"other message", WM_USER + 1, 666, 0x40000000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session({{fileA, "Artist A", 100}});
        session.model.play();
        EXPECT_EQ(SendMessageA(session.playlistEditor, c.message, c.wParam, c.lParam),
                  vorlu_test::recordedResult(c.message, c.wParam, c.lParam));
        EXPECT_EQ(winshim::threadsStarted(), c.workers);
        auto passed = session.editorMessages();
        ASSERT_EQ(passed.size(), 1u);
        EXPECT_EQ(passed[0].message, c.message);
        EXPECT_EQ(passed[0].wParam, c.wParam);
        EXPECT_EQ(passed[0].lParam, c.lParam);
        // Handed on after the worker was started; its handle already closed.
        EXPECT_EQ(passed[0].threadsStartedBefore, c.workers);
        EXPECT_EQ(winshim::handlesOpen(), 0);
    }
}

TEST(Watcher, startsOneWorkerPerNewFileAndNoneForTheSameFile) {
    PluginSession session(abaList());
    session.play();
    session.sendTrackChangeNotice();  // the same file again
    EXPECT_EQ(winshim::threadsStarted(), 1);
    session.runUntil(10500);
    session.next();  // B
    session.runUntil(20500);
    session.next();  // A again, at another index: a shorter name after a longer one
    session.sendTrackChangeNotice();
    EXPECT_EQ(winshim::threadsStarted(), 3);
    auto names = session.requests(session.nameCode());
    EXPECT_GE(names.size(), 8u);  // one per notice, one per worker
}

TEST(Watcher, aBurstOfSkipsStampsEveryFileItLandsOn) {
    std::vector<standin::Entry> list;
    for (int i = 0; i < 24; ++i)
        list.push_back({"C:\\burst\\" + std::to_string(i) + ".mp3", "Artist " + std::to_string(i), 200});
    PluginSession session(list);
    session.play();
    for (int i = 1; i < 24; ++i) {  // ten a second: old workers linger up to a poll each
        session.runFor(100);
        session.next();
    }
    session.runFor(100);
    session.stop();
    session.runFor(3000);
    for (const auto& entry : list) {
        std::string why;
        EXPECT_FALSE(session.commitsOf(entry.file).empty()) << entry.file;
        EXPECT_TRUE(historyIsSound(session.artistHistory(entry.file), entry.artist, &why)) << why;
    }
}

// Both names read "C:\\??\\?.mp3" through a Latin-1 code page.
TEST(Watcher, filesWhoseSingleByteNamesCollapseAreTwoFilesWhereTheHostGivesWideNames) {
    const std::string first = "C:\\\u97f3\u697d\\\u4e00.mp3";
    const std::string second = "C:\\\u97f3\u697d\\\u4e8c.mp3";
    PluginSession session({{first, "Artist 1", 100}, {second, "Artist 2", 100}});
    session.play();
    session.runUntil(10500);
    session.next();
    session.runUntil(20500);
    session.stop();
    session.runUntil(25000);
    bool wide = !vorlu_test::oldHostRun();
    EXPECT_EQ(winshim::threadsStarted(), 2);
    // Without wide names neither file can even be read.
    EXPECT_EQ(session.commitsOf(first).empty(), !wide);
    EXPECT_EQ(session.commitsOf(second).empty(), !wide);
    expectSound(session, first, "Artist 1");
    expectSound(session, second, "Artist 2");
}

// The host sends the notice again and again while one entry plays (its title changes):
// the workers make exactly the requests, at exactly the times, that they make without.
TEST(Watcher, repeatedNoticesForThePlayingFileChangeNothingTheWorkersDo) {
    using Sent = std::tuple<long long, int, long long, std::string, std::string>;
    auto workersRequests = [](bool repeatedNotices) {
        PluginSession session(abaList());
        std::string windowsThread = std::to_string(winshim::currentThreadId());
        session.play();
        for (long long t = 250; t < 100000; t += 350) {  // off the workers' whole seconds
            session.runUntil(t);
            if (t == 30350) session.pause();
            if (t == 45400) session.resume();
            if (t == 60450) session.next();
            if (repeatedNotices) session.sendTrackChangeNotice();
        }
        session.stop();
        session.runFor(2000);
        std::vector<Sent> sent;
        for (const auto& r : session.model.requests()) {
            if (r.sender != windowsThread) sent.emplace_back(r.time, r.code, r.wParam, r.file, r.value);
        }
        return sent;
    };
    auto quiet = workersRequests(false);
    EXPECT_GT(quiet.size(), 100u);
    EXPECT_EQ(workersRequests(true), quiet);
}

// The player's title update comes late: the old file's own poll sees the change first. Its
// write-back is not of the playing file (no play state read around it), and it stamps no
// time of the new track.
// The status callback of the change comes before its title update: the old file is
// written back at once, plainly (no restart comes, so play tracking is left alone).
TEST(Watcher, aChangeHeardBeforeTheNoticeWritesTheOldFileBackAlone) {
    PluginSession session({{fileA, "Artist A", 240}, {fileB, "Artist B", 240}},
                          {.titleDelayMin = 500, .titleDelayMax = 500});
    session.play();
    session.runUntil(21200);
    session.next();  // B's title update at 21.7 s
    session.runUntil(21300);
    int trackingSwitches = 0;
    for (const auto& request : session.requests(IPC_ALLOW_PLAYTRACKING)) trackingSwitches += request.time >= 21200;
    EXPECT_EQ(trackingSwitches, 0);
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
    session.runUntil(40000);
    auto history = session.artistHistory(fileA);
    EXPECT_EQ(history,
              (std::vector<std::string>{"Artist A", "Artist A (0:00/4:00)", "Artist A (0:15/4:00)", "Artist A"}));
}

struct MoveCase {
    const char* name;
    std::function<void(PluginSession&)> move;
};

// The worker follows its file, not its list index: an edit of the playlist above the
// playing entry, or a move to another entry naming the same file, keeps it stamping.
TEST(Watcher, aWorkerFollowsItsFileWhenItsEntryMoves) {
    const MoveCase cases[] = {
        {"another entry naming the same file", [](PluginSession& s) { s.next(); }},
        {"an entry inserted above",
         [](PluginSession& s) {
             s.model.insertEntry(0, {fileB, "Artist B", 180});
         }},
        {"an entry removed above",
         [](PluginSession& s) {
             s.jump(1);
             s.runFor(5000);
             s.model.removeEntry(0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session({{fileA, "Artist A", 240}, {fileA, "Artist A", 240}});
        session.play();
        session.runUntil(20500);
        c.move(session);
        session.runUntil(100000);
        EXPECT_EQ(winshim::threadsStarted(ThreadProc), 1);
        EXPECT_TRUE(vorlu_test::isStamp(session.model.storedArtist(fileA), "Artist A"))
            << session.model.storedArtist(fileA);
        EXPECT_GE(session.commitsOf(fileA).size(), 7u);  // a stamp every 15 s all along
        session.stop();
        session.runFor(2000);
        EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
        int firstIndex = session.requests(IPC_WRITE_EXTENDED_FILE_INFO).front().wParam;
        for (const auto& write : session.requests(IPC_WRITE_EXTENDED_FILE_INFO)) EXPECT_EQ(write.wParam, firstIndex);
    }
}

TEST(Watcher, aThreadThatCannotStartIsTriedAgainAtTheNextNoticeAndTheMessageStillPasses) {
    PluginSession session(abaList());
    winshim::failThreadStarts(true);
    session.play();
    EXPECT_EQ(winshim::threadsStarted(), 0);
    EXPECT_EQ(session.editorMessages().size(), 2u);  // the start's two notices
    winshim::failThreadStarts(false);
    session.sendTrackChangeNotice();
    EXPECT_EQ(winshim::threadsStarted(), 1);
    EXPECT_EQ(winshim::moduleReferences(), 1);
    session.runUntil(5500);
    EXPECT_EQ(session.sets().size(), 1u);  // A's first stamp
}

// A move away and back within one poll: the first worker for A still runs, its list index
// matching again, when the second starts and reads A's field holding the first one's stamp.
struct OverlapCase {
    const char* name;
    std::vector<int> moves;  // entries jumped to, 200 ms apart, starting at 30.2 s
};

TEST(Watcher, twoWorkersForOneFileNeverLeaveATimeTextBehind) {
    const OverlapCase cases[] = {
        {"back to the same entry", {1, 0}},
        {"back to another entry of the same file", {1, 2}},
        {"back and forth twice", {1, 0, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(abaList());
        session.play();
        session.runUntil(30200);
        long long t = 30200;
        for (int entry : c.moves) {
            session.runUntil(t);
            session.jump(entry);
            t += 200;
        }
        // Every older worker has polled once since the last move and ended: taken over or moved on.
        session.runUntil(t + 1000);
        EXPECT_EQ(winshim::threadsRunning(), 1);
        session.runUntil(t + 100000);
        session.stop();
        session.runUntil(t + 105000);
        expectSound(session, fileA, "Artist A");
        expectSound(session, fileB, "Artist B");
        // A was stamped after the last move: the newest worker stamps it.
        bool stampedLater = false;
        for (const auto& commit : session.commitsOf(fileA))
            stampedLater |= commit.time > t && commit.artist != "Artist A";
        EXPECT_TRUE(stampedLater);
        EXPECT_EQ(winshim::threadsRunning(), 0);
    }
}

// Two quick skips leave tells that the ended workers never waited for; the next worker
// that takes such a record must not take one for its own: it stamps its file throughout.
TEST(Watcher, aWorkerInAReusedRecordIsNotToldByAnEarlierTell) {
    std::vector<standin::Entry> list;
    for (int i = 0; i < 4; ++i) list.push_back({"C:\\reuse\\" + std::to_string(i) + ".mp3", "Artist", 200});
    PluginSession session(list);
    session.play();
    session.next();  // the first two workers are told before they ever wait
    session.next();
    session.runFor(100);
    session.next();
    session.runUntil(61000);
    auto commits = session.commitsOf(list[3].file);
    EXPECT_EQ(commits.size(), 5u);  // at 0, 15, 30, 45 and 60 s, and never written back between
    for (const auto& commit : commits) EXPECT_TRUE(vorlu_test::isStamp(commit.artist, "Artist")) << commit.artist;
}

}  // namespace
