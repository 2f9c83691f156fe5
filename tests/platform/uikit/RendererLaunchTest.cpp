// What a renderer the app starts is given of the app: no terminal, no session, no environment
// beyond what it reads.

#include "WebTestSupport.h"
#include "platform/foundation/RunLoop.h"
#include "platform/uikit/UIWebView.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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
