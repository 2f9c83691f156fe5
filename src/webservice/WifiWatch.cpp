#include "webservice/WifiWatch.h"

#include "model/PlatformUtilities.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "webservice/VeskHTTPServer.h"

#include <memory>

namespace vesk {

using namespace platform;

WifiWatch::WifiWatch(VeskHTTPServer& service, AddressSource source)
    : m_service(service)
    , m_source(source ? std::move(source) : AddressSource(getWiFiAddress))
{
}

WifiWatch::~WifiWatch()
{
    stop();
}

WifiWatch::Decision WifiWatch::poll()
{
    auto address = m_source();
    bool shouldRun = m_service.pShouldRun;
    if (address) {
        // An empty address counts as present, but never brings a paused service back.
        if (address->empty() || !m_service.pIsPaused || !shouldRun)
            return Decision::Nothing;
        dispatch_async(dispatch_get_main_queue(), VeskHTTPServer::wifiRestart);
        return Decision::Restart;
    }
    if (shouldRun) {
        // Set before the notice is queued, so the next poll does not queue it again.
        if (m_service.pIsPaused.exchange(true))
            return Decision::Nothing;
        dispatch_async(dispatch_get_main_queue(), VeskHTTPServer::wifiLostNotice);
        return Decision::LostNotice;
    }
    if (m_service.pIsRunning)
        return Decision::Nothing;
    dispatch_async(dispatch_get_main_queue(), VeskHTTPServer::wifiStop);
    return Decision::Stop;
}

void WifiWatch::run(std::chrono::milliseconds interval)
{
    std::lock_guard lock(m_lock);
    if (m_thread.joinable())
        return;
    m_stopRequested = false;
    m_thread = std::thread([this, interval] {
        std::unique_lock lock(m_lock);
        while (!m_stopRequested) {
            lock.unlock();
            poll();
            lock.lock();
            m_wake.wait_for(lock, interval, [this] { return m_stopRequested; });
        }
    });
}

void WifiWatch::stop()
{
    std::thread thread;
    {
        std::lock_guard lock(m_lock);
        m_stopRequested = true;
        thread = std::move(m_thread);
    }
    m_wake.notify_all();
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
        thread.join();
    else if (thread.joinable())
        thread.detach();
}

bool WifiWatch::isRunning() const
{
    std::lock_guard lock(m_lock);
    return m_thread.joinable();
}

void VeskHTTPServer::wifiRestart()
{
    stop();
    start();
}

void VeskHTTPServer::wifiLostNotice()
{
    VeskNotificationManager::dismissStaticNotification();
    VeskNotificationManager::showStaticNotification(localized("Webserver: No WiFi"), NotificationType::Error, nullptr,
        openSettingsOnClick);
}

void VeskHTTPServer::wifiStop()
{
    stop();
}

void VeskHTTPServer::wifiChecker(VeskHTTPServer& service)
{
    WifiWatch::launch(service, true);
}

namespace {

    struct LaunchedWatch {
        std::mutex lock;
        std::unique_ptr<WifiWatch> watch;
    };

    // Destroyed at exit, which stops the thread before the service goes.
    LaunchedWatch& launchedWatch()
    {
        static LaunchedWatch holder;
        return holder;
    }

}

void WifiWatch::launch(VeskHTTPServer& service, bool runThread)
{
    // What a poll uses is made before the holder, so at exit it is destroyed after the thread ended.
    getWiFiAddress();
    dispatch_get_main_queue();
    RunLoop::main();
    auto watch = std::make_unique<WifiWatch>(service);
    if (runThread)
        watch->run();
    std::unique_ptr<WifiWatch> previous;
    {
        std::lock_guard lock(launchedWatch().lock);
        previous = std::exchange(launchedWatch().watch, std::move(watch));
    }
}

WifiWatch* WifiWatch::launched()
{
    std::lock_guard lock(launchedWatch().lock);
    return launchedWatch().watch.get();
}

void WifiWatch::shutDown()
{
    std::unique_ptr<WifiWatch> watch;
    {
        std::lock_guard lock(launchedWatch().lock);
        watch = std::move(launchedWatch().watch);
    }
}

}
