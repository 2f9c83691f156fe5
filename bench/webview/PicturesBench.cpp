// The app's resident memory while a local page of 256 pictures loads, each a hard link of one
// sparse file of 127 MB (no disk used); then the same for 16 pictures of 20 MB, which the
// page's total lets in only in part. The figure is the peak growth of this process while the
// page loads, its renderer not counted.

#include "platform/foundation/RunLoop.h"
#include "platform/uikit/UIWebView.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

using namespace vesk::platform;

namespace {

double residentMB()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

class Finished : public UIWebViewDelegate {
public:
    void webViewDidFinishLoad(UIWebView&) override { outcome = "shown"; }
    void didFailLoadWithError(UIWebView&, const std::optional<NSError>&) override { outcome = "failed"; }
    const char* outcome = nullptr;
};

void measure(const std::filesystem::path& folder, const char* name, const std::string& stem, std::uintmax_t size, int count)
{
    auto file = folder / (stem + ".png");
    std::ofstream { file };
    std::filesystem::resize_file(file, size);
    std::string markup = "<p>pictures</p>";
    for (int i = 0; i < count; ++i) {
        auto link = stem + "-" + std::to_string(i) + ".png";
        std::filesystem::create_hard_link(file, folder / link);
        markup += "<img src='" + link + "'>";
    }
    auto page = folder / (stem + ".html");
    std::ofstream(page) << markup;

    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    auto delegate = std::make_shared<Finished>();
    web->setDelegate(delegate);
    std::atomic<bool> done = false;
    std::atomic<double> peak = 0;
    auto before = residentMB();
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak.load(), residentMB());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    auto start = std::chrono::steady_clock::now();
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(page.string())));
    RunLoop::main().runUntil([&] { return delegate->outcome != nullptr; }, std::chrono::minutes(3));
    done = true;
    sampler.join();
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t loaded = 0;
    for (auto& resource : web->resources())
        loaded += resource.response.has_value();
    std::printf("%-28s resident memory grew %6.0f MB (target under 300 MB), %3zu of %3d pictures taken, %s in %.2f s\n", name,
        std::max(0.0, peak - before), loaded, count, delegate->outcome ? delegate->outcome : "not done", seconds);
}

}

int main()
{
    auto folder = std::filesystem::temp_directory_path() / ("vesk-pictures-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    measure(folder, "256 pictures of 127 MB", "huge", 127u << 20, 256);
    measure(folder, "16 pictures of 20 MB", "big", 20u << 20, 16);
    std::filesystem::remove_all(folder);
}
