#pragma once

// A notification service of a test's own (org.freedesktop.Notifications) on a private session
// bus, for tests of the desktop notifications.

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <future>
#include <gio/gio.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vesk::test {

// A notification service of the test's own on a private session bus: the bus daemon started
// for the test, the summaries and actions of the notifications the service was asked to show,
// and the choice of the last one's action, as a person's click makes the service send it.
class NotificationStub {
public:
    ~NotificationStub()
    {
        if (m_thread.joinable()) {
            m_stopping = true;
            g_main_context_wakeup(m_context);
            m_thread.join();
        }
        if (m_context)
            g_main_context_unref(m_context);
        if (m_daemon > 0) {
            ::kill(m_daemon, SIGTERM);
            ::waitpid(m_daemon, nullptr, 0);
        }
    }
    // False when there is no bus daemon to start.
    bool start()
    {
        int pipe[2];
        if (std::system("command -v dbus-daemon >/dev/null") != 0 || ::pipe(pipe) != 0)
            return false;
        m_daemon = ::fork();
        if (m_daemon == 0) {
            ::close(pipe[0]);
            auto print = "--print-address=" + std::to_string(pipe[1]);
            ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", print.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        for (char c = 0; ::read(pipe[0], &c, 1) == 1 && c != '\n';)
            address += c;
        ::close(pipe[0]);
        m_context = g_main_context_new();
        std::promise<bool> ready;
        auto served = ready.get_future();
        m_thread = std::thread([this, &ready] { serve(ready); });
        return served.get();
    }
    std::vector<std::string> summaries()
    {
        std::lock_guard lock(m_mutex);
        return m_summaries;
    }
    // The last notification's actions, key and label in turn.
    std::vector<std::string> actions()
    {
        std::lock_guard lock(m_mutex);
        return m_actions;
    }
    // The id of the last notification shown.
    guint32 lastId()
    {
        std::lock_guard lock(m_mutex);
        return m_lastId;
    }
    // Sent to the app that asked for the last notification, as GNOME Shell does; another id
    // stands for another app's notification.
    void invoke(const std::string& key, std::optional<guint32> id = std::nullopt) { emit("ActionInvoked", g_variant_new("(us)", id.value_or(lastId()), key.c_str())); }
    // Reason 2: the person dismissed it.
    void close(guint32 id) { emit("NotificationClosed", g_variant_new("(uu)", id, 2u)); }

    std::string address;

private:
    void emit(const char* signal, GVariant* parameters)
    {
        std::string sender;
        {
            std::lock_guard lock(m_mutex);
            sender = m_sender;
        }
        g_dbus_connection_emit_signal(m_bus, sender.c_str(), "/org/freedesktop/Notifications", "org.freedesktop.Notifications", signal, parameters, nullptr);
        g_dbus_connection_flush_sync(m_bus, nullptr, nullptr);
    }

    void serve(std::promise<bool>& ready)
    {
        g_main_context_push_thread_default(m_context);
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        GDBusConnection* bus = m_bus = g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
            "<node><interface name='org.freedesktop.Notifications'><method name='Notify'>"
            "<arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
            "<arg type='s' direction='in'/><arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
            "<arg type='u' direction='out'/></method></interface></node>",
            nullptr);
        static const GDBusInterfaceVTable calls { [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, GDBusMethodInvocation* invocation, void* self) {
                                                     auto* stub = static_cast<NotificationStub*>(self);
                                                     const char* summary = nullptr;
                                                     const char** actions = nullptr;
                                                     g_variant_get_child(parameters, 3, "&s", &summary);
                                                     g_variant_get_child(parameters, 5, "^a&s", &actions);
                                                     std::lock_guard lock(stub->m_mutex);
                                                     stub->m_summaries.push_back(summary);
                                                     stub->m_actions.assign(actions, actions + g_strv_length(const_cast<char**>(actions)));
                                                     g_free(actions);
                                                     stub->m_sender = g_dbus_method_invocation_get_sender(invocation);
                                                     g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++stub->m_lastId));
                                                 },
            nullptr, nullptr, {} };
        bool serving = bus && node
            && g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications", node->interfaces[0], &calls, this, nullptr, nullptr)
            && g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", "org.freedesktop.Notifications", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        ready.set_value(serving);
        while (serving && !m_stopping)
            g_main_context_iteration(m_context, true);
        if (node)
            g_dbus_node_info_unref(node);
        if (bus)
            g_object_unref(bus);
        g_main_context_pop_thread_default(m_context);
    }

    pid_t m_daemon = -1;
    GMainContext* m_context = nullptr;
    GDBusConnection* m_bus = nullptr;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_summaries;
    std::vector<std::string> m_actions;
    std::string m_sender;
    guint32 m_lastId = 0;
};

}
