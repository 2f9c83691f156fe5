#pragma once

// The `vesk` program serving from a home of its own, for the benchmarks that measure it from
// outside. VESK_BENCH_PROGRAM measures another build in place of this one (its bundle in
// VESK_BUNDLE).

#include "common/BenchPeers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vesk::bench {

// Standard output and error go to the log, /dev/null when none is named.
class Program {
public:
    explicit Program(const fs::path& home, const fs::path& log = "/dev/null")
    {
        const char* program = std::getenv("VESK_BENCH_PROGRAM") ? std::getenv("VESK_BENCH_PROGRAM") : VESK_PROGRAM;
        const char* bundle = std::getenv("VESK_BUNDLE") ? std::getenv("VESK_BUNDLE") : VESK_BUNDLE_DIR;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::setenv("VESK_HOME", home.c_str(), 1);
            ::setenv("VESK_WIFI_INTERFACE", "lo", 1);
            ::setenv("VESK_PORT", std::to_string(m_port).c_str(), 1);
            ::setenv("VESK_BUNDLE", bundle, 1);
            int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            ::execl(program, program, "--headless", "--quick-action", "fileserver", static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        m_ready = m_pid > 0 && waitForListening(m_port);
    }
    ~Program()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool ready() const { return m_ready; }
    pid_t pid() const { return m_pid; }
    std::uint16_t port() const { return m_port; }
    long residentKilobytes() const { return statusKilobytes(m_pid, "VmRSS"); }

private:
    std::uint16_t m_port { freeLoopbackPort() };
    pid_t m_pid { -1 };
    bool m_ready { false };
};

}
