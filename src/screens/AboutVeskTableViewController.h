#pragma once

#include "platform/uikit/MFMailComposeViewController.h"
#include "platform/uikit/SFSafariViewController.h"
#include "platform/uikit/UITableView.h"

namespace vesk {

// The app icon row of the About screen; the storyboard connects its image view.
class AboutVeskIconTableViewCell : public platform::UITableViewCell {
public:
    AboutVeskIconTableViewCell(platform::UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);

    std::shared_ptr<platform::UIImageView> iconImageView() const { return m_iconImageView.lock(); }
    void setIconImageView(const std::shared_ptr<platform::UIImageView>& view) { m_iconImageView = view; }
    void layoutSubviews() override;

private:
    std::weak_ptr<platform::UIImageView> m_iconImageView;
};

// "About Vesk": the app icon, version and build, the developer's page, and the ways to report
// a bug (the issue tracker or a prefilled mail).
class AboutVeskTableViewController : public platform::UITableViewController, public platform::MFMailComposeViewControllerDelegate, public platform::SFSafariViewControllerDelegate {
public:
    AboutVeskTableViewController();

    void viewDidLoad() override;
    void didReceiveMemoryWarning() override;
    int numberOfSectionsInTableView(platform::UITableView& tableView) override;
    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<platform::CGFloat> heightForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    void didFinishWithResult(platform::MFMailComposeViewController& controller, platform::MFMailComposeResult result, const std::optional<platform::NSError>& error) override;

private:
    void openPage(const std::string& address);
    void reportBug(platform::UITableView& tableView, const platform::NSIndexPath& indexPath);
    void sendBugMail();
};

}
