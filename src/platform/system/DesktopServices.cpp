#include "platform/system/DesktopServices.h"
#include "platform/system/LeakCheckPause.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <spawn.h>
#include <string_view>
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

    // GLib keeps its type system, bus connections and caches for the life of the process; the
    // leak checker is not to count them.
    using GLibCall = LeakCheckPause;

    // Runs the program with the arguments as they are (no shell), its output and errors
    // discarded, and answers whether it ended with status 0.
    bool run(const std::vector<std::string>& arguments)
    {
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0)
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

std::vector<DesktopApplication> DesktopServices::applicationsForFile(const std::string& path)
{
    GLibCall call;
    // By name first; content decides only where the name does not.
    gboolean uncertain = false;
    gchar* type = g_content_type_guess(path.c_str(), nullptr, 0, &uncertain);
    if (uncertain) {
        char head[4096];
        ssize_t got = -1;
        if (int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd >= 0) {
            got = ::read(fd, head, sizeof head);
            ::close(fd);
        }
        if (got > 0) {
            g_free(type);
            type = g_content_type_guess(path.c_str(), reinterpret_cast<const guchar*>(head), static_cast<gsize>(got), nullptr);
        }
    }
    std::vector<DesktopApplication> applications;
    GList* all = g_app_info_get_all_for_type(type);
    for (GList* item = all; item; item = item->next) {
        auto* info = G_APP_INFO(item->data);
        const char* id = g_app_info_get_id(info);
        // Vesk itself is not another app to hand the file to. Whether its launcher takes paths
        // or URLs, the launch below gives it the file the way it asks for.
        if (id && std::string_view(id) != "vesk.desktop" && g_app_info_should_show(info))
            applications.push_back({ id, g_app_info_get_name(info) });
    }
    g_list_free_full(all, g_object_unref);
    g_free(type);
    return applications;
}

bool DesktopServices::openFileWithApplication(const std::string& applicationID, const std::string& path)
{
    GLibCall call;
    GDesktopAppInfo* application = g_desktop_app_info_new(applicationID.c_str());
    if (!application)
        return false;
    int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    GFile* file = g_file_new_for_path(path.c_str());
    gchar* uri = g_file_get_uri(file);
    GList uris { uri, nullptr, nullptr };
    GError* error = nullptr;
    // The application's command comes from its entry, run without a shell, with the file's path
    // where it takes files (%f, %F) and its URL where it takes URLs (%u, %U); it is reaped by
    // GLib, never waited for here.
    bool started = g_desktop_app_info_launch_uris_as_manager_with_fds(application, &uris, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
        nullptr, nullptr, nothing, nothing, nothing, &error);
    if (error) {
        std::fprintf(stderr, "%s could not open %s: %s\n", applicationID.c_str(), path.c_str(), error->message);
        g_error_free(error);
    }
    g_free(uri);
    g_object_unref(file);
    g_object_unref(application);
    if (nothing >= 0)
        ::close(nothing);
    return started;
}

bool DesktopServices::postNotification(const std::string& text, bool withSound)
{
    GLibCall call;
    // Only a bus that is there: GLib would otherwise start one of its own for the display.
    gchar* address = nullptr;
    if (const char* given = std::getenv("DBUS_SESSION_BUS_ADDRESS"); given && *given)
        address = g_strdup(given);
    else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && ::access((std::string(runtime) + "/bus").c_str(), F_OK) == 0)
        address = g_strdup_printf("unix:path=%s/bus", runtime);
    if (!address)
        return false;
    GError* error = nullptr;
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, &error);
    g_free(address);
    GVariant* reply = nullptr;
    if (bus) {
        GVariantBuilder actions;
        g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
        GVariantBuilder hints;
        g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("vesk"));
        if (withSound)
            g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string("message-new-instant"));
        reply = g_dbus_connection_call_sync(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
            "org.freedesktop.Notifications", "Notify",
            g_variant_new("(susssasa{sv}i)", "Vesk", 0u, "vesk", text.c_str(), "", &actions, &hints, -1), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
    if (reply)
        g_variant_unref(reply);
    if (error)
        g_error_free(error);
    return reply != nullptr;
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

bool DesktopRecorder::postNotification(const std::string& text, bool)
{
    std::lock_guard lock(m_mutex);
    m_notifications.push_back(text);
    return true;
}

std::vector<std::string> DesktopRecorder::notifications() const
{
    std::lock_guard lock(m_mutex);
    return m_notifications;
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
