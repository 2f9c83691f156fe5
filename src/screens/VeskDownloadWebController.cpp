#include "screens/VeskDownloadWebController.h"

#include "app/Utility.h"
#include "model/VeskFileTypes.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURLConnection.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIStoryboard.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <utility>

namespace vesk {

using namespace platform;

namespace {

    std::string& startPageAddress()
    {
        static std::string address = "http://www.google.com/";
        return address;
    }

    bool isSchemeName(std::string_view text)
    {
        if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front())))
            return false;
        for (char c : text) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
                return false;
        }
        return true;
    }

    std::string lowercase(std::string text)
    {
        for (auto& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    // What a person typed, as a web address: a host without a scheme ("example.org",
    // "localhost:8080/a") is taken as http; any scheme but http and https is refused, so the
    // field never opens files, scripts or other apps.
    std::optional<NSURL> webAddress(std::string_view typed)
    {
        auto begin = typed.find_first_not_of(" \t\r\n");
        if (begin == std::string_view::npos)
            return std::nullopt;
        auto text = typed.substr(begin, typed.find_last_not_of(" \t\r\n") - begin + 1);
        auto colon = text.find(':');
        bool hasScheme = colon != std::string_view::npos && isSchemeName(text.substr(0, colon))
            && !(colon + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[colon + 1])));
        auto url = NSURL::URLWithString(hasScheme ? std::string(text) : "http://" + std::string(text));
        if (!url || url->host().empty())
            return std::nullopt;
        auto scheme = lowercase(url->scheme());
        if (scheme != "http" && scheme != "https")
            return std::nullopt;
        return url;
    }

}

std::string VeskDownloadWebController::startPage()
{
    return startPageAddress();
}

void VeskDownloadWebController::setStartPage(std::string address)
{
    startPageAddress() = std::move(address);
}

void VeskDownloadWebController::loadView()
{
    UIViewController::loadView();
    // The page starts below the status and navigation bars, where it can be seen and clicked.
    auto barBottom = topLayoutGuide().length;
    auto bounds = view()->bounds();
    auto web = std::make_shared<UIWebView>(CGRectMake(0, barBottom, bounds.size.width, std::max<CGFloat>(0, bounds.size.height - barBottom)));
    web->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth | UIViewAutoresizing::FlexibleHeight);
    view()->addSubview(web);
    setWebView(web);
}

void VeskDownloadWebController::viewDidLoad()
{
    UIViewController::viewDidLoad();
    auto self = std::static_pointer_cast<VeskDownloadWebController>(shared_from_this());
    auto cache = std::make_shared<VeskDownloadURLCache>();
    cache->setDiskCapacity(10 * 1024 * 1024);
    cache->setMemoryCapacity(512 * 1024);
    cache->setDelegate(self);
    NSURLCache::setSharedURLCache(cache);
    if (auto web = webView())
        web->setDelegate(self);
    backToGoogle();
}

void VeskDownloadWebController::viewWillAppear(bool animated)
{
    UIViewController::viewWillAppear(animated);
    auto web = webView();
    if (!web)
        return;
    web->setOnScreen(true);
    // A page cut short when the browser was covered would stay half loaded and dead.
    if (std::exchange(m_stoppedLoad, false) && web->request() && !web->isLoading())
        web->loadRequest(*web->request());
}

void VeskDownloadWebController::viewDidDisappear(bool animated)
{
    UIViewController::viewDidDisappear(animated);
    auto web = webView();
    if (!web)
        return;
    m_stoppedLoad = web->isLoading();
    web->stopLoading();
    web->setOnScreen(false);
}

void VeskDownloadWebController::didFindDownloadableItem(const std::string& MIMEType, const NSURL& URL)
{
    if (auto button = downloadableItemsButton())
        button->setEnabled(true);
    m_downloadableFiles.push_back({ MIMEType, URL });
    std::cout << MIMEType << " --> " << URL.absoluteString() << std::endl;
}

void VeskDownloadWebController::didFailLoadWithError(UIWebView&, const std::optional<NSError>& error)
{
    setTitle(error ? std::optional(error->localizedDescription) : std::nullopt);
}

void VeskDownloadWebController::webViewDidFinishLoad(UIWebView& webView)
{
    auto& request = webView.request();
    if (request && !request->URL.host().empty())
        setTitle(request->URL.host());
    else
        setTitle(std::nullopt);
    if (auto button = downloadableItemsButton())
        button->setEnabled(true);
}

bool VeskDownloadWebController::shouldStartLoadWithRequest(UIWebView&, const NSURLRequest& request, UIWebViewNavigationType)
{
    auto path = request.URL.path();
    if (path.empty() || !isVideoFileAtPath(path))
        return true;
    auto name = lastPathComponent(request.URL.absoluteString());
    auto alert = UIAlertController::alertControllerWithTitle(localized("Download video"),
        localizedFormat("Do you want to download \"%@\"", { name }), UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, nullptr));
    // Nothing is downloaded yet: the action only closes the alert.
    alert->addAction(UIAlertAction::actionWithTitle("Download", UIAlertActionStyle::Default, [](UIAlertAction&) {}));
    presentViewController(alert, true);
    return true;
}

void VeskDownloadWebController::webViewDidStartLoad(UIWebView&)
{
    std::cout << "\n==== NEW PAGALOAD ====\n"
              << std::endl;
    m_downloadableFiles.clear();
}

void VeskDownloadWebController::didReceiveMemoryWarning()
{
    UIViewController::didReceiveMemoryWarning();
}

void VeskDownloadWebController::dismiss(UIBarButtonItem&)
{
    dismissViewControllerAnimated(true);
}

void VeskDownloadWebController::openDownloadableItems(UIBarButtonItem&)
{
    auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskDownloadTableViewController>("downloadView");
    if (!list)
        return;
    list->setDownloadableFiles(m_downloadableFiles);
    list->setPath(m_path.value_or(""));
    auto navigation = UINavigationController::initWithRootViewController(list);
    navigation->setModalPresentationStyle(Utility().isIpad() ? UIModalPresentationStyle::FormSheet : UIModalPresentationStyle::FullScreen);
    presentViewController(navigation, true);
}

void VeskDownloadWebController::backToGoogle()
{
    auto web = webView();
    auto url = NSURL::URLWithString(startPage());
    if (!web || !url)
        return;
    NSURLRequest request(*url);
    setTitle(localizedFormat("Loading %@...", { url->host() }));
    web->loadRequest(request);
}

void VeskDownloadWebController::enterAddress(UIBarButtonItem&)
{
    auto alert = UIAlertController::alertControllerWithTitle(localized("Open address"), std::nullopt, UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([](UITextField& field) {
        field.setPlaceholder("http://");
        field.setKeyboardType(UIKeyboardType::URL);
        field.setAutocapitalizationType(UITextAutocapitalizationType::None);
        field.setAutocorrectionType(UITextAutocorrectionType::No);
        field.setClearButtonMode(UITextFieldViewMode::WhileEditing);
    });
    std::weak_ptr<VeskDownloadWebController> weakSelf = std::static_pointer_cast<VeskDownloadWebController>(shared_from_this());
    alert->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, nullptr));
    alert->addAction(UIAlertAction::actionWithTitle(localized("Open"), UIAlertActionStyle::Default, [weakSelf, field = alert->textFields().front()](UIAlertAction&) {
        if (auto self = weakSelf.lock())
            self->loadAddress(field->text());
    }));
    presentViewController(alert, true);
}

void VeskDownloadWebController::loadAddress(const std::string& text)
{
    auto web = webView();
    if (!web)
        return;
    auto url = webAddress(text);
    if (!url) {
        didFailLoadWithError(*web, NSError { std::string(NSURLErrorDomain), NSURLErrorUnsupportedURL, "unsupported URL", {} });
        return;
    }
    web->loadRequest(NSURLRequest(*url));
}

}
