// Playback with the real library in the stand-in player under Wine. The player runs at a
// speed factor while the plug-in polls once a real second, so one poll spans several
// seconds of a track; the checks allow for that.
#include "standin_run.h"
#include "support/artist_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace vorlu_e2e {
namespace {

using vorlu_test::historyIsSound;
using vorlu_test::isStamp;

const std::string fileA = "C:\\Music\\a.mp3";
const std::string fileB = "C:\\Music\\b.mp3";

void expectSound(const StandinRun& run, const std::string& file) {
    std::string why;
    EXPECT_TRUE(historyIsSound(run.artistHistory(file), run.originals.at(file), &why)) << file << ": " << why;
}

std::vector<std::string> artistsOf(const StandinRun& run, const std::string& file) {
    std::vector<std::string> values;
    for (const auto& commit : run.commits) {
        if (commit.file == file) values.push_back(commit.artist);
    }
    return values;
}

TEST(Playback, stampsAtOnceAgainAfterFifteenPollsAndRestoresNearTheEnd) {
    StandinRun run = runStandin({{{fileA, "Artist A", 60}}, "0 play\n", 2.0});
    expectFinished(run);
    auto commits = run.commits;
    ASSERT_EQ(commits.size(), 3u) << run.output;  // the player's clock, twice real time, makes no more
    EXPECT_EQ(commits.front().artist, "Artist A (0:00/1:00)");
    EXPECT_LT(commits.front().time, 2000);
    EXPECT_TRUE(isStamp(commits[1].artist, "Artist A")) << commits[1].artist;
    EXPECT_NEAR(commits[1].time, 30000, 3000);  // fifteen real seconds later
    EXPECT_EQ(commits.back().artist, "Artist A");
    EXPECT_GE(commits.back().time, 60000 - 1500);
    EXPECT_LE(commits.back().time, 60000 + 2500);
    expectSound(run, fileA);
}

// The player calls itself back at the pause and the resume: the mark and the next stamp
// come at once (a quarter of a real second allows for a busy machine), not at a poll.
TEST(Playback, marksAPauseAndStampsAgainOnResumeAtOnce) {
    StandinRun run = runStandin({{{fileA, "Artist A", 100}}, "0 play\n12 pause\n32 resume\n50 stop\n", 4.0});
    expectFinished(run);
    auto values = artistsOf(run, fileA);
    auto paused = std::find(values.begin(), values.end(), "Artist A (paused)");
    ASSERT_NE(paused, values.end()) << run.output;
    ASSERT_NE(paused + 1, values.end());
    EXPECT_TRUE(isStamp(*(paused + 1), "Artist A")) << *(paused + 1);
    EXPECT_EQ(values.back(), "Artist A");
    for (const auto& commit : run.commits) {
        if (commit.artist == "Artist A (paused)") EXPECT_NEAR(commit.time, 12500, 500);
        if (commit.time > 12000 && isStamp(commit.artist, "Artist A")) EXPECT_NEAR(commit.time, 32500, 500);
    }
    expectSound(run, fileA);
}

struct LeaveCase {
    const char* name;
    std::string script;  // leaves a.mp3 at 20 s, stops by 24 s and saves the playlist
};

// At once when the listener leaves the file its artist is back (a quarter of a real
// second allows for a busy machine), and the playlist shows it again: a saved playlist
// holds every artist as stored, no stamp, no pause mark.
TEST(Playback, leavingAFileRestoresItsArtistAtOnceAndThePlaylistShowsIt) {
    const LeaveCase cases[] = {
        {"stop", "0 play\n20 stop\n28 save-playlist saved.m3u\n"},
        {"skip", "0 play\n20 next\n24 stop\n28 save-playlist saved.m3u\n"},
        {"pause, then skip", "0 play\n8 pause\n20 next\n24 stop\n28 save-playlist saved.m3u\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandinRun run = runStandin({{{fileA, "Artist A", 100}, {fileB, "Artist B", 100}}, c.script, 4.0});
        expectFinished(run);
        auto valuesA = artistsOf(run, fileA);
        ASSERT_GE(valuesA.size(), 2u) << run.output;
        EXPECT_EQ(valuesA.back(), "Artist A");
        for (const auto& commit : run.commits) {
            if (commit.file == fileA && commit.artist == "Artist A") EXPECT_NEAR(commit.time, 20500, 500);
        }
        std::ifstream saved(std::filesystem::path(run.tagsPath).parent_path() / "saved.m3u");
        std::string m3u(std::istreambuf_iterator<char>(saved), {});
        EXPECT_EQ(m3u, "#EXTM3U\n#EXTINF:100,Artist A - a\n" + fileA + "\n#EXTINF:100,Artist B - b\n" + fileB + "\n");
    }
}

TEST(Playback, aTrackChangeRestoresTheOldFileWithItsOwnIndexFromTheWorkersThread) {
    StandinRun run =
        runStandin({{{fileA, "Artist A", 100}, {fileB, "Artist B", 100}}, "0 play\n40 next\n60 stop\n", 4.0});
    expectFinished(run);
    bool found = false;
    for (std::size_t i = 0; i < run.requests.size() && !found; ++i) {
        const auto& set = run.requests[i];
        if ((set.code != 294 && set.code != 3028) || set.file != fileA || set.value != "Artist A") continue;
        EXPECT_EQ(set.thread, "worker");
        // The next set or write: another worker's write would follow a set of its own.
        for (std::size_t j = i + 1; j < run.requests.size(); ++j) {
            if (run.requests[j].code != 294 && run.requests[j].code != 3028 && run.requests[j].code != 295) continue;
            EXPECT_EQ(run.requests[j].code, 295);
            EXPECT_EQ(run.requests[j].wParam, 0);  // A's entry, though B plays
            found = true;
            break;
        }
    }
    EXPECT_TRUE(found) << run.output;
    auto valuesB = artistsOf(run, fileB);
    ASSERT_FALSE(valuesB.empty());
    EXPECT_EQ(valuesB.front(), "Artist B (0:00/1:40)");
    expectSound(run, fileA);
    expectSound(run, fileB);
}

// Cyrillic is outside the system code page under Wine here (1252), Latin-1 letters inside.
TEST(Playback, anArtistInAnyScriptIsStampedAndRestoredExactlyWhereTheHostHasWideRequests) {
    const std::string cyrillic = "C:\\Music\\\u0411\u0435\u043b\u044b\u0435 \u043d\u043e\u0447\u0438.mp3";
    const std::string cyrillicArtist =
        "\u041e\u043b\u044c\u0433\u0430 \u0421\u0432\u0435\u0442\u043b\u043e\u0432\u0430";
    const std::string latin = "C:\\Music\\Bj\u00f6rk.mp3";
    StandinRun run = runStandin(
        {{{cyrillic, cyrillicArtist, 100}, {latin, "Bj\u00f6rk \U0001F3B5?", 100}}, "0 play\n8 next\n16 stop\n", 4.0});
    expectFinished(run);
    auto values = artistsOf(run, cyrillic);
    if (oldHostRun()) {
        EXPECT_TRUE(values.empty()) << run.output;  // its name cannot even be read
        EXPECT_EQ(run.requestCount(214) + run.requestCount(3026) + run.requestCount(3028), 0);
    } else {
        ASSERT_FALSE(values.empty()) << run.output;
        EXPECT_EQ(values.front(), cyrillicArtist + " (0:00/1:40)");
        EXPECT_EQ(run.requestCount(211) + run.requestCount(290) + run.requestCount(294), 0);
    }
    EXPECT_EQ(artistsOf(run, latin).empty(), oldHostRun());  // a '?' after the code page's conversion
    expectSound(run, cyrillic);
    expectSound(run, latin);
}

struct UnstampedCase {
    const char* name;
    std::string script;
    int sets;
    const char* why;
};

// On the real host a refused set on the playing file can stop playback for good, and an
// empty read may be a file it could not open: such a file keeps its artist untouched. Why
// is said once, in the player's own output, however often the title updates come: for a
// refusal, as the file system tells it.
TEST(Playback, aFileTheHostCannotStampGetsOneAttemptAtMostAndKeepsItsArtist) {
    const UnstampedCase cases[] = {
        {"every set refused", "0 refuse-sets on\n0 play\n30 stop\n", 1, "the player cannot write this kind of file"},
        {"read as empty", "0 empty-reads 1\n0 play\n30 stop\n", 0, "cannot be read, or reads empty"},
        {"a refused set stops playback, and the listener plays it again",
         "0 stop-on-set 1\n0 refuse-sets on\n0 play\n10 play\n30 stop\n", 1, "cannot write this kind of file"},
        {"held by another program", "0 held 1\n0 play\n30 stop\n", 1, "another program holds the file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandinRun run = runStandin({{{fileA, "Artist A", 100}}, c.script, 4.0});
        expectFinished(run);
        EXPECT_EQ(run.requestCount(oldHostRun() ? 294 : 3028), c.sets);
        EXPECT_EQ(run.requestCount(295), 0);
        EXPECT_TRUE(run.commits.empty());
        EXPECT_EQ(run.debugLinesWith("plays unstamped"), 1) << run.output;
        EXPECT_EQ(run.debugLinesWith(c.why), 1) << run.output;
    }
}

// The host's windows are Unicode windows: their text, in every script, must reach the
// host's own procedures unchanged before init, after it, at every title update while a
// file is stamped, and after quit; a caption of a 600-character artist too.
TEST(Playback, theHostsWindowTextSurvivesTheSubclassing) {
    std::string longArtist;
    while (longArtist.size() < 600) longArtist += "Orchestra ";
    StandinRun run =
        runStandin({{{fileA, "Artist A", 100}, {fileB, longArtist, 100}}, "0 play\n15 next\n30 stop\n", 2.0});
    expectFinished(run);
    EXPECT_GE(run.commits.size(), 2u);
    for (const char* when : {"before_init", "after_init", "after_unload"}) {
        for (const char* window : {"main", "editor"}) {
            for (const char* what : {"text_survives_", "char_survives_"}) {
                std::string name = std::string(what) + window + "_" + when;
                ASSERT_TRUE(run.checks.count(name)) << name;
                EXPECT_EQ(run.checks.at(name), "ok") << name;
            }
        }
    }
    ASSERT_TRUE(run.checks.count("title_updates_keep_their_text"));
    EXPECT_EQ(run.checks.at("title_updates_keep_their_text"), "ok");
    EXPECT_EQ(run.checks.at("windows_stay_unicode"), "ok");
}

TEST(Playback, twoWorkersForOneFileLeaveNoTimeTextBehind) {
    StandinRun run = runStandin({{{fileA, "Artist A", 100}, {fileB, "Artist B", 100}, {fileA, "Artist A", 100}},
                                 "0 play\n10 next\n10.3 prev\n20 next\n20.3 jump 3\n40 stop\n",
                                 2.0});
    expectFinished(run);
    expectSound(run, fileA);
    expectSound(run, fileB);
}

// Repeat one: each play gets a worker of its own, which stamps it from its start and
// writes the artist back near its end.
TEST(Playback, repeatOneStampsEveryPlayAndRestoresAfterEach) {
    StandinRun run = runStandin({{{fileA, "Artist A", 10}}, "0 repeat-one on\n0 play\n31 stop\n", 1.0});
    expectFinished(run);
    expectSound(run, fileA);
    int fromTheStart = 0, restores = 0;
    for (const auto& value : artistsOf(run, fileA)) {
        fromTheStart += value == "Artist A (0:00/0:10)";
        restores += value == "Artist A";
    }
    EXPECT_GE(fromTheStart, 3) << run.output;
    EXPECT_GE(restores, 3) << run.output;
}

// After a seek back, or the same file started from another entry (its name in other
// case), the tag shows this play's time at the worker's next poll (within a real second),
// not at the next stamp of its cycle; a seek forward writes nothing. At four times real
// time the second stamp comes at 60 s, up to 4 s later on a busy machine: the first move
// comes 2.5 real seconds after that.
TEST(Playback, theTagShowsThisPlaysTimeAfterAMoveBack) {
    StandinRun run = runStandin({{{fileA, "Artist A", 100}, {"C:\\MUSIC\\A.MP3", "Artist A", 100}},
                                 "0 play\n72 seek 6\n78 seek 40\n84 next\n92 stop\n",
                                 4.0});
    expectFinished(run);
    // The first commit since each move back, within 1.5 real seconds; the seek forward at 78 makes none.
    for (auto [since, move, shows] : {std::tuple{72000, 72000, "0:(0[6-9]|1[0-2])"}, {78000, 84000, "0:00"}}) {
        auto after = std::find_if(run.commits.begin(), run.commits.end(),
                                  [since = since](const standin::Commit& commit) { return commit.time > since; });
        ASSERT_NE(after, run.commits.end()) << run.output;
        EXPECT_TRUE(std::regex_search(after->artist, std::regex(std::string("\\(") + shows + "/1:40\\)$")))
            << after->artist;
        EXPECT_TRUE(after->time > move && after->time < move + 6000) << after->time;
        reportFigure("move back to the tag: " + std::to_string((after->time - move) / 4) + " ms");
    }
}

// Someone corrects the artist while the file plays: the correction stays, and nothing of
// Vorlu's is written over it or reverts it. The worker that saved the old artist ends; the
// next notice for the file starts one that stamps the correction.
TEST(Playback, anEditMadeDuringPlaybackSurvives) {
    StandinRun run = runStandin({{{fileA, "Artist A", 100}}, "0 play\n5 edit 1 Corrected Artist\n40 stop\n", 2.0});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const auto& [name, result] : run.checks) EXPECT_EQ(result, "ok") << name;
    EXPECT_EQ(run.stored.at(fileA), "Corrected Artist");
    EXPECT_EQ(standin::readTags(run.tagsPath).at(fileA), "Corrected Artist");
    long long editedAt = -1;
    for (const auto& commit : run.commits) {
        if (commit.byHand) editedAt = commit.time;
    }
    ASSERT_GE(editedAt, 0);
    for (const auto& request : run.requests) {
        bool set = request.code == 294 || request.code == 3028;
        if (set && request.file == fileA && request.time > editedAt)
            EXPECT_EQ(request.value.rfind("Corrected Artist", 0), 0u) << request.value;
    }
    // Its next stamp was due 15 s after the first: the field was read then.
    EXPECT_GE(run.requestCount(oldHostRun() ? 290 : 3026), 2);
}

}  // namespace
}  // namespace vorlu_e2e
