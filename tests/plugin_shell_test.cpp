#include "plugin/gen_vorlu.h"
#include "host/requests.h"
#include "support/plugin_session.h"

#include <gtest/gtest.h>

#include <cstring>

using vorlu_test::PluginSession;
using vorlu_test::recordedResult;

namespace {

std::vector<standin::Entry> onePlaylist() { return {{"C:\\music\\a.mp3", "Artist A", 240}}; }

TEST(PluginShell, descriptorIsOneStaticRecordWithVersionAndDescription) {
    winampGeneralPurposePlugin* first = winampGetGeneralPurposePlugin();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, winampGetGeneralPurposePlugin());
    EXPECT_EQ(first, &plugin);
    EXPECT_EQ(first->version, 0x10);
    EXPECT_STREQ(first->description, "Vorlu v1.0 (gen_vorlu.dll)");
    EXPECT_EQ(first->init, &init);
    EXPECT_EQ(first->config, &config);
    EXPECT_EQ(first->quit, &quit);
    EXPECT_EQ(first->hDllInstance, nullptr);
}

TEST(PluginShell, initSubclassesMainWindowFirstThenPlaylistEditor) {
    bool mainSubclassedWhenEditorAsked = false;
    bool editorUntouchedWhenAsked = false;
    PluginSession session(onePlaylist(), {.init = false});
    session.overrideAnswer = [&](WPARAM, LPARAM code) -> std::optional<LRESULT> {
        if (code == IPC_GETWND) {
            mainSubclassedWhenEditorAsked = winshim::windowProcedure(session.mainWindow) == WinampWndProc;
            editorUntouchedWhenAsked = winshim::windowProcedure(session.playlistEditor) == session.hostEditorProcedure;
        }
        return std::nullopt;
    };
    plugin.hwndParent = session.mainWindow;
    EXPECT_EQ(plugin.init(), 0);

    EXPECT_TRUE(mainSubclassedWhenEditorAsked);
    EXPECT_TRUE(editorUntouchedWhenAsked);
    EXPECT_EQ(winshim::setWindowLongCalls(), (std::vector<HWND>{session.mainWindow, session.playlistEditor}));
    EXPECT_EQ(winshim::windowProcedure(session.playlistEditor), WinampPEWndProc);
    EXPECT_EQ(lpWinampWndProcOld, session.hostMainProcedure);
    EXPECT_EQ(lpWinampPEWndProcOld, session.hostEditorProcedure);
    auto asks = session.requests(IPC_GETWND);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].wParam, 1);
}

// A single-byte procedure in a Unicode window's chain has Windows convert every text
// message through the code page: the host's title would lose what the code page lacks.
TEST(PluginShell, subclassesEachWindowTheWayItsTextTravelsAndPutsItBackTheSameWay) {
    PluginSession session(onePlaylist());
    EXPECT_EQ(IsWindowUnicode(session.mainWindow) != FALSE, !vorlu_test::oldHostRun());
    session.play();
    session.runUntil(20000);
    for (HWND window : {session.mainWindow, session.playlistEditor}) SendMessageA(window, WM_USER + 1, 1, 2);
    plugin.quit();
    EXPECT_EQ(winshim::singleByteCallsOnUnicodeWindows(), 0);
    EXPECT_EQ(winshim::windowProcedure(session.mainWindow), session.hostMainProcedure);
    EXPECT_EQ(winshim::windowProcedure(session.playlistEditor), session.hostEditorProcedure);
    EXPECT_EQ(winshim::moduleLoadPins(), 0);
    // A worker left after quit: its step runs once, on its own thread, as no procedure of ours runs it.
    int runs = 0;
    runStep([](void* count) { ++*static_cast<int*>(count); }, &runs);
    EXPECT_EQ(runs, 1);
}

TEST(PluginShell, initWithoutPlaylistEditorSubclassesOnlyTheMainWindow) {
    PluginSession session(onePlaylist(), {.hasPlaylistEditor = false});
    EXPECT_EQ(winshim::setWindowLongCalls(), std::vector<HWND>{session.mainWindow});
    EXPECT_EQ(winshim::windowProcedure(session.mainWindow), WinampWndProc);
}

// Messages the host might send either window, including ones that look like requests
// or notices but are not.
struct PassedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
const PassedMessage passedMessages[] = {
    {0x0001, 0, 0},   // WM_CREATE-like
    {0x0010, 5, -7},  // WM_CLOSE-like with odd values
    {WM_USER + 1, 123, 456},
    {WM_USER, 665, 0x40000000},                  // near-notice
    {WM_USER, 666, 0x3FFFFFFF},                  // notice value without bit 30
    {WM_USER, IPC_CB_MISC_STATUS, IPC_CB_MISC},  // the host's status callback, which it posts itself
    {0x8000, ~static_cast<WPARAM>(0), -1},
};

TEST(PluginShell, bothProceduresHandEveryMessageOnUnchangedAndReturnItsResult) {
    PluginSession session(onePlaylist());
    for (const auto& m : passedMessages) {
        bool request = m.message == WM_WA_IPC && m.lParam != IPC_CB_MISC;
        EXPECT_EQ(SendMessageA(session.mainWindow, m.message, m.wParam, m.lParam),
                  request ? session.model.answer(m.wParam, m.lParam) : recordedResult(m.message, m.wParam, m.lParam));
        EXPECT_EQ(SendMessageA(session.playlistEditor, m.message, m.wParam, m.lParam),
                  recordedResult(m.message, m.wParam, m.lParam));
    }
    auto editor = session.editorMessages();
    ASSERT_EQ(editor.size(), std::size(passedMessages));
    for (std::size_t i = 0; i < editor.size(); ++i) {
        EXPECT_EQ(editor[i].window, session.playlistEditor);
        EXPECT_EQ(editor[i].message, passedMessages[i].message);
        EXPECT_EQ(editor[i].wParam, passedMessages[i].wParam);
        EXPECT_EQ(editor[i].lParam, passedMessages[i].lParam);
    }
    std::size_t mainCount = 0;
    for (const auto& m : session.mainMessages()) {
        EXPECT_EQ(m.window, session.mainWindow);
        ++mainCount;
    }
    EXPECT_EQ(mainCount, std::size(passedMessages) - 2);  // the two WM_USER ones are answered as requests
    // Another program's message that happens to carry our step's number runs nothing.
    EXPECT_EQ(SendMessageA(session.mainWindow, RegisterWindowMessageA("Vorlu.step"), 3, 12345), 0);
    EXPECT_EQ(session.mainMessages().size(), mainCount);
    EXPECT_EQ(winshim::threadsStarted(), 0);
}

TEST(PluginShell, configShowsTheNoticeOwnedByTheMainWindow) {
    PluginSession session(onePlaylist());
    plugin.config();
    auto boxes = winshim::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, session.mainWindow);
    EXPECT_EQ(boxes[0].text, "There is no current configuration settings. Please edit the source of Vorlu.");
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[0].type, MB_OK);
    // Only init's: IPC_GETVERSION, IPC_GETINIDIRECTORYW (from 5.58), IPC_GETINIDIRECTORY and IPC_GETWND.
    EXPECT_EQ(session.model.requests().size(), vorlu_test::oldHostRun() ? 3u : 4u);
}

TEST(PluginShell, clearBufferZeroesExactlyCountBytes) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(clearBuffer(5, buffer), 0);
    EXPECT_EQ(std::string(buffer, 8), std::string("\0\0\0\0\0xxx", 8));
    EXPECT_EQ(clearBuffer(0, buffer + 5), 0);
    EXPECT_EQ(clearBuffer(-3, buffer + 5), 0);
    EXPECT_EQ(buffer[5], 'x');
}

}  // namespace
