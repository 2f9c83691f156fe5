#include "platform/system/SingleInstance.h"

#include "platform/foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <future>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
        path = folder + "/app.socket";
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // A later start's claim on a thread of its own, while this thread runs the main run loop.
    SingleInstance::Claim claimAside(const SingleInstance::Request& request, std::chrono::milliseconds patience)
    {
        auto later = std::async(std::launch::async, [&] {
            auto claim = SingleInstance::Claim::Running;
            auto instance = SingleInstance::claim(path, request, claim, patience);
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

    std::string folder;
    std::string path;
};

TEST_F(SingleInstanceTest, IdleAndSlowConnectionsHoldUpNoHandOverAndAreCutOff)
{
    auto claim = SingleInstance::Claim::HandedOver;
    auto running = SingleInstance::claim(path, {}, claim);
    ASSERT_EQ(claim, SingleInstance::Claim::Running);
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
        auto claim = SingleInstance::Claim::HandedOver;
        auto running = SingleInstance::claim(path, {}, claim);
        ASSERT_EQ(claim, SingleInstance::Claim::Running) << name;
        if (listens)
            running->listen([](const SingleInstance::Request&) { return false; });
        auto inode = socketInode();
        EXPECT_EQ(claimAside({}, 500ms), SingleInstance::Claim::NotTaken) << name;
        EXPECT_EQ(socketInode(), inode) << name;
        // Once it has ended, the next start runs.
        running.reset();
        EXPECT_EQ(socketInode(), 0u) << name;
        running = SingleInstance::claim(path, {}, claim);
        EXPECT_EQ(claim, SingleInstance::Claim::Running) << name;
    }
}

TEST_F(SingleInstanceTest, ARequestWhoseLaterStartGaveUpIsNotCarriedOutAfterwards)
{
    auto claim = SingleInstance::Claim::HandedOver;
    auto running = SingleInstance::claim(path, {}, claim);
    ASSERT_EQ(claim, SingleInstance::Claim::Running);
    std::vector<std::string> taken;
    running->listen([&](const SingleInstance::Request& request) {
        taken.push_back(request.url);
        return true;
    });
    // The main run loop is busy for longer than the later start waits.
    auto gaveUp = std::async(std::launch::async, [&] {
        auto outcome = SingleInstance::Claim::Running;
        SingleInstance::claim(path, { "file:///tmp/late.txt", "" }, outcome, 300ms);
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
    int lock = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    for (auto patience : { 300ms, 450ms, 620ms }) {
        auto claim = SingleInstance::Claim::Running;
        EXPECT_EQ(SingleInstance::claim(path, { "file:///tmp/once.txt", "" }, claim, patience), nullptr);
        EXPECT_EQ(claim, SingleInstance::Claim::NotTaken);
        int sent = 0;
        for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++sent)
            ::close(fd);
        EXPECT_EQ(sent, 1) << "with " << patience.count() << " ms to wait";
    }
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
    ::close(::open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0600));
    ASSERT_NE(socketInode(), 0u);

    auto claim = SingleInstance::Claim::HandedOver;
    auto running = SingleInstance::claim(path, {}, claim);
    ASSERT_EQ(claim, SingleInstance::Claim::Running);
    running->listen([](const SingleInstance::Request&) { return true; });
    EXPECT_EQ(claimAside({ "", "com.example.Server" }, 5s), SingleInstance::Claim::HandedOver) << "a live socket took the place of the stale one";
}

}
