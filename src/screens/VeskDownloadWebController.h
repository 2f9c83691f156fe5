#pragma once

#include "platform/uikit/UIWebView.h"
#include "screens/VeskDownloadTableViewController.h"
#include "screens/VeskDownloadURLCache.h"

#include <optional>
#include <string>
#include <vector>

namespace vesk {

// The in-app browser. It installs a VeskDownloadURLCache as the shared URL cache and collects
// what the cache reports as downloadable items; each new page load empties the list. The
// title tells the page's state: loading, the finished page's host, or the error of a failed
// load. Links to .mov and .mp4 files raise an offer to download the video.
class VeskDownloadWebController : public platform::UIViewController, public platform::UIWebViewDelegate, public VeskDownloadURLCacheDelegate {
public:
    std::shared_ptr<platform::UIWebView> webView() const { return m_webView.lock(); }
    void setWebView(const std::shared_ptr<platform::UIWebView>& view) { m_webView = view; }
    const std::vector<DownloadableItem>& downloadableFiles() const { return m_downloadableFiles; }
    void setDownloadableFiles(std::vector<DownloadableItem> files) { m_downloadableFiles = std::move(files); }
    // The folder the browser was opened for; unset reads as empty.
    const std::optional<std::string>& path() const { return m_path; }
    void setPath(std::optional<std::string> path) { m_path = std::move(path); }
    std::shared_ptr<platform::UIBarButtonItem> downloadableItemsButton() const { return m_downloadableItemsButton.lock(); }
    void setDownloadableItemsButton(const std::shared_ptr<platform::UIBarButtonItem>& button) { m_downloadableItemsButton = button; }

    // The page the browser opens on and goes back to; tests point it at a page of their own.
    static std::string startPage();
    static void setStartPage(std::string address);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didFindDownloadableItem(const std::string& MIMEType, const platform::NSURL& URL) override;
    void didFailLoadWithError(platform::UIWebView& webView, const std::optional<platform::NSError>& error) override;
    void webViewDidFinishLoad(platform::UIWebView& webView) override;
    bool shouldStartLoadWithRequest(platform::UIWebView& webView, const platform::NSURLRequest& request, platform::UIWebViewNavigationType navigationType) override;
    void webViewDidStartLoad(platform::UIWebView& webView) override;
    void didReceiveMemoryWarning() override;

    // Actions of the scene.
    void dismiss(platform::UIBarButtonItem& sender);
    void openDownloadableItems(platform::UIBarButtonItem& sender);
    void backToGoogle();
    // Asks for an address and loads it: http and https only; a bare host gets "http://".
    void enterAddress(platform::UIBarButtonItem& sender);

private:
    void loadAddress(const std::string& text);

    std::weak_ptr<platform::UIWebView> m_webView;
    std::vector<DownloadableItem> m_downloadableFiles;
    std::optional<std::string> m_path;
    std::weak_ptr<platform::UIBarButtonItem> m_downloadableItemsButton;
    // A load stopped when the browser was covered, to be made again when it is shown.
    bool m_stoppedLoad = false;
};

}
