// Opens a 100 MB and a 1 GiB log in the text viewer on the phone (375 x 667 at 2x) and prints,
// for each: the time from opening the file to the first drawn screen with its text, the
// resident memory (its peak and its growth over the app before the file was opened), and the
// longest pause of the main run loop while the file is read until its first screen is drawn,
// and while scrolling to its end (a flick of 30 screens, a jump to the end, 30 screens up and
// 30 down again, each frame drawn as the window would), and the time from Ctrl+End, and from
// taking the scroll indicator at the top and dragging it to the bottom, to the last line drawn.
// Targets: first screen within 1 s for 100 MB, memory at most the file's size + 64 MB, pauses
// under 16 ms, the last line within 100 ms of Ctrl+End. Presenting the screen itself, the same
// for any file, is printed apart. Each file is viewed and closed three times, and the resident
// memory after each close is printed against the figure before the first view: a closed viewer
// gives back all it held (target: within 32 MB). Last, the 1 GiB log is closed a fifth of a
// second into the read of its text: the read ends (target: within 100 ms) and gives its memory
// back. The files are made under /tmp and deleted after.

#include "app/MainStoryboard.h"
#include "app/Utility.h"
#include "common/BenchApp.h"
#include "common/BenchFolders.h"
#include "model/VeskFile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/system/MemoryInfo.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIEvent.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIViewRendering.h"
#include "viewers/TextViewController.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;
using WallClock = std::chrono::steady_clock;

namespace {

double millisecondsSince(WallClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(WallClock::now() - start).count();
}

// A log of exactly `size` bytes: lines of 60 to 300 bytes, some with accented or CJK text and
// now and then a stack trace, from a mebibyte of lines written over and over.
void makeLog(const std::string& path, std::size_t size)
{
    std::string chunk;
    unsigned seed = 12345;
    auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 16) & 0x7fff; };
    char line[512];
    for (int number = 0; chunk.size() < (1 << 20); ++number) {
        auto kind = next() % 20;
        if (kind == 0)
            std::snprintf(line, sizeof line, "2026-12-07 08:%02u:%02u.%03u ERROR [worker-%u] request failed\n    at vesk::http::Connection::serve(Connection.cpp:%u)\n    at vesk::http::Server::loop(Server.cpp:%u)\n", next() % 60, next() % 60, next() % 1000, next() % 16, next() % 900, next() % 400);
        else if (kind == 1)
            std::snprintf(line, sizeof line, "2026-12-07 08:%02u:%02u.%03u INFO  [worker-%u] uploaded \"Grüße aus Köln – 日本語のファイル %u.txt\" (%u bytes)\n", next() % 60, next() % 60, next() % 1000, next() % 16, number, next() * 7);
        else
            std::snprintf(line, sizeof line, "2026-12-07 08:%02u:%02u.%03u INFO  [worker-%u] GET /files/Documents/folder-%u/notes-%u.txt 200 %u bytes in %u ms%s\n", next() % 60, next() % 60, next() % 1000, next() % 16, next() % 100, number, next() * 3, next() % 50,
                kind == 2 ? " user-agent=Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36 referer=http://192.168.1.20:8080/files/Documents" : "");
        chunk += line;
    }
    std::string last = "END OF LOG: the last line\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::size_t written = 0;
    bool ok = fd >= 0;
    while (ok && written + chunk.size() <= size - last.size()) {
        ok = ::write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
        written += chunk.size();
    }
    // The rest: whole lines of the chunk, then line breaks up to the last line.
    auto rest = size - last.size() - written;
    auto cut = chunk.rfind('\n', rest == 0 ? 0 : rest - 1);
    std::string tail = rest == 0 ? std::string() : chunk.substr(0, cut == std::string::npos ? 0 : cut + 1);
    tail.resize(rest, '\n');
    tail += last;
    ok = ok && ::write(fd, tail.data(), tail.size()) == static_cast<ssize_t>(tail.size());
    if (fd < 0 || ::close(fd) != 0 || !ok) {
        std::perror("making the log");
        ::unlink(path.c_str());
        std::exit(1);
    }
}

// The peak of the resident memory starts again from now.
void resetPeak()
{
    int fd = ::open("/proc/self/clear_refs", O_WRONLY);
    if (fd >= 0) {
        [[maybe_unused]] auto ignored = ::write(fd, "5", 1);
        ::close(fd);
    }
}

double peakMegabytes()
{
    auto figures = taskMemoryInfo();
    return figures ? static_cast<double>(figures->residentSizePeak) / 1e6 : 0;
}

struct Figures {
    double firstScreen = 0;
    double presentingPause = 0;
    double readingPause = 0;
    double scrollingPause = 0;
    double slowestFrame = 0;
    double toEndByKey = 0;
    double toEndByIndicator = 0;
    double resident = 0;
    double growth = 0;
    double peakGrowth = 0;
    bool atEnd = false;
};

Figures run(const std::string& path, std::shared_ptr<UIViewController> root)
{
    Figures figures;
    auto window = UIApplication::sharedApplication().keyWindow();
    RunLoop::main().drain();
    double before = bench::residentMegabytes();
    resetPeak();
    double peakBefore = peakMegabytes();

    // Opening: the screen comes up and is drawn, empty, as the window draws it; then its file
    // is read on a worker and the first screen with the text is drawn.
    Utility utility;
    std::shared_ptr<TextViewController> viewer;
    auto start = WallClock::now();
    figures.presentingPause = bench::longestMainLoopPause([&] { utility.openText(VeskFile::initWithPath(path), root); }, [&] {
        viewer = bench::presentedViewer<TextViewController>(root);
        if (viewer)
            UIRenderer::imageOfWindow(*window, 2);
        return viewer != nullptr; }, std::chrono::seconds(10));
    bool drawn = false;
    figures.readingPause = bench::longestMainLoopPause([] {}, [&] {
        auto view = viewer ? viewer->textView() : nullptr;
        if (!view || view->text().empty())
            return false;
        UIRenderer::imageOfWindow(*window, 2);
        figures.firstScreen = millisecondsSince(start);
        drawn = true;
        return true; }, std::chrono::seconds(60));
    if (!drawn) {
        std::fprintf(stderr, "the text did not show within a minute\n");
        ::unlink(path.c_str());
        std::exit(1);
    }

    auto view = viewer->textView();
    auto frame = view->convertRectToView(view->bounds(), nullptr);
    auto lastLineShown = [&] { return view->contentOffset().y + frame.size.height >= view->contentSize().height - 0.5; };
    auto& events = UIEventDispatcher::shared();

    // Ctrl+End, then the screen drawn at the end.
    auto pressed = WallClock::now();
    events.pressKey(UIKey::TextEnd);
    UIRenderer::imageOfWindow(*window, 2);
    figures.toEndByKey = lastLineShown() ? millisecondsSince(pressed) : -1;
    events.pressKey(UIKey::TextStart);
    UIRenderer::imageOfWindow(*window, 2);

    // The indicator taken at the top and dragged to the bottom in ten steps, a frame drawn after each.
    pressed = WallClock::now();
    CGFloat knobX = CGRectGetMaxX(frame) - 4;
    events.pointerDown({ knobX, frame.origin.y + 10 });
    for (int step = 1; step <= 10; ++step) {
        events.pointerMoved({ knobX, frame.origin.y + 10 + frame.size.height * step / 10 });
        UIRenderer::imageOfWindow(*window, 2);
    }
    events.pointerUp({ knobX, CGRectGetMaxY(frame) + 10 });
    UIRenderer::imageOfWindow(*window, 2);
    figures.toEndByIndicator = lastLineShown() ? millisecondsSince(pressed) : -1;
    events.pressKey(UIKey::TextStart);
    UIRenderer::imageOfWindow(*window, 2);

    // Scrolling, a frame every 16 ms as the window draws them.
    CGPoint point { CGRectGetMidX(frame), CGRectGetMidY(frame) };
    auto screen = frame.size.height;
    std::vector<CGFloat> steps(30, screen);
    steps.push_back(1e15);
    steps.insert(steps.end(), 30, -screen);
    steps.insert(steps.end(), 30, screen);
    std::size_t done = 0;
    std::shared_ptr<NSTimer> frames;
    figures.scrollingPause = bench::longestMainLoopPause([&] { frames = NSTimer::scheduledTimerWithTimeInterval(1.0 / 60, true, [&](NSTimer&) {
                                                                   if (done == steps.size())
                                                                       return;
                                                                   auto frameStart = WallClock::now();
                                                                   UIEventDispatcher::shared().scroll(point, steps[done++]);
                                                                   UIRenderer::imageOfWindow(*window, 2);
                                                                   figures.slowestFrame = std::max(figures.slowestFrame, millisecondsSince(frameStart));
                                                               }); },
        [&] { return done == steps.size(); }, std::chrono::seconds(30));
    frames->invalidate();
    figures.atEnd = view->contentOffset().y + screen >= view->contentSize().height - 0.5;
    figures.resident = bench::residentMegabytes();
    figures.growth = figures.resident - before;
    figures.peakGrowth = peakMegabytes() - peakBefore;

    viewer->dismissViewControllerAnimated(false);
    viewer.reset();
    view.reset();
    RunLoop::main().drain();
    // The window draws what is left, as it does after every change.
    UIRenderer::imageOfWindow(*window, 2);
    return figures;
}

// Closes the viewer a fifth of a second into the read of its text; answers the time from the
// close until the read has ended (-1 if the text was there before the close, or the read never
// ended).
double closeWhileReading(const std::string& path, std::shared_ptr<UIViewController> root)
{
    auto window = UIApplication::sharedApplication().keyWindow();
    Utility utility;
    utility.openText(VeskFile::initWithPath(path), root);
    RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(200));
    auto viewer = bench::presentedViewer<TextViewController>(root);
    if (!viewer || !viewer->textView() || !viewer->textView()->text().empty())
        return -1;
    viewer->dismissViewControllerAnimated(false);
    viewer.reset();
    auto closed = WallClock::now();
    UIRenderer::imageOfWindow(*window, 2);
    bool ended = RunLoop::main().drain(std::chrono::seconds(30));
    return ended ? millisecondsSince(closed) : -1;
}

}

int main()
{
    std::string root = bench::makeScratchRoot("bigtext-bench");
    auto home = bench::launchOnEmptyScreen();

    bool met = true;
    constexpr double closedTarget = 32;
    for (auto [size, name] : { std::pair<std::size_t, const char*> { 100'000'000, "100 MB" }, { std::size_t(1) << 30, "1 GiB" } }) {
        auto path = root + "/big.log";
        makeLog(path, size);
        RunLoop::main().drain();
        double beforeFirst = bench::residentMegabytes();
        double fileMegabytes = static_cast<double>(size) / 1e6;
        for (int round = 1; round <= 3; ++round) {
            auto figures = run(path, home);
            double closed = bench::residentMegabytes();
            std::printf("%s log, view %d: first screen %.0f ms%s | resident %.0f MB, growth %.0f MB, peak growth %.0f MB (target <= %.0f) | longest main-loop pause: reading %.1f ms, scrolling %.1f ms (slowest frame %.1f ms; target < 16), presenting the screen %.1f ms%s\n",
                name, round, figures.firstScreen, size < (1u << 30) ? " (target <= 1000)" : "", figures.resident, figures.growth, figures.peakGrowth, fileMegabytes + 64, figures.readingPause, figures.scrollingPause, figures.slowestFrame, figures.presentingPause,
                figures.atEnd ? "" : " -- did not reach the end!");
            std::printf("%s log, view %d: Ctrl+End to the last line drawn %.1f ms (target < 100) | the indicator dragged from top to bottom, ten frames, %.1f ms (target < 2000)%s\n", name, round, figures.toEndByKey, figures.toEndByIndicator,
                figures.toEndByKey < 0 || figures.toEndByIndicator < 0 ? " -- did not reach the last line!" : "");
            std::printf("%s log, view %d closed: resident %.0f MB, %+.0f MB over the %.0f MB before the first view (target <= %.0f)%s\n", name, round, closed, closed - beforeFirst, beforeFirst, closedTarget,
                closed - beforeFirst <= closedTarget ? "" : " -- the closed viewer still holds memory!");
            std::fflush(stdout);
            met = met && figures.atEnd && figures.peakGrowth <= fileMegabytes + 64 && figures.readingPause < 16 && figures.scrollingPause < 16 && (size >= (1u << 30) || figures.firstScreen <= 1000)
                && figures.toEndByKey >= 0 && figures.toEndByKey < 100 && figures.toEndByIndicator >= 0 && figures.toEndByIndicator < 2000 && closed - beforeFirst <= closedTarget;
        }
        if (size >= (1u << 30)) {
            auto took = closeWhileReading(path, home);
            double after = bench::residentMegabytes();
            std::printf("%s log closed 200 ms into the read of its text: the read ended %.0f ms after the close (target < 100) | resident %.0f MB, %+.0f MB over the first figure (target <= %.0f)%s\n", name, took, after, after - beforeFirst, closedTarget,
                took < 0 ? " -- the text came before the close, or the read never ended!" : "");
            met = met && took >= 0 && took < 100 && after - beforeFirst <= closedTarget;
        }
        ::unlink(path.c_str());
    }
    NSFileManager::defaultManager().removeItemAtPath(root);
    return met ? 0 : 1;
}
