#include "plugin/gen_vorlu.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"
#include "stamping/file_claims.h"
#include "host/requests.h"
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

// On this run's path: the record with zero capacity, then the commit with the given index,
// only when the set was accepted.
TEST(TrackMetadata, writeArtistCommitsWithTheGivenIndexOnlyWhenAccepted) {
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
        std::size_t retlen = 1;
        session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
            if (code == IPC_SET_EXTENDED_FILE_INFO) retlen = reinterpret_cast<extendedFileInfoStruct*>(wParam)->retlen;
            if (code == IPC_SET_EXTENDED_FILE_INFOW)
                retlen = reinterpret_cast<extendedFileInfoStructW*>(wParam)->retlen;
            return std::nullopt;
        };
        std::size_t before = session.model.requests().size();

        std::u16string value = u"New value";
        EXPECT_EQ(writeArtist(vorlu_test::trackFileOf("C:\\music\\one.mp3"), value.c_str(), c.listIndex),
                  c.accepted ? ARTIST_WRITTEN : ARTIST_REFUSED);

        auto all = session.model.requests();
        std::vector<standin::Request> sent(all.begin() + static_cast<long>(before), all.end());
        ASSERT_EQ(sent.size(), c.accepted ? 2u : 1u);
        EXPECT_EQ(sent[0].code, session.setCode());
        EXPECT_EQ(sent[0].file, "C:\\music\\one.mp3");
        EXPECT_EQ(sent[0].value, "New value");
        EXPECT_EQ(retlen, 0u);
        if (c.accepted) {
            EXPECT_EQ(sent[1].code, 295);
            EXPECT_EQ(sent[1].wParam, c.listIndex);
            EXPECT_EQ(session.model.storedArtist("C:\\music\\one.mp3"), "New value");
        } else {
            EXPECT_EQ(session.model.storedArtist("C:\\music\\one.mp3"), "First");
        }
    }
}

// A read asks with the buffer's capacity (the single-byte path with the host's 256 bytes);
// one the host refuses, or a value that does not fit, leaves nothing taken.
TEST(TrackMetadata, readArtistTakesOnlyAValueReadWholeWithinItsBuffer) {
    PluginSession session({{"C:\\long.mp3", std::string(40, 'L'), 100}});
    textUnit out[SAVED_ARTIST_SIZE];
    TrackFile file = vorlu_test::trackFileOf("C:\\long.mp3");
    EXPECT_EQ(readArtist(file, out, SAVED_ARTIST_SIZE), 40);
    EXPECT_EQ(std::u16string(out), std::u16string(40, u'L'));
    auto reads = session.requests(session.readCode());
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].capacity, vorlu_test::oldHostRun() ? 256 : SAVED_ARTIST_SIZE);
    // The wide read cuts what does not fit (a value that fills the read is never taken as an artist).
    EXPECT_EQ(readArtist(file, out, 40), vorlu_test::oldHostRun() ? -1 : 39);
    EXPECT_EQ(readArtist(file, out, 41), 40);
    session.model.acceptReads([](const std::string&) { return false; });
    EXPECT_EQ(readArtist(file, out, SAVED_ARTIST_SIZE), -1);
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

TEST(TrackMetadata, theCurrentFileFollowsTheEntryCurrentAtEachCall) {
    PluginSession session(threeTracks());
    TrackFile file;
    for (int index : {2, 0, 1, 2}) {
        session.model.jump(index);
        readCurrentFile(&file);
        EXPECT_EQ(standin::utf8FromUtf16(file.name), session.model.playlist()[static_cast<std::size_t>(index)].file);
    }
    auto files = session.requests(session.nameCode());
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].wParam, 2);
    EXPECT_EQ(files[3].wParam, 2);
}

// No name (an index out of range), or an unterminated one: on the single-byte path it is
// cut to 259 bytes, on the wide path one too long to hold whole is none.
TEST(TrackMetadata, aNameFromABadHostNeverOverflows) {
    PluginSession session(threeTracks());
    static char unterminated[400];
    static textUnit unterminatedWide[2 * WIDE_TEXT_SIZE];
    std::memset(unterminated, 'n', sizeof unterminated);
    std::fill(std::begin(unterminatedWide), std::end(unterminatedWide), u'n');
    bool none = true;
    session.overrideAnswer = [&](WPARAM, LPARAM code) -> std::optional<LRESULT> {
        if (code == IPC_GETPLAYLISTFILE) return none ? 0 : reinterpret_cast<LRESULT>(unterminated);
        if (code == IPC_GETPLAYLISTFILEW) return none ? 0 : reinterpret_cast<LRESULT>(unterminatedWide);
        return std::nullopt;
    };
    TrackFile file;
    readCurrentFile(&file);
    EXPECT_EQ(file.name[0], 0);
    none = false;
    readCurrentFile(&file);
    EXPECT_EQ(std::char_traits<textUnit>::length(file.name),
              vorlu_test::oldHostRun() ? static_cast<std::size_t>(FILE_NAME_SIZE - 1) : 0u);
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

// A read in a step on another thread.
struct ReadStep {
    const char* file;
    textUnit out[100];
    int length;
};

void readInStep(void* context) {
    ReadStep& read = *static_cast<ReadStep*>(context);
    read.length = readArtist(vorlu_test::trackFileOf(read.file), read.out, 100);
}

// Reader A's read is answered; before A copies the value out, reader B on another thread
// asks for a different file. B's step waits for the windows' thread, so its value never
// lands in the buffer A is about to copy. Each waits for an event, never for time.
TEST(TrackMetadata, aConcurrentReadNeverOverwritesAValueBeforeItIsCopied) {
    if (!vorlu_test::oldHostRun()) GTEST_SKIP() << "the single-byte read's one buffer";
    PluginSession session({{"C:\\a.mp3", "Artist of A", 100}, {"C:\\b.mp3", "Artist of B", 100}});
    std::atomic<bool> bStarted{false};
    std::atomic<bool> bAnswered{false};
    std::thread readerB;
    ReadStep a{"C:\\a.mp3", {}, 0}, b{"C:\\b.mp3", {}, 0};
    session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != IPC_GET_EXTENDED_FILE_INFO) return std::nullopt;
        LRESULT answer = session.model.answer(wParam, code);
        if (std::string(reinterpret_cast<extendedFileInfoStruct*>(wParam)->filename) == b.file) {
            bAnswered = true;
            return answer;
        }
        readerB = std::thread([&] {
            bStarted = true;
            runStep(readInStep, &b);
        });
        while (!bStarted) std::this_thread::yield();
        // Either B waits for the windows' thread, or B's read went through into the shared buffer.
        while (!bAnswered && winshim::threadsWaitingForLocks() == 0) std::this_thread::yield();
        return answer;
    };
    runStep(readInStep, &a);
    readerB.join();
    EXPECT_EQ(a.length, 11);
    EXPECT_EQ(std::u16string(a.out), u"Artist of A");
    EXPECT_EQ(b.length, 11);
    EXPECT_EQ(std::u16string(b.out), u"Artist of B");
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
// buffer. A worker's name is answered, and the listener clicks before the worker copies
// it: the click waits for the worker's step. The worker claims and stamps the file it
// started for, only while it plays, and writes it back; no other file takes its artist.
TEST(TrackMetadata, aClickWaitsUntilAWorkerHasCopiedItsName) {
    PluginSession session(threeTracks());
    int driver = winshim::currentThreadId();
    session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
        if (code != session.nameCode() || winshim::currentThreadId() == driver) return std::nullopt;
        LRESULT answer = session.model.answer(wParam, code);
        Sleep(30);  // the listener clicks meanwhile
        return answer;
    };
    session.play();
    session.runUntil(10);
    session.jump(1);
    session.runUntil(5000);
    auto reads = session.requests(session.readCode());
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.front().file, "C:\\music\\one.mp3");
    for (const auto& set : session.sets()) {
        if (set.value.rfind("First", 0) == 0) EXPECT_EQ(set.file, "C:\\music\\one.mp3") << set.value;
    }
    EXPECT_EQ(session.model.storedArtist("C:\\music\\one.mp3"), "First");
}

}  // namespace
