#pragma once

#include "renderer/protocol/RendererProtocol.h"

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vesk::platform {

class UIImage;

// How much processor time a renderer may use: the work limit from each piece of work the app
// gives it (a load, a viewport, a click) and again from each resource it answers, but never more
// than `cap` since the app last gave it work, so that a renderer asking for resources cannot
// stretch its time without end.
class RendererWorkClock {
public:
    RendererWorkClock(double limit, double cap)
        : m_limit(limit)
        , m_cap(cap)
    {
    }
    // Each with the renderer's processor time in seconds when it was given.
    void workGiven(double seconds) { m_workFrom = m_from = seconds; }
    void answerGiven(double seconds) { m_from = seconds; }
    bool isExceeded(double seconds) const { return seconds > m_from + m_limit || seconds > m_workFrom + m_cap; }

private:
    double m_limit;
    double m_cap;
    double m_from = 0;
    double m_workFrom = 0;
};

// A renderer process (vesk-renderer) seen from the app: started for one document, ended with
// its owner. A thread of its own reads and writes the socket without ever waiting on the
// renderer, lends it the memory each frame is drawn in, watches its resident memory and its
// processor time, and reaps it. Whatever it says is checked as input from a stranger: malformed
// messages, frames that don't fit or aren't in the memory lent, memory past the limit and work
// past the time limit end it. Sending never waits; everything is thread-safe.
class RendererProcess {
public:
    // Pixels the renderer drew for a viewport, read from the memory lent for them.
    struct Drawn {
        renderer::Viewport viewport;
        double contentHeight = 0;
        std::shared_ptr<UIImage> image;
        double contentWidth = 0;
    };
    struct Handlers {
        // On the process's thread.
        std::function<void(std::shared_ptr<Drawn>)> drawn;
        std::function<void(renderer::LinkAt)> link;
        std::function<void()> ended;
    };

    static constexpr std::uint64_t memoryLimit = 1ull << 30;
    // The most resources a renderer may ask for, a page's whole share: a real one asks for each
    // style sheet once, and one that asks for more is ended rather than answered without end.
    static constexpr std::size_t maximumRequests = 256;

    // Starts one; null when the program can't be found or started. VESK_RENDERER names the
    // program; by default it is found beside the running program or in the install's libexec.
    static std::unique_ptr<RendererProcess> start(Handlers handlers);
    ~RendererProcess();
    RendererProcess(const RendererProcess&) = delete;
    RendererProcess& operator=(const RendererProcess&) = delete;

    // A message after which the renderer draws again (a picture) keeps it busy until it has.
    // The descriptor, if any, is taken: it goes with the message and is closed once sent.
    void send(const renderer::AppMessage& message, bool redraws = false, int descriptor = -1);
    // A viewport replaces one not yet sent.
    void setViewport(const renderer::Viewport& viewport);
    // What the renderer said about loading: ready, requests, the page's facts, failure. Waits up
    // to the bound; nothing when it ended (or the bound passed) with nothing left to say. After
    // the whole page's facts it says nothing more of the kind: anything more ends it.
    std::optional<renderer::RendererMessage> nextMessage(std::chrono::milliseconds bound);
    // The load reads no more messages: what waits is dropped, and anything more ends it.
    void doneReading();
    // Waits up to the bound for pixels drawn after the page's newest facts (for its first pixels
    // before any); whether they came. A page's first part is drawn, then its whole.
    bool waitUntilDrawn(std::chrono::milliseconds bound);
    // Ends it at once; it is reaped on its thread.
    void terminate();
    bool hasEnded() const { return m_ended; }
    pid_t pid() const { return m_pid; }
    // The processor time a process has used, all its threads together, in seconds; nothing once
    // it is gone.
    static std::optional<double> processorSeconds(pid_t pid);
    // How long from the start until it said it was ready, once it has.
    std::optional<std::chrono::microseconds> startCost() const;

    // Whether any renderer owes pixels or a click's answer, for tests that wait until the
    // screen has settled.
    static bool anyBusy();
    // How many viewports web views have asked their renderers for, so far: a frame asked for may
    // come in before its caller looks at anyBusy, its pixels still on the way to the main queue.
    static std::uint64_t viewportsAsked();
    // How many memories for frames all renderers have been lent so far.
    static std::uint64_t frameMemoriesMade();

private:
    RendererProcess(pid_t pid, int fd, Handlers handlers);
    void serve();
    void release();
    void wake();
    bool receive(renderer::Channel::Received& message);
    bool keep(renderer::RendererMessage message, std::size_t size);
    bool flush();
    void updateBusy();
    bool lendFrameMemory(const renderer::Viewport& viewport);
    std::shared_ptr<UIImage> takeFrame(const renderer::Frame& frame, int memory);
    std::uint64_t residentBytes() const;
    std::uint64_t heldMemoryBytes() const;
    bool firstThreadEnded() const;

    const pid_t m_pid;
    renderer::Channel m_channel;
    // Closed as soon as it ends (release), while other threads may still wake or end it.
    std::mutex m_signalMutex;
    int m_wake = -1;
    int m_pidfd = -1;
    Handlers m_handlers;
    std::chrono::steady_clock::time_point m_started;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    struct Outgoing {
        renderer::Bytes bytes;
        int descriptor = -1;
    };
    std::deque<Outgoing> m_outgoing;
    std::optional<renderer::Viewport> m_viewport;
    std::optional<renderer::Viewport> m_lastViewport;
    std::optional<renderer::Viewport> m_drawnViewport;
    std::size_t m_written = 0;
    struct Waiting {
        renderer::RendererMessage message;
        std::size_t size = 0;
    };
    std::deque<Waiting> m_inbox;
    std::size_t m_inboxBytes = 0;
    // Set once the whole page's facts are in or the load reads no more.
    bool m_inboxClosed = false;
    // Clicks sent and not yet answered, oldest first: a link counts only as the answer to one of
    // them, once.
    std::deque<std::uint64_t> m_clicks;
    std::size_t m_requests = 0;
    bool m_partTold = false;
    bool m_wholeTold = false;
    // The memory frames are drawn in, all made by the app: lent to the renderer one at a time
    // (two across a change of size), shown from where it was drawn once the frame comes back, and
    // lent again once nothing shows it. A frame in any other memory ends the renderer.
    struct Canvas;
    std::vector<std::shared_ptr<Canvas>> m_canvases;
    std::shared_ptr<Canvas> m_heldCanvas;
    std::optional<renderer::Viewport> m_sentViewport;
    // Set when the renderer is given work, or a resource it asked for; its processor time
    // counts from there (RendererWorkClock).
    bool m_workGiven = false;
    bool m_answerGiven = false;
    bool m_failed = false;
    bool m_busy = false;
    // A frame came after the page's newest facts.
    bool m_drawnSinceFacts = false;
    std::optional<std::chrono::microseconds> m_startCost;
    // Answers the renderer's requests for threads, once it has handed them over; on its thread.
    std::unique_ptr<renderer::ThreadWarden> m_warden;
    std::atomic<bool> m_ended { false };
    std::atomic<bool> m_drawnAny { false };
    std::atomic<bool> m_stop { false };
    // While its thread serves it.
    bool m_serving = false;
};

}
