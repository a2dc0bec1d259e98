// Each kind of file as the host's input plug-ins write it while it plays, with the real
// library in the stand-in player under Wine: what the listener hears of each write. Play
// times are in player ms; the player runs at a speed factor, so a real ms is speed of them.
#include "standin_run.h"
#include "support/artist_checks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>

namespace vorlu_e2e {
namespace {

using standin::PlayState;

bool isSet(const RunRequest& request) { return request.code == 294 || request.code == 3028; }

std::vector<RunRequest> setsOf(const StandinRun& run, const std::string& file) {
    std::vector<RunRequest> sets;
    for (const auto& request : run.requests) {
        if (isSet(request) && request.file == file) sets.push_back(request);
    }
    return sets;
}

// The wma plug-in starts the file playing at every write, paused or not: the write of the
// pause mark may only blip before Vorlu pauses it again, and a later pause of the same
// file gets no mark, so no blip at all.
TEST(FileKinds, aWmaFilePausedTwiceStaysPaused) {
    const std::string file = "C:\\Music\\w.wma";
    const int speed = 4;  // player ms per real ms
    StandinRun run =
        runStandin({{{file, "Artist W", 100}}, "0 play\n10 pause\n22 resume\n32 pause\n44 resume\n52 stop\n", speed});
    expectFinished(run);
    // The listener's pauses and resumes, at or after their times in the script.
    long long pauses[] = {run.changedTo(PlayState::Paused, 10000), run.changedTo(PlayState::Paused, 32000)};
    long long resumes[] = {run.changedTo(PlayState::Playing, 22000), run.changedTo(PlayState::Playing, 44000)};
    for (long long time : {pauses[0], pauses[1], resumes[0], resumes[1]}) ASSERT_GE(time, 0) << run.output;
    // The field reads the pause mark through the first pause, and only then.
    int marks = 0;
    for (const auto& commit : run.commits) {
        bool inFirstPause = commit.time > pauses[0] && commit.time < resumes[0];
        marks += commit.artist == "Artist W (paused)";
        if (inFirstPause || commit.artist == "Artist W (paused)")
            EXPECT_EQ(inFirstPause, commit.artist == "Artist W (paused)") << commit.artist << " at " << commit.time;
    }
    EXPECT_EQ(marks, 1) << run.output;
    long long played = run.timeIn(PlayState::Playing, pauses[0], resumes[0]);
    EXPECT_EQ(run.timesEntered(PlayState::Playing, pauses[0], resumes[0]), 1) << "only the mark's write restarts it";
    EXPECT_LE(played / speed, 250);
    EXPECT_EQ(run.timeIn(PlayState::Playing, pauses[1], resumes[1]), 0);
    EXPECT_EQ(run.values.at("plays_counted"), "1") << "the listener's play, not the mark's restart";
    reportFigure("wma: played after the first pause for " + std::to_string(played / speed) + " ms");
}

struct RefusedCase {
    const char* name;
    std::string file;
    std::string script;  // the file read-only, played, then stopped by the listener
    bool paused;         // the listener had paused it when the set came
};

// A read-only file of a kind whose input plug-in stops it at the set refuses Vorlu's first
// stamp and stays stopped: Vorlu starts it again at once where it stood, paused again if
// it was, and sets nothing more to it, so it never stops again.
TEST(FileKinds, aReadOnlyFileStoppedByARefusedSetPlaysOnWhereItStood) {
    const int speed = 4;  // player ms per real ms
    const RefusedCase cases[] = {
        {"m4a", "C:\\Music\\r.m4a", "0 read-only 1\n0 play\n20 stop\n", false},
        {"wma", "C:\\Music\\r.wma", "0 read-only 1\n0 play\n20 stop\n", false},
        {"m4a paused from its start", "C:\\Music\\r.m4a", "0 read-only 1\n0 play\n0 pause\n12 resume\n20 stop\n", true},
    };
    const long long resumeAt = 12000, stopAt = 20000;  // player ms, as in the scripts
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandinRun run = runStandin({{{c.file, "Artist R", 100}}, c.script, speed});
        expectFinished(run);
        EXPECT_TRUE(run.commits.empty());
        auto sets = setsOf(run, c.file);
        ASSERT_EQ(sets.size(), 1u) << run.output;
        EXPECT_EQ(sets[0].answer, 0);
        EXPECT_EQ(run.timesEntered(PlayState::Stopped, 0, stopAt), 1);
        EXPECT_EQ(run.values.at("plays_counted"), "1") << "the listener's play, not Vorlu's";
        long long gap = run.timeIn(PlayState::Stopped, 0, stopAt);
        EXPECT_LE(gap / speed, 1000);
        // Jumped back to the position of the set: what it had played by then.
        ASSERT_EQ(run.requestCount(106), 1);
        for (const auto& jump : run.requests) {
            if (jump.code != 106) continue;
            EXPECT_EQ(jump.answer, 0);
            EXPECT_LE(std::llabs(jump.wParam - run.timeIn(PlayState::Playing, 0, sets[0].time)), 500 * speed);
        }
        if (c.paused) {
            EXPECT_EQ(run.timesEntered(PlayState::Paused, sets[0].time, resumeAt), 1);
            EXPECT_LE(run.timeIn(PlayState::Playing, 0, resumeAt) / speed, 250);
        }
        EXPECT_EQ(run.debugLinesWith("plays unstamped from now on: the file is read-only"), 1) << run.output;
        reportFigure(std::string("read-only ") + c.name + ": playback stopped for " + std::to_string(gap / speed) +
                     " ms");
    }
    // Forty read-only files played once each, then the first again: each stops once in the run.
    // Each plays 1.25 real seconds: its title update may come 0.5 s after its start, and a
    // busy machine (Wine tests run side by side) may take the rest for the set.
    std::vector<standin::Entry> list;
    std::string script = "0 play\n";
    for (int i = 1; i <= 40; ++i) {
        list.push_back({"C:\\Music\\ro" + std::to_string(i) + ".m4a", "Artist R", 100});
        script = "0 read-only " + std::to_string(i) + "\n" + script + std::to_string(5 * i) + " jump " +
                 std::to_string(i % 40 + 1) + "\n";
    }
    StandinRun run = runStandin({list, script + "205 stop\n", 4});
    expectFinished(run);
    EXPECT_EQ(run.requestCount(3028) + run.requestCount(294), 40);
    EXPECT_EQ(run.timesEntered(PlayState::Stopped, 0, 204000), 40);
}

// The flac plug-in sends the title update's notice from inside each write: Vorlu hears it
// as the file it stamps, playing on, so its one worker stamps on every 15 s.
TEST(FileKinds, aFlacFileIsStampedOnThroughTheNoticesOfItsOwnWrites) {
    const std::string file = "C:\\Music\\f.flac";
    StandinRun run = runStandin({{{file, "Artist F", 100}}, "0 play\n19 stop\n", 1.0});
    expectFinished(run);
    ASSERT_EQ(run.commits.size(), 3u) << run.output;
    EXPECT_TRUE(vorlu_test::isStamp(run.commits[0].artist, "Artist F")) << run.commits[0].artist;
    EXPECT_LT(run.commits[0].time, 2000);
    EXPECT_TRUE(vorlu_test::isStamp(run.commits[1].artist, "Artist F")) << run.commits[1].artist;
    EXPECT_NEAR(run.commits[1].time - run.commits[0].time, 15000, 1500);
    EXPECT_EQ(run.commits[2].artist, "Artist F");  // only at the stop
    EXPECT_GE(run.commits[2].time, 19000);
    // Both stamps' title notices came from within their writes.
    int nested = 0;
    for (const auto& notice : run.notices) nested += notice.fromRequest && (notice.lParam & TRACK_CHANGE_LPARAM_BIT);
    EXPECT_EQ(nested, 2);
    EXPECT_EQ(run.values.at("peak_worker_threads"), "1");  // never a second worker beside the first
}

// Nothing can be written to a stream, nor to a wav file: a stream gets no set at all, a
// wav file one set at most, which the host refuses; neither stops.
TEST(FileKinds, streamsAndWavFilesAreNeverStampedNorStopped) {
    const struct {
        std::string file;
        int lengthSeconds;
        std::size_t setsAtMost;
    } files[] = {
        {"http://radio.example/live", -1, 0},
        {"https://radio.example/talk", 0, 0},
        {"C:\\Music\\field.wav", 60, 1},
    };
    std::vector<standin::Entry> playlist;
    for (const auto& f : files) playlist.push_back({f.file, "Artist of " + f.file, f.lengthSeconds});
    playlist.push_back({"C:\\Music\\b.mp3", "Artist B", 60});
    StandinRun run = runStandin({playlist, "0 play\n8 next\n16 next\n24 next\n32 stop\n", 4.0});
    expectFinished(run);
    for (std::size_t i = 0; i < std::size(files); ++i) {
        SCOPED_TRACE(files[i].file);
        auto sets = setsOf(run, files[i].file);
        EXPECT_LE(sets.size(), files[i].setsAtMost);
        for (const auto& set : sets) EXPECT_EQ(set.answer, 0);
        EXPECT_EQ(run.artistHistory(files[i].file).size(), 1u) << "nothing committed";
        long long start = 8000 * static_cast<long long>(i);  // player ms, as in the script
        EXPECT_EQ(run.timesEntered(PlayState::Stopped, start, start + 8000), 0);
    }
    EXPECT_EQ(run.debugLinesWith("field.wav: plays unstamped from now on: the player cannot write this kind of file"),
              static_cast<int>(setsOf(run, files[2].file).size()));
    // Vorlu ran: the file after them is stamped.
    ASSERT_FALSE(run.commits.empty()) << run.output;
    EXPECT_EQ(run.commits.front().artist, "Artist B (0:00/1:00)");
}

// The listener clicks at every moment over every kind of file, a read-only m4a and wma
// among them: the player's own checks find no stamp of a file left, no pause mark on a
// file that plays, every change of Vorlu's undone before the next click, and exactly the
// listener's plays counted.
TEST(FileKinds, clicksAtEveryMomentLeaveThePlayerAsTheListenerLeftIt) {
    std::vector<standin::Entry> list;
    for (const char* kind : {"mp3", "flac", "m4a", "wma", "ogg", "wav", "m4a", "wma"}) {
        std::string number = std::to_string(list.size());
        list.push_back({"C:\\Clicks\\" + number + "." + kind, "Artist " + number, 300});
    }
    const char* clicks[] = {"pause", "resume", "stop", "play", "next", "prev"};
    std::srand(20261208);
    std::string script = "0 read-only 7\n0 read-only 8\n0 play\n";
    for (double t = 0.5; t < 60; t += 0.05 + (std::rand() % 1500) / 1000.0)
        script += std::to_string(t) + " " + clicks[std::rand() % std::size(clicks)] + "\n";
    script += "61 stop\n";
    StandinRun run = runStandin({list, script, 2.0});
    expectFinished(run);
    EXPECT_EQ(run.checks.at("writes_agree_with_playback"), "ok");
    EXPECT_EQ(run.checks.at("every_change_of_a_plugins_undone_before_a_click"), "ok");
    EXPECT_EQ(run.checks.at("every_listener_play_counted"), "ok");

    // A pause 50 ms after the start, resumed 0.6 or 0.9 s later, twice on each kind: a second
    // after the resume the tag shows a stamp of this play, not the mark (an ogg file, written
    // in place, once kept its mark for 14.5 s).
    const char* kinds[] = {"mp3", "flac", "m4a", "wma", "ogg"};
    std::vector<standin::Entry> files;
    std::string tries;
    for (int i = 0; i < 10; ++i) {
        std::string number = std::to_string(i), at = std::to_string(2 * i);
        files.push_back({"C:\\Resumes\\" + number + "." + kinds[i % 5], "Artist " + number, 300});
        tries += at + " jump " + std::to_string(i + 1) + "\n" + at + ".05 pause\n" + at + (i < 5 ? ".65" : ".95") +
                 " resume\n";
    }
    StandinRun resumed = runStandin({files, tries + "20 stop\n", 1.0});
    expectFinished(resumed);
    std::size_t file = 0;
    for (const auto& resume : resumed.actions) {
        if (resume.name != "resume") continue;
        const auto& entry = files[file++];
        std::string shown = entry.artist;
        for (const auto& commit : resumed.commits) {
            if (commit.file == entry.file && commit.time <= resume.time + 1000) shown = commit.artist;
        }
        EXPECT_TRUE(vorlu_test::isStamp(shown, entry.artist)) << entry.file << " shows " << shown;
    }
    EXPECT_EQ(file, files.size());
}

}  // namespace
}  // namespace vorlu_e2e
