#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace vesk::platform {

// One running app per home. The first start holds a file lock in the home's tmp/ for as long as
// it runs and listens on a Unix socket beside it; a later start with the same home hands its
// request (a file to open, a quick action, or only "come to the front") to it and ends. Both
// places follow from the home alone, whatever the environment, so apps with different homes
// never meet and a home never has two. Where the socket's path would be too long for an
// address, an abstract socket named after the home takes its place, checked by its owner.
class SingleInstance {
public:
    struct Request {
        std::string url; // a file URL's text, or empty
        std::string shortcutType; // a quick action's type, or empty
    };
    // Answers whether the app took the request.
    using Handler = std::function<bool(const Request&)>;

    enum class Claim {
        Running, // this process is the running app from now on
        HandedOver, // the running app took the request
        NotTaken, // an app holds the lock but took nothing in time
        Failed, // the lock could not be made or taken: whether an app runs is unknown
    };

    // How long a later start waits for the running app to take its request: the app may be busy
    // on its main run loop for a while.
    static constexpr std::chrono::milliseconds handOverPatience { 20000 };

    // The socket's path in the home's tmp/; too long for an address, the abstract socket is used.
    static std::string socketPathForHome(const std::string& home);

    // Hands the request to the app running with this home, or makes this process the running
    // app (the answer is then non-null). A socket is replaced only when no app holds the lock
    // behind it: a running app that is slow to answer is never replaced. On Failed, `failure`
    // says why.
    static std::unique_ptr<SingleInstance> claim(const std::string& home, const Request& request, Claim& outcome, std::string& failure,
        std::chrono::milliseconds patience = handOverPatience);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes requests from later starts; the handler runs on the main run loop, and the later
    // start ends once it has taken the request. Connections are served side by side, each with
    // a second to send its request, so idle or slow ones hold up nobody.
    void listen(Handler handler);

private:
    struct Wake;
    SingleInstance() = default;
    void serve();

    std::string m_path; // the socket's file, when it has one
    int m_socket = -1;
    int m_lock = -1;
    std::shared_ptr<Wake> m_wake;
    Handler m_handler;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

}
