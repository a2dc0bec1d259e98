// Every way the player can end leaves each stored artist as it was: quit and unload in
// the middle of things, a killed player healed by the next run, and many quick changes.
#include "standin_run.h"
#include "support/artist_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

namespace vorlu_e2e {
namespace {

const std::string fileA = "C:\\Music\\a.mp3";
const std::string fileB = "C:\\Music\\b.mp3";

void expectCleanEnd(const StandinRun& run) {
    ASSERT_EQ(run.exitCode, 0) << run.output;
    expectEveryArtistRestored(run);
    EXPECT_EQ(run.checks.at("messages_pass_main_after_unload"), "ok");
    EXPECT_EQ(run.checks.at("messages_pass_editor_after_unload"), "ok");
    ASSERT_TRUE(run.values.count("quit_ms"));
    EXPECT_LT(std::stoi(run.values.at("quit_ms")), 2500);
}

struct QuitCase {
    const char* name;
    std::string script;
};

TEST(Shutdown, quitAndUnloadMidTrackRestoreEveryArtist) {
    const QuitCase cases[] = {
        {"during playback", "0 play\n10 quit\n"},
        {"during a pause", "0 play\n6 pause\n14 quit\n"},
        {"with several workers running", "0 play\n8 next\n8.2 next\n8.4 quit\n"},
        {"from inside a message the plug-in passed on", "0 play\n10 quit-inside\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandinRun run =
            runStandin({{{fileA, "Artist A", 100}, {fileB, "Artist B", 100}, {"C:\\Music\\c.mp3", "Artist C", 100}},
                        c.script,
                        2.0});
        expectCleanEnd(run);
        EXPECT_FALSE(run.commits.empty());
        reportFigure(std::string("quit ") + c.name + ": " + run.values.at("quit_ms") + " ms");
    }
}

// Two players on the same files and settings folder, as two players on one disk: each sees
// the other's writes at once. One is killed while it stamps a file; the other, playing on,
// comes to that file, takes the stamp out by the first one's journal entry, stamps it
// itself and writes it back: every file ends as its original.
TEST(Shutdown, twoPlayersOnOneDiskOneKilledLeaveEveryFileAsItsOriginal) {
    std::string shared = freshDirectory().string();
    // Its stamp shows 0:40, which the survivor's own from the start of A does not.
    RunPlan killedPlan{{{fileA, "Artist A", 100}, {fileB, "Artist B", 100}}, "0 play\n0 seek 40\n6 kill\n", 2.0};
    killedPlan.tagsPath = shared + "/tags.txt";
    killedPlan.settingsDir = shared;
    RunPlan survivorPlan{{{fileB, "Artist B", 100}, {fileA, "Artist A", 100}}, "0 play\n10 next\n24 stop\n", 2.0};
    survivorPlan.tagsPath = killedPlan.tagsPath;
    survivorPlan.settingsDir = shared;
    StandinRun killed, survivor;
    std::thread first([&] { killed = runStandin(killedPlan); });
    std::thread second([&] { survivor = runStandin(survivorPlan); });
    first.join();
    second.join();
    ASSERT_EQ(killed.exitCode, 3) << killed.output;
    expectFinished(survivor);
    auto stamps = std::count_if(survivor.requests.begin(), survivor.requests.end(), [](const RunRequest& r) {
        return (r.code == 294 || r.code == 3028) && vorlu_test::isStamp(r.value, "Artist A");
    });
    EXPECT_GE(stamps, 1) << survivor.output;  // stamped on the healed artist
    bool sawTheOthersStamp = std::any_of(survivor.requests.begin(), survivor.requests.end(), [](const RunRequest& r) {
        return (r.code == 290 || r.code == 3026) && r.file == fileA && vorlu_test::isStamp(r.value, "Artist A");
    });
    EXPECT_TRUE(sawTheOthersStamp) << survivor.output;
    auto tags = standin::readTags(killedPlan.tagsPath);
    EXPECT_EQ(tags.at(fileA), "Artist A");
    EXPECT_EQ(tags.at(fileB), "Artist B");
}

// The same player killed, then started again on its journal: whether the repair or the
// file's play comes first, the stamp is the journal's to take out.
TEST(Shutdown, aStampLeftByAKilledPlayerIsHealedByTheNextRun) {
    std::string settings = freshDirectory().string();
    RunPlan first{{{fileA, "Artist A", 100}}, "0 play\n8 kill\n", 2.0};
    first.settingsDir = settings;
    StandinRun killed = runStandin(first);
    ASSERT_EQ(killed.exitCode, 3) << killed.output;
    auto left = standin::readTags(killed.tagsPath);
    ASSERT_TRUE(vorlu_test::isStamp(left.at(fileA), "Artist A")) << left.at(fileA);

    RunPlan second{{{fileA, "Artist A", 100}}, "0 play\n8 stop\n", 2.0, killed.tagsPath};
    second.settingsDir = settings;
    StandinRun healed = runStandin(second);
    expectCleanEnd(healed);
    // Stamped on the healed artist, not on the leftover.
    auto firstStamp = std::find_if(healed.requests.begin(), healed.requests.end(), [](const RunRequest& r) {
        return (r.code == 294 || r.code == 3028) && r.value != "Artist A";
    });
    ASSERT_NE(firstStamp, healed.requests.end());
    EXPECT_EQ(firstStamp->value, "Artist A (0:00/1:40)");
    EXPECT_EQ(standin::readTags(healed.tagsPath).at(fileA), "Artist A");
}

// The journal: a killed player's stamp is gone within two seconds of the next start,
// though that file does not play again; a file edited in between keeps the edit.
TEST(Shutdown, aKilledPlayersStampIsTakenOutAtTheNextStartWithoutPlaying) {
    // The player's settings folder named in plain letters, and in Cyrillic and Chinese: the
    // single-byte folder request turns those into '?', the wide one keeps them.
    for (const char* folderName : {"settings", "\u0414\u043c\u0438\u0442\u0440\u0438\u0439 \u97f3\u697d"}) {
        for (bool editedBetween : {false, true}) {
            SCOPED_TRACE(std::string(folderName) +
                         (editedBetween ? ", edited between the runs" : ", left as the kill left it"));
            std::filesystem::path settingsPath = freshDirectory() / folderName;
            std::filesystem::create_directories(settingsPath);
            std::string settings = settingsPath.string();
            RunPlan first{{{fileA, "Artist A", 100}}, "0 play\n4 kill\n", 2.0};
            first.settingsDir = settings;
            StandinRun killed = runStandin(first);
            ASSERT_EQ(killed.exitCode, 3) << killed.output;
            auto tags = standin::readTags(killed.tagsPath);
            ASSERT_TRUE(vorlu_test::isStamp(tags.at(fileA), "Artist A")) << tags.at(fileA);
            // In the folder itself where the host gives it in UTF-16; else beside the library.
            if (!oldHostRun()) EXPECT_TRUE(std::filesystem::exists(settingsPath / "vorlu.journal"));
            if (editedBetween) {
                tags[fileA] = "Edited Artist (live)";
                standin::writeTags(killed.tagsPath, tags);
            }

            RunPlan second{{{fileB, "Artist B", 100}}, "3 quit\n", 1.0, killed.tagsPath};
            second.settingsDir = settings;
            StandinRun next = runStandin(second);
            ASSERT_EQ(next.exitCode, 0) << next.output;
            EXPECT_EQ(next.stored.at(fileA), editedBetween ? "Edited Artist (live)" : "Artist A");
            for (const auto& commit : next.commits) {
                EXPECT_FALSE(editedBetween) << "the edited file was written: " << commit.artist;
                EXPECT_LT(commit.time, 2000);
            }
            if (!editedBetween) {
                ASSERT_EQ(next.commits.size(), 1u) << next.output;
                reportFigure("a killed player's stamp taken out " + std::to_string(next.commits[0].time) +
                             " ms after the next start");
            }
        }
    }
}

// Two players share the files: the second leaves the stamps of the first, which still
// runs, alone. With a settings folder of its own it cannot see the first's journal: it
// plays that file unstamped and says the stamp it finds at its end is the two-player limit.
TEST(Shutdown, aSecondPlayerLeavesTheStampsOfAPlayerThatStillRuns) {
    const struct {
        const char* name;
        bool ownSettings;
        std::vector<standin::Entry> playlist;
        const char* script;
    } cases[] = {
        {"sharing the journal", false, {{fileB, "Artist B", 100}}, "2 quit\n"},
        {"a journal of its own, playing that file", true, {{fileA, "Artist A", 100}}, "0 play\n2 quit\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::path dir = freshDirectory();
        std::string tags = (dir / "tags.txt").string();
        RunPlan playing{{{fileA, "Artist A", 100}}, "0 play\n10 stop\n", 1.0, tags};
        playing.settingsDir = dir.string();
        auto first = std::async(std::launch::async, [&playing] { return runStandin(playing); });
        auto stamped = [&tags] {
            auto stored = standin::readTags(tags);
            return stored.count(fileA) && vorlu_test::isStamp(stored.at(fileA), "Artist A");
        };
        for (int i = 0; i < 200 && !stamped(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(stamped());  // its first stamp committed

        RunPlan other{c.playlist, c.script, 1.0, tags};
        other.settingsDir = c.ownSettings ? freshDirectory().string() : dir.string();
        StandinRun second = runStandin(other);
        ASSERT_EQ(second.exitCode, 0) << second.output;
        EXPECT_TRUE(vorlu_test::isStamp(second.stored.at(fileA), "Artist A")) << second.stored.at(fileA);
        EXPECT_TRUE(second.commits.empty());
        for (const auto& [name, result] : second.checks) EXPECT_EQ(result, "ok") << name << "\n" << second.output;
        EXPECT_EQ(second.values.count("two_player_limit"), c.ownSettings ? 1u : 0u) << second.output;
        expectCleanEnd(first.get());
    }
}

// The real host calls quit only after its main window is destroyed (exit), or after
// freeing its playlist (log-off): every file is back to its original before quit.
TEST(Shutdown, theHostsExitAndLogOffFindEveryArtistWrittenBackBeforeQuit) {
    const QuitCase cases[] = {
        {"exit during playback", "0 play\n10 exit\n"},
        {"exit while a write-back is retried",
         "0 play\n6 refuse-restores on\n8 next\n9 refuse-restores off\n9.2 exit\n"},
        {"log-off during playback", "0 play\n10 logoff\n"},
        {"log-off while a write-back is retried",
         "0 play\n6 refuse-restores on\n8 next\n9 refuse-restores off\n9.2 logoff\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandinRun run = runStandin({{{fileA, "Artist A", 100}, {fileB, "Artist B", 100}}, c.script, 2.0});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_TRUE(run.checks.count("every_artist_restored_before_quit")) << run.output;
        for (const auto& [name, result] : run.checks) EXPECT_EQ(result, "ok") << name;
        expectEveryArtistRestored(run);
        EXPECT_FALSE(run.commits.empty());
        if (std::string(c.name).find("exit") == 0) EXPECT_EQ(run.checks.at("ok_to_quit_passed_on"), "ok");
    }
}

// A write the input plug-in accepts and then fails (the file made read-only) is retried
// and keeps the file's journal entry: after a kill, the next start takes the stamp out.
TEST(Shutdown, aWriteBackThatFailsAtTheCommitIsRetriedAndRepairedAtTheNextStart) {
    std::string settings = freshDirectory().string();
    RunPlan first{{{fileA, "Artist A", 100}}, "0 play\n6 failing-writes 1\n8 stop\n24 kill\n", 2.0};
    first.settingsDir = settings;
    StandinRun failed = runStandin(first);
    ASSERT_EQ(failed.exitCode, 3) << failed.output;
    int writeBacks = 0;
    for (const auto& request : failed.requests) {
        if (request.code == 295 && request.file == fileA && request.answer == 0) ++writeBacks;
    }
    EXPECT_EQ(writeBacks, 6);  // the first attempt and five more
    auto tags = standin::readTags(failed.tagsPath);
    ASSERT_TRUE(vorlu_test::isStamp(tags.at(fileA), "Artist A")) << tags.at(fileA);

    RunPlan second{{{fileB, "Artist B", 100}}, "3 quit\n", 1.0, failed.tagsPath};
    second.settingsDir = settings;
    StandinRun next = runStandin(second);
    ASSERT_EQ(next.exitCode, 0) << next.output;
    EXPECT_EQ(next.stored.at(fileA), "Artist A");
}

TEST(Shutdown, twoHundredTrackChangesAtTenASecond) {
    std::vector<standin::Entry> playlist;
    for (int i = 0; i < 20; ++i)
        playlist.push_back({"C:\\Music\\stress" + std::to_string(i) + ".mp3", "Artist " + std::to_string(i), 300});
    std::string script = "0 play\n";
    for (int i = 1; i <= 200; ++i)
        script += std::to_string(i / 10.0) + " jump " + std::to_string((i * 7) % 20 + 1) + "\n";
    script += "21 stop\n24 quit\n";
    StandinRun run = runStandin({playlist, script, 1.0});
    expectCleanEnd(run);
    for (const auto& entry : playlist) {
        std::string why;
        EXPECT_TRUE(vorlu_test::historyIsSound(run.artistHistory(entry.file), entry.artist, &why)) << why;
    }
    reportFigure("200 track changes at ten a second: peak worker threads " + run.values.at("peak_worker_threads") +
                 ", tag writes " + std::to_string(run.requestCount(295)) + ", sets " +
                 std::to_string(run.requestCount(294) + run.requestCount(3028)) + ", quit " + run.values.at("quit_ms") +
                 " ms");
}

}  // namespace
}  // namespace vorlu_e2e
