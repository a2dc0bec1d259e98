// quit: workers end promptly with their artists written back, the window procedures go
// back where they are still ours, and whatever stays keeps the library loaded.
#include "plugin/gen_vorlu.h"
#include "support/plugin_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using vorlu_test::PluginSession;

namespace {

const std::string fileA = "C:\\music\\a.mp3";
const std::string fileB = "C:\\music\\b.mp3";

std::vector<standin::Entry> ab() { return {{fileA, "Artist A", 240}, {fileB, "Artist B", 180}}; }

LRESULT CALLBACK laterSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(lpWinampWndProcOld, window, message, wParam, lParam);
}

struct QuitCase {
    const char* name;
    std::function<void(PluginSession&)> play;
    int threadsLeft = 0;  // still waiting for the journal when quit returns, their write-backs made
};

// Where playback stands when the host ends the plug-in.
std::vector<QuitCase> playingSituations() {
    return {
        {"during playback",
         [](PluginSession& s) {
             s.play();
             s.runUntil(30500);
         }},
        {"during a pause",
         [](PluginSession& s) {
             s.play();
             s.runUntil(20500);
             s.pause();
             s.runUntil(40500);
         }},
        {"with two workers running",
         [](PluginSession& s) {
             s.play();
             s.runUntil(30500);
             s.next();
             s.runUntil(30600);
         }},
    };
}

TEST(Quit, endsEveryWorkerPromptlyWithItsArtistWrittenBack) {
    std::vector<QuitCase> cases = playingSituations();
    cases.insert(cases.end(),
                 {
                     {"right after a notice", [](PluginSession& s) { s.play(); }},
                     {"with a host slow to take the write-back",
                      [](PluginSession& s) {
                          s.play();
                          s.runUntil(30500);
                          s.overrideAnswer = [](WPARAM, LPARAM code) -> std::optional<LRESULT> {
                              if (code == IPC_SET_EXTENDED_FILE_INFO || code == IPC_SET_EXTENDED_FILE_INFOW) Sleep(40);
                              return std::nullopt;
                          };
                      }},
                 });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(ab());
        c.play(session);
        long long before = winshim::now();
        plugin.quit();
        EXPECT_LT(winshim::now() - before, 100);  // no worker waits out its second
        EXPECT_EQ(winshim::threadsRunning(), 0);
        EXPECT_EQ(winshim::moduleReferences(), 0);
        EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
        EXPECT_EQ(session.model.storedArtist(fileB), "Artist B");
        EXPECT_EQ(winshim::windowProcedure(session.mainWindow), session.hostMainProcedure);
        EXPECT_EQ(winshim::windowProcedure(session.playlistEditor), session.hostEditorProcedure);
        EXPECT_EQ(winshim::moduleLoadPins(), 0);
    }
}

// The real host calls quit only after its main window is gone (exit) or its playlist is
// freed (log-off): every file must hold its original before then.
TEST(Quit, theHostsExitAndLogOffFindEveryArtistWrittenBackBeforeQuit) {
    std::vector<QuitCase> situations = playingSituations();
    situations.push_back({"with a write-back refused twice", [](PluginSession& s) {
                              auto refused = std::make_shared<int>(0);
                              s.model.acceptSets([refused](const std::string&, const std::string& value) {
                                  return value.find('(') != std::string::npos || (*refused)++ >= 2;
                              });
                              s.play();
                              s.runUntil(20500);
                          }});
    // The next file's claim waits for the journal, which another player holds: no
    // write-back waits with it (only the dropping of its entry), a retried one neither.
    std::vector<HANDLE> heldLocks;
    situations.push_back({"while a newer file waits for the journal another player holds",
                          [&heldLocks](PluginSession& s) {
                              s.play();
                              s.runUntil(20500);
                              s.model.acceptSets(vorlu_test::refuseWriteBacks("Artist A", 1));  // retried after
                              heldLocks.push_back(
                                  CreateFileW(standin::utf16FromUtf8(s.journalFolder + "/vorlu.journal.lock").c_str(),
                                              GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
                              s.next();
                              s.runUntil(20600);
                          },
                          2});
    for (bool logOff : {false, true}) {
        for (const auto& c : situations) {
            SCOPED_TRACE(std::string(logOff ? "log-off " : "exit ") + c.name);
            PluginSession session(ab());
            c.play(session);
            if (logOff)
                session.logOff();
            else
                EXPECT_TRUE(session.exit());  // IPC_HOOK_OKTOQUIT passed on to the host, which lets it go on
            ASSERT_FALSE(session.storedWhenQuitCalled.empty());
            EXPECT_EQ(session.storedWhenQuitCalled.at(fileA), "Artist A");
            EXPECT_EQ(session.storedWhenQuitCalled.at(fileB), "Artist B");
            EXPECT_EQ(winshim::threadsRunning(), c.threadsLeft);
            EXPECT_EQ(winshim::moduleReferences(), c.threadsLeft);
            // Nothing of ours is left in a destroyed window; a quit from inside a message keeps the library.
            EXPECT_EQ(winshim::moduleLoadPins(), logOff ? 1 : 0);
            for (HANDLE held : heldLocks) CloseHandle(held);
            heldLocks.clear();
        }
    }
}

// Another program cancelled the log-off: the session goes on, and so does every stamp.
TEST(Quit, aCancelledLogOffChangesNothing) {
    PluginSession session(ab());
    session.play();
    session.runUntil(20500);
    session.cancelledLogOff();
    session.runUntil(30500);
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A (0:30/4:00)");
    session.next();
    session.runUntil(40500);
    EXPECT_EQ(session.model.storedArtist(fileA), "Artist A");
    EXPECT_EQ(session.model.storedArtist(fileB), "Artist B (0:00/3:00)");
    EXPECT_EQ(winshim::threadsRunning(), 1);
}

TEST(Quit, leavesItsProcedureUnderAnotherOneAndKeepsTheLibraryLoaded) {
    PluginSession session(ab());
    SetWindowLongA(session.mainWindow, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(laterSubclass));
    plugin.quit();
    EXPECT_EQ(winshim::windowProcedure(session.mainWindow), laterSubclass);
    EXPECT_EQ(winshim::windowProcedure(session.playlistEditor), session.hostEditorProcedure);
    EXPECT_EQ(winshim::moduleLoadPins(), 1);
    // The chain still works through our procedure.
    EXPECT_EQ(SendMessageA(session.mainWindow, WM_USER + 5, 1, 2), vorlu_test::recordedResult(WM_USER + 5, 1, 2));
}

struct FrameCase {
    const char* name;
    std::function<void(PluginSession&)> quitWithin;
};

// The host may call quit, and then unload the library, from within any frame of ours on
// its thread: each keeps the library loaded until it has returned.
TEST(Quit, fromWithinAFrameOfOursKeepsTheLibraryLoaded) {
    const FrameCase cases[] = {
        {"a message the plug-in passed on",
         [](PluginSession& s) {
             s.overrideAnswer = [](WPARAM, LPARAM code) -> std::optional<LRESULT> {
                 if (code == 999) plugin.quit();  // a host quitting while handling one of its messages
                 return std::nullopt;
             };
             SendMessageA(s.mainWindow, WM_WA_IPC, 0, 999);
         }},
        {"the configuration notice",
         [](PluginSession&) {
             winshim::setWhileMessageBoxShows([] { plugin.quit(); });
             plugin.config();
         }},
        {"the watcher's name request",
         [](PluginSession& s) {
             s.overrideAnswer = [&s](WPARAM, LPARAM code) -> std::optional<LRESULT> {
                 if (code == s.nameCode()) plugin.quit();
                 return std::nullopt;
             };
             s.sendTrackChangeNotice();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PluginSession session(ab());
        c.quitWithin(session);
        session.overrideAnswer = nullptr;
        EXPECT_EQ(winshim::windowProcedure(session.mainWindow), session.hostMainProcedure);
        EXPECT_EQ(winshim::moduleLoadPins(), 1);
    }
}

TEST(Quit, startsNoWorkerAfterwards) {
    PluginSession session(ab());
    plugin.quit();
    session.model.play();
    WinampPEWndProc(session.playlistEditor, TRACK_CHANGE_MESSAGE, TRACK_CHANGE_WPARAM, TRACK_CHANGE_LPARAM_BIT);
    EXPECT_EQ(winshim::threadsStarted(), 0);
    EXPECT_EQ(winshim::moduleReferences(), 0);
}

TEST(Quit, withoutAPlaylistEditorRestoresTheMainWindow) {
    PluginSession session(ab(), {.hasPlaylistEditor = false});
    plugin.quit();
    EXPECT_EQ(winshim::windowProcedure(session.mainWindow), session.hostMainProcedure);
    EXPECT_EQ(winshim::moduleLoadPins(), 0);
}

TEST(Quit, workersHoldTheLibraryUntilTheirThreadsEnd) {
    PluginSession session(ab());
    session.play();
    session.runUntil(10500);
    EXPECT_EQ(winshim::moduleReferences(), 1);
    session.next();
    session.runUntil(11500);  // A's worker has ended, B's runs
    EXPECT_EQ(winshim::moduleReferences(), 1);
    session.stop();
    session.runUntil(13000);
    EXPECT_EQ(winshim::moduleReferences(), 0);
}

}  // namespace
