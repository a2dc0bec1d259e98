// The listener's playback stays theirs on every kind of file: each input plug-in of the
// host treats a write of the playing file its own way (a restart, a restart that drops a
// pause, a stop that a refused set leaves standing), and Vorlu puts back what its own
// write changed.
#include "stamping/debug_notes.h"
#include "stamping/file_claims.h"
#include "stamping/worker.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

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
    // Paused 50 ms after its start, before the title update that starts the worker: its
    // first stamp is the mark, and the resume a second later is stamped at once.
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ", paused as it starts");
        PluginSession session({{c.file, "Artist", 240}}, {.titleDelayMin = 100, .titleDelayMax = 100});
        session.play();
        session.runUntil(50);
        session.pause();
        session.runUntil(1050);
        EXPECT_TRUE(vorlu_test::isPauseMark(session.model.storedArtist(c.file), "Artist"));
        session.resume();
        session.runUntil(1100);
        EXPECT_EQ(session.model.storedArtist(c.file), "Artist (0:00/4:00)");
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

using P = PluginSession;
using Moves = std::vector<std::pair<long long, std::function<void(P&)>>>;  // the listener's and the host's

// How the host fails a stamp: every file read-only; A's sets refused, its writes failed, or
// its writes landed yet answered as failed.
const std::string fileA = "C:\\music\\a.mp3";
void readOnly(P& s) {
    for (const auto& entry : s.model.playlist()) s.model.setFaults(entry.file, {.readOnly = true});
}
void setsRefused(P& s) {
    s.model.acceptSets([](const std::string& file, const std::string&) { return file != fileA; });
}
void writesFailed(P& s) {
    s.model.acceptWrites([](const std::string& file) { return file != fileA; });
}
void writesLandButFail(P& s) { s.model.setFaults(s.model.playlist()[0].file, {.writesLandButFail = true}); }

// What is looked at once the moves are made; -1 or none: not looked at.
struct Outcome {
    int position = -1;  // where playback stands, playing unless paused
    bool paused = false;
    int stamps = -1;              // the first file's sets other than its artist, the failed one included
    std::optional<bool> stopped;  // whether playback stood stopped at any time
    bool onlyBlips = false;       // every playback change of ours undone at once
    int sets = -1;                // in all
    bool secondStamped = false;
    int artistsKept = -1;  // entries, from the first, whose file holds its artist
    int remembered = -1;   // files the run remembers, each stopped once and said once; filled to its bound
};

struct FailedStampCase {
    const char* name;
    std::vector<standin::Entry> playlist;
    void (*failure)(P&);  // from the start
    Moves moves;
    long long lookAt;
    Outcome outcome;
};

std::vector<standin::Entry> one(const char* file) { return {{file, "Artist", 240}}; }

// A file whose stamp the host refused (a read-only file) or failed to write gets no other set
// in this run, and is said once: on the real host a set of the playing file can stop it (an
// m4a or wma, for good: Vorlu starts it again where it stood, paused again if it was). A
// failed write that changed the file is written back once it stops. Past the bound of files
// a run remembers, every other file plays unstamped.
TEST(PlaybackKinds, aFileWhoseStampFailedGetsNoOtherSetAndPlaysOnWhereItStood) {
    const Moves plays = {{0, &P::play}};
    const Moves playsAgain = {{0, &P::play},     {20500, &P::stop},     {25500, &P::play},
                              {30500, &P::next}, {35500, &P::previous}, {45500, &P::stop}};
    const std::vector<standin::Entry> twoFiles = {{fileA, "Artist A", 240}, {"C:\\music\\b.mp3", "Artist B", 240}};
    // More than workers can run at once; the last is the first under its name in other case.
    std::vector<standin::Entry> forty;
    for (int i = 0; i < 40; ++i) forty.push_back({"C:\\ro\\" + std::to_string(i) + ".m4a", "Artist", 200});
    forty.push_back({"C:\\RO\\0.M4A", "Artist", 200});
    Moves eachOnce = {{0, &P::play}};
    for (int i = 1; i <= 40; ++i) eachOnce.emplace_back(2000 * i, &P::next);
    eachOnce.emplace_back(82000, [](P& s) { s.jump(0); });  // the first again
    eachOnce.emplace_back(84000, &P::stop);
    // The write-back it needs at once is refused, which stops the m4a.
    auto failedThenWriteBackRefused = [](P& s) {
        writesLandButFail(s);
        s.model.acceptSets(vorlu_test::refuseWriteBacks("Artist", 2));
    };
    const FailedStampCase cases[] = {
        {"m4a, read-only", one("C:\\m\\a.m4a"), readOnly, plays, 40500,
         Outcome{.position = 40500, .stamps = 1, .stopped = true, .onlyBlips = true}},
        {"wma, read-only", one("C:\\m\\a.wma"), readOnly, plays, 40500,
         Outcome{.position = 40500, .stamps = 1, .stopped = true, .onlyBlips = true}},
        {"mp3, read-only: a refused set stops nothing", one("C:\\m\\a.mp3"), readOnly, plays, 40500,
         Outcome{.position = 40500, .stamps = 1, .stopped = false, .onlyBlips = true}},
        {"wav: no tag writer, nothing stops", one("C:\\m\\a.wav"), readOnly, plays, 40500,
         Outcome{.position = 40500, .stamps = 1, .stopped = false, .onlyBlips = true}},
        {"m4a made read-only, its pause mark refused", one("C:\\m\\a.m4a"), nullptr,
         Moves{{0, &P::play}, {10500, readOnly}, {12500, &P::pause}}, 40500,
         Outcome{.position = 12500, .paused = true, .stamps = 2, .stopped = true, .onlyBlips = true}},
        {"wma made read-only mid-track", one("C:\\m\\a.wma"), nullptr, Moves{{0, &P::play}, {10500, readOnly}}, 40500,
         Outcome{.position = 40500, .stamps = 2, .stopped = true, .onlyBlips = true}},
        {"sets refused, played again", twoFiles, setsRefused, playsAgain, 50000,
         Outcome{.stamps = 1, .secondStamped = true, .artistsKept = 1}},
        {"writes failed, played again", twoFiles, writesFailed, playsAgain, 50000,
         Outcome{.stamps = 1, .secondStamped = true, .artistsKept = 1}},
        {"writes landed but failed, played again", twoFiles, writesLandButFail, playsAgain, 50000,
         Outcome{.stamps = 1, .secondStamped = true, .artistsKept = 1}},
        {"m4a whose first stamp landed but failed: it plays on where it stood then, with no set", one("C:\\m\\a.m4a"),
         failedThenWriteBackRefused, Moves{{10500, &P::play}}, 40500, Outcome{.position = 30000, .sets = 2}},
        {"... and once stopped is written back", one("C:\\m\\a.m4a"), failedThenWriteBackRefused,
         Moves{{10500, &P::play}, {40500, &P::stop}}, 45500, Outcome{.artistsKept = 1}},
        {"forty read-only files, each once", forty, readOnly, eachOnce, 87000,
         Outcome{.sets = 40, .artistsKept = 41, .remembered = 40}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(c.playlist);
        if (c.failure) c.failure(session);
        for (const auto& [at, move] : c.moves) {
            session.runUntil(at);
            move(session);
        }
        session.runUntil(c.lookAt);
        const Outcome& o = c.outcome;
        const standin::Entry& first = c.playlist[0];
        if (o.position >= 0) EXPECT_EQ(session.model.state(), o.paused ? PlayState::Paused : PlayState::Playing);
        if (o.position >= 0) EXPECT_EQ(session.model.position(), o.position);
        if (o.stamps >= 0) EXPECT_EQ(stampsOf(session, first.file, first.artist), o.stamps);
        bool stopped = false;
        for (const auto& change : session.model.playStates()) stopped |= change.state == PlayState::Stopped;
        if (o.stopped) EXPECT_EQ(stopped, *o.stopped);
        std::string why;
        if (o.onlyBlips) EXPECT_TRUE(session.everyPlaybackChangeOfOursIsABlip(&why)) << why;
        if (o.sets >= 0) EXPECT_EQ(session.sets().size(), static_cast<std::size_t>(o.sets));
        if (o.remembered >= 0)
            EXPECT_EQ(session.model.refusedSetStops().size(), static_cast<std::size_t>(o.remembered));
        if (o.secondStamped) EXPECT_FALSE(session.commitsOf(c.playlist[1].file).empty());
        for (int i = 0; i < o.artistsKept; ++i)
            EXPECT_EQ(session.model.storedArtist(c.playlist[i].file), c.playlist[i].artist);
        if (o.remembered >= 0) {
            // The journal's folder, then each file's refusal once.
            EXPECT_EQ(winshim::debugOutput().size(), static_cast<std::size_t>(o.remembered + 1));
            TrackFile known = vorlu_test::trackFileOf(first.file), other = vorlu_test::trackFileOf("C:\\x\\new.mp3");
            for (int i = o.remembered; i < MARKED_FILES && i < SAID_NOTES; ++i) {
                markFile(vorlu_test::trackFileOf("C:\\x\\" + std::to_string(i)), MARK_UNPAUSED_BY_WRITE);
                noteOnceForDebugger(vorlu_test::trackFileOf("C:\\x\\" + std::to_string(i)), "n");
            }
            EXPECT_EQ(marksOf(known), static_cast<unsigned>(MARK_STAMP_REFUSED | MARK_STOPPED_BY_REFUSAL));
            EXPECT_EQ(marksOf(other),
                      static_cast<unsigned>(MARK_STAMP_REFUSED | MARK_STOPPED_BY_REFUSAL | MARK_UNPAUSED_BY_WRITE));
            std::size_t said = winshim::debugOutput().size();
            for (const TrackFile& file : {other, known}) noteOnceForDebugger(file, "n");
            EXPECT_EQ(winshim::debugOutput().size(), said);
        }
    }
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
        session.sendTrackChangeNotice();  // a title update of the station's, which starts a worker again
        session.runUntil(41000);
        auto notes = winshim::debugOutput();
        EXPECT_EQ(std::vector<std::string>(notes.begin() + 1, notes.end()),  // after the journal's folder
                  std::vector<std::string>{"Vorlu: http://radio.example/live: plays unstamped: streams have no "
                                           "tag to write\n"});
    }
}

}  // namespace
