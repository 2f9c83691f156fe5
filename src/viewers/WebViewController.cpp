#include "viewers/WebViewController.h"

#include "model/PlatformUtilities.h"
#include "model/VeskFile.h"
#include "platform/uikit/UIApplication.h"

namespace vesk {

using namespace platform;

void WebViewController::loadView()
{
    UIViewController::loadView();
    auto web = std::make_shared<UIWebView>(loadScene({}));
    view()->addSubview(web);
    setWebView(web);
}

void WebViewController::viewDidLoad()
{
    VeskFileViewController::viewDidLoad();
    auto web = webView();
    if (!web || !file())
        return;
    NSURLRequest request(file()->url());
    web->setDelegate(std::static_pointer_cast<WebViewController>(shared_from_this()));
    web->loadRequest(request);
}

void WebViewController::viewWillAppear(bool animated)
{
    VeskFileViewController::viewWillAppear(animated);
    if (auto web = webView())
        web->setOnScreen(true);
}

// Covered, the page may lose its renderer to a screen on top; it gets one again when shown.
void WebViewController::viewDidDisappear(bool animated)
{
    VeskFileViewController::viewDidDisappear(animated);
    if (auto web = webView())
        web->setOnScreen(false);
}

void WebViewController::didReceiveMemoryWarning()
{
    gotMemoryWarning(__FILE__);
}

void WebViewController::webViewDidStartLoad(UIWebView&)
{
    UIApplication::sharedApplication().setNetworkActivityIndicatorVisible(true);
}

void WebViewController::webViewDidFinishLoad(UIWebView&)
{
    UIApplication::sharedApplication().setNetworkActivityIndicatorVisible(false);
}

void WebViewController::didFailLoadWithError(UIWebView&, const std::optional<NSError>& error)
{
    UIApplication::sharedApplication().setNetworkActivityIndicatorVisible(false);
    debugLog("Error loading webfile: " + (error ? error->localizedDescription : std::string()), __FILE__, __LINE__, __func__);
    showErrorAndClose();
}

}
