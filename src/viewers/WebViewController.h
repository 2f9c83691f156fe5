#pragma once

#include "platform/uikit/UIWebView.h"
#include "viewers/VeskFileViewController.h"

namespace vesk {

// A file shown in a web view from its own file URL: pages (with what they reference beside
// them), PDF and the few document formats the web view takes. A failed load closes the screen
// with the error banner.
class WebViewController : public VeskFileViewController, public platform::UIWebViewDelegate {
public:
    std::shared_ptr<platform::UIWebView> webView() const { return m_webView.lock(); }
    void setWebView(const std::shared_ptr<platform::UIWebView>& view) { m_webView = view; }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didReceiveMemoryWarning() override;
    void webViewDidStartLoad(platform::UIWebView& webView) override;
    void webViewDidFinishLoad(platform::UIWebView& webView) override;
    void didFailLoadWithError(platform::UIWebView& webView, const std::optional<platform::NSError>& error) override;

private:
    std::weak_ptr<platform::UIWebView> m_webView;
};

}
