#pragma once

#include "platform/foundation/Value.h"
#include "platform/uikit/UITableView.h"

#include <memory>
#include <optional>
#include <string>

namespace vesk::platform {
class NSFileManager;
}

namespace vesk {

class Utility;
class VeskFile;

// The header row of the file-information screen: the item's icon and name.
class InfoTableViewCell : public platform::UITableViewCell {
public:
    InfoTableViewCell(platform::UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    ~InfoTableViewCell() override;

    const std::string& path() const { return m_path; }
    void setPath(std::string path) { m_path = std::move(path); }
    std::shared_ptr<platform::UIImageView> fileIcon() const { return m_fileIcon.lock(); }
    std::shared_ptr<platform::UILabel> fileName() const { return m_fileName.lock(); }

    // Shows the name of `path` and loads its icon in the background.
    void setup();

private:
    std::string m_path;
    std::weak_ptr<platform::UIImageView> m_fileIcon;
    std::weak_ptr<platform::UILabel> m_fileName;
    std::unique_ptr<Utility> m_utility;
};

// The facts about one file or folder: a header row, the section "Fileinfo" (permissions, size,
// path, dates) and "Additional infos" (MIME type and what depends on the kind of item). They
// are gathered on a background queue; "Loading..." rows stand in until then. Tapping a fact
// copies it to the pasteboard.
class InfoTableViewController : public platform::UITableViewController {
public:
    InfoTableViewController();
    ~InfoTableViewController() override;

    std::shared_ptr<VeskFile> file() const { return m_file; }
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }
    // Section title to its rows ({"title", "subTitle"} dictionaries), the header section ""
    // first.
    const platform::Dictionary& content() const { return m_content; }
    void setContent(platform::Dictionary content) { m_content = std::move(content); }

    void loadView() override;
    void viewDidLoad() override;
    virtual void loadContent();
    // The additional section as a one-entry map from its title to its rows.
    virtual std::optional<platform::Dictionary> getAdditionalInfos() const;
    virtual void dismiss();
    virtual void close();

    int numberOfSectionsInTableView(platform::UITableView& tableView) override;
    int numberOfRowsInSection(platform::UITableView& tableView, int section) override;
    std::shared_ptr<platform::UITableViewCell> cellForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<platform::CGFloat> heightForRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;
    std::optional<std::string> titleForHeaderInSection(platform::UITableView& tableView, int section) override;
    void didSelectRowAtIndexPath(platform::UITableView& tableView, const platform::NSIndexPath& indexPath) override;

private:
    const platform::Array* rowsOfSection(int section) const;

    std::shared_ptr<VeskFile> m_file;
    std::unique_ptr<Utility> m_utility;
    platform::NSFileManager& m_fm;
    platform::Dictionary m_content;
};

}
