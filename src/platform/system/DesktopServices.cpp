#include "platform/system/DesktopServices.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vesk::platform {

namespace {

    std::mutex& sharedLock()
    {
        static std::mutex lock;
        return lock;
    }

    std::shared_ptr<DesktopServices>& installed()
    {
        static std::shared_ptr<DesktopServices> services = std::make_shared<DesktopServices>();
        return services;
    }

    bool hasDesktop()
    {
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY" }) {
            if (const char* value = std::getenv(name); value && *value)
                return true;
        }
        return false;
    }

    bool hasProgram(const std::string& name)
    {
        const char* path = std::getenv("PATH");
        std::string folders = path ? path : "/usr/bin:/bin";
        std::size_t start = 0;
        while (start <= folders.size()) {
            auto end = folders.find(':', start);
            auto folder = folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
                return true;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        return false;
    }

    // Runs the program with the arguments as they are (no shell) and answers whether it ended
    // with status 0.
    bool run(const std::vector<std::string>& arguments)
    {
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            return false;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR)
                return false;
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

}

std::shared_ptr<DesktopServices> DesktopServices::shared()
{
    std::lock_guard lock(sharedLock());
    return installed();
}

void DesktopServices::setShared(std::shared_ptr<DesktopServices> services)
{
    std::lock_guard lock(sharedLock());
    installed() = services ? std::move(services) : std::make_shared<DesktopServices>();
}

bool DesktopServices::canSendMail()
{
    return hasDesktop() && hasProgram("xdg-email");
}

MFMailComposeResult DesktopServices::composeMail(const MailMessage& message)
{
    if (!canSendMail())
        return MFMailComposeResult::Failed;
    std::vector<std::string> arguments { "xdg-email", "--subject", message.subject, "--body", message.body };
    arguments.insert(arguments.end(), message.toRecipients.begin(), message.toRecipients.end());
    return run(arguments) ? MFMailComposeResult::Saved : MFMailComposeResult::Failed;
}

bool DesktopServices::openPage(const std::string& url)
{
    if (hasDesktop() && hasProgram("xdg-open") && run({ "xdg-open", url }))
        return true;
    std::fprintf(stderr, "No desktop browser could open %s\n", url.c_str());
    return false;
}

bool DesktopRecorder::canSendMail()
{
    std::lock_guard lock(m_mutex);
    return m_canSendMail;
}

MFMailComposeResult DesktopRecorder::composeMail(const MailMessage& message)
{
    std::lock_guard lock(m_mutex);
    m_mails.push_back(message);
    return m_result;
}

bool DesktopRecorder::openPage(const std::string& url)
{
    std::lock_guard lock(m_mutex);
    m_pages.push_back(url);
    return true;
}

void DesktopRecorder::setCanSendMail(bool can)
{
    std::lock_guard lock(m_mutex);
    m_canSendMail = can;
}

void DesktopRecorder::setMailResult(MFMailComposeResult result)
{
    std::lock_guard lock(m_mutex);
    m_result = result;
}

std::vector<MailMessage> DesktopRecorder::mails() const
{
    std::lock_guard lock(m_mutex);
    return m_mails;
}

std::vector<std::string> DesktopRecorder::pages() const
{
    std::lock_guard lock(m_mutex);
    return m_pages;
}

}
