// The installer under Wine: it finds a player folder registered the way the player
// registers itself, installs the library there, refuses while the library is loaded and
// leaves it intact, and its uninstaller removes exactly what it installed.
#include "standin_run.h"
#include "support/artist_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

namespace vorlu_e2e {
namespace {

namespace fs = std::filesystem;

const std::string playerUninstallKey = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp";
const std::string playerOwnKey = "HKCU\\Software\\Winamp";

// The Add/Remove entry of one player folder: its key names the folder, '/' for '\\'.
std::string vorluUninstallKey(const fs::path& player) {
    std::string folder = windowsPath(player);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorlu " + folder;
}

// The temporary folders an NSIS uninstaller leaves when it copies itself away.
int uninstallerCopiesLeft() {
    int count = 0;
    const char* home = std::getenv("HOME");
    fs::path users = fs::path(home ? home : "/root") / ".wine" / "drive_c" / "users";
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(users, fs::directory_options::skip_permission_denied, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        count += it->path().filename().string().rfind("~nsu", 0) == 0 ? 1 : 0;
    }
    return count;
}

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

void forgetPlayerKeys() {
    wineExitCode("reg delete " + shellQuoted(playerUninstallKey) + " /f");
    wineExitCode("reg delete " + shellQuoted(playerOwnKey) + " /f");
}

bool keyExists(const std::string& key) { return wineExitCode("reg query " + shellQuoted(key)) == 0; }

// Waits for what runs on after the command that started it has returned.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 200; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

struct FindCase {
    const char* name;
    bool uninstallKeyNamesThePlayer;  // else it names a folder without winamp.exe
    bool ownKeyNamesThePlayer;
};

TEST(Installer, findsThePlayerInstallsRefusesWhileInUseUninstallsAndNeedsThePlayer) {
    const FindCase cases[] = {
        {"by the player's uninstall entry", true, false},
        {"by the player's own key when the uninstall entry names no player", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path dir = freshDirectory();
        fs::path player = dir / "Player";
        fs::path decoy = dir / "Decoy";
        fs::create_directories(player / "Plugins");
        fs::create_directories(decoy);
        std::ofstream(player / "winamp.exe") << "stand-in";
        std::ofstream(player / "Plugins" / "gen_other.dll") << "another plug-in";
        forgetPlayerKeys();
        std::string playerUninstaller = windowsPath((c.uninstallKeyNamesThePlayer ? player : decoy) / "UninstWA.exe");
        ASSERT_EQ(wineExitCode("reg add " + shellQuoted(playerUninstallKey) + " /v UninstallString /d " +
                               shellQuoted("\"" + playerUninstaller + "\" /S") + " /f"),
                  0);
        if (c.ownKeyNamesThePlayer)
            ASSERT_EQ(wineExitCode("reg add " + shellQuoted(playerOwnKey) + " /ve /d " +
                                   shellQuoted(windowsPath(player)) + " /f"),
                      0);

        fs::path installed = player / "Plugins" / "gen_vorlu.dll";
        ASSERT_EQ(wineExitCode(shellQuoted(VORLU_INSTALLER) + " /S"), 0);
        ASSERT_TRUE(fs::exists(installed));
        EXPECT_EQ(bytesOf(installed), bytesOf(VORLU_PLUGIN_DLL));
        EXPECT_TRUE(keyExists(vorluUninstallKey(player)));
        EXPECT_FALSE(fs::exists(decoy / "Plugins"));

        // The stand-in player loads the installed library and stamps; while it runs, a
        // second install and an uninstall are refused and the library stays whole.
        fs::path uninstaller = player / "Plugins" / "uninstall_vorlu.exe";
        RunPlan plan{{{"C:\\Music\\a.mp3", "Artist A", 100}}, "0 play\n8 stop\n", 1.0, (dir / "tags.txt").string()};
        plan.pluginPath = installed.string();
        auto playing = std::async(std::launch::async, [&plan] { return runStandin(plan); });
        ASSERT_TRUE(eventually([&] { return fs::exists(dir / "tags.txt"); }));  // loaded, and its first stamp committed
        EXPECT_EQ(wineExitCode(shellQuoted(VORLU_INSTALLER) + " /S"), 3);
        EXPECT_EQ(wineExitCode(shellQuoted(uninstaller.string()) + " /S"), 3);
        EXPECT_EQ(bytesOf(installed), bytesOf(VORLU_PLUGIN_DLL));
        EXPECT_TRUE(keyExists(vorluUninstallKey(player)));
        EXPECT_FALSE(fs::exists(player / "Plugins" / "gen_vorlu.dll.new"));
        StandinRun run = playing.get();
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_FALSE(run.commits.empty()) << run.output;
        EXPECT_TRUE(vorlu_test::isStamp(run.commits.front().artist, "Artist A")) << run.commits.front().artist;
        expectEveryArtistRestored(run);

        // A second player folder gets an entry of its own.
        fs::path second = dir / "SecondPlayer";
        fs::create_directories(second);
        std::ofstream(second / "winamp.exe") << "stand-in";
        ASSERT_EQ(wineExitCode(shellQuoted(VORLU_INSTALLER) + " /S " + shellQuoted("/D=" + windowsPath(second))), 0);
        EXPECT_TRUE(keyExists(vorluUninstallKey(second)));

        // A journal that still holds an entry stays for the next install's first start to
        // repair; an empty one goes with its lock file.
        std::ofstream(player / "Plugins" / "vorlu.journal") << std::string("VORLUJNL\x01\x00\x00\x00", 12) + "an entry";
        std::ofstream(player / "vorlu.journal") << std::string("VORLUJNL\x01\x00\x00\x00", 12);
        std::ofstream(player / "vorlu.journal.lock") << "";

        // The uninstaller finishes before it returns, and says how it went.
        int copiesBefore = uninstallerCopiesLeft();
        ASSERT_EQ(wineExitCode(shellQuoted(uninstaller.string()) + " /S"), 0);
        EXPECT_FALSE(fs::exists(installed));
        EXPECT_FALSE(keyExists(vorluUninstallKey(player)));
        EXPECT_TRUE(fs::exists(player / "Plugins" / "vorlu.journal"));
        EXPECT_FALSE(fs::exists(player / "vorlu.journal"));
        EXPECT_FALSE(fs::exists(player / "vorlu.journal.lock"));
        EXPECT_EQ(uninstallerCopiesLeft(), copiesBefore);
        EXPECT_TRUE(fs::exists(player / "winamp.exe"));
        EXPECT_TRUE(fs::exists(player / "Plugins" / "gen_other.dll"));
        // The other player folder keeps its copy and its entry, until its own uninstaller runs.
        EXPECT_TRUE(fs::exists(second / "Plugins" / "gen_vorlu.dll"));
        EXPECT_TRUE(keyExists(vorluUninstallKey(second)));
        EXPECT_EQ(wineExitCode(shellQuoted((second / "Plugins" / "uninstall_vorlu.exe").string()) + " /S"), 0);
        EXPECT_FALSE(fs::exists(second / "Plugins" / "gen_vorlu.dll"));
        EXPECT_FALSE(keyExists(vorluUninstallKey(second)));
    }
    forgetPlayerKeys();

    // Told a folder without the player, a silent install changes nothing and says so.
    fs::path elsewhere = freshDirectory();
    EXPECT_EQ(wineExitCode(shellQuoted(VORLU_INSTALLER) + " /S " + shellQuoted("/D=" + windowsPath(elsewhere))), 2);
    EXPECT_FALSE(fs::exists(elsewhere / "Plugins"));
}

}  // namespace
}  // namespace vorlu_e2e
