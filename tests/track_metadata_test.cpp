#include "plugin/gen_vorlu.h"
#include "support/artist_checks.h"
#include "support/plugin_session.h"
#include "stamping/file_claims.h"
#include "host/requests.h"
#include "trackinfo/track_metadata.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
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

std::vector<standin::Entry> oneLongArtist() { return {{"C:\\long.mp3", std::string(40, 'L'), 100}}; }

// What the host hands over: the model's answers, or where it misbehaves.
enum class Host { Model, RefusingReads, FillingReadsWhole, NamingNothing, NamingUnterminated, Naming39Units };
// The first entry's artist, the current file, or the wide name, into size units; or a play.
enum class Ask { Artist, CurrentFile, WideName, Play };
const int OFF_PATH = INT_MIN;

struct BufferCase {
    const char* name;
    std::vector<standin::Entry> (*playlist)();
    Host host;
    Ask ask;
    int size;
    int singleByte, wide;  // the length given back (OFF_PATH: not asked); a play's sets holding "xxxx"
    std::optional<std::u16string> text = {};  // what the buffer then holds, where looked at
    bool asked = false;                       // the one read's capacity looked at
};

// A read asks with the buffer's capacity (the single-byte path with the host's 256 bytes)
// and takes nothing the host refused, left unterminated, or that does not fit. An
// unterminated name is cut to 259 bytes on the single-byte path; on the wide path a name too
// long to hold whole is none. Nothing is written past a buffer (the sanitizer build would
// see it): a wide read's retlen counts characters.
TEST(TrackMetadata, readsAndNamesStayInsideTheirBuffers) {
    const BufferCase cases[] = {
        {"a value that fits", oneLongArtist, Host::Model, Ask::Artist, SAVED_ARTIST_SIZE, 40, 40,
         std::u16string(40, u'L'), true},
        // A value that fills the read is never taken as an artist: the wide read cuts it.
        {"a value as long as the buffer", oneLongArtist, Host::Model, Ask::Artist, 40, -1, 39},
        {"a value with room for its terminator", oneLongArtist, Host::Model, Ask::Artist, 41, 40, 40},
        {"a read the host refuses", oneLongArtist, Host::RefusingReads, Ask::Artist, SAVED_ARTIST_SIZE, -1, -1},
        {"a single-byte read filled whole", threeTracks, Host::FillingReadsWhole, Ask::Artist, SAVED_ARTIST_SIZE, -1,
         OFF_PATH},
        {"no name", threeTracks, Host::NamingNothing, Ask::CurrentFile, 0, 0, 0},
        {"an unterminated name", threeTracks, Host::NamingUnterminated, Ask::CurrentFile, 0, FILE_NAME_SIZE - 1, 0},
        {"a wide name longer than the buffer", threeTracks, Host::Naming39Units, Ask::WideName, 8, OFF_PATH, 8, u""},
        {"a wide name as long as the buffer", threeTracks, Host::Naming39Units, Ask::WideName, 39, OFF_PATH, 39, u""},
        {"a wide name with room for its terminator", threeTracks, Host::Naming39Units, Ask::WideName, 40, OFF_PATH, 39,
         std::u16string(39, u'n')},
        {"wide reads filled whole while a file plays", threeTracks, Host::FillingReadsWhole, Ask::Play, 0, OFF_PATH, 0},
    };
    static char unterminated[400];
    static textUnit unterminatedWide[2 * WIDE_TEXT_SIZE], name39[40];
    std::memset(unterminated, 'n', sizeof unterminated);
    std::fill(std::begin(unterminatedWide), std::end(unterminatedWide), u'n');
    std::fill(std::begin(name39), std::end(name39) - 1, u'n');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int expected = vorlu_test::oldHostRun() ? c.singleByte : c.wide;
        if (expected == OFF_PATH) continue;
        PluginSession session(c.playlist());
        if (c.host == Host::RefusingReads) session.model.acceptReads([](const std::string&) { return false; });
        session.overrideAnswer = [&](WPARAM wParam, LPARAM code) -> std::optional<LRESULT> {
            bool naming = code == IPC_GETPLAYLISTFILE || code == IPC_GETPLAYLISTFILEW;
            auto fillWhole = [](auto* request) {
                std::fill(request->ret, request->ret + request->retlen, 'x');
                return LRESULT{1};
            };
            if (c.host == Host::FillingReadsWhole && code == IPC_GET_EXTENDED_FILE_INFO)
                return fillWhole(reinterpret_cast<extendedFileInfoStruct*>(wParam));
            if (c.host == Host::FillingReadsWhole && code == IPC_GET_EXTENDED_FILE_INFOW)
                return fillWhole(reinterpret_cast<extendedFileInfoStructW*>(wParam));
            if (c.host == Host::NamingNothing && naming) return 0;
            if (c.host == Host::NamingUnterminated && naming)
                return code == IPC_GETPLAYLISTFILE ? reinterpret_cast<LRESULT>(unterminated)
                                                   : reinterpret_cast<LRESULT>(unterminatedWide);
            if (c.host == Host::Naming39Units && code == IPC_GETPLAYLISTFILEW) return reinterpret_cast<LRESULT>(name39);
            return std::nullopt;
        };
        textUnit out[SAVED_ARTIST_SIZE];
        std::fill(std::begin(out), std::end(out), u'x');
        int length = 0;
        TrackFile file;
        if (c.ask == Ask::Artist) length = readArtist(vorlu_test::trackFileOf(c.playlist()[0].file), out, c.size);
        if (c.ask == Ask::CurrentFile) {
            readCurrentFile(&file);
            length = static_cast<int>(std::char_traits<textUnit>::length(file.name));
        }
        if (c.ask == Ask::WideName) {
            length = GetFileNameW(out, c.size);
            // The buffer is as long as the host's name: the 8 units after it stay as they were.
            EXPECT_EQ(std::u16string(out + 40, 8), std::u16string(8, u'x'));
            if (c.size < 40) EXPECT_EQ(out[c.size], u'x');
        }
        if (c.ask == Ask::Play) {
            session.play();
            session.runUntil(5000);
            for (int code : {IPC_SET_EXTENDED_FILE_INFO, IPC_SET_EXTENDED_FILE_INFOW})
                for (const auto& set : session.requests(code)) length += set.value.find("xxxx") != std::string::npos;
        }
        EXPECT_EQ(length, expected);
        if (c.text) EXPECT_EQ(std::u16string(out), *c.text);
        if (!c.asked) continue;
        auto reads = session.requests(session.readCode());
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].capacity, vorlu_test::oldHostRun() ? METADATA_SIZE : c.size);
    }
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
