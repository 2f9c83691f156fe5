#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vesk {

class VeskHTTPServer;

// Keeps the web file service in step with the Wi-Fi link: polls the Wi-Fi address, pauses the
// service (the "Webserver: No WiFi" banner) when it goes while the service is wanted, and stops
// and starts the service when it is back. Everything it decides runs on the main queue; a poll
// itself only reads the address, tests and sets the service's flags, and dispatches.
class WifiWatch {
public:
    using AddressSource = std::function<std::optional<std::string>()>;
    enum class Decision {
        Nothing,
        Restart, // VeskHTTPServer::wifiRestart queued
        LostNotice, // pIsPaused set, VeskHTTPServer::wifiLostNotice queued
        Stop, // VeskHTTPServer::wifiStop queued
    };

    // The address source is getWiFiAddress unless a test gives another.
    explicit WifiWatch(VeskHTTPServer& service, AddressSource source = {});
    // Stops the thread and waits for it.
    ~WifiWatch();
    WifiWatch(const WifiWatch&) = delete;
    WifiWatch& operator=(const WifiWatch&) = delete;

    // One check, on the calling thread.
    Decision poll();

    // Polls on a thread of its own, one poll per interval, until stop().
    void run(std::chrono::milliseconds interval = std::chrono::seconds(1));
    // Wakes the thread from its sleep and waits for it to end; safe to repeat.
    void stop();
    bool isRunning() const;

    // The process's watch, made by the service's first start; the thread runs unless the
    // web services were installed without it (tests step the watch by hand).
    static void launch(VeskHTTPServer& service, bool runThread);
    static WifiWatch* launched();
    // Ends the process's watch (at exit, or by tests).
    static void shutDown();

private:
    VeskHTTPServer& m_service;
    AddressSource m_source;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopRequested { false };
    std::thread m_thread;
};

}
