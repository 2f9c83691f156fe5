// What a page costs its renderer: the renderer's peak resident memory per MB of page, for pages of
// license texts in <pre> blocks as a toolchain's copyright notice has them (2,500 blocks, 14 MB at
// the largest), of paragraphs, and of a real file given on the command line; whether each showed
// whole or failed. The renderer is held to 1 GiB.

#include "platform/foundation/RunLoop.h"
#include "platform/uikit/RendererProcess.h"
#include "platform/uikit/UIWebView.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace vesk::platform;

namespace {

// The renderer's peak resident size, as the kernel kept it.
double peakMB(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmHWM:"))
            return std::stod(line.substr(6)) / 1024;
    }
    return 0;
}

const std::string license = R"(                                 Apache License
                           Version 2.0, January 2004
                        http://www.apache.org/licenses/

   TERMS AND CONDITIONS FOR USE, REPRODUCTION, AND DISTRIBUTION

   1. Definitions.

      "License" shall mean the terms and conditions for use, reproduction,
      and distribution as defined by Sections 1 through 9 of this document.

      "Licensor" shall mean the copyright owner or entity authorized by
      the copyright owner that is granting the License.
)";

// Blocks as the copyright notice has them: a heading, a few lines, the license text in a <pre>.
std::string licensePage(std::size_t bytes)
{
    std::string page = "<!DOCTYPE html><html><head><meta charset=UTF-8><title>Copyright notices</title></head><body><h1>Copyright notices</h1>";
    std::string text;
    while (text.size() < 5600)
        text += license;
    for (int block = 0; page.size() < bytes; ++block) {
        page += "<div style=\"border:1px solid black; padding: 5px;\"><p><b>Package:</b> <code>crate-" + std::to_string(block)
            + "</code></p><p><b>License:</b> Apache-2.0</p><details><summary>Apache-2.0</summary><pre>\n" + text + "</pre></details></div>\n";
    }
    return page + "</body></html>";
}

std::string paragraphPage(std::size_t bytes)
{
    std::string page = "<html><body>";
    for (int section = 0; page.size() < bytes; ++section) {
        page += "<h2>Section " + std::to_string(section) + "</h2><p>";
        for (int sentence = 0; sentence < 20; ++sentence)
            page += "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore. ";
        page += "</p>\n";
    }
    return page + "</body></html>";
}

void measure(const std::string& name, const std::filesystem::path& path)
{
    auto size = double(std::filesystem::file_size(path)) / (1 << 20);
    auto start = std::chrono::steady_clock::now();
    auto web = std::make_shared<UIWebView>(CGRectMake(0, 0, 375, 603));
    struct Outcome : UIWebViewDelegate {
        const char* said = "pending";
        void webViewDidFinishLoad(UIWebView&) override { said = "whole"; }
        void didFailLoadWithError(UIWebView&, const std::optional<NSError>&) override { said = "failed"; }
    };
    auto outcome = std::make_shared<Outcome>();
    web->setDelegate(outcome);
    web->loadRequest(NSURLRequest(NSURL::fileURLWithPath(path.string())));
    double peak = 0;
    int pid = 0;
    RunLoop::main().runUntil(
        [&] {
            if (auto now = web->rendererProcessID()) {
                pid = now;
                peak = std::max(peak, peakMB(pid));
            }
            return !web->isLoading() && !RendererProcess::anyBusy();
        },
        std::chrono::minutes(5));
    if (pid)
        peak = std::max(peak, peakMB(pid));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-24s %7.1f MB page %8.0f MB renderer peak %7.1f MB per MB of page %7.2f s  %s\n", name.c_str(), size, peak, size > 0 ? peak / size : 0,
        seconds, outcome->said);
    std::fflush(stdout);
}

}

int main(int argc, char** argv)
{
    auto folder = std::filesystem::temp_directory_path() / ("vesk-page-memory-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::printf("renderer peak resident memory per MB of page (limit %llu MB)\n", static_cast<unsigned long long>(RendererProcess::memoryLimit >> 20));
    for (std::size_t megabytes : { 1, 4, 14 }) {
        auto name = "licenses-" + std::to_string(megabytes) + "MB";
        std::ofstream(folder / (name + ".html")) << licensePage(megabytes << 20);
        measure(name, folder / (name + ".html"));
    }
    for (std::size_t megabytes : { 1, 4 }) {
        auto name = "paragraphs-" + std::to_string(megabytes) + "MB";
        std::ofstream(folder / (name + ".html")) << paragraphPage(megabytes << 20);
        measure(name, folder / (name + ".html"));
    }
    for (int index = 1; index < argc; ++index)
        measure(std::filesystem::path(argv[index]).filename().string(), argv[index]);
    std::filesystem::remove_all(folder);
    return 0;
}
