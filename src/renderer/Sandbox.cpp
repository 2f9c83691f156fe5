#include "renderer/Sandbox.h"

#include "renderer/protocol/RendererProtocol.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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

    // Rules added one by one; a call this architecture lacks is simply left out.
    struct Filter {
        scmp_filter_ctx context;
        bool sound = true;
        void allow(int call) { seccomp_rule_add(context, SCMP_ACT_ALLOW, call, 0); }
        template<typename... Conditions>
        void allowIf(int call, Conditions... conditions)
        {
            if (seccomp_rule_add(context, SCMP_ACT_ALLOW, call, sizeof...(conditions), conditions...) != 0)
                sound = false;
        }
        void answer(int call, int error)
        {
            if (seccomp_rule_add(context, SCMP_ACT_ERRNO(error), call, 0) != 0)
                sound = false;
        }
        template<typename... Conditions>
        bool askIf(int call, Conditions... conditions)
        {
            return seccomp_rule_add(context, SCMP_ACT_NOTIFY, call, sizeof...(conditions), conditions...) == 0;
        }
    };

    // seccomp: an allow list of what the renderer is seen to call once the document has come
    // (glibc, glib, cairo, pango, fontconfig, librsvg, libwv, litehtml, poppler), the rest
    // answering EPERM.
    bool restrictCalls(int& threads, bool& loaded)
    {
        Filter filter { seccomp_init(SCMP_ACT_ERRNO(EPERM)) };
        if (!filter.context)
            return false;
        // Threads made before the document came, by the libraries' warm-up, are held too.
        if (seccomp_attr_set(filter.context, SCMP_FLTATR_CTL_TSYNC, 1) != 0)
            filter.sound = false;
        for (int call : {
                 // Memory, time, signals, threads' own housekeeping.
                 SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect), SCMP_SYS(madvise),
                 SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity),
                 SCMP_SYS(gettid), SCMP_SYS(getpid), SCMP_SYS(getrandom), SCMP_SYS(sysinfo), SCMP_SYS(clock_gettime),
                 SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday), SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(setitimer),
                 SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack),
                 SCMP_SYS(restart_syscall), SCMP_SYS(exit), SCMP_SYS(exit_group), SCMP_SYS(capget), SCMP_SYS(getsid),
                 // Descriptors it holds: the socket, the memory the app lends for frames, files read. It makes
                 // no memory of its own (memfd_create, ftruncate): pages written there would count
                 // against no limit.
                 SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(poll), SCMP_SYS(recvmsg),
                 SCMP_SYS(sendmsg),
                 // Looking at files, which Landlock limits to the readable folders, and at descriptors
                 // held (ThreadSanitizer's runtime asks with the old fstat).
                 SCMP_SYS(newfstatat), SCMP_SYS(fstat), SCMP_SYS(statx), SCMP_SYS(access), SCMP_SYS(readlink), SCMP_SYS(getdents64),
                 // fontconfig, when a PDF names a font it does not embed.
                 SCMP_SYS(fstatfs), SCMP_SYS(fadvise64),
                 // The same under the names that architectures without the old calls (aarch64) use.
                 SCMP_SYS(faccessat), SCMP_SYS(readlinkat), SCMP_SYS(ppoll) })
            filter.allow(call);
        // Files are opened for reading only.
        constexpr scmp_datum_t writing = O_ACCMODE | O_CREAT | O_TRUNC;
        filter.allowIf(SCMP_SYS(openat), SCMP_A2(SCMP_CMP_MASKED_EQ, writing, 0));
        if (sanitizedBuild) {
            // The sanitizers' runtimes read their maps with the old open and probe memory
            // through a pipe.
#ifdef __NR_open
            filter.allowIf(SCMP_SYS(open), SCMP_A1(SCMP_CMP_MASKED_EQ, writing, 0));
#endif
            filter.allow(SCMP_SYS(pipe2));
        }
        // Threads, never processes, each one asked of whoever holds the listener, who counts them
        // (without one, none at all): glibc falls back from clone3, whose flags seccomp can't see.
        // Only pthread_create's kind, which shares the process's descriptor table and all, so that
        // what the app counts of the process holds for each thread; the kernel reads the lower
        // half of the flags, the exit signal (none) included.
        constexpr scmp_datum_t threadFlags = CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM | CLONE_SETTLS
            | CLONE_PARENT_SETTID | CLONE_CHILD_CLEARTID;
        if (!filter.askIf(SCMP_SYS(clone), SCMP_A0(SCMP_CMP_MASKED_EQ, 0xffffffffu, threadFlags)))
            filter.answer(SCMP_SYS(clone), EAGAIN);
        filter.answer(SCMP_SYS(clone3), ENOSYS);
        // glib names its threads; abort() signals the process itself.
        filter.allowIf(SCMP_SYS(prctl), SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME));
        filter.allowIf(SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(::getpid())));
        // Descriptor flags and the shared document's seals; no F_SETOWN, which would aim signals
        // elsewhere.
        for (int command : { F_GETFD, F_SETFD, F_GETFL, F_SETFL, F_DUPFD_CLOEXEC, F_GET_SEALS })
            filter.allowIf(SCMP_SYS(fcntl), SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(command)));
        // No ioctl at all: nothing the renderer does needs one, and a terminal's (TIOCSTI,
        // TIOCLINUX) would type into the user's shell.
        // A rule that could not be added leaves the filter stricter than meant, never looser: it is
        // loaded all the same, and reported.
        loaded = seccomp_load(filter.context) == 0;
        threads = loaded ? seccomp_notify_fd(filter.context) : -1;
        seccomp_release(filter.context);
        return loaded && filter.sound;
    }

    // A session of its own, so that no terminal is its controlling one, and no capabilities, even
    // when started as root.
    bool dropPrivileges()
    {
        ::setsid();
        for (int capability = 0; capability < 64; ++capability) {
            if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0 && errno == EINVAL)
                break;
        }
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] {};
        ::syscall(SYS_capset, &header, none);
        __user_cap_data_struct left[_LINUX_CAPABILITY_U32S_3] {};
        if (::syscall(SYS_capget, &header, left) != 0)
            return false;
        for (auto& set : left) {
            if (set.effective || set.permitted || set.inheritable)
                return false;
        }
        return ::getsid(0) == ::getpid();
    }

}

SandboxResult enterSandbox(const std::optional<std::string>& readable)
{
    SandboxResult result;
    result.privileges = dropPrivileges();
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return result;
    // A handful of descriptors, for good (the filter refuses setrlimit and prlimit).
    rlimit descriptors {};
    ::getrlimit(RLIMIT_NOFILE, &descriptors);
    descriptors.rlim_cur = descriptors.rlim_max = std::min<rlim_t>(descriptors.rlim_max, vesk::platform::renderer::maximumDescriptors);
    result.descriptors = ::setrlimit(RLIMIT_NOFILE, &descriptors) == 0;
    result.files = restrictFiles(readable);
    result.calls = restrictCalls(result.threads, result.filtered);
    return result;
}

}
