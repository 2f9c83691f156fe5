// What a renderer the app starts is given of the app: no terminal, no session, no environment
// beyond what it reads.

#include "WebTestSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/uikit/RendererProcess.h"
#include "platform/uikit/UIWebView.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace vesk;
using namespace vesk::platform;
using namespace std::chrono_literals;

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string target(const std::string& link)
{
    std::error_code error;
    return std::filesystem::read_symlink(link, error).string();
}

// Whether the process has ended: gone, or a zombie nobody reaps.
bool ended(int pid)
{
    auto stat = readAll("/proc/" + std::to_string(pid) + "/stat");
    return stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z";
}

}

// First in the file: the forked app starts its own renderer launcher only if this process has
// none yet.
TEST(RendererLaunchTest, ARendererEndsWithTheAppThatStartedIt)
{
    int told[2];
    ASSERT_EQ(::pipe(told), 0);
    pid_t app = ::fork();
    if (app == 0) {
        ::close(told[0]);
        auto process = RendererProcess::start({});
        if (!process)
            ::_exit(1);
        renderer::Load load;
        load.URL = "file:///page.html";
        std::string page = "<p>Hello</p>";
        load.data.assign(page.begin(), page.end());
        load.viewport = { 320, 200, 1, 0 };
        process->send(load);
        // Drawn, so that it sits in its sandbox.
        if (!process->waitUntilDrawn(20s))
            ::_exit(2);
        pid_t renderer = process->pid();
        (void)!::write(told[1], &renderer, sizeof renderer);
        for (;;)
            ::pause();
    }
    ::close(told[1]);
    pid_t renderer = 0;
    auto got = ::read(told[0], &renderer, sizeof renderer);
    ::close(told[0]);
    // Stopped, the renderer can't notice that its socket closes: only the death signal ends it.
    if (got == static_cast<ssize_t>(sizeof renderer))
        ::kill(renderer, SIGSTOP);
    ::kill(app, SIGKILL);
    int status = 0;
    ::waitpid(app, &status, 0);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof renderer)) << "the app ended with " << status;
    auto limit = std::chrono::steady_clock::now() + 5s;
    while (!ended(renderer) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(ended(renderer));
    ::kill(renderer, SIGKILL);
}

TEST(RendererLaunchTest, TheRendererHasNoTerminalNoSessionOfTheAppAndOnlyTheEnvironmentItReads)
{
    auto folder = std::filesystem::temp_directory_path() / ("vesk-launch-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "page.html") << "<p>Hello</p>";
    ::setenv("VESK_SECRET_TEST", "1", 1);
    ::setenv("LC_SECRET_TEST", "kept", 1);

    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    auto recorder = std::make_shared<test::LoadRecorder>();
    web->setDelegate(recorder);
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath((folder / "page.html").string())));
    RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }, 30s);
    ::unsetenv("VESK_SECRET_TEST");
    ::unsetenv("LC_SECRET_TEST");
    ASSERT_EQ(recorder->calls, (std::vector<std::string> { "start", "finish" }));
    auto pid = web->rendererProcessID();
    ASSERT_GT(pid, 0);
    auto proc = "/proc/" + std::to_string(pid);

    EXPECT_EQ(target(proc + "/fd/0"), "/dev/null");
    EXPECT_EQ(target(proc + "/fd/1"), "/dev/null");
    EXPECT_TRUE(target(proc + "/fd/2").starts_with("pipe:")) << target(proc + "/fd/2");

    // stat: "pid (name) state ppid pgrp session tty_nr ..."; the name may hold spaces.
    auto stat = readAll(proc + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string state;
    long parent = 0, group = 0, session = 0, terminal = -1;
    fields >> state >> parent >> group >> session >> terminal;
    EXPECT_EQ(parent, ::getpid());
    EXPECT_EQ(session, pid);
    EXPECT_EQ(terminal, 0);

    auto environment = readAll(proc + "/environ");
    EXPECT_EQ(environment.find("VESK_SECRET_TEST"), std::string::npos);
    EXPECT_NE(environment.find("LC_SECRET_TEST=kept"), std::string::npos);

    web.reset();
    std::filesystem::remove_all(folder);
}

// What a renderer writes to standard error reaches the app's, capped and with its control
// characters masked, and writing more than is read never holds the renderer up.
TEST(RendererLaunchTest, ARenderersErrorsReachTheAppCappedAndWithoutTerminalEscapes)
{
    auto folder = std::filesystem::temp_directory_path() / ("vesk-errors-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "page.html") << "<p>x</p>";
    auto script = std::filesystem::path(VESK_SOURCE_DIR) / "tests/platform/uikit/files/hostile-renderer.py";
    ::setenv("VESK_RENDERER", script.c_str(), 1);
    ::setenv("VESK_HOSTILE_RENDERER", "chatty-errors", 1);
    int kept = ::dup(STDERR_FILENO);
    auto log = folder / "errors.log";
    int file = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(file, STDERR_FILENO);

    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    auto recorder = std::make_shared<test::LoadRecorder>();
    web->setDelegate(recorder);
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath((folder / "page.html").string())));
    RunLoop::main().runUntil([&] { return recorder->calls.size() == 2; }, 30s);
    web.reset();

    ::dup2(kept, STDERR_FILENO);
    ::close(kept);
    ::close(file);
    ::unsetenv("VESK_HOSTILE_RENDERER");
    ::unsetenv("VESK_RENDERER");
    EXPECT_EQ(recorder->calls, (std::vector<std::string> { "start", "finish" }));
    auto errors = readAll(log.string());
    EXPECT_NE(errors.find("eeee"), std::string::npos);
    EXPECT_LE(errors.size(), 64u * 1024);
    EXPECT_EQ(errors.find('\x1b'), std::string::npos);
    EXPECT_EQ(errors.find('\x07'), std::string::npos);
    std::filesystem::remove_all(folder);
}
