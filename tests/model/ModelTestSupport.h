#pragma once

#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSUserDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vesk::test {

// A fresh app home (and so fresh user defaults) and a scratch folder per test.
class TemporaryHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-model-XXXXXX";
        char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        m_root = made;
        m_previousHome = std::getenv("VESK_HOME") ? std::optional<std::string>(std::getenv("VESK_HOME")) : std::nullopt;
        setenv("VESK_HOME", (m_root + "/home").c_str(), 1);
        platform::NSUserDefaults::resetStandardUserDefaults();
        m_scratch = m_root + "/scratch";
        ASSERT_EQ(mkdir(m_scratch.c_str(), 0755), 0);
    }

    void TearDown() override
    {
        restorePermissions(m_root);
        platform::NSFileManager::defaultManager().removeItemAtPath(m_root);
        if (m_previousHome)
            setenv("VESK_HOME", m_previousHome->c_str(), 1);
        else
            unsetenv("VESK_HOME");
        platform::NSUserDefaults::resetStandardUserDefaults();
    }

    // A path inside the scratch folder.
    std::string at(const std::string& relative) const { return m_scratch + "/" + relative; }

    std::string makeFile(const std::string& relative, const std::string& contents = {}, mode_t mode = 0644) const
    {
        std::string path = at(relative);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0) << path;
        if (fd >= 0) {
            EXPECT_EQ(::write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
            ::close(fd);
            ::chmod(path.c_str(), mode);
        }
        return path;
    }

    std::string makeFolder(const std::string& relative, mode_t mode = 0755) const
    {
        std::string path = at(relative);
        EXPECT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
        ::chmod(path.c_str(), mode);
        return path;
    }

    std::string makeLink(const std::string& relative, const std::string& target) const
    {
        std::string path = at(relative);
        EXPECT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
        return path;
    }

    // Runs the check as it is when not root; as root, in a child that has dropped to an
    // unprivileged user, so permission checks still bite. True when the check held.
    bool asUnprivilegedUser(const std::function<bool()>& check) const
    {
        if (::geteuid() != 0)
            return check();
        ::chmod(m_root.c_str(), 0755);
        pid_t child = ::fork();
        if (child == 0) {
            constexpr uid_t nobody = 65534;
            bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
            ::_exit(dropped && check() ? 0 : 1);
        }
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    const std::string& scratch() const { return m_scratch; }

private:
    // Folders a test made unreadable must be opened again before they can be removed.
    static void restorePermissions(const std::string& root)
    {
        auto names = platform::NSFileManager::defaultManager().subpathsOfDirectoryAtPath(root);
        if (!names)
            return;
        for (auto const& name : *names) {
            std::string path = root + "/" + name;
            struct stat info { };
            if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                ::chmod(path.c_str(), 0755);
        }
    }

    std::string m_root;
    std::string m_scratch;
    std::optional<std::string> m_previousHome;
};

}
