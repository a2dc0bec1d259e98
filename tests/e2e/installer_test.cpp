// The installer under Wine: it finds a player folder registered the way the player
// registers itself, installs the library there, refuses while the library is loaded or its
// folder cannot be written and leaves it intact, says why by its exit code and, when
// silent, in its log; its uninstaller removes exactly what it installed, and an install
// before Windows restarts keeps an uninstaller that works after the restart.
#include "standin_run.h"
#include "support/artist_checks.h"
#include "text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    fs::path users = (prefix ? fs::path(prefix) : fs::path(home ? home : "/root") / ".wine") / "drive_c" / "users";
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

// A copy of the setup program in folder, where its silent runs leave their log.
fs::path copyOfSetup(const fs::path& folder) {
    fs::create_directories(folder);
    fs::copy_file(VORLU_INSTALLER, folder / fs::path(VORLU_INSTALLER).filename());
    return folder / fs::path(VORLU_INSTALLER).filename();
}

// Wine's temporary folder (%TEMP%), as a Linux path.
fs::path wineTemporaryFolder() {
    FILE* shell = popen("export WINEDEBUG=-all; winepath -u \"$(wine cmd /c echo %TEMP% | tr -d '\\r')\"", "r");
    if (!shell) return {};
    char line[4096] = {};
    std::string folder = std::fgets(line, sizeof line, shell) ? line : "";
    pclose(shell);
    return folder.substr(0, folder.find('\n'));
}

// A log the setup program wrote (UTF-16 with a byte order mark), as UTF-8.
std::string logText(const fs::path& file) {
    std::string bytes = bytesOf(file);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text +=
            static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (text.empty() || text[0] != u'\ufeff') return "no log, or not UTF-16: " + bytes;
    return standin::utf8FromUtf16(text.substr(1));
}

// Whether a log says a run ended with exit code code and names what it was about.
testing::AssertionResult logSays(const fs::path& file, int code, const fs::path& about) {
    std::string text = logText(file);
    if (text.find("exit code " + std::to_string(code) + ": ") != std::string::npos &&
        text.find(windowsPath(about)) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << file << " holds \"" << text << "\"";
}

// A folder that takes no change, not even root's (chattr +i), while this lives.
class Unwritable {
public:
    explicit Unwritable(fs::path folder) : folder_(std::move(folder)) {
        made_ = std::system(("chattr +i " + shellQuoted(folder_.string()) + " 2>/dev/null").c_str()) == 0;
    }
    ~Unwritable() {
        if (made_) std::system(("chattr -i " + shellQuoted(folder_.string())).c_str());
    }
    bool made() const { return made_; }

private:
    fs::path folder_;
    bool made_;
};

// Keeps a Wine program running, so that the Wine session goes on while this lives: a new
// session would carry out what Windows leaves for its next start.
class SameWindowsSession {
public:
    SameWindowsSession() : holder_(popen("WINEDEBUG=-all wine cmd > /dev/null 2>&1", "w")) {}
    ~SameWindowsSession() {
        if (holder_) pclose(holder_);
    }

private:
    FILE* holder_;
};

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
    bool crashLeftAJournal;  // with an entry; else only the stand-in's clean run left one
};

TEST(Installer, findsThePlayerInstallsRefusesWhileInUseUninstallsAndNeedsThePlayer) {
    const fs::path setupFile = copyOfSetup(freshDirectory());
    const fs::path setupLog = setupFile.parent_path() / "Vorlu-setup.log";
    const std::string setup = shellQuoted(setupFile.string());
    const FindCase cases[] = {
        {"by the player's uninstall entry", true, false, true},
        {"by the player's own key when the uninstall entry names no player", false, true, false},
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
        ASSERT_EQ(wineExitCode(setup + " /S"), 0);
        ASSERT_TRUE(fs::exists(installed));
        EXPECT_TRUE(logSays(setupLog, 0, player / "Plugins"));
        EXPECT_EQ(bytesOf(installed), bytesOf(VORLU_PLUGIN_DLL));
        EXPECT_TRUE(keyExists(vorluUninstallKey(player)));
        EXPECT_FALSE(fs::exists(decoy / "Plugins"));

        // The stand-in player loads the installed library and stamps; while it runs, a
        // second install and an uninstall are refused and the library stays whole.
        fs::path uninstaller = player / "Plugins" / "uninstall_vorlu.exe";
        RunPlan plan{{{"C:\\Music\\a.mp3", "Artist A", 100}}, "0 play\n8 stop\n", 1.0, (dir / "tags.txt").string()};
        plan.pluginPath = installed.string();
        plan.settingsDir = player.string();
        auto playing = std::async(std::launch::async, [&plan] { return runStandin(plan); });
        ASSERT_TRUE(eventually([&] { return fs::exists(dir / "tags.txt"); }));  // loaded, and its first stamp committed
        EXPECT_EQ(wineExitCode(setup + " /S"), 3);
        EXPECT_TRUE(logSays(setupLog, 3, installed));
        fs::path log = dir / "uninstall log.txt";
        EXPECT_EQ(wineExitCode(shellQuoted(uninstaller.string()) + " /S " + shellQuoted("/LOG=" + windowsPath(log))),
                  3);
        EXPECT_TRUE(logSays(log, 3, installed));
        EXPECT_EQ(bytesOf(installed), bytesOf(VORLU_PLUGIN_DLL));
        EXPECT_TRUE(keyExists(vorluUninstallKey(player)));
        EXPECT_FALSE(fs::exists(player / "Plugins" / "gen_vorlu.dll.new"));
        StandinRun run = playing.get();
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_FALSE(run.commits.empty()) << run.output;
        EXPECT_TRUE(vorlu_test::isStamp(run.commits.front().artist, "Artist A")) << run.commits.front().artist;
        expectEveryArtistRestored(run);
        EXPECT_FALSE(fs::exists(player / "vorlu.journal"));  // every entry gone at the clean quit

        // A second player folder gets an entry of its own.
        fs::path second = dir / "SecondPlayer";
        fs::create_directories(second);
        std::ofstream(second / "winamp.exe") << "stand-in";
        ASSERT_EQ(wineExitCode(setup + " /S " + shellQuoted("/D=" + windowsPath(second))), 0);
        EXPECT_TRUE(keyExists(vorluUninstallKey(second)));

        // A journal that still holds an entry stays for the next install's first start to
        // repair, and the uninstaller says so; an empty one goes with its lock file.
        if (c.crashLeftAJournal) {
            std::ofstream(player / "Plugins" / "vorlu.journal")
                << std::string("VORLUJNL\x01\x00\x00\x00", 12) + "an entry";
            std::ofstream(player / "vorlu.journal") << std::string("VORLUJNL\x01\x00\x00\x00", 12);
            std::ofstream(player / "vorlu.journal.lock") << "";
        }

        // The uninstaller finishes before it returns, and says how it went.
        int copiesBefore = uninstallerCopiesLeft();
        ASSERT_EQ(wineExitCode(shellQuoted(uninstaller.string()) + " /S " + shellQuoted("/LOG=" + windowsPath(log))),
                  0);
        EXPECT_FALSE(fs::exists(installed));
        EXPECT_FALSE(keyExists(vorluUninstallKey(player)));
        EXPECT_EQ(fs::exists(player / "Plugins" / "vorlu.journal"), c.crashLeftAJournal);
        EXPECT_EQ(logText(log).find("kept a journal") != std::string::npos, c.crashLeftAJournal) << logText(log);
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
    // A /D= that NSIS does not take (quoted, as Wine quotes a folder with a space) is
    // refused, not ignored for the registered player.
    fs::path spaced = freshDirectory() / "Other Player";
    fs::create_directories(spaced);
    std::ofstream(spaced / "winamp.exe") << "stand-in";
    EXPECT_EQ(wineExitCode(setup + " /S " + shellQuoted("/D=" + windowsPath(spaced))), 5);
    EXPECT_FALSE(fs::exists(spaced / "Plugins"));
    EXPECT_TRUE(logSays(setupLog, 5, spaced));
    EXPECT_NE(logText(setupLog).find("\"/D=" + windowsPath(spaced) + "\" not taken"), std::string::npos)
        << logText(setupLog);
    forgetPlayerKeys();

    // Told a folder without the player, a silent install changes nothing and says so, in
    // its log beside it.
    fs::path elsewhere = freshDirectory();
    EXPECT_EQ(wineExitCode(setup + " /S " + shellQuoted("/D=" + windowsPath(elsewhere))), 2);
    EXPECT_FALSE(fs::exists(elsewhere / "Plugins"));
    EXPECT_TRUE(logSays(setupLog, 2, elsewhere));
}

// A Plugins folder that cannot be written is not a library in use: the installer and the
// uninstaller answer 4, change nothing and log why; once it can be written, both work. An
// installer run from a folder it cannot write logs in the temporary folder.
TEST(Installer, aPluginsFolderThatCannotBeWrittenAnswers4AndNothingChanges) {
    fs::path dir = freshDirectory();
    const std::string setup = shellQuoted(copyOfSetup(dir / "setup").string());
    fs::path player = dir / "Player";
    fs::path plugins = player / "Plugins";
    fs::create_directories(plugins);
    std::ofstream(player / "winamp.exe") << "stand-in";
    const std::string toPlayer = " " + shellQuoted("/D=" + windowsPath(player));
    fs::path log = dir / "setup log.txt";
    const std::string logged = " " + shellQuoted("/LOG=" + windowsPath(log));
    {
        Unwritable locked(plugins);
        if (!locked.made()) GTEST_SKIP() << "chattr +i cannot lock a folder here";
        EXPECT_EQ(wineExitCode(setup + " /S" + logged + toPlayer), 4);
        EXPECT_TRUE(logSays(log, 4, plugins));
        EXPECT_TRUE(fs::is_empty(plugins));
        EXPECT_FALSE(keyExists(vorluUninstallKey(player)));
    }
    {
        // Run from a folder it cannot write, a silent install logs in the temporary folder.
        Unwritable lockedSetup(dir / "setup");
        ASSERT_TRUE(lockedSetup.made());
        const fs::path temporaryLog = wineTemporaryFolder() / "Vorlu-setup.log";
        fs::remove(temporaryLog);
        ASSERT_EQ(wineExitCode(setup + " /S" + toPlayer), 0);
        EXPECT_TRUE(logSays(temporaryLog, 0, plugins));
    }
    const std::string uninstaller = shellQuoted((plugins / "uninstall_vorlu.exe").string());
    {
        Unwritable locked(plugins);
        ASSERT_TRUE(locked.made());
        EXPECT_EQ(wineExitCode(uninstaller + " /S" + logged), 4);
        EXPECT_TRUE(logSays(log, 4, plugins));
        EXPECT_EQ(bytesOf(plugins / "gen_vorlu.dll"), bytesOf(VORLU_PLUGIN_DLL));
        EXPECT_TRUE(keyExists(vorluUninstallKey(player)));
    }
    EXPECT_EQ(wineExitCode(uninstaller + " /S" + logged), 0);
    EXPECT_TRUE(logSays(log, 0, plugins));
    EXPECT_FALSE(fs::exists(plugins / "gen_vorlu.dll"));
    EXPECT_FALSE(keyExists(vorluUninstallKey(player)));
}

// The uninstaller cannot delete itself while it runs and leaves that to Windows' next
// start; an install before then keeps the uninstaller it puts in its place (and leaves
// every other delete waiting), so that after the restart it still uninstalls.
TEST(Installer, anInstallBeforeWindowsRestartsLeavesAWorkingUninstaller) {
    fs::path dir = freshDirectory();
    const std::string setup = shellQuoted(copyOfSetup(dir / "setup").string());
    fs::path player = dir / "Player";
    fs::path other = dir / "OtherPlayer";
    for (const fs::path& folder : {player, other}) {
        fs::create_directories(folder);
        std::ofstream(folder / "winamp.exe") << "stand-in";
    }
    auto install = [&](const fs::path& folder) {
        return wineExitCode(setup + " /S " + shellQuoted("/D=" + windowsPath(folder)));
    };
    auto uninstall = [](const fs::path& folder) {
        return wineExitCode(shellQuoted((folder / "Plugins" / "uninstall_vorlu.exe").string()) + " /S");
    };
    {
        SameWindowsSession session;
        ASSERT_EQ(install(player), 0);
        ASSERT_EQ(install(other), 0);
        ASSERT_EQ(uninstall(player), 0);
        ASSERT_EQ(uninstall(other), 0);
        ASSERT_EQ(install(player), 0);
        ASSERT_EQ(wineExitCode("wineboot -r"), 0);
    }
    EXPECT_TRUE(fs::exists(player / "Plugins" / "uninstall_vorlu.exe"));
    EXPECT_FALSE(fs::exists(other / "Plugins" / "uninstall_vorlu.exe"));
    EXPECT_TRUE(keyExists(vorluUninstallKey(player)));
    EXPECT_EQ(uninstall(player), 0);
    EXPECT_FALSE(fs::exists(player / "Plugins" / "gen_vorlu.dll"));
    EXPECT_FALSE(keyExists(vorluUninstallKey(player)));
}

}  // namespace
}  // namespace vorlu_e2e
