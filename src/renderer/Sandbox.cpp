#include "renderer/Sandbox.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace vesk::renderer {

namespace {

    // Landlock's ruleset as the kernel takes it today; the system's header may know an older one.
    struct Ruleset {
        std::uint64_t handledFiles = 0;
        std::uint64_t handledNetwork = 0;
        std::uint64_t scoped = 0;
    };
    constexpr std::uint64_t truncateRight = 1ull << 14;
    constexpr std::uint64_t deviceIoctlRight = 1ull << 15;
    constexpr std::uint64_t bindTCP = 1ull << 0;
    constexpr std::uint64_t connectTCP = 1ull << 1;
    constexpr std::uint64_t scopeAbstractSockets = 1ull << 0;
    constexpr std::uint64_t scopeSignals = 1ull << 1;

    // Landlock: the file system rights this kernel knows, all of them handled, so that only what
    // a rule grants is allowed.
    std::uint64_t handledFileRights(int abi)
    {
        std::uint64_t rights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR
            | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR
            | LANDLOCK_ACCESS_FS_MAKE_REG | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK
            | LANDLOCK_ACCESS_FS_MAKE_SYM;
        if (abi >= 2)
            rights |= LANDLOCK_ACCESS_FS_REFER;
        if (abi >= 3)
            rights |= truncateRight;
        if (abi >= 5)
            rights |= deviceIoctlRight;
        return rights;
    }

    // Reading stays possible where fonts, their configuration and caches, and the system's shared
    // files live: a font the engine has not opened yet may still be needed. Nothing else on disk
    // can be read, and nothing anywhere written.
    std::vector<std::string> readableFolders()
    {
        std::vector<std::string> folders { "/usr", "/etc/fonts", "/var/cache/fontconfig" };
        auto add = [&](const char* variable, const char* fallback, const char* leaf) {
            std::string base;
            if (auto* value = std::getenv(variable); value && *value)
                base = value;
            else if (auto* home = std::getenv("HOME"); home && *home)
                base = std::string(home) + fallback;
            if (!base.empty())
                folders.push_back(base + leaf);
        };
        add("XDG_DATA_HOME", "/.local/share", "/fonts");
        add("XDG_CACHE_HOME", "/.cache", "/fontconfig");
        add("XDG_CONFIG_HOME", "/.config", "/fontconfig");
        if (auto* home = std::getenv("HOME"); home && *home)
            folders.push_back(std::string(home) + "/.fonts");
        return folders;
    }

    bool restrictFiles(const std::optional<std::string>& readable)
    {
        int abi = static_cast<int>(::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION));
        if (abi < 1)
            return false;
        Ruleset attributes;
        attributes.handledFiles = handledFileRights(abi);
        std::size_t size = offsetof(Ruleset, handledNetwork);
        if (abi >= 4) {
            // No rule grants any port: no TCP connection and no listening.
            attributes.handledNetwork = bindTCP | connectTCP;
            size = offsetof(Ruleset, scoped);
        }
        if (abi >= 6) {
            // No signal to a process outside, such as the app, and no abstract socket outside.
            attributes.scoped = scopeAbstractSockets | scopeSignals;
            size = sizeof attributes;
        }
        int ruleset = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attributes, size, 0));
        if (ruleset < 0)
            return false;
        auto folders = readableFolders();
        if (readable)
            folders.push_back(*readable);
        for (auto& folder : folders) {
            int fd = ::open(folder.c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY);
            if (fd < 0)
                continue;
            landlock_path_beneath_attr rule {};
            rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
            rule.parent_fd = fd;
            ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
            ::close(fd);
        }
        bool done = ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
        ::close(ruleset);
        return done;
    }

    // seccomp: the calls that reach other processes, make sockets or run programs answer EPERM.
    bool restrictCalls()
    {
#if defined(__x86_64__)
        constexpr std::uint32_t architecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
        constexpr std::uint32_t architecture = AUDIT_ARCH_AARCH64;
#else
        return false;
#endif
        std::vector<long> denied {
            SYS_socket,
            SYS_socketpair,
            SYS_connect,
            SYS_bind,
            SYS_listen,
            SYS_accept4,
            SYS_execve,
            SYS_execveat,
            SYS_ptrace,
            SYS_process_vm_readv,
            SYS_process_vm_writev,
            SYS_kill,
            SYS_io_uring_setup,
            SYS_open_by_handle_at,
            SYS_name_to_handle_at,
            SYS_userfaultfd,
            SYS_bpf,
            SYS_perf_event_open,
            SYS_mount,
            SYS_unshare,
            SYS_setns,
#ifdef SYS_accept
            SYS_accept,
#endif
        };
        std::vector<sock_filter> program;
        program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
        // Calls of another architecture's table are refused whole.
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, architecture, 1, 0));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
        program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
#if defined(__x86_64__)
        // The x32 calls share the table with a high bit.
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
#endif
        for (long call : denied) {
            program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 1));
            program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
        }
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        sock_fprog filter { static_cast<unsigned short>(program.size()), program.data() };
        return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
    }

}

SandboxResult enterSandbox(const std::optional<std::string>& readable)
{
    SandboxResult result;
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return result;
    result.files = restrictFiles(readable);
    result.calls = restrictCalls();
    return result;
}

}
