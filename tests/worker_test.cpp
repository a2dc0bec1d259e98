// The time-stamp worker on the virtual clock: a whole track plays in milliseconds, and
// every run takes the same course. Player actions fall on half seconds, between polls.
#include "stamping/journal.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"
#include "text_encoding.h"
#include "trackinfo/track_metadata.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

using vorlu_test::historyIsSound;
using vorlu_test::PluginSession;
using Strings = std::vector<std::string>;

namespace {

const std::string fileA = "C:\\music\\a.mp3";
const std::string fileB = "C:\\music\\b.mp3";
const std::string fileC = "C:\\music\\c.mp3";

std::vector<standin::Entry> abc() {
    return {{fileA, "Artist A", 240}, {fileB, "Artist B", 180}, {fileC, "Artist C", 200}};
}

#define EXPECT_SOUND(session, file, original)                                              \
    do {                                                                                   \
        std::string why;                                                                   \
        EXPECT_TRUE(historyIsSound((session).artistHistory(file), original, &why)) << why; \
    } while (0)

TEST(Worker, stampsAtOnceThenEvery15Seconds) {
    PluginSession session(abc());
    session.play();
    session.runUntil(239999);

    auto commits = session.commitsOf(fileA);
    ASSERT_EQ(commits.size(), 17u);
    for (int i = 0; i < 16; ++i) {
        char expected[40];
        std::snprintf(expected, sizeof expected, "Artist A (%d:%02d/4:00)", i * 15 / 60, i * 15 % 60);
        EXPECT_EQ(commits[static_cast<std::size_t>(i)].artist, expected);
        EXPECT_EQ(commits[static_cast<std::size_t>(i)].time, i * 15000);
    }
    for (const auto& write : session.requests(IPC_WRITE_EXTENDED_FILE_INFO)) EXPECT_EQ(write.wParam, 0);
    // One path only: the wide requests on a host that has them, else the single-byte ones.
    const std::vector<int> otherPath =
        vorlu_test::oldHostRun()
            ? std::vector<int>{IPC_GETPLAYLISTFILEW, IPC_GET_EXTENDED_FILE_INFOW, IPC_SET_EXTENDED_FILE_INFOW}
            : std::vector<int>{IPC_GETPLAYLISTFILE, IPC_GET_EXTENDED_FILE_INFO, IPC_SET_EXTENDED_FILE_INFO};
    for (int code : otherPath) EXPECT_TRUE(session.requests(code).empty()) << code;
}

// The host's status callback (from 5.0) has the worker look at once; an older host's
// pause shows at the next poll, and its resume at the next look of the pause wait.
TEST(Worker, marksAPauseAndStampsTheCurrentTimeOnResume) {
    for (LRESULT version : {LRESULT{0x5000}, LRESULT{0x2090}}) {
        SCOPED_TRACE(version);
        bool callsBack = version >= HOST_VERSION_STATUS_CALLBACK;
        PluginSession session(abc(), {.hostVersion = version});
        session.play();
        session.runUntil(20700);
        session.pause();
        session.runUntil(80700);
        EXPECT_EQ(session.model.storedArtist(fileA), "Artist A (paused)");  // however long it lasts
        EXPECT_EQ(session.commitsOf(fileA).back().time, callsBack ? 20700 : 21000);
        session.resume();
        session.runUntil(83000);
        EXPECT_EQ(session.artistHistory(fileA),
                  (Strings{"Artist A", "Artist A (0:00/4:00)", "Artist A (0:15/4:00)", "Artist A (paused)",
                           callsBack ? "Artist A (0:20/4:00)" : "Artist A (0:21/4:00)"}));
        EXPECT_EQ(session.commitsOf(fileA).back().time, callsBack ? 80700 : 81000);
        session.runUntil(130000);
        EXPECT_EQ(session.model.storedArtist(fileA), callsBack ? "Artist A (1:05/4:00)" : "Artist A (1:06/4:00)");
    }
}

TEST(Worker, aPausePresentAtStartIsItsFirstStamp) {
    // Paused before the host's title update, which starts the worker, came.
    PluginSession session(abc(), {.titleDelayMin = 500, .titleDelayMax = 500});
    session.play();
    session.runUntil(200);
    session.pause();
    session.runUntil(3000);
    auto commits = session.commitsOf(fileA);
    ASSERT_EQ(commits.size(), 1u);
    EXPECT_EQ(commits[0].artist, "Artist A (paused)");
    EXPECT_EQ(commits[0].time, 500);
}

struct StopCase {
    const char* name;
    long long pauseAt;  // -1: no pause
    long long stopAt;
    long long restoredBy;
};

TEST(Worker, stoppingRestoresTheArtistAtOnce) {
    const StopCase cases[] = {
        {"while playing", -1, 30500, 30500},
        {"during a pause", 20500, 40500, 40500},
        {"right after the start", -1, 500, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(abc());
        session.play();
        if (c.pauseAt >= 0) {
            session.runUntil(c.pauseAt);
            session.pause();
        }
        session.runUntil(c.stopAt);
        session.stop();
        session.runUntil(c.stopAt + 5000);
        auto commits = session.commitsOf(fileA);
        ASSERT_FALSE(commits.empty());
        EXPECT_EQ(commits.back().artist, "Artist A");
        EXPECT_EQ(commits.back().time, c.restoredBy);
        EXPECT_EQ(winshim::threadsRunning(), 0);
    }
}

TEST(Worker, aTrackChangeRestoresTheOldFileAtOnceWithItsOwnIndex) {
    PluginSession session(abc());
    session.play();
    session.runUntil(30500);
    session.next();  // the watcher tells A's worker, which is waiting for its next poll
    session.runUntil(31500);

    auto commitsA = session.commitsOf(fileA);
    ASSERT_EQ(commitsA.back().artist, "Artist A");
    EXPECT_EQ(commitsA.back().time, 30500);
    EXPECT_EQ(session.model.storedArtist(fileB), "Artist B (0:00/3:00)");
    // The write request after A's restore names A's entry, though B now plays.
    auto all = session.model.requests();
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
        if (all[i].code == session.setCode() && all[i].file == fileA && all[i].value == "Artist A") {
            EXPECT_EQ(all[i + 1].code, IPC_WRITE_EXTENDED_FILE_INFO);
            EXPECT_EQ(all[i + 1].wParam, 0);
        }
    }
    EXPECT_EQ(winshim::threadsRunning(), 1);
}

// Never the new track's time in the old file: the worker waiting out the pause is told.
TEST(Worker, aChangeDuringAPauseRestoresTheOldFileAtOnce) {
    PluginSession session(abc());
    session.play();
    session.runUntil(20500);
    session.pause();
    session.runUntil(40500);
    session.next();
    session.runUntil(44000);
    EXPECT_EQ(session.artistHistory(fileA),
              (Strings{"Artist A", "Artist A (0:00/4:00)", "Artist A (0:15/4:00)", "Artist A (paused)", "Artist A"}));
    EXPECT_EQ(session.commitsOf(fileA).back().time, 40500);
    EXPECT_EQ(winshim::threadsRunning(), 1);
}

struct ShortCase {
    const char* name;
    int lengthSeconds;
    bool playing;
};

// A worker that starts where its own end test would end it at once writes nothing.
TEST(Worker, shortUnknownOrIdleTracksAreLeftAlone) {
    const ShortCase cases[] = {
        {"length -1", -1, true},
        {"length 0", 0, true},
        {"length 1", 1, true},
        {"nothing playing", 200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session({{fileA, "Solo", c.lengthSeconds}});
        if (c.playing)
            session.play();
        else
            session.sendTrackChangeNotice();
        session.runUntil(5000);
        EXPECT_EQ(winshim::threadsStarted(), 1);
        EXPECT_TRUE(session.sets().empty());
        EXPECT_EQ(winshim::threadsRunning(), 0);
    }
}

TEST(Worker, aHostRefusingEverySetIsAskedOnceAndGetsNoWriteRequest) {
    PluginSession session(abc());
    session.model.acceptSets([](const std::string&, const std::string&) { return false; });
    session.play();
    session.runUntil(239999);
    EXPECT_EQ(session.sets().size(), 1u);  // the first stamp; nothing to write back
    EXPECT_TRUE(session.requests(IPC_WRITE_EXTENDED_FILE_INFO).empty());
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
    EXPECT_EQ(winshim::threadsRunning(), 0);
}

struct SeekCase {
    const char* name;
    long long seekTo;
    Strings history;
};

// Still paused, still marked; the resume stamps where it stands, once its position has
// moved (a file that reads 0 may be settling after a restart), or ends the worker within
// the end margin.
TEST(Worker, seekingWhilePausedKeepsTheMarkUntilTheResume) {
    const SeekCase cases[] = {
        {"to the middle", 120000, {"Artist A", "Artist A (0:00/4:00)", "Artist A (paused)", "Artist A (2:00/4:00)"}},
        // A second later: the time text's seconds read 00 below five.
        {"to the start", 0, {"Artist A", "Artist A (0:00/4:00)", "Artist A (paused)", "Artist A (0:00/4:00)"}},
        {"into the end margin", 239000, {"Artist A", "Artist A (0:00/4:00)", "Artist A (paused)", "Artist A"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(abc());
        session.play();
        session.runUntil(5500);
        session.pause();
        session.runUntil(20500);
        session.seek(c.seekTo);
        session.runUntil(25000);
        EXPECT_EQ(session.model.storedArtist(fileA), "Artist A (paused)");
        session.resume();
        session.runUntil(27000);
        EXPECT_EQ(session.artistHistory(fileA), c.history);
    }
}

TEST(Worker, aNewFileAtTheWorkersIndexEndsItAtOnce) {
    PluginSession session({{fileA, "Artist A", 60}});
    session.play();
    session.runUntil(20500);
    session.replacePlaylist({{fileB, "Artist B", 240}});
    session.play();  // B at index 0, where A's worker is
    session.runUntil(85000);
    EXPECT_EQ(session.artistHistory(fileA),
              (Strings{"Artist A", "Artist A (0:00/1:00)", "Artist A (0:15/1:00)", "Artist A"}));
    EXPECT_EQ(session.commitsOf(fileA).back().time, 20500);
}

struct ArtistCase {
    const char* name;
    std::string artist;      // UTF-8
    bool stampedSingleByte;  // through the host's code page, Latin-1 in these tests
    bool stampedWide;
};

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// Every script goes the wide way; the single-byte way takes what its code page holds, and
// neither stamps a value its read may have cut.
TEST(Worker, stampsEveryArtistItsPathCanHoldExactlyAndLeavesOneThatMayBeCut) {
    const ArtistCase cases[] = {
        {"empty: the host answers that for a file it cannot open", "", false, false},
        {"99 characters", std::string(99, 'x'), true, true},
        {"229 characters: its longest stamp still fits the single-byte read", std::string(229, 'y'), true, true},
        {"230 characters: a stamp could push it past the single-byte read", std::string(230, 'z'), false, true},
        {"255 characters: fills the single-byte read", std::string(255, 'w'), false, true},
        {"300 characters: cut by the single-byte read", std::string(300, 'v'), false, true},
        {"Latin-1 letters", "Bj\u00f6rk Gu\u00f0mundsd\u00f3ttir", true, true},
        {"surrogate pairs", "\U0001D11E Clef \U0001F3B5", false, true},
        {"combining marks", "Beyonce\u0301 Noe\u0308l", false, true},
        {"right to left", "\u0641\u064a\u0631\u0648\u0632 (live)", false, true},
        {"Japanese", "\u5742\u672c\u9f8d\u4e00", false, true},
        {"Cyrillic and Greek", "\u041e\u043b\u044c\u0433\u0430 \u0395\u03bb\u03ad\u03bd\u03b7", false, true},
        {"1022 units ending in a surrogate pair", std::string(1020, 'a') + "\U0001F3B5", false, true},
        {"1023 units: fills the wide read", std::string(1021, 'b') + "\U0001F3B5", false, false},
        {"1024 units: cut by the wide read", std::string(1024, 'c'), false, false},
        {"1024 units in a script", repeated("\u4e00", 1024), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session({{fileA, c.artist, 60}});
        session.play();
        session.runUntil(20000);
        session.stop();
        session.runUntil(25000);
        auto sets = session.sets();
        if (vorlu_test::oldHostRun() ? c.stampedSingleByte : c.stampedWide) {
            ASSERT_GE(sets.size(), 3u);
            EXPECT_EQ(sets.front().value, c.artist + " (0:00/1:00)");
            EXPECT_EQ(sets.back().value, c.artist);
        } else {
            EXPECT_TRUE(sets.empty());
        }
        EXPECT_EQ(standin::utf16FromUtf8(session.model.storedArtist(fileA)), standin::utf16FromUtf8(c.artist));
    }
}

// The wide requests from 5.13 on, exactly: every request of a file on the one path. Play
// tracking, from 5.0, off and on around each write of the playing file (not the write-back
// after the stop); the playlist's titles read again after the write-back, from 5.3 only
// those of the file's entries.
TEST(Worker, goesTheWideWayFromVersion513On) {
    const struct {
        LRESULT version;
        bool wide;
        std::size_t sets;  // a version no version can be (and so no folder for the journal): none
        bool tracking;
        bool refreshByName;
    } cases[] = {{0x2090, false, 3, false, false}, {0x5000, false, 3, true, false}, {0x5013, true, 3, true, false},
                 {0x5030, true, 3, true, true},    {0x5066, true, 3, true, true},   {0x10000, false, 0, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        PluginSession session(abc(), {.hostVersion = c.version});
        session.play();
        session.runUntil(20500);
        session.stop();
        session.runUntil(25000);
        EXPECT_EQ(session.requests(IPC_SET_EXTENDED_FILE_INFOW).size(), c.wide ? c.sets : 0u);
        EXPECT_EQ(session.requests(IPC_SET_EXTENDED_FILE_INFO).size(), c.wide ? 0u : c.sets);
        EXPECT_EQ(session.requests(IPC_GETPLAYLISTFILE).empty(), c.wide);
        EXPECT_EQ(session.requests(IPC_GETPLAYLISTFILEW).empty(), !c.wide);
        EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
        EXPECT_EQ(session.requests(IPC_ALLOW_PLAYTRACKING).size(), c.tracking ? 2 * (c.sets - 1) : 0u);
        auto refreshes = session.requests(IPC_REFRESHPLCACHE);
        ASSERT_EQ(refreshes.size(), c.sets > 0 ? 1u : 0u);
        for (const auto& refresh : refreshes) EXPECT_EQ(refresh.file, c.refreshByName ? fileA : "");
    }
}

struct WideFailureCase {
    const char* name;
    std::optional<LRESULT> nameAnswer;  // the host's answer to the wide name request, if not the model's
    bool wideReadRefused;
};

// The host converts between its input plug-ins' wide and single-byte entries both ways:
// where its wide name or value fails, the single-byte one would fail too, or name another
// entry's file. On a host with the wide requests such a file simply plays unstamped.
TEST(Worker, aFileTheWideRequestsCannotNameOrReadPlaysUnstampedOnAHostThatHasThem) {
    const WideFailureCase cases[] = {
        {"no wide name", 0, false},
        {"an answer that cannot be an address", 1, false},
        {"the highest answer that cannot be an address", 0xFFFF, false},
        {"no wide value for the name", std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(abc(), {.hostVersion = HOST_VERSION_WIDE_REQUESTS});
        session.overrideAnswer = [&](WPARAM, LPARAM code) -> std::optional<LRESULT> {
            if (code == IPC_GETPLAYLISTFILEW && c.nameAnswer) return *c.nameAnswer;
            if (code == IPC_GET_EXTENDED_FILE_INFOW && c.wideReadRefused) return 0;
            return std::nullopt;
        };
        session.play();
        session.runUntil(20500);
        session.stop();
        session.runUntil(25000);
        for (LPARAM code :
             {IPC_GETPLAYLISTFILE, IPC_GET_EXTENDED_FILE_INFO, IPC_SET_EXTENDED_FILE_INFO, IPC_SET_EXTENDED_FILE_INFOW})
            EXPECT_TRUE(session.requests(static_cast<int>(code)).empty()) << code;
        EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
    }
}

TEST(Worker, aWideNameLongerThanItsBufferIsNeverCutAndItsFilePlaysUnstamped) {
    for (int length : {1023, 1024, 1100}) {
        SCOPED_TRACE(length);
        std::string name = "C:\\" + std::string(static_cast<std::size_t>(length - 3), 'n');
        PluginSession session({{name, "Long", 60}});
        session.play();
        session.runUntil(20000);
        session.stop();
        session.runUntil(25000);
        // The single-byte name request cuts a long name to 259 bytes, which names no file.
        bool stamped = !vorlu_test::oldHostRun() && length < WIDE_TEXT_SIZE;
        EXPECT_EQ(session.sets().empty(), !stamped);
        EXPECT_EQ(session.model.storedArtist(name), "Long");
    }
}

// A field that cannot be read for a moment (another program has the file open) skips the
// stamp due then, and no more: the next cycle stamps again.
TEST(Worker, aFieldUnreadableForAMomentSkipsOnlyTheStampDueThen) {
    PluginSession session(abc());
    session.model.acceptReads([](const std::string&) { return winshim::now() < 14000 || winshim::now() >= 16000; });
    session.play();
    session.runUntil(35500);
    std::vector<long long> stamps;
    for (const auto& set : session.sets()) stamps.push_back(set.time);
    EXPECT_EQ(stamps, (std::vector<long long>{0, 30000}));
    session.stop();
    session.runUntil(40000);
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
}

TEST(Worker, anUnreadableArtistIsNeverWritten) {
    PluginSession session(abc());
    session.model.acceptReads([](const std::string&) { return false; });
    session.play();
    session.runUntil(60000);
    EXPECT_TRUE(session.sets().empty());
    EXPECT_EQ(winshim::threadsRunning(), 0);
}

struct EndCase {
    const char* name;
    long long position;                 // ms
    std::optional<long long> length;    // s, answered with the position at every poll; none: A plays on from there
    bool endsAtFirstPoll;               // answered: nothing stamped by 1.5 s
    long long until, backFrom, backBy;  // A playing on: by until, written back at a time within [backFrom, backBy]
    Strings history = {};               // and its values, where given
};

// The artist goes back at the first poll within the last 1500 ms, or at a cycle's last poll
// that reads exactly 1500 ms before the end; mid-cycle, a poll exactly there goes on. Hosts
// answering positions and lengths at the ends of the 32-bit range; under the
// undefined-behaviour sanitizer any overflowing sum or product stops the test.
TEST(Worker, endsWithinTheEndMarginForEveryPositionAndLength) {
    const Strings backAtTheCyclesEnd = {"Artist A", "Artist A (3:43/4:00)", "Artist A"};
    const EndCase cases[] = {
        {"a whole track", 0, std::nullopt, false, 239999, 240000 - 1500, 239999},
        {"the fifteenth poll, a cycle's last, reads 1500 ms before the end", 223500, std::nullopt, false, 20000, 15000,
         15000, backAtTheCyclesEnd},
        {"the fifth poll reads 1500 ms before the end", 233500, std::nullopt, false, 20000, 6000, 6000},
        {"largest position, largest length", INT_MAX, INT_MAX, false},
        {"largest position, length just too short", INT_MAX, 2147484, true},
        {"largest position, length just long enough", INT_MAX, 2147486, false},
        {"smallest length", 5000, INT_MIN, true},
        {"length whose product overflows", 5000, 2147484, false},
        {"negative length overflowing", 5000, -2147484, true},
        {"position at the margin exactly", 238500, 240, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.length) {
            PluginSession session(abc());
            session.play();
            if (c.position > 0) session.seek(c.position);
            session.runUntil(c.until);
            auto back = session.commitsOf(fileA).back();
            EXPECT_EQ(back.artist, "Artist A");
            EXPECT_GE(back.time, c.backFrom);
            EXPECT_LE(back.time, c.backBy);
            if (!c.history.empty()) EXPECT_EQ(session.artistHistory(fileA), c.history);
            continue;
        }
        PluginSession session({{fileA, "Edge", 240}});
        long long reads = 0;
        bool stopped = false;
        session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
            if (code == IPC_ISPLAYING) return stopped ? HOST_STOPPED : HOST_PLAYING;
            if (code != IPC_GETOUTPUTTIME) return std::nullopt;
            if (wParam == 1) return *c.length;
            // The poll sees the case's position; reads around it differ by one, so never a pause.
            return stopped ? -1 : c.position - (++reads % 2);
        };
        session.play();
        session.runUntil(1500);
        EXPECT_EQ(session.model.storedArtist(fileA) == "Edge", c.endsAtFirstPoll);
        stopped = true;
        session.runUntil(20000);
        EXPECT_EQ(session.model.storedArtist(fileA), "Edge");
    }
}

struct EditCase {
    const char* name;
    std::function<void(PluginSession&)> before;  // what playback does before the edit at 20.5 s
    std::function<void(PluginSession&)> after;   // and after it
};

// Someone corrects the artist of the playing file (a tag editor, the player's own dialog):
// the edit is theirs. Vorlu writes nothing more to that file and drops its journal entry.
TEST(Worker, anEditMadeWhileAFilePlaysIsNeverOverwrittenNorReverted) {
    auto nothing = [](PluginSession&) {};
    const EditCase cases[] = {
        {"while playing", nothing, nothing},
        {"while paused", [](PluginSession& s) { s.pause(); }, [](PluginSession& s) { s.resume(); }},
        {"just before a stop", nothing, [](PluginSession& s) { s.stop(); }},
        {"just before a move to another file", nothing, [](PluginSession& s) { s.next(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(abc());
        session.play();
        session.runUntil(16000);
        c.before(session);
        session.runUntil(20500);
        session.model.editArtist(fileA, "Corrected Artist");
        c.after(session);
        session.runUntil(100000);
        session.stop();
        session.runFor(2000);
        EXPECT_EQ(session.model.storedArtist(fileA), "Corrected Artist");
        for (const auto& set : session.sets()) {
            if (set.file == fileA) EXPECT_LT(set.time, 20500) << set.value;
        }
        EXPECT_TRUE(std::filesystem::is_empty(session.journalFolder) ||
                    std::filesystem::file_size(session.journalFolder + "/vorlu.journal") == JOURNAL_HEADER_SIZE);
    }
}

// The edit is first seen as the file is left, and the file plays again at once: it is
// stamped with the edit, its claim let go as the edit was seen.
TEST(Worker, anEditIsStampedFromTheNextPlayOfItsFile) {
    PluginSession session(abc());
    session.play();
    session.runUntil(20500);
    session.model.editArtist(fileA, "Corrected Artist");
    session.next();
    session.runFor(100);
    session.previous();
    session.runUntil(25000);
    EXPECT_TRUE(vorlu_test::isStamp(session.model.storedArtist(fileA), "Corrected Artist"))
        << session.model.storedArtist(fileA);
    session.stop();
    session.runUntil(30000);
    EXPECT_EQ(session.model.storedArtist(fileA), "Corrected Artist");
}

}  // namespace
