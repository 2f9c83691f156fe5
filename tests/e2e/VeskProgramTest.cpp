#include "e2e/VeskProcess.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/graphics/UIImage.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {

using vesk::test::isListening;
using vesk::test::VeskProcess;

// The vesk binary of this build, with a home of its own under a scratch folder.
class VeskProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        vesk = std::make_unique<VeskProcess>(root + "/home", root);
    }
    void TearDown() override
    {
        vesk.reset();
        vesk::platform::NSFileManager::defaultManager().removeItemAtPath(root);
    }

    // Never in a window, whatever display the tests run on.
    void launch(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "--headless");
        vesk->launch(arguments);
    }

    std::string root;
    std::unique_ptr<VeskProcess> vesk;
};

// The command of a desktop entry's group: the Exec value's escapes and quoting undone, its
// field codes dropped.
std::vector<std::string> entryCommand(const std::string& path, const std::string& group)
{
    std::ifstream file(path);
    std::string line, value;
    for (bool inGroup = false; std::getline(file, line);) {
        if (line.starts_with("["))
            inGroup = line == "[" + group + "]";
        else if (inGroup && line.starts_with("Exec="))
            value = line.substr(5);
    }
    std::string unescaped;
    for (std::size_t at = 0; at < value.size(); ++at)
        unescaped += value[at] == '\\' && at + 1 < value.size() ? value[++at] : value[at];
    std::vector<std::string> words(1);
    bool quoted = false;
    for (std::size_t at = 0; at < unescaped.size(); ++at) {
        char c = unescaped[at];
        if (quoted && c == '\\' && at + 1 < unescaped.size())
            words.back() += unescaped[++at];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ' ' && !quoted)
            words.emplace_back();
        else
            words.back() += c;
    }
    std::erase_if(words, [](const std::string& word) { return word.empty() || word.starts_with('%'); });
    return words;
}

TEST_F(VeskProgramTest, StartFileserverServesUntilSigtermThenExitsCleanly)
{
    launch({ "--quick-action", "fileserver" });
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    EXPECT_TRUE(vesk->waitForError("Webserver: 127.0.0.1:" + std::to_string(vesk->port))) << vesk->errors();
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
    EXPECT_FALSE(isListening(vesk->port));

    // The switch is kept: the next run serves without the quick action, and SIGINT ends it too.
    launch({});
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    vesk->signal(SIGINT);
    EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, AMissingFileHandedOverRaisesInvalidePath)
{
    launch({ "--", "--open", root + "/nothing-here.txt" });
    EXPECT_TRUE(vesk->waitForError("Invalide path")) << vesk->errors();
    EXPECT_FALSE(isListening(vesk->port)) << "the server switch is off";
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, SigtermEndsTheProgramWithinTwoSecondsWhileTheMainRunLoopIsBusy)
{
    // The viewer parses a property list of 1.5 million entries on the main run loop, for seconds.
    std::string list = "<plist><array>";
    for (int index = 0; index < 1500000; ++index)
        list += "<integer>" + std::to_string(index) + "</integer>";
    std::ofstream(root + "/big.plist") << list << "</array></plist>";
    launch({ "--open", root + "/big.plist" });
    // Start-up takes the main thread well under this; the parse, seconds more.
    ASSERT_TRUE(VeskProcess::waitUntil([&] { return vesk->mainThreadNanoseconds() > 400'000'000; })) << vesk->errors();
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
}

TEST_F(VeskProgramTest, TheInstalledProgramStartsFromItsDesktopEntryWithItsBundleAndIcons)
{
    auto prefix = root + "/my \"apps\" $HOME";
    ASSERT_EQ(std::system(("cmake --install " VESK_BINARY_DIR " --prefix '" + prefix + "' >/dev/null").c_str()), 0);
    auto entry = prefix + "/share/applications/vesk.desktop";
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry + "'").c_str()), 0);
    for (int side : { 16, 48, 512 }) {
        auto size = std::to_string(side);
        auto icon = vesk::platform::UIImage::imageWithContentsOfFile(prefix + "/share/icons/hicolor/" + size + "x" + size + "/apps/vesk.png");
        ASSERT_TRUE(icon) << size;
        EXPECT_EQ(icon->size().width * icon->scale(), side);
    }
    EXPECT_EQ(entryCommand(entry, "Desktop Entry"), (std::vector<std::string> { prefix + "/bin/vesk" }));
    EXPECT_EQ(entryCommand(entry, "Desktop Action Bookmarks"), (std::vector<std::string> { prefix + "/bin/vesk", "--quick-action", "bookmarks" }));
    auto command = entryCommand(entry, "Desktop Action StartFileserver");
    ASSERT_EQ(command, (std::vector<std::string> { prefix + "/bin/vesk", "--quick-action", "fileserver" }));
    vesk->program = command[0];
    vesk->environment["VESK_BUNDLE"] = std::nullopt;
    launch({ command.begin() + 1, command.end() });
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    auto page = std::system(("curl -sf -o /dev/null http://127.0.0.1:" + std::to_string(vesk->port) + "/index.html").c_str());
    EXPECT_EQ(page, 0) << "the front end comes from the installed bundle";
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, LaterStartsHandTheirQuickActionOrFileToTheRunningAppAndEnd)
{
    launch({ root + "/nothing-here.txt" });
    ASSERT_TRUE(vesk->waitForError("Invalide path")) << vesk->errors();
    for (auto folder : { "/second", "/other" })
        ::mkdir((root + folder).c_str(), 0700);
    VeskProcess second(root + "/home", root + "/second");
    second.launch({ "--headless", "--quick-action", "fileserver" });
    EXPECT_EQ(second.waitForExit(), 0) << second.errors();
    EXPECT_TRUE(vesk->waitUntilListening()) << "the running app turned the switch on and became active again";
    second.launch({ "--headless", "--open", root + "/nothing-here.txt" });
    EXPECT_EQ(second.waitForExit(), 0) << second.errors();
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return vesk->errors().find("Invalide path", vesk->errors().find("Invalide path") + 1) != std::string::npos; }))
        << "the running app was handed the file";
    EXPECT_FALSE(isListening(second.port)) << "no second server";
    EXPECT_EQ(second.errors(), "");

    // An app with a home of its own runs beside it.
    VeskProcess other(root + "/other", root + "/other");
    other.launch({ "--headless", "--quick-action", "fileserver" });
    EXPECT_TRUE(other.waitUntilListening()) << other.errors();
    EXPECT_EQ(other.stop(), 0);
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, IdleConnectionsOnTheInstanceSocketHoldUpNoHandOver)
{
    // Wherever the desktop keeps its runtime files, the instance socket lies in the home.
    std::string runtime = root + "/run";
    ::mkdir(runtime.c_str(), 0700);
    vesk->environment["XDG_RUNTIME_DIR"] = runtime;
    launch({ root + "/nothing-here.txt" });
    ASSERT_TRUE(vesk->waitForError("Invalide path")) << vesk->errors();
    std::string socketPath = root + "/home/tmp/vesk.socket";
    struct stat before { };
    ASSERT_EQ(::stat(socketPath.c_str(), &before), 0) << socketPath;
    std::vector<int> idle;
    for (int index = 0; index < 50; ++index) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        idle.push_back(fd);
    }

    ::mkdir((root + "/second").c_str(), 0700);
    VeskProcess second(root + "/home", root + "/second");
    second.environment["XDG_RUNTIME_DIR"] = runtime;
    auto began = std::chrono::steady_clock::now();
    second.launch({ "--headless", "--quick-action", "fileserver" });
    EXPECT_TRUE(VeskProcess::waitUntil([&] { return second.ended(); }, std::chrono::seconds(2))) << "handed over within 2 s";
    EXPECT_EQ(second.waitForExit(), 0) << second.errors();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
    EXPECT_TRUE(vesk->waitUntilListening()) << "the running app took the quick action";
    EXPECT_FALSE(isListening(second.port)) << "no second server";
    struct stat after { };
    EXPECT_EQ(::stat(socketPath.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the running app keeps its socket";
    for (int fd : idle)
        ::close(fd);
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, EveryStartWithTheSameHomeMeetsTheRunningAppWhateverItsEnvironment)
{
    struct Case {
        const char* name;
        std::string home;
        bool runtimeFirst, runtimeLater; // XDG_RUNTIME_DIR set for the running app, for the later start
    };
    std::string runtime = root + "/run";
    ::mkdir(runtime.c_str(), 0700);
    for (auto& [name, home, runtimeFirst, runtimeLater] : {
             Case { "a home too long for a socket's path", root + "/" + std::string(100, 'h'), false, false },
             Case { "the runtime folder for the first only", root + "/home", true, false },
             Case { "the runtime folder for the later only", root + "/home", false, true },
         }) {
        auto folder = root + "/" + name;
        ::mkdir(folder.c_str(), 0700);
        VeskProcess first(home, folder), later(home, folder);
        for (auto [process, set] : { std::pair { &first, runtimeFirst }, std::pair { &later, runtimeLater } })
            process->environment["XDG_RUNTIME_DIR"] = set ? std::optional(runtime) : std::nullopt;
        first.launch({ "--headless", "--quick-action", "fileserver" });
        ASSERT_TRUE(first.waitUntilListening()) << name << first.errors();
        later.launch({ "--headless", "--quick-action", "fileserver" });
        EXPECT_EQ(later.waitForExit(), 0) << name << later.errors();
        EXPECT_FALSE(isListening(later.port)) << name << ": no second server";
        EXPECT_TRUE(isListening(first.port)) << name;
        EXPECT_EQ(first.stop(), 0) << name << first.errors();
    }
}

TEST_F(VeskProgramTest, AStartThatCannotTakeItsLockSaysWhyAndDoesNotRun)
{
    auto lock = root + "/home/tmp/vesk.lock";
    ASSERT_TRUE(vesk::platform::NSFileManager::defaultManager().createDirectoryAtPath(lock, true));
    launch({ "--quick-action", "fileserver" });
    EXPECT_EQ(vesk->waitForExit(), 1);
    EXPECT_NE(vesk->errors().find(lock), std::string::npos) << vesk->errors();
    EXPECT_NE(vesk->errors().find("not starting"), std::string::npos) << vesk->errors();
    EXPECT_FALSE(isListening(vesk->port));

    // With the folder gone, the next start runs.
    ::rmdir(lock.c_str());
    launch({ "--quick-action", "fileserver" });
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, HelpAndBadOptions)
{
    launch({ "--help" });
    EXPECT_EQ(vesk->waitForExit(), 0);
    for (const char* option : { "--quick-action fileserver", "--quick-action bookmarks", "--open PATH", "--help" })
        EXPECT_NE(vesk->output().find(option), std::string::npos) << option;

    launch({ "--quick-action", "launch-rockets" });
    EXPECT_EQ(vesk->waitForExit(), 2);
    EXPECT_NE(vesk->errors().find("unknown quick action"), std::string::npos);
    for (const char* bad : { "--open", "--verbose" }) {
        launch({ bad });
        EXPECT_EQ(vesk->waitForExit(), 2) << bad;
    }
}

}
