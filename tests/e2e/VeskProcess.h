#pragma once

// The `vesk` program of this build run as a child: a home of its own, loopback for Wi-Fi and a
// free port, its standard output and error each in a file of the folder given.

#include "app/LoopbackPorts.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vesk::test {

class VeskProcess {
public:
    // `home` is VESK_HOME, made beforehand with what it must hold; an empty bundle keeps VESK_BUNDLE.
    VeskProcess(std::string home, std::string folder, std::string bundle = {})
        : m_home(std::move(home))
        , m_folder(std::move(folder))
        , m_bundle(std::move(bundle))
    {
    }
    ~VeskProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    VeskProcess(const VeskProcess&) = delete;
    VeskProcess& operator=(const VeskProcess&) = delete;

    void launch(const std::vector<std::string>& arguments)
    {
        ++m_runs;
        std::vector<std::string> argv { program };
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::string out = outputPath(), err = errorsPath();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setenv("VESK_HOME", m_home.c_str(), 1);
            ::setenv("VESK_WIFI_INTERFACE", "lo", 1);
            ::setenv("VESK_PORT", std::to_string(port).c_str(), 1);
            if (!m_bundle.empty())
                ::setenv("VESK_BUNDLE", m_bundle.c_str(), 1);
            for (auto& [name, value] : environment)
                value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            std::vector<char*> args;
            for (auto& text : argv)
                args.push_back(text.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }

    // Reaps the program once it has ended; true from then on.
    bool ended()
    {
        int status = 0;
        if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return m_pid <= 0;
    }

    // False when the bound passes first.
    static bool waitUntil(const std::function<bool()>& done, std::chrono::seconds bound = std::chrono::seconds(30))
    {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // The exit status, absent while the program still runs after the bound.
    std::optional<int> waitForExit()
    {
        return waitUntil([&] { return ended(); }) ? m_status : std::nullopt;
    }
    bool waitUntilListening()
    {
        return waitUntil([&] { return isListening(port) || ended(); }) && !ended();
    }
    bool waitForError(const std::string& text)
    {
        return waitUntil([&] { return errors().find(text) != std::string::npos; });
    }

    void signal(int number)
    {
        if (m_pid > 0)
            ::kill(m_pid, number);
    }
    // SIGTERM, then the exit status.
    std::optional<int> stop()
    {
        signal(SIGTERM);
        return waitForExit();
    }

    // The time the main thread has run on a CPU, in nanoseconds.
    long long mainThreadNanoseconds() const
    {
        long long nanoseconds = 0;
        std::ifstream("/proc/" + std::to_string(m_pid) + "/task/" + std::to_string(m_pid) + "/schedstat") >> nanoseconds;
        return nanoseconds;
    }

    std::string output() const { return contents(outputPath()); }
    std::string errors() const { return contents(errorsPath()); }

    const std::uint16_t port = freeLoopbackPort();
    std::string program = std::string(VESK_BINARY_DIR) + "/vesk";
    // Set for the program, or removed where absent.
    std::map<std::string, std::optional<std::string>> environment;

private:
    std::string outputPath() const { return m_folder + "/out" + std::to_string(m_runs); }
    std::string errorsPath() const { return m_folder + "/err" + std::to_string(m_runs); }
    static std::string contents(const std::string& path)
    {
        std::ifstream file(path);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    std::string m_home, m_folder, m_bundle;
    pid_t m_pid = -1;
    std::optional<int> m_status;
    int m_runs = 0;
};

}
