#include "platform/system/SingleInstance.h"

#include "platform/foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vesk::platform;
using namespace std::chrono_literals;

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-instance-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
        home = folder + "/home";
        path = home + "/tmp/vesk.socket";
        lockPath = home + "/tmp/vesk.lock";
        std::filesystem::create_directories(home + "/tmp");
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // A later start's claim on a thread of its own, while this thread runs the main run loop.
    SingleInstance::Claim claimAside(const SingleInstance::Request& request, std::chrono::milliseconds patience, std::string claimHome = {})
    {
        if (claimHome.empty())
            claimHome = home;
        auto later = std::async(std::launch::async, [&] {
            auto claim = SingleInstance::Claim::Running;
            std::string failure;
            auto instance = SingleInstance::claim(claimHome, request, claim, failure, patience);
            EXPECT_EQ(instance != nullptr, claim == SingleInstance::Claim::Running);
            return claim;
        });
        RunLoop::main().runUntil([&] { return later.wait_for(0s) == std::future_status::ready; }, patience + 10s);
        return later.get();
    }

    int connectToSocket() const
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }

    ino_t socketInode() const
    {
        struct stat status { };
        return ::stat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode) ? status.st_ino : 0;
    }

    // The running app's claim on this thread.
    std::unique_ptr<SingleInstance> claimRunning(const std::string& where)
    {
        auto claim = SingleInstance::Claim::HandedOver;
        std::string failure;
        auto running = SingleInstance::claim(where, {}, claim, failure);
        EXPECT_EQ(claim, SingleInstance::Claim::Running) << failure;
        EXPECT_EQ(failure, "");
        return running;
    }

    std::string folder;
    std::string home;
    std::string path;
    std::string lockPath;
};

TEST_F(SingleInstanceTest, IdleAndSlowConnectionsHoldUpNoHandOverAndAreCutOff)
{
    auto running = claimRunning(home);
    ASSERT_TRUE(running);
    std::vector<SingleInstance::Request> taken;
    running->listen([&](const SingleInstance::Request& request) {
        taken.push_back(request);
        return true;
    });
    auto inode = socketInode();
    std::vector<int> held;
    for (int index = 0; index < 50; ++index)
        held.push_back(connectToSocket());
    // One sends half a request and stays.
    ASSERT_EQ(::send(held.back(), "url fi", 6, MSG_NOSIGNAL), 6);

    EXPECT_EQ(claimAside({ "file:///tmp/a.txt", "" }, 5s), SingleInstance::Claim::HandedOver);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].url, "file:///tmp/a.txt");
    EXPECT_EQ(socketInode(), inode) << "the running app keeps its socket";

    // Each held connection is closed by the app once its time to send a request is up.
    for (int fd : held) {
        pollfd waiting { fd, POLLIN, 0 };
        char byte;
        EXPECT_TRUE(::poll(&waiting, 1, 10000) == 1 && ::recv(fd, &byte, 1, 0) == 0);
        ::close(fd);
    }
}

TEST_F(SingleInstanceTest, ARunningAppThatTakesNothingIsNeverReplaced)
{
    struct Case {
        const char* name;
        bool listens; // a stuck app takes connections but never reads them
    };
    for (auto [name, listens] : { Case { "stuck", false }, Case { "refusing", true } }) {
        auto running = claimRunning(home);
        ASSERT_TRUE(running) << name;
        if (listens)
            running->listen([](const SingleInstance::Request&) { return false; });
        auto inode = socketInode();
        EXPECT_EQ(claimAside({}, 500ms), SingleInstance::Claim::NotTaken) << name;
        EXPECT_EQ(socketInode(), inode) << name;
        // Once it has ended, the next start runs.
        running.reset();
        EXPECT_EQ(socketInode(), 0u) << name;
        running = claimRunning(home);
        EXPECT_TRUE(running) << name;
    }
}

TEST_F(SingleInstanceTest, ARequestWhoseLaterStartGaveUpIsNotCarriedOutAfterwards)
{
    auto running = claimRunning(home);
    ASSERT_TRUE(running);
    std::vector<std::string> taken;
    running->listen([&](const SingleInstance::Request& request) {
        taken.push_back(request.url);
        return true;
    });
    // The main run loop is busy for longer than the later start waits.
    auto gaveUp = std::async(std::launch::async, [&] {
        auto outcome = SingleInstance::Claim::Running;
        std::string failure;
        SingleInstance::claim(home, { "file:///tmp/late.txt", "" }, outcome, failure, 300ms);
        return outcome;
    });
    ASSERT_EQ(gaveUp.get(), SingleInstance::Claim::NotTaken);
    std::this_thread::sleep_for(500ms);
    RunLoop::main().runUntil([] { return false; }, 200ms);
    EXPECT_TRUE(taken.empty()) << "told it was not taken, the later start has ended";

    EXPECT_EQ(claimAside({ "file:///tmp/next.txt", "" }, 5s), SingleInstance::Claim::HandedOver);
    EXPECT_EQ(taken, std::vector<std::string> { "file:///tmp/next.txt" });
}

TEST_F(SingleInstanceTest, ALaterStartThatGetsNoAnswerSendsItsRequestOnce)
{
    // A running app of the test's own: it holds the lock and its socket listens, but it never
    // answers.
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    for (auto patience : { 300ms, 450ms, 620ms }) {
        auto claim = SingleInstance::Claim::Running;
        std::string failure;
        EXPECT_EQ(SingleInstance::claim(home, { "file:///tmp/once.txt", "" }, claim, failure, patience), nullptr);
        EXPECT_EQ(claim, SingleInstance::Claim::NotTaken);
        int sent = 0;
        for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++sent)
            ::close(fd);
        EXPECT_EQ(sent, 1) << "with " << patience.count() << " ms to wait";
    }
    ::close(listener);
    ::close(lock);
}

TEST_F(SingleInstanceTest, ALaterStartGivesUpOnAnAppWhoseBacklogIsFull)
{
    // A stuck app of the test's own: it holds the lock and its socket's queue is full.
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    int queued = connectToSocket();
    ASSERT_GE(queued, 0);

    auto claim = SingleInstance::Claim::Running;
    std::string failure;
    EXPECT_EQ(SingleInstance::claim(home, { "file:///tmp/stuck.txt", "" }, claim, failure, 300ms), nullptr);
    EXPECT_EQ(claim, SingleInstance::Claim::NotTaken);
    ::close(queued);
    ::close(listener);
    ::close(lock);
}

TEST_F(SingleInstanceTest, AStaleSocketWithoutALockHolderIsTakenOver)
{
    // An app killed outright leaves its socket and lock file behind, and holds no lock.
    int stale = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    ::close(::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600));
    ASSERT_NE(socketInode(), 0u);

    auto running = claimRunning(home);
    ASSERT_TRUE(running);
    running->listen([](const SingleInstance::Request&) { return true; });
    EXPECT_EQ(claimAside({ "", "com.example.Server" }, 5s), SingleInstance::Claim::HandedOver) << "a live socket took the place of the stale one";
}

}

namespace {

TEST_F(SingleInstanceTest, EveryStartWithTheSameHomeMeetsTheSameAppWhateverItsEnvironmentSpellingOrLength)
{
    auto longHome = folder + "/" + std::string(120, 'h');
    std::filesystem::create_directories(longHome);
    ASSERT_EQ(::symlink(home.c_str(), (folder + "/link").c_str()), 0);
    auto runtime = folder + "/run";
    std::filesystem::create_directories(runtime);
    struct Case {
        std::string running, later;
        bool runtimeForRunning, runtimeForLater;
    };
    for (auto& [running, later, runtimeForRunning, runtimeForLater] : {
             Case { home, home, true, false },
             Case { home, home, false, true },
             Case { home, folder + "/link/", false, false },
             Case { longHome, longHome + "/.", false, false },
             Case { longHome, longHome, true, false },
         }) {
        auto context = running + " then " + later;
        runtimeForRunning ? ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
        auto app = claimRunning(running);
        ASSERT_TRUE(app) << context;
        std::vector<std::string> taken;
        app->listen([&](const SingleInstance::Request& request) {
            taken.push_back(request.url);
            return true;
        });
        runtimeForLater ? ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(claimAside({ "file:///tmp/b.txt", "" }, 5s, later), SingleInstance::Claim::HandedOver) << context;
        EXPECT_EQ(taken, std::vector<std::string> { "file:///tmp/b.txt" }) << context;
        EXPECT_TRUE(std::filesystem::is_empty(runtime)) << context;
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::socketPathForHome(home), path);
    // Too long for an address, the socket has no file.
    EXPECT_EQ(SingleInstance::socketPathForHome(longHome).front(), '\0');
    EXPECT_FALSE(std::filesystem::exists(longHome + "/tmp/vesk.socket"));
}

TEST_F(SingleInstanceTest, ARunningAppWhoseLockFileWasRemovedStillTakesTheLaterStarts)
{
    auto running = claimRunning(home);
    ASSERT_TRUE(running);
    std::vector<std::string> taken;
    running->listen([&](const SingleInstance::Request& request) {
        taken.push_back(request.url);
        return true;
    });
    // Removed by hand, as any file of the home can be.
    ASSERT_EQ(::unlink(lockPath.c_str()), 0);
    for (auto url : { "file:///tmp/1.txt", "file:///tmp/2.txt" })
        EXPECT_EQ(claimAside({ url, "" }, 5s), SingleInstance::Claim::HandedOver) << url;
    EXPECT_EQ(taken, (std::vector<std::string> { "file:///tmp/1.txt", "file:///tmp/2.txt" }));
}

TEST_F(SingleInstanceTest, AStartWhoseLockCannotBeMadeOrTakenDoesNotRun)
{
    struct Case {
        const char* name;
        std::function<void()> spoil;
        std::string named; // in the reason given
    };
    for (auto& [name, spoil, named] : {
             Case { "a folder at the lock's path", [&] { std::filesystem::create_directory(lockPath); }, lockPath },
             Case { "a pipe at the lock's path", [&] { ::mkfifo(lockPath.c_str(), 0600); }, lockPath },
             Case { "a file in place of tmp/", [&] { std::ofstream(home + "/tmp") << "x"; }, home + "/tmp" },
         }) {
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home + "/tmp");
        if (std::string(name) == "a file in place of tmp/")
            std::filesystem::remove(home + "/tmp");
        spoil();
        auto claim = SingleInstance::Claim::Running;
        std::string failure;
        EXPECT_EQ(SingleInstance::claim(home, {}, claim, failure, 200ms), nullptr) << name;
        EXPECT_EQ(claim, SingleInstance::Claim::Failed) << name;
        EXPECT_NE(failure.find(named), std::string::npos) << name << ": " << failure;
    }
}

TEST_F(SingleInstanceTest, AnotherUsersAbstractSocketNeverHearsARequest)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    auto longHome = folder + "/" + std::string(120, 'h');
    std::filesystem::create_directories(longHome);
    auto name = SingleInstance::socketPathForHome(longHome);
    // Another user has taken the home's abstract name and reports every byte sent to it.
    int report[2], ready[2];
    ASSERT_EQ(::pipe(report), 0);
    ASSERT_EQ(::pipe(ready), 0);
    pid_t squatter = ::fork();
    if (squatter == 0) {
        if (::setresuid(65534, 65534, 65534) != 0)
            ::_exit(1);
        int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener, 16) != 0)
            ::_exit(1);
        [[maybe_unused]] auto said = ::write(ready[1], "r", 1);
        std::string heard;
        for (pollfd waiting { listener, POLLIN, 0 }; ::poll(&waiting, 1, 1500) == 1;) {
            int client = ::accept(listener, nullptr, nullptr);
            char buffer[256];
            for (ssize_t got; (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
                heard.append(buffer, static_cast<std::size_t>(got));
            ::close(client);
        }
        [[maybe_unused]] auto written = ::write(report[1], heard.data(), heard.size());
        ::_exit(0);
    }
    ::close(report[1]);
    ::close(ready[1]);
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);

    // The running app cannot listen, says so and still holds the home; a later start sends
    // nothing to the stranger and gives up.
    auto claim = SingleInstance::Claim::HandedOver;
    std::string failure;
    auto running = SingleInstance::claim(longHome, {}, claim, failure);
    EXPECT_EQ(claim, SingleInstance::Claim::Running);
    EXPECT_NE(failure.find("no socket"), std::string::npos) << failure;
    EXPECT_EQ(claimAside({ "file:///tmp/secret.txt", "" }, 400ms, longHome), SingleInstance::Claim::NotTaken);
    running.reset();
    std::string heard;
    char buffer[256];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
        heard.append(buffer, static_cast<std::size_t>(got));
    ::close(report[0]);
    ::close(ready[0]);
    ::waitpid(squatter, nullptr, 0);
    EXPECT_EQ(heard, "");
}

}
