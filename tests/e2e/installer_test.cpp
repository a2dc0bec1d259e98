// The installer under Wine: it finds a player folder registered the way the player
// registers itself, installs the library there, refuses while the library is loaded and
// leaves it intact, and its uninstaller removes exactly what it installed.
#include "standin_run.h"
#include "support/artist_checks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>

namespace vorlu_e2e {
namespace {

namespace fs = std::filesystem;

const std::string playerUninstallKey = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp";
const std::string playerOwnKey = "HKCU\\Software\\Winamp";
const std::string vorluUninstallKey = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vorlu";

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
        std::string uninstaller = windowsPath((c.uninstallKeyNamesThePlayer ? player : decoy) / "UninstWA.exe");
        ASSERT_EQ(wineExitCode("reg add " + shellQuoted(playerUninstallKey) + " /v UninstallString /d " +
                               shellQuoted("\"" + uninstaller + "\" /S") + " /f"),
                  0);
        if (c.ownKeyNamesThePlayer)
            ASSERT_EQ(wineExitCode("reg add " + shellQuoted(playerOwnKey) + " /ve /d " +
                                   shellQuoted(windowsPath(player)) + " /f"),
                      0);

        fs::path installed = player / "Plugins" / "gen_vorlu.dll";
        ASSERT_EQ(wineExitCode(shellQuoted(VORLU_INSTALLER) + " /S"), 0);
        ASSERT_TRUE(fs::exists(installed));
        EXPECT_EQ(bytesOf(installed), bytesOf(VORLU_PLUGIN_DLL));
        EXPECT_TRUE(keyExists(vorluUninstallKey));
        EXPECT_FALSE(fs::exists(decoy / "Plugins"));

        // The stand-in player loads the installed library and stamps; while it runs, a
        // second install is refused and the library stays whole.
        RunPlan plan{{{"C:\\Music\\a.mp3", "Artist A", 100}}, "0 play\n8 stop\n", 1.0, (dir / "tags.txt").string()};
        plan.pluginPath = installed.string();
        auto playing = std::async(std::launch::async, [&plan] { return runStandin(plan); });
        ASSERT_TRUE(eventually([&] { return fs::exists(dir / "tags.txt"); }));  // loaded, and its first stamp committed
        EXPECT_EQ(wineExitCode(shellQuoted(VORLU_INSTALLER) + " /S"), 3);
        EXPECT_EQ(bytesOf(installed), bytesOf(VORLU_PLUGIN_DLL));
        EXPECT_FALSE(fs::exists(player / "Plugins" / "gen_vorlu.dll.new"));
        StandinRun run = playing.get();
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_FALSE(run.commits.empty()) << run.output;
        EXPECT_TRUE(vorlu_test::isStamp(run.commits.front().artist, "Artist A")) << run.commits.front().artist;
        expectEveryArtistRestored(run);

        // The uninstaller copies itself away and runs on after this returns.
        ASSERT_EQ(wineExitCode(shellQuoted((player / "Plugins" / "uninstall_vorlu.exe").string()) + " /S"), 0);
        EXPECT_TRUE(eventually([&] { return !fs::exists(player / "Plugins" / "uninstall_vorlu.exe"); }));
        EXPECT_FALSE(fs::exists(installed));
        EXPECT_FALSE(keyExists(vorluUninstallKey));
        EXPECT_TRUE(fs::exists(player / "winamp.exe"));
        EXPECT_TRUE(fs::exists(player / "Plugins" / "gen_other.dll"));
    }
    forgetPlayerKeys();

    // Told a folder without the player, a silent install changes nothing and says so.
    fs::path elsewhere = freshDirectory();
    EXPECT_EQ(wineExitCode(shellQuoted(VORLU_INSTALLER) + " /S /D=" + windowsPath(elsewhere)), 2);
    EXPECT_FALSE(fs::exists(elsewhere / "Plugins"));
}

}  // namespace
}  // namespace vorlu_e2e
