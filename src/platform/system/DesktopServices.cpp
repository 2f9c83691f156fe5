#include "platform/system/DesktopServices.h"
#include "platform/foundation/Dispatch.h"
#include "platform/system/LeakCheckPause.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <future>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <thread>
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

    // The session bus as the notification service sees the app: one connection for as long as
    // the bus is there, so that the service's answers (ActionInvoked) come back to it. A thread
    // of its own runs the connection's GLib context; the main run loop only hears of a choice.
    class NotificationBus {
    public:
        static NotificationBus& shared()
        {
            static NotificationBus bus;
            return bus;
        }
        ~NotificationBus()
        {
            std::lock_guard lock(m_connectLock);
            disconnect();
        }

        void setHandler(std::function<void()> handler)
        {
            std::lock_guard lock(m_lock);
            m_handler = std::move(handler);
        }

        bool notify(const std::string& text, bool withSound, const std::string& action)
        {
            std::lock_guard connecting(m_connectLock);
            GLibCall call;
            if (!connect())
                return false;
            GVariantBuilder actions;
            g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
            if (!action.empty()) {
                // The notification itself ("default") and its button do the same.
                for (const char* key : { "default", actionKey }) {
                    g_variant_builder_add(&actions, "s", key);
                    g_variant_builder_add(&actions, "s", action.c_str());
                }
            }
            GVariantBuilder hints;
            g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("vesk"));
            if (withSound)
                g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string("message-new-instant"));
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_sync(m_bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                "org.freedesktop.Notifications", "Notify",
                g_variant_new("(susssasa{sv}i)", "Vesk", 0u, "vesk", text.c_str(), "", &actions, &hints, -1), G_VARIANT_TYPE("(u)"),
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
            if (error)
                g_error_free(error);
            if (!reply)
                return false;
            guint32 id = 0;
            g_variant_get(reply, "(u)", &id);
            g_variant_unref(reply);
            if (!action.empty()) {
                std::lock_guard lock(m_lock);
                m_withAction.push_back(id);
                // A service that never says it closed them must not make the list grow.
                if (m_withAction.size() > 32)
                    m_withAction.pop_front();
            }
            return true;
        }

    private:
        static constexpr const char* actionKey = "open";

        // Only a bus that is there: GLib would otherwise start one of its own for the display.
        static gchar* sessionBusAddress()
        {
            if (const char* given = std::getenv("DBUS_SESSION_BUS_ADDRESS"); given && *given)
                return g_strdup(given);
            if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime && ::access((std::string(runtime) + "/bus").c_str(), F_OK) == 0)
                return g_strdup_printf("unix:path=%s/bus", runtime);
            return nullptr;
        }

        // m_connectLock held. A connection the bus has closed makes way for a new one.
        bool connect()
        {
            if (m_bus && !g_dbus_connection_is_closed(m_bus))
                return true;
            disconnect();
            gchar* address = sessionBusAddress();
            if (!address)
                return false;
            m_context = g_main_context_new();
            m_stopping = false;
            auto connected = std::make_shared<std::promise<GDBusConnection*>>();
            auto answer = connected->get_future();
            m_thread = std::thread([this, address, connected] { listen(address, *connected); });
            m_bus = answer.get();
            if (!m_bus)
                disconnect();
            return m_bus != nullptr;
        }

        // m_connectLock held.
        void disconnect()
        {
            if (m_thread.joinable()) {
                m_stopping = true;
                g_main_context_wakeup(m_context);
                m_thread.join();
            }
            if (m_bus) {
                g_object_unref(m_bus);
                m_bus = nullptr;
            }
            if (m_context) {
                g_main_context_unref(m_context);
                m_context = nullptr;
            }
            std::lock_guard lock(m_lock);
            m_withAction.clear();
        }

        // The listening thread: connects with its context as the thread's own, so the signals
        // are dispatched here, and runs that context until told to stop.
        void listen(gchar* address, std::promise<GDBusConnection*>& connected)
        {
            GLibCall call;
            g_main_context_push_thread_default(m_context);
            auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
            GDBusConnection* bus = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr);
            g_free(address);
            guint subscription = 0;
            if (bus) {
                g_dbus_connection_set_exit_on_close(bus, false);
                subscription = g_dbus_connection_signal_subscribe(bus, "org.freedesktop.Notifications", "org.freedesktop.Notifications", nullptr,
                    "/org/freedesktop/Notifications", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &NotificationBus::heard, this, nullptr);
                g_object_ref(bus);
            }
            connected.set_value(bus);
            while (bus && !m_stopping)
                g_main_context_iteration(m_context, true);
            if (bus) {
                g_dbus_connection_signal_unsubscribe(bus, subscription);
                g_dbus_connection_close_sync(bus, nullptr, nullptr);
                g_object_unref(bus);
            }
            // What the closing left for this context.
            while (g_main_context_iteration(m_context, false)) { }
            g_main_context_pop_thread_default(m_context);
        }

        static void heard(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant* parameters, gpointer data)
        {
            auto* self = static_cast<NotificationBus*>(data);
            std::string_view signal(name);
            guint32 id = 0;
            bool chosen = false;
            bool closed = false;
            if (signal == "ActionInvoked" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
                const gchar* key = nullptr;
                g_variant_get(parameters, "(u&s)", &id, &key);
                chosen = std::string_view(key) == "default" || std::string_view(key) == actionKey;
            } else if (signal == "NotificationClosed" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
                g_variant_get(parameters, "(uu)", &id, nullptr);
                closed = true;
            }
            if (!chosen && !closed)
                return;
            {
                // Another app's notifications, and the app's own once closed, are none of its business.
                std::lock_guard lock(self->m_lock);
                auto found = std::find(self->m_withAction.begin(), self->m_withAction.end(), id);
                if (found == self->m_withAction.end())
                    return;
                if (closed) {
                    self->m_withAction.erase(found);
                    return;
                }
            }
            DispatchQueue::main().async([self] {
                std::function<void()> handler;
                {
                    std::lock_guard lock(self->m_lock);
                    handler = self->m_handler;
                }
                if (handler)
                    handler();
            });
        }

        // Connecting, notifying and disconnecting, one at a time.
        std::mutex m_connectLock;
        GDBusConnection* m_bus = nullptr;
        GMainContext* m_context = nullptr;
        std::thread m_thread;
        std::atomic<bool> m_stopping { false };
        // The ids and the handler, shared with the listening thread.
        std::mutex m_lock;
        std::deque<guint32> m_withAction;
        std::function<void()> m_handler;
    };
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

bool DesktopServices::postNotification(const std::string& text, bool withSound, const std::string& action)
{
    return NotificationBus::shared().notify(text, withSound, action);
}

void DesktopServices::setNotificationHandler(std::function<void()> handler)
{
    NotificationBus::shared().setHandler(std::move(handler));
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

bool DesktopRecorder::postNotification(const std::string& text, bool, const std::string&)
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
