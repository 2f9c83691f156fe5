#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace vesk::platform {

// One running app per home. The first start listens on a Unix socket; a later start with the
// same home hands its request (a file to open, a quick action, or only "come to the front") to
// it and ends. The socket lives in $XDG_RUNTIME_DIR, or in the home's tmp/ without one, and
// its name is keyed by the home, so apps with different homes never meet.
class SingleInstance {
public:
    struct Request {
        std::string url; // a file URL's text, or empty
        std::string shortcutType; // a quick action's type, or empty
    };
    // Answers whether the app took the request.
    using Handler = std::function<bool(const Request&)>;

    static std::string socketPathForHome(const std::string& home);

    // Hands the request to the app running with the socket and answers null with handedOver
    // set; otherwise this process is the running app from now on (handedOver false).
    static std::unique_ptr<SingleInstance> claim(const std::string& socketPath, const Request& request, bool& handedOver);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes requests from later starts; the handler runs on the main run loop, and the later
    // start ends once it has taken the request.
    void listen(Handler handler);

private:
    SingleInstance() = default;
    void serve();
    void answer(int client);

    std::string m_path;
    int m_socket = -1;
    int m_wake[2] = { -1, -1 };
    Handler m_handler;
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
};

}
