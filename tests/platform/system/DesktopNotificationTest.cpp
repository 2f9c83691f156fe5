#include "platform/foundation/RunLoop.h"
#include "platform/system/DesktopServices.h"
#include "platform/system/NotificationStub.h"

#include <gtest/gtest.h>

using namespace vesk::platform;
using vesk::test::NotificationStub;

namespace {

// The desktop's own notifications, on a private session bus with a notification service of the
// test's own: what reaches the service, and which of its answers bring the app back.
TEST(DesktopNotificationTest, OnlyTheAppsOwnNotificationsWithAnActionBringItBack)
{
    // Without a session bus nothing is shown and nothing listens.
    char runtime[] = "/tmp/vesk-runtime-XXXXXX";
    ASSERT_TRUE(::mkdtemp(runtime));
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    auto desktop = DesktopServices::shared();
    EXPECT_FALSE(desktop->postNotification("Webserver has stopped!", true, "Open"));
    ::unsetenv("XDG_RUNTIME_DIR");
    ::rmdir(runtime);

    NotificationStub service;
    if (!service.start())
        GTEST_SKIP() << "dbus-daemon is missing";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", service.address.c_str(), 1);
    int raised = 0;
    DesktopServices::setNotificationHandler([&raised] { ++raised; });
    // The app hears of a choice within moments (waited for when one is expected), or not at all.
    auto settle = [&](int expected) {
        int before = raised;
        RunLoop::main().runUntil([&] { return raised != before; }, std::chrono::milliseconds(expected > before ? 10000 : 300));
    };

    ASSERT_TRUE(desktop->postNotification("Webserver has stopped!", true, "Open"));
    EXPECT_EQ(service.summaries(), std::vector<std::string> { "Webserver has stopped!" });
    EXPECT_EQ(service.actions(), (std::vector<std::string> { "default", "Open", "open", "Open" }));
    auto withAction = service.lastId();
    struct Case {
        std::string key;
        std::optional<guint32> id;
        int raised;
    };
    // The action and the notification itself bring the app back; another key, another app's
    // notification and one without an action do not.
    for (auto& [key, id, expected] : std::vector<Case> { { "open", withAction, 1 }, { "default", withAction, 2 }, { "snooze", withAction, 2 },
             { "default", withAction + 100, 2 }, { "open", withAction, 3 } }) {
        service.invoke(key, id);
        settle(expected);
        EXPECT_EQ(raised, expected) << key << " " << *id;
    }
    // Only the notification service speaks for its notifications, not another client of the bus.
    GDBusConnection* stranger = g_dbus_connection_new_for_address_sync(service.address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION), nullptr, nullptr, nullptr);
    ASSERT_TRUE(stranger);
    g_dbus_connection_emit_signal(stranger, nullptr, "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked",
        g_variant_new("(us)", withAction, "open"), nullptr);
    g_dbus_connection_flush_sync(stranger, nullptr, nullptr);
    settle(3);
    EXPECT_EQ(raised, 3) << "a stranger on the bus";
    g_object_unref(stranger);

    ASSERT_TRUE(desktop->postNotification("Plain", false, ""));
    EXPECT_EQ(service.actions(), std::vector<std::string> {});
    service.invoke("default");
    settle(3);
    EXPECT_EQ(raised, 3) << "no action, nothing to choose";

    // Once closed, it is forgotten.
    service.close(withAction);
    service.invoke("open", withAction);
    settle(3);
    EXPECT_EQ(raised, 3);
    DesktopServices::setNotificationHandler(nullptr);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}
