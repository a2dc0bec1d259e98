// The listener's playback stays theirs on every kind of file: each input plug-in of the
// host treats a write of the playing file its own way (a restart, a restart that drops a
// pause, a stop that a refused set leaves standing), and Vorlu puts back what its own
// write changed.
#include "stamping/worker.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"

#include <gtest/gtest.h>

using standin::PlayState;
using vorlu_test::PluginSession;

namespace {

int stampsOf(const PluginSession& session, const std::string& file, const std::string& artist) {
    int stamps = 0;
    for (const auto& set : session.sets()) stamps += set.file == file && set.value != artist ? 1 : 0;
    return stamps;
}

int pauseMarksOf(const PluginSession& session, const std::string& file, const std::string& artist) {
    int marks = 0;
    for (const auto& set : session.sets()) marks += set.file == file && vorlu_test::isPauseMark(set.value, artist);
    return marks;
}

// How long the player played between from and to, by its log of play states.
long long playedBetween(const PluginSession& session, long long from, long long to) {
    PlayState state = PlayState::Stopped;
    long long since = from, played = 0;
    for (const auto& change : session.model.playStates()) {
        if (change.time > to) break;
        if (change.time >= from && state == PlayState::Playing) played += change.time - since;
        if (change.time >= from) since = change.time;
        state = change.state;
    }
    return played + (state == PlayState::Playing ? to - since : 0);
}

int changesOfOursBetween(const PluginSession& session, long long from, long long to) {
    int changes = 0;
    for (const auto& change : session.model.playStates())
        changes += change.byPlugin && change.time >= from && change.time <= to ? 1 : 0;
    return changes;
}

struct PauseCase {
    const char* file;
    int pauseMarks;  // of the two pauses, the ones marked
};

// Paused twice: each pause holds. Where the host's plug-in starts the file playing at a
// write (wma), Vorlu pauses it again at once and marks no later pause of that file.
TEST(PlaybackKinds, aListenersPauseHoldsOnEveryKindOfFile) {
    const PauseCase cases[] = {{"C:\\m\\a.mp3", 2}, {"C:\\m\\a.flac", 2}, {"C:\\m\\a.m4a", 2},
                               {"C:\\m\\a.wma", 1}, {"C:\\m\\a.wmv", 1},  {"C:\\m\\a.ogg", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        PluginSession session({{c.file, "Artist", 240}});
        session.play();
        for (long long pauseAt : {20500, 50500}) {
            session.runUntil(pauseAt);
            session.pause();
            int standing = session.model.position();
            session.runUntil(pauseAt + 10000);
            EXPECT_EQ(session.model.state(), PlayState::Paused);
            EXPECT_EQ(session.model.position(), standing);
            EXPECT_EQ(playedBetween(session, pauseAt, pauseAt + 10000), 0);
            // A pause no longer marked is not touched at all: not even a blip.
            if (pauseAt == 50500 && c.pauseMarks == 1)
                EXPECT_EQ(changesOfOursBetween(session, pauseAt, pauseAt + 10000), 0);
            session.resume();
        }
        session.runUntil(80500);
        session.stop();
        session.runUntil(85000);
        EXPECT_EQ(pauseMarksOf(session, c.file, "Artist"), c.pauseMarks);
        EXPECT_GE(stampsOf(session, c.file, "Artist"), 6);  // stamps go on after each pause
        EXPECT_EQ(session.model.storedArtist(c.file), "Artist");
        std::string why;
        EXPECT_TRUE(session.everyPlaybackChangeOfOursIsABlip(&why)) << why;
    }
}

// A wma file paused again just before a stamp falls due: the stamp waits for the listener
// to play on, since its write would start the file playing.
TEST(PlaybackKinds, aFileWhosePauseAWriteDroppedGetsNoWriteWhilePaused) {
    PluginSession session({{"C:\\m\\a.wma", "Artist", 240}});
    session.play();
    session.runUntil(20500);
    session.pause();  // marked at 22 s: the write drops the pause, which Vorlu puts back
    session.runUntil(25500);
    session.resume();  // the next cycle stamps at 26 s, and 15 polls later at 41 s
    session.runUntil(40500);
    session.pause();
    int setsBefore = static_cast<int>(session.sets().size());
    session.runUntil(50500);
    EXPECT_EQ(changesOfOursBetween(session, 40500, 50500), 0);
    EXPECT_EQ(static_cast<int>(session.sets().size()), setsBefore);
    session.resume();
    session.runUntil(60500);
    EXPECT_GT(static_cast<int>(session.sets().size()), setsBefore);
}

// The host's restart at a write settles at its title update, until which the position
// reads 0: however late that comes, the wait of a pause Vorlu put back takes no reading of
// the unsettled restart for playback moving on, and stamps go on once the listener resumes.
TEST(PlaybackKinds, aPausePutBackHoldsThoughTheRestartSettlesLate) {
    for (long long settles : {100, 500, 1500}) {
        SCOPED_TRACE(settles);
        PluginSession session({{"C:\\m\\a.wma", "Artist", 240}}, {.titleDelayMin = settles, .titleDelayMax = settles});
        session.play();
        session.runUntil(20500);
        session.pause();
        session.runUntil(40500);
        EXPECT_EQ(session.model.state(), PlayState::Paused);
        EXPECT_EQ(pauseMarksOf(session, "C:\\m\\a.wma", "Artist"), 1);
        EXPECT_EQ(changesOfOursBetween(session, 20500, 40500), 3);  // the write's stop and start, our pause
        int stampsBefore = stampsOf(session, "C:\\m\\a.wma", "Artist");
        session.resume();
        session.runUntil(60500);
        EXPECT_GE(stampsOf(session, "C:\\m\\a.wma", "Artist"), stampsBefore + 1);
    }
}

struct RefusedCase {
    const char* name;
    const char* file;
    long long readOnlyFrom;
    long long pauseAt;  // -1: plays on
    int stamps;         // sets of a stamp or the pause mark, the refused one included
    bool stoppedByTheSet;
};

// A set the host refuses (a read-only file) stops the playing m4a or wma for good on the
// real host: Vorlu starts it again where it stood, paused again if it was, and sets
// nothing more of that file.
TEST(PlaybackKinds, aRefusedSetThatStopsTheFileHasItPlayOnWhereItStood) {
    const RefusedCase cases[] = {
        {"m4a, read-only", "C:\\m\\a.m4a", 0, -1, 1, true},
        {"wma, read-only", "C:\\m\\a.wma", 0, -1, 1, true},
        {"mp3, read-only: a refused set stops nothing", "C:\\m\\a.mp3", 0, -1, 1, false},
        {"wav: no tag writer, nothing stops", "C:\\m\\a.wav", 0, -1, 1, false},
        {"m4a made read-only, its pause mark refused", "C:\\m\\a.m4a", 10500, 12500, 2, true},
        {"wma made read-only mid-track", "C:\\m\\a.wma", 10500, -1, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session({{c.file, "Artist", 240}});
        if (c.readOnlyFrom == 0) session.model.setFaults(c.file, {.readOnly = true});
        session.play();
        session.runUntil(c.readOnlyFrom);
        session.model.setFaults(c.file, {.readOnly = true});
        if (c.pauseAt >= 0) {
            session.runUntil(c.pauseAt);
            session.pause();
        }
        session.runUntil(40500);
        EXPECT_EQ(session.model.state(), c.pauseAt >= 0 ? PlayState::Paused : PlayState::Playing);
        EXPECT_EQ(session.model.position(), c.pauseAt >= 0 ? c.pauseAt : 40500);
        EXPECT_EQ(stampsOf(session, c.file, "Artist"), c.stamps);
        bool stopped = false;
        for (const auto& change : session.model.playStates()) stopped |= change.state == PlayState::Stopped;
        EXPECT_EQ(stopped, c.stoppedByTheSet);
        std::string why;
        EXPECT_TRUE(session.everyPlaybackChangeOfOursIsABlip(&why)) << why;
    }
}

// The first stamp lands but the host answers that its write failed; the write-back it then
// needs at once is refused, which stops an m4a: it plays on from where it stands now, and
// gets no set while it plays (each would stop it again); once stopped, it is written back.
TEST(PlaybackKinds, aWriteBackRefusedRightAfterTheFirstStampPlaysOnWhereItStood) {
    PluginSession session({{"C:\\m\\a.m4a", "Artist", 240}});
    session.model.setFaults("C:\\m\\a.m4a", {.writesLandButFail = true});
    session.model.acceptSets(vorlu_test::refuseWriteBacks("Artist", 2));
    session.runUntil(10500);
    session.play();
    session.runUntil(40500);
    EXPECT_EQ(session.model.state(), PlayState::Playing);
    EXPECT_EQ(session.model.position(), 30000);
    EXPECT_EQ(session.sets().size(), 2u);
    session.stop();
    session.runFor(5000);
    EXPECT_EQ(session.model.storedArtist("C:\\m\\a.m4a"), "Artist");
}

// The flac plug-in sends its title update from inside the write, while the position reads
// -1: the watcher, hearing of the file its own worker stamps, starts no second worker and
// ends none, and the stamps keep their cadence.
TEST(PlaybackKinds, aTitleUpdateFromInsideOurOwnWriteChangesNothing) {
    std::vector<std::vector<long long>> cadences;
    for (const char* file : {"C:\\m\\a.flac", "C:\\m\\a.mp3"}) {
        SCOPED_TRACE(file);
        PluginSession session({{file, "Artist", 240}});
        session.play();
        session.runUntil(50500);
        EXPECT_EQ(winshim::threadsStarted(ThreadProc), 1);
        std::vector<long long> times;
        for (const auto& set : session.sets()) times.push_back(set.time);
        cadences.push_back(times);
        session.stop();
        session.runUntil(55000);
        EXPECT_EQ(session.model.storedArtist(file), "Artist");
    }
    EXPECT_EQ(cadences[0], cadences[1]);
    EXPECT_EQ(cadences[0].size(), 4u);
}

// A stream has no length (or 0): nothing to stamp, nothing set.
TEST(PlaybackKinds, aStreamIsNeverWritten) {
    for (int length : {-1, 0}) {
        SCOPED_TRACE(length);
        PluginSession session({{"http://radio.example/live", "Station", length}});
        session.play();
        session.runUntil(40000);
        EXPECT_TRUE(session.sets().empty());
        EXPECT_EQ(session.model.state(), PlayState::Playing);
    }
}

}  // namespace
