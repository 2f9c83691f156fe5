#include "app/LoopbackPorts.h"
#include "platform/foundation/NSFileManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using vesk::test::freeLoopbackPort;
using vesk::test::isListening;

std::string readFile(const std::string& path)
{
    std::ifstream input(path);
    std::stringstream text;
    text << input.rdbuf();
    return text.str();
}

// The vesk binary of this build, run with its own home, loopback for Wi-Fi and a free port.
class VeskProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        port = freeLoopbackPort();
    }
    void TearDown() override
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        vesk::platform::NSFileManager::defaultManager().removeItemAtPath(m_root);
    }

    void start(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            std::string text = *entry;
            if (!text.starts_with("VESK_HOME=") && !text.starts_with("VESK_PORT=") && !text.starts_with("VESK_WIFI_INTERFACE="))
                environment.push_back(text);
        }
        environment.push_back("VESK_HOME=" + m_root + "/home");
        environment.push_back("VESK_PORT=" + std::to_string(port));
        environment.push_back("VESK_WIFI_INTERFACE=lo");
        std::vector<std::string> argv { std::string(VESK_BINARY_DIR) + "/vesk" };
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ++m_runs;
        std::string out = output(), err = errors();

        m_pid = ::fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(outFd, 1);
            ::dup2(errFd, 2);
            std::vector<char*> args, env;
            for (auto& text : argv)
                args.push_back(text.data());
            args.push_back(nullptr);
            for (auto& text : environment)
                env.push_back(text.data());
            env.push_back(nullptr);
            ::execve(args[0], args.data(), env.data());
            ::_exit(127);
        }
    }

    // The exit status, or absent when the program is still running after the bound.
    std::optional<int> waitForExit(std::chrono::seconds bound = 30s)
    {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                if (WIFEXITED(status))
                    return WEXITSTATUS(status);
                return 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return std::nullopt;
    }

    bool waitUntilListening(std::chrono::seconds bound = 30s)
    {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (isListening(port))
                return true;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // Waits for a line on standard error (the banners go there).
    bool waitForError(const std::string& text, std::chrono::seconds bound = 30s)
    {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (readFile(errors()).find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void signal(int number) { ::kill(m_pid, number); }

    std::string output() const { return m_root + "/out" + std::to_string(m_runs); }
    std::string errors() const { return m_root + "/err" + std::to_string(m_runs); }
    const std::string& root() const { return m_root; }

    std::uint16_t port = 0;

private:
    std::string m_root;
    pid_t m_pid = -1;
    int m_runs = 0;
};

TEST_F(VeskProgramTest, StartFileserverServesUntilSigtermThenExitsCleanly)
{
    start({ "--quick-action", "fileserver" });
    ASSERT_TRUE(waitUntilListening()) << readFile(errors());
    EXPECT_TRUE(waitForError("Webserver: 127.0.0.1:" + std::to_string(port))) << readFile(errors());

    signal(SIGTERM);
    EXPECT_EQ(waitForExit(), 0) << readFile(errors());
    EXPECT_FALSE(isListening(port));

    // The switch is kept: the next run serves without the quick action, and SIGINT ends it too.
    start({});
    ASSERT_TRUE(waitUntilListening()) << readFile(errors());
    signal(SIGINT);
    EXPECT_EQ(waitForExit(), 0) << readFile(errors());
}

TEST_F(VeskProgramTest, AMissingFileHandedOverRaisesInvalidePath)
{
    start({ "--", "--open", root() + "/nothing-here.txt" });
    EXPECT_TRUE(waitForError("Invalide path")) << readFile(errors());
    EXPECT_FALSE(isListening(port)) << "the server switch is off";
    signal(SIGTERM);
    EXPECT_EQ(waitForExit(), 0) << readFile(errors());
}

TEST_F(VeskProgramTest, HelpAndBadOptions)
{
    start({ "--help" });
    EXPECT_EQ(waitForExit(), 0);
    auto help = readFile(output());
    for (const char* option : { "--quick-action fileserver", "--quick-action bookmarks", "--open PATH", "--help" })
        EXPECT_NE(help.find(option), std::string::npos) << option;

    start({ "--quick-action", "launch-rockets" });
    EXPECT_EQ(waitForExit(), 2);
    EXPECT_NE(readFile(errors()).find("unknown quick action"), std::string::npos);

    start({ "--open" });
    EXPECT_EQ(waitForExit(), 2);
    start({ "--verbose" });
    EXPECT_EQ(waitForExit(), 2);
}

}
