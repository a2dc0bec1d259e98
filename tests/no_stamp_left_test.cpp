// The ways a stamp could stay in a file: a run killed mid-track, an artist the host
// cannot hand over intact, a write-back the host refuses for a moment.
#include "plugin/gen_vorlu.h"
#include "stamping/journal.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"
#include "trackinfo/time_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <cstring>

using vorlu_test::PluginSession;

namespace {

const std::string fileA = "C:\\music\\a.mp3";

// What a run that died stamping fileA left in the journal: its entry with original.
void journalFileA(const std::string& original) {
    textUnit units[WIDE_TEXT_SIZE] = {};
    unitsFromBytes(units, WIDE_TEXT_SIZE, original.c_str());
    unsigned int sequence = 0;
    ASSERT_EQ(journalRecord(vorlu_test::trackFileOf(fileA), units, &sequence), JOURNAL_WRITTEN);
}

struct HealCase {
    std::string stored;
    std::optional<std::string> healed;     // the artist stamped; none: the file plays unstamped
    std::optional<std::string> journaled;  // the original a journal entry holds for the file
};

// A stamp-like ending is taken off before the artist is saved only when the journal
// proves it ours: an entry holds the file with exactly the rest as its original (a
// player killed mid-track, or an entry that outlived the write-back of its stamp). A
// stamp-like ending no journal proves may be another player's stamp or the artist's own:
// the file plays unstamped, its artist whole. Any other ending is the artist's, stamped
// behind and written back whole. The track is 3:45.
TEST(NoStampLeft, onlyAStampTheJournalProvesOursIsTakenOffBeforeTheArtistIsSaved) {
    const HealCase cases[] = {
        {"Artist (1:05/3:45)", "Artist", "Artist"},
        {"Artist (paused)", "Artist", "Artist"},
        {"Artist (0:00/0:00)", "Artist", "Artist"},
        {"Artist (-1:00/0:00)", "Artist", "Artist"},
        {"Artist (12345:00/-35791394:00)", "Artist", "Artist"},
        {" (paused)", "", ""},
        {"Artist (1:05/3:45) (0:30/3:45)", "Artist (1:05/3:45)", "Artist (1:05/3:45)"},  // one suffix at a time
        // Endings like a stamp that no entry proves ours: no entry, or one holding another original.
        {"Live Set (0:30/3:45)", std::nullopt},
        {"Concert (12:00/3:45)", std::nullopt},
        {"Artist (1:05/3:45)", std::nullopt},
        {"The Band (paused)", std::nullopt},
        {"The Band (paused)", std::nullopt, "The Band (paused)"},  // its entry outlived the write-back
        {"Ten Years (1:00/2:00)", std::nullopt, "Someone Else"},
        {"Artist (1:05/3:45)", std::nullopt, "Artist (1:05/3:45) (0:15/3:45)"},
        // Not what the plug-in writes: kept as they are, whatever the journal holds.
        {"Artist (1:5/3:45)", "Artist (1:5/3:45)", "Artist"},
        {"Artist (01:05/3:45)", "Artist (01:05/3:45)", "Artist"},
        {"Artist(1:05/3:45)", "Artist(1:05/3:45)", "Artist"},
        {"Artist (1:65/3:45)", "Artist (1:65/3:45)", "Artist"},
        {"Artist (123456789:00/3:45)", "Artist (123456789:00/3:45)", "Artist"},
        {"Artist (-0:00/3:45)", "Artist (-0:00/3:45)", "Artist"},
        {"Artist (-1:05/3:45)", "Artist (-1:05/3:45)", "Artist"},
        {"Artist (1:05/3:45) live", "Artist (1:05/3:45) live", "Artist"},
        {"Artist (1:05)", "Artist (1:05)", "Artist"},
        {"Artist (Paused)", "Artist (Paused)", "Artist"},
        {"(0:00/0:00)", "(0:00/0:00)", ""},
        {"Live (2020)", "Live (2020)", "Live"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored + (c.journaled ? ", the journal holding \"" + *c.journaled + "\"" : ""));
        PluginSession session({{fileA, c.stored, 225}});
        if (c.journaled) journalFileA(*c.journaled);
        session.play();
        session.runUntil(20500);
        session.sendTrackChangeNotice();  // the player's title updates, which start a worker each
        session.runUntil(21000);
        session.sendTrackChangeNotice();
        session.runUntil(21500);
        session.stop();
        session.runUntil(25000);
        auto sets = session.sets();
        ASSERT_EQ(sets.empty(), !c.healed);
        if (c.healed) EXPECT_EQ(sets.front().value, *c.healed + " (0:00/3:45)");
        EXPECT_EQ(session.model.storedArtist(fileA), c.healed.value_or(c.stored));
        // The debugger hears why, once.
        auto notes = winshim::debugOutput();
        auto said = std::count_if(notes.begin(), notes.end(), [](const std::string& note) {
            return note.find("ends like a stamp") != std::string::npos;
        });
        EXPECT_EQ(said, c.healed ? 0 : 1);
    }
}

TEST(NoStampLeft, everyTimeTextTheFormatterWritesIsRecognised) {
    const int samples[] = {INT_MIN, -599999999, -60000, -1,        0,         4999,
                           5000,    65000,      754000, 599999999, 600000000, INT_MAX};
    for (int position : samples) {
        for (int length : samples) {
            char suffix[TIME_TEXT_SIZE], text[64];
            formatTimeText(position, length, suffix);
            std::snprintf(text, sizeof text, "Someone%s", suffix);
            int whole = static_cast<int>(std::strlen(text));
            textUnit units[64];
            unitsFromBytes(units, 64, text);
            EXPECT_EQ(timeTextLengthAtEnd(units, whole), whole - 7) << text;
        }
    }
}

// On the single-byte path a '?' may stand for a character the code page could not hold.
TEST(NoStampLeft, aQuestionMarkBarsStampingOnlyOnTheSingleBytePath) {
    const HealCase cases[] = {{"?", "?"}, {"Bj?rk", "Bj?rk"}, {"Sigur R?s (1:05/3:45)", "Sigur R?s", "Sigur R?s"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        PluginSession session({{fileA, c.stored, 225}});
        if (c.journaled) journalFileA(*c.journaled);
        session.play();
        session.runUntil(40000);
        session.stop();
        session.runUntil(45000);
        EXPECT_EQ(session.sets().empty(), vorlu_test::oldHostRun());
        EXPECT_EQ(session.model.storedArtist(fileA), vorlu_test::oldHostRun() ? c.stored : c.healed);
        EXPECT_EQ(winshim::threadsRunning(), 0);
    }
}

struct RetryCase {
    int refusals;  // write-backs refused in a row once a stamp was accepted
    bool restored;
    long long restoredAt;
};

TEST(NoStampLeft, aRefusedWriteBackIsTriedAgainASecondApartFiveTimes) {
    const RetryCase cases[] = {{1, true, 20500}, {3, true, 22500}, {5, true, 24500}, {6, false, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusals);
        PluginSession session({{fileA, "Artist A", 240}});
        int refused = 0;
        session.model.acceptSets([&](const std::string&, const std::string& value) {
            return value != "Artist A" || refused++ >= c.refusals;
        });
        session.play();
        session.runUntil(19500);
        session.stop();  // the write-back comes at once
        session.runUntil(40000);
        // Two stamps, then the write-back: refused attempts, and the accepted one if any.
        EXPECT_EQ(session.sets().size(), 2u + static_cast<std::size_t>(c.refusals) + (c.restored ? 1u : 0u));
        if (c.restored) {
            EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
            EXPECT_EQ(session.commitsOf(fileA).back().time, c.restoredAt);
        } else {
            EXPECT_EQ(session.model.storedArtist(fileA), "Artist A (0:15/4:00)");  // bounded: it gives up
        }
        EXPECT_EQ(winshim::threadsRunning(), 0);
    }
}

struct ExitLockCase {
    long long lockedFor;  // ms from quit during which the file refuses its write-back
    bool restored;
};

// Once quit comes, the write-back's tries spread over the two seconds it waits: a file
// locked for a moment still gets its artist back, and quit keeps to its bound.
TEST(NoStampLeft, quitSpreadsTheWriteBacksTriesOverItsWait) {
    const ExitLockCase cases[] = {{0, true}, {300, true}, {1500, true}, {2500, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lockedFor);
        PluginSession session({{fileA, "Artist A", 240}});
        long long quitAt = 10500;
        session.model.acceptSets([&](const std::string&, const std::string& value) {
            return value != "Artist A" || winshim::now() >= quitAt + c.lockedFor;
        });
        session.play();
        session.runUntil(quitAt);
        plugin.quit();
        EXPECT_LT(winshim::now() - quitAt, 2000);  // every try made before the bound
        EXPECT_EQ(session.model.storedArtist(fileA) == "Artist A", c.restored);
        EXPECT_EQ(winshim::threadsRunning(), 0);
    }
}

// The host keeps one pending edit: a set from another thread between a worker's set and
// its write would drop it. Here the host is slow to answer the old file's write-back while
// the new file's worker starts.
TEST(NoStampLeft, aSetAndItsWriteAreOneStepAcrossWorkers) {
    PluginSession session({{fileA, "Artist A", 240}, {"C:\\music\\b.mp3", "Artist B", 240}});
    session.overrideAnswer = [&session](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != IPC_SET_EXTENDED_FILE_INFO && code != IPC_SET_EXTENDED_FILE_INFOW) return std::nullopt;
        LRESULT answer = session.model.answer(wParam, code);
        Sleep(30);  // other threads run before the write comes
        return answer;
    };
    session.play();
    session.runUntil(20500);
    session.next();
    session.runUntil(40500);
    session.stop();
    session.runUntil(45000);
    EXPECT_EQ(session.setWithoutItsWrite(), "");
    for (const auto& write : session.requests(IPC_WRITE_EXTENDED_FILE_INFO)) EXPECT_EQ(write.answer, 1);
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
    EXPECT_EQ(session.model.storedArtist("C:\\music\\b.mp3"), "Artist B");
    EXPECT_EQ(session.commitsOf("C:\\music\\b.mp3").size(), 3u);
}

// The host repeats its notice while the next file plays: the old file's retries still
// wait their full second each, and the fourth one writes the artist back.
TEST(NoStampLeft, repeatedNoticesDoNotUseUpAWriteBacksRetries) {
    PluginSession session({{fileA, "Artist A", 240}, {"C:\\music\\b.mp3", "Artist B", 240}});
    session.model.acceptSets(vorlu_test::refuseWriteBacks("Artist A", 4));
    session.play();
    session.runUntil(10500);
    session.next();
    for (long long t = 10700; t < 20000; t += 200) {
        session.runUntil(t);
        session.sendTrackChangeNotice();
    }
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
    EXPECT_EQ(session.commitsOf(fileA).back().time, 10500 + 4000);
}

// Going back to a file whose write-back is still being retried: the new worker takes it
// over with the saved artist, so no value shows a time text without that artist.
TEST(NoStampLeft, goingBackToAFileWhoseWriteBackIsRetriedKeepsItsArtist) {
    PluginSession session({{fileA, "Artist A", 240}, {"C:\\music\\b.mp3", "Artist B", 240}});
    session.model.acceptSets(vorlu_test::refuseWriteBacks("Artist A", 3));
    session.play();
    session.runUntil(10500);
    session.next();
    session.runUntil(12200);
    session.previous();
    session.runUntil(60000);
    session.stop();
    session.runFor(6000);
    std::string why;
    EXPECT_TRUE(vorlu_test::historyIsSound(session.artistHistory(fileA), "Artist A", &why)) << why;
    EXPECT_GE(session.commitsOf(fileA).size(), 4u);
}

// Skipping ten times a second while every write-back is refused for the first seconds:
// the old workers linger in their retries, holding their files' claims, and still every
// file gets stamped.
TEST(NoStampLeft, fastSkippingWhileWriteBacksAreRefusedStillStampsTheFiles) {
    std::vector<standin::Entry> list;
    for (int i = 0; i < 24; ++i)
        list.push_back({"C:\\skip\\" + std::to_string(i) + ".mp3", "Artist " + std::to_string(i), 200});
    PluginSession session(list);
    session.model.acceptSets([](const std::string&, const std::string& value) {
        return winshim::now() >= 2500 || value.find(" (") != std::string::npos;
    });
    session.play();
    for (int i = 1; i < 24; ++i) {
        session.runFor(100);
        session.next();
    }
    session.runFor(100);
    session.stop();
    session.runFor(10000);
    int stamped = 0;
    for (const auto& entry : list) {
        stamped += session.commitsOf(entry.file).empty() ? 0 : 1;
        EXPECT_EQ(session.model.storedArtist(entry.file), entry.artist);
    }
    EXPECT_EQ(stamped, 24);
}

}  // namespace
