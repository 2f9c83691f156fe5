#pragma once

#include "platform/foundation/Value.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vesk::testing {

// A fresh folder of its own, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vesk-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& relative) const { return m_path / relative; }

private:
    std::filesystem::path m_path;
};

// Sets (or, given nullptr, clears) an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A keyed archive in the platform archiver's layout.
inline platform::Value keyedArchive(platform::Array objects, std::uint64_t root = 1)
{
    using platform::Dictionary;
    return platform::Value(Dictionary { { "$version", 100000 }, { "$archiver", "NSKeyedArchiver" },
        { "$top", Dictionary { { "root", platform::Uid { root } } } }, { "$objects", std::move(objects) } });
}

inline platform::Value classEntry(const std::string& name)
{
    return platform::Value(platform::Dictionary { { "$classname", name }, { "$classes", platform::Array { name, "NSObject" } } });
}

// Runs the check in a child process. As root, the child first hands `folder` to an
// unprivileged user, but for the items `keptByRoot`, and becomes that user, so that modes and
// owners still bite; where the user can't be changed, it keeps root's rights. True when the
// check held.
inline bool runUnprivileged(const std::filesystem::path& folder, const std::function<bool()>& check,
    const std::vector<std::filesystem::path>& keptByRoot = {})
{
    pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0) {
            constexpr uid_t nobody = 65534;
            std::error_code ignored;
            ::lchown(folder.c_str(), nobody, nobody);
            for (auto it = std::filesystem::recursive_directory_iterator(folder, ignored); it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
                ::lchown(it->path().c_str(), nobody, nobody);
            for (auto& item : keptByRoot)
                ::lchown(item.c_str(), 0, 0);
            [[maybe_unused]] bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}
