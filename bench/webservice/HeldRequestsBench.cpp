// The `vesk` program while 1,000 clients send a 64 KB head without its end and 64 clients send
// a 32 MiB body to "/setFile" without its last byte, all from loopback, with "/debug" asked
// every 50 ms on a connection of its own throughout. Prints the program's resident-memory
// growth (target under 64 MB), the slowest "/debug" answer (target under 100 ms), and its
// resident memory 10 s after the clients close (target within 10 MB of the start); exits with 1
// when a target is missed. VESK_BENCH_PROGRAM measures another build in place of this one (its
// bundle in VESK_BUNDLE).

#include "BenchProgram.h"
#include "common/BenchPeers.h"

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

using namespace vesk::bench;

namespace {

constexpr int headClients = 1000;
constexpr std::size_t headBytes = 64 * 1024;
constexpr int bodyClients = 64;
constexpr std::uint64_t bodyBytes = 32ull << 20;
constexpr auto holdTime = std::chrono::seconds(5);
constexpr auto restTime = std::chrono::seconds(10);

double megabytes(long kilobytes)
{
    return static_cast<double>(kilobytes) / 1024;
}

// Milliseconds from connecting to the end of the answer to "/debug"; 5,000 when none came.
double debugMilliseconds(std::uint16_t port)
{
    auto began = std::chrono::steady_clock::now();
    auto deadline = began + std::chrono::seconds(5);
    int fd = connectTo(port);
    if (fd < 0)
        return 5000;
    std::string request = "GET /debug HTTP/1.1\r\n\r\n";
    bool answered = false;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        std::string received;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd waited { fd, POLLIN, 0 };
            if (::poll(&waited, 1, 100) <= 0)
                continue;
            char buffer[4096];
            ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            received.append(buffer, static_cast<size_t>(count));
            if (received.find("This is doing nothing right now...") != std::string::npos) {
                answered = true;
                break;
            }
        }
    }
    ::close(fd);
    return answered ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count() : 5000;
}

// A client that sends its bytes as the program takes them and reads whatever comes back.
struct Sender {
    int fd { -1 };
    std::string head;
    std::size_t headSent { 0 };
    std::uint64_t bodyLeft { 0 };
    bool failed { false };

    bool done() const { return failed || (headSent == head.size() && bodyLeft == 0); }
};

void pump(std::vector<Sender>& senders, std::chrono::steady_clock::time_point until)
{
    static const std::string filler(1 << 20, 'x');
    std::vector<pollfd> waited;
    std::vector<Sender*> whose;
    while (std::chrono::steady_clock::now() < until) {
        waited.clear();
        whose.clear();
        for (auto& sender : senders) {
            if (sender.done())
                continue;
            waited.push_back({ sender.fd, POLLOUT | POLLIN, 0 });
            whose.push_back(&sender);
        }
        if (waited.empty())
            return;
        if (::poll(waited.data(), waited.size(), 100) <= 0)
            continue;
        for (std::size_t index = 0; index < waited.size(); ++index) {
            auto& sender = *whose[index];
            if (waited[index].revents & POLLIN) {
                char buffer[4096];
                while (::recv(sender.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) { }
            }
            if (!(waited[index].revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            ssize_t sent;
            if (sender.headSent < sender.head.size())
                sent = ::send(sender.fd, sender.head.data() + sender.headSent, sender.head.size() - sender.headSent, MSG_NOSIGNAL | MSG_DONTWAIT);
            else
                sent = ::send(sender.fd, filler.data(), static_cast<std::size_t>(std::min<std::uint64_t>(filler.size(), sender.bodyLeft)), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    sender.failed = true;
                continue;
            }
            if (sender.headSent < sender.head.size())
                sender.headSent += static_cast<std::size_t>(sent);
            else
                sender.bodyLeft -= static_cast<std::uint64_t>(sent);
        }
    }
}

}

int main()
{
    raiseDescriptorLimit();
    auto folder = makeServedFolder("vesk-bench-held");
    if (folder.empty())
        return 1;
    Program program(folder / "home");
    if (!program.ready()) {
        std::fprintf(stderr, "the program did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    debugMilliseconds(program.port());
    long start = program.residentKilobytes();

    std::atomic<bool> probing { true };
    std::atomic<long> peak { start };
    double slowest = 0;
    std::thread prober([&] {
        while (probing) {
            slowest = std::max(slowest, debugMilliseconds(program.port()));
            long now = program.residentKilobytes();
            if (now > peak)
                peak = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    std::string endlessHead = "GET /debug HTTP/1.1\r\n";
    for (int line = 0; endlessHead.size() + 8010 < headBytes; ++line)
        endlessHead += "X-Filler-" + std::to_string(line) + ": " + std::string(7990, 'a') + "\r\n";
    endlessHead += "X-Last: " + std::string(headBytes - endlessHead.size() - 8, 'b');
    std::string bodyHead = "POST /setFile HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: " + std::to_string(bodyBytes) + "\r\n\r\n";

    std::vector<Sender> senders;
    int refused = 0;
    for (int index = 0; index < headClients + bodyClients; ++index) {
        int fd = connectTo(program.port());
        if (fd < 0) {
            ++refused;
            continue;
        }
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
        bool body = index >= headClients;
        senders.push_back({ fd, body ? bodyHead : endlessHead, 0, body ? bodyBytes - 1 : 0, false });
    }
    auto began = std::chrono::steady_clock::now();
    pump(senders, began + std::chrono::seconds(60));
    double sendingSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    int complete = 0;
    for (auto& sender : senders)
        complete += sender.done() && !sender.failed;
    std::this_thread::sleep_for(holdTime);
    long held = program.residentKilobytes();
    for (auto& sender : senders)
        ::close(sender.fd);
    senders.clear();
    probing = false;
    prober.join();
    std::this_thread::sleep_for(restTime);
    long after = program.residentKilobytes();
    fs::remove_all(folder);

    double growth = megabytes(peak - start);
    double left = megabytes(after - start);
    std::printf("%d clients with a %zu-byte head without its end, %d with a %llu-byte body without its last byte\n", headClients, headBytes,
        bodyClients, static_cast<unsigned long long>(bodyBytes));
    std::printf("sent in %.1f s; %d of %d clients sent all their bytes, %d could not connect\n", sendingSeconds, complete, headClients + bodyClients, refused);
    std::printf("resident memory: %.1f MB at start, %.1f MB at most (growth %.1f MB, target < 64), %.1f MB while held\n", megabytes(start),
        megabytes(peak), growth, megabytes(held));
    std::printf("slowest /debug answer throughout: %.1f ms (target < 100)\n", slowest);
    std::printf("resident memory %lld s after the clients closed: %.1f MB (%+.1f MB from the start, target within 10)\n",
        static_cast<long long>(restTime.count()), megabytes(after), left);
    return growth < 64 && slowest < 100 && left < 10 ? 0 : 1;
}
