#include "plugin/gen_vorlu.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"
#include "stamping/file_claims.h"
#include "trackinfo/track_metadata.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using vorlu_test::PluginSession;

namespace {

std::vector<standin::Entry> threeTracks() {
    return {{"C:\\music\\one.mp3", "First", 200},
            {"C:\\music\\two.mp3", "Second", 180},
            {"C:\\music\\three.mp3", "Third", 160}};
}

struct SetCase {
    const char* name;
    bool accepted;
    int listIndex;
};

TEST(TrackMetadata, setArtistCommitsWithTheGivenIndexOnlyWhenAccepted) {
    const SetCase cases[] = {
        {"accepted, current entry", true, 0},
        {"accepted, other entry", true, 2},
        {"accepted, negative index", true, -1},
        {"refused", false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(threeTracks());
        session.jump(1);  // the current entry differs from most given indexes
        session.model.acceptSets([&](const std::string&, const std::string&) { return c.accepted; });
        std::size_t before = session.model.requests().size();

        EXPECT_EQ(setArtist("C:\\music\\one.mp3", "New value", c.listIndex), 0);

        auto all = session.model.requests();
        std::vector<standin::Request> sent(all.begin() + static_cast<long>(before), all.end());
        ASSERT_EQ(sent.size(), c.accepted ? 2u : 1u);
        EXPECT_EQ(sent[0].code, 294);
        EXPECT_EQ(sent[0].file, "C:\\music\\one.mp3");
        EXPECT_EQ(sent[0].value, "New value");
        if (c.accepted) {
            EXPECT_EQ(sent[1].code, 295);
            EXPECT_EQ(sent[1].wParam, c.listIndex);
            EXPECT_EQ(session.model.storedArtist("C:\\music\\one.mp3"), "New value");
        } else {
            EXPECT_EQ(session.model.storedArtist("C:\\music\\one.mp3"), "First");
        }
    }
}

TEST(TrackMetadata, setSendsTheRecordWithZeroCapacity) {
    PluginSession session(threeTracks());
    extendedFileInfoStruct seen{};
    session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code == IPC_SET_EXTENDED_FILE_INFO) seen = *reinterpret_cast<extendedFileInfoStruct*>(wParam);
        return std::nullopt;
    };
    char value[] = "Value";
    EXPECT_NE(SetExtendedFileInfo("C:\\music\\two.mp3", "ARTIST", value), 0);
    EXPECT_STREQ(seen.filename, "C:\\music\\two.mp3");
    EXPECT_STREQ(seen.metadata, "ARTIST");
    EXPECT_EQ(seen.ret, value);
    EXPECT_EQ(seen.retlen, 0u);
}

TEST(TrackMetadata, readAsksWithCapacity256AndReturnsTheBufferHoldingTheValue) {
    PluginSession session(threeTracks());
    char* value = GetExtendedFileInfo("C:\\music\\two.mp3", "ARTIST");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "Second");
    auto reads = session.requests(IPC_GET_EXTENDED_FILE_INFO);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].capacity, 256);
    EXPECT_EQ(reads[0].file, "C:\\music\\two.mp3");
    EXPECT_EQ(GetExtendedFileInfo("C:\\music\\three.mp3", "ARTIST"), value);  // one buffer for every read
}

TEST(TrackMetadata, refusedReadGivesNull) {
    PluginSession session(threeTracks());
    session.model.acceptReads([](const std::string&) { return false; });
    EXPECT_EQ(GetExtendedFileInfo("C:\\music\\one.mp3", "ARTIST"), nullptr);
    char out[100] = "untouched";
    EXPECT_EQ(copyExtendedFileInfo("C:\\music\\one.mp3", "ARTIST", out, sizeof out), -1);
    EXPECT_STREQ(out, "untouched");
}

TEST(TrackMetadata, copyRefusesAValueThatDoesNotFit) {
    PluginSession session({{"C:\\long.mp3", std::string(40, 'L'), 100}});
    char small[40];
    EXPECT_EQ(copyExtendedFileInfo("C:\\long.mp3", "ARTIST", small, sizeof small), -1);
    char exact[41];
    EXPECT_EQ(copyExtendedFileInfo("C:\\long.mp3", "ARTIST", exact, sizeof exact), 40);
    EXPECT_EQ(std::string(exact), std::string(40, 'L'));
}

// A single-byte host that fills the whole read with no terminator: nothing is taken, and
// nothing is written past the value's buffer (the sanitizer build would see it).
TEST(TrackMetadata, aSingleByteReadFillingItsWholeCapacityIsNeverTaken) {
    if (!vorlu_test::oldHostRun()) GTEST_SKIP() << "the single-byte read";
    PluginSession session(threeTracks());
    session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != IPC_GET_EXTENDED_FILE_INFO) return std::nullopt;
        auto* record = reinterpret_cast<extendedFileInfoStruct*>(wParam);
        std::memset(record->ret, 'x', record->retlen);
        return 1;
    };
    textUnit out[SAVED_ARTIST_SIZE];
    EXPECT_EQ(readArtist(vorlu_test::trackFileOf("C:\\a.mp3"), out, SAVED_ARTIST_SIZE), -1);
}

TEST(TrackMetadata, fileNameFollowsTheEntryCurrentAtEachCall) {
    PluginSession session(threeTracks());
    char name[FILE_NAME_SIZE];
    for (int index : {2, 0, 1, 2}) {
        session.model.jump(index);
        GetFileName(name);
        EXPECT_EQ(std::string(name), session.model.playlist()[static_cast<std::size_t>(index)].file);
    }
    auto files = session.requests(IPC_GETPLAYLISTFILE);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].wParam, 2);
    EXPECT_EQ(files[3].wParam, 2);
}

TEST(TrackMetadata, fileNameFromABadHostNeverOverflows) {
    PluginSession session(threeTracks());
    static char unterminated[400];
    std::memset(unterminated, 'n', sizeof unterminated);
    const char* answer = nullptr;
    session.overrideAnswer = [&](WPARAM, LPARAM code) -> std::optional<LRESULT> {
        if (code == IPC_GETPLAYLISTFILE) return reinterpret_cast<LRESULT>(answer);
        return std::nullopt;
    };
    struct Guarded {
        char name[FILE_NAME_SIZE];
        char after[16];
    } out;
    std::memset(&out, 'x', sizeof out);

    answer = nullptr;  // index out of range
    GetFileName(out.name);
    EXPECT_STREQ(out.name, "");

    answer = unterminated;
    GetFileName(out.name);
    EXPECT_EQ(std::strlen(out.name), static_cast<std::size_t>(FILE_NAME_SIZE - 1));
    EXPECT_EQ(std::string(out.after, sizeof out.after), std::string(sizeof out.after, 'x'));
}

// A host that clears only retlen bytes, half the wide buffer, and copies a value without
// its terminator: a shorter value read after a longer one is read whole and no longer.
TEST(TrackMetadata, aWideValueReadAfterALongerOneIsReadWhole) {
    if (vorlu_test::oldHostRun()) GTEST_SKIP() << "the wide read";
    PluginSession session(threeTracks());
    std::u16string value;
    session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != IPC_GET_EXTENDED_FILE_INFOW) return std::nullopt;
        auto* record = reinterpret_cast<extendedFileInfoStructW*>(wParam);
        std::memset(record->ret, 0, record->retlen);
        std::copy(value.begin(), value.end(), record->ret);
        return 1;
    };
    textUnit out[SAVED_ARTIST_SIZE];
    TrackFile file = vorlu_test::trackFileOf("C:\\music\\one.mp3");
    value = std::u16string(700, u'b');
    EXPECT_EQ(readArtist(file, out, SAVED_ARTIST_SIZE), 700);
    value = std::u16string(600, u'a');
    EXPECT_EQ(readArtist(file, out, SAVED_ARTIST_SIZE), 600);
}

// The wide twin: a name as long as the buffer, or longer, is never cut and writes nothing
// past it.
TEST(TrackMetadata, aWideNameFillingItsBufferNeverOverflows) {
    if (vorlu_test::oldHostRun()) GTEST_SKIP() << "the wide name request";
    PluginSession session(threeTracks());
    static textUnit name[40];
    std::fill(std::begin(name), std::end(name) - 1, u'n');
    session.overrideAnswer = [&](WPARAM, LPARAM code) -> std::optional<LRESULT> {
        if (code == IPC_GETPLAYLISTFILEW) return reinterpret_cast<LRESULT>(name);
        return std::nullopt;
    };
    for (int size : {8, 39, 40}) {
        SCOPED_TRACE(size);
        struct {
            textUnit name[40];
            textUnit after[8];
        } out;
        std::fill(std::begin(out.name), std::end(out.name), u'x');
        std::fill(std::begin(out.after), std::end(out.after), u'x');
        int length = GetFileNameW(out.name, size);
        EXPECT_EQ(length, size == 40 ? 39 : size);
        EXPECT_EQ(out.name[0], size == 40 ? u'n' : 0);
        EXPECT_EQ(std::u16string(out.after, 8), std::u16string(8, u'x'));
        if (size < 40) EXPECT_EQ(out.name[size], u'x');
    }
}

// Reader A's read is answered; before A copies the value out, reader B on another thread
// reads a different file. Without a guard B's value lands in the buffer A is about to
// copy. Each step waits for an event, never for time.
TEST(TrackMetadata, aConcurrentReadNeverOverwritesAValueBeforeItIsCopied) {
    PluginSession session({{"C:\\a.mp3", "Artist of A", 100}, {"C:\\b.mp3", "Artist of B", 100}});
    std::atomic<bool> bStarted{false};
    std::atomic<bool> bAnswered{false};
    std::thread readerB;
    session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != IPC_GET_EXTENDED_FILE_INFO) return std::nullopt;
        LRESULT answer = session.model.answer(wParam, code);
        if (std::string(reinterpret_cast<extendedFileInfoStruct*>(wParam)->filename) == "C:\\b.mp3") {
            bAnswered = true;
            return answer;
        }
        readerB = std::thread([&] {
            char out[100];
            bStarted = true;
            EXPECT_EQ(copyExtendedFileInfo("C:\\b.mp3", "ARTIST", out, sizeof out), 11);
            EXPECT_STREQ(out, "Artist of B");
        });
        while (!bStarted) std::this_thread::yield();
        // Either B is held at the lock, or B's read went through into the shared buffer.
        while (!bAnswered && winshim::threadsWaitingForLocks() == 0) std::this_thread::yield();
        return answer;
    };
    char out[100];
    EXPECT_EQ(copyExtendedFileInfo("C:\\a.mp3", "ARTIST", out, sizeof out), 11);
    EXPECT_STREQ(out, "Artist of A");
    readerB.join();
}

// A host that fills all retlen of the wide buffer, with no terminator: retlen counts
// characters, so the buffer holds them all (the sanitizer build would see an overflow if
// it were counted in bytes), and a value that fills the read is never taken.
TEST(TrackMetadata, aWideReadFillingItsWholeCapacityStaysInsideTheBuffer) {
    if (vorlu_test::oldHostRun()) GTEST_SKIP() << "the wide read";
    PluginSession session(threeTracks());
    session.overrideAnswer = [](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != IPC_GET_EXTENDED_FILE_INFOW) return std::nullopt;
        auto* request = reinterpret_cast<extendedFileInfoStructW*>(wParam);
        for (std::size_t i = 0; i < request->retlen; ++i) request->ret[i] = u'x';
        return 1;
    };
    session.play();
    session.runUntil(5000);
    for (int code : {IPC_SET_EXTENDED_FILE_INFO, IPC_SET_EXTENDED_FILE_INFOW}) {
        for (const auto& set : session.requests(code)) EXPECT_EQ(set.value.find("xxxx"), std::string::npos);
    }
}

// The file-name twin of the test above: the host answers every name request with one
// buffer. A worker's name is answered; before the worker copies it, the player moves on
// and the watcher asks for the new name. The worker still stamps the file it started for.
TEST(TrackMetadata, theWatchersNameRequestNeverOverwritesAWorkersName) {
    PluginSession session(threeTracks());
    int names = 0;
    session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != session.nameCode() || ++names != 2) return std::nullopt;  // the worker's, after the watcher's
        LRESULT answer = session.model.answer(wParam, code);
        Sleep(30);  // the windows' thread runs meanwhile
        return answer;
    };
    session.play();
    session.runUntil(10);
    session.jump(1);
    session.runUntil(5000);
    ASSERT_FALSE(session.commitsOf("C:\\music\\one.mp3").empty());
    EXPECT_TRUE(vorlu_test::isStamp(session.commitsOf("C:\\music\\one.mp3").front().artist, "First"));
}

}  // namespace
