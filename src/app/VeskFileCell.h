#pragma once

#include "model/FileWatcher.h"
#include "platform/uikit/UITableView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

class Bookmarks;
class Utility;
class VeskFile;

class VeskFileCellDelegate {
public:
    virtual ~VeskFileCellDelegate() = default;
    // Optional: answers false when not implemented.
    virtual bool didDeleteFile(const std::shared_ptr<VeskFile>&) { return false; }
};

// The row of one file or folder in the file list and the bookmarks screen: the name coloured
// by kind, the permission text, the icon (a thumbnail for pictures), a disclosure arrow for
// folders and the bookmark marker. While it shows an item it watches it: the marker follows
// the bookmark state, and the delegate hears when the item has gone.
class VeskFileCell : public platform::UITableViewCell, public FileWatcherDelegate {
public:
    explicit VeskFileCell(std::optional<std::string> reuseIdentifier);
    ~VeskFileCell() override;

    std::shared_ptr<VeskFile> file() const { return m_file; }
    // Set before setup().
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }
    // False before the first setup, after unload and for an unreadable item.
    bool isMultiSelectable() const { return m_privateIsMultiSelectable.value_or(false); }

    const std::shared_ptr<platform::UIImageView>& fileIcon() const { return m_fileIcon; }
    const std::shared_ptr<platform::UILabel>& fileTitle() const { return m_fileTitle; }
    const std::shared_ptr<platform::UILabel>& detailsLabel() const { return m_detailsLabel; }
    // Only its background colour means something: orange while the item is bookmarked.
    const std::shared_ptr<platform::UIView>& favView() const { return m_favView; }

    // Held weakly: the delegate, the bookmarks screen, owns the table that owns the cell.
    std::shared_ptr<VeskFileCellDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(std::weak_ptr<VeskFileCellDelegate> delegate) { m_delegate = std::move(delegate); }

    // Makes the cell show `file`; every time the cell is given a row.
    virtual void setup();
    // Starts the icon and detail line, made off the main thread.
    virtual void update();
    // Quiet: the watcher stopped, the icon cleared, no longer multi-selectable.
    virtual void unload();

    void setHighlighted(bool highlighted, bool animated) override;
    void setSelected(bool selected, bool animated) override;
    void layoutSubviews() override;

    bool changedBookmark(const std::shared_ptr<VeskFile>& file, bool removed) override;
    bool fileHasBeenDeleted(const std::shared_ptr<VeskFile>& file) override;

    // Pictures larger than this are shown by their type icon rather than read for a thumbnail.
    static constexpr std::size_t thumbnailSourceLimit = 32 * 1024 * 1024;

private:
    void showBookmarked(bool bookmarked);

    std::shared_ptr<VeskFile> m_file;
    std::shared_ptr<platform::UIImageView> m_fileIcon;
    std::shared_ptr<platform::UILabel> m_fileTitle;
    std::shared_ptr<platform::UILabel> m_detailsLabel;
    std::shared_ptr<platform::UIView> m_favView;
    std::shared_ptr<FileWatcher> m_fw;
    std::shared_ptr<Bookmarks> m_bookmarks;
    std::shared_ptr<Utility> m_utility;
    std::optional<bool> m_privateIsMultiSelectable;
    std::weak_ptr<VeskFileCellDelegate> m_delegate;
    // Names the latest icon request; an icon made for an older one is dropped on arrival.
    std::uint64_t m_iconRequest = 0;
};

// Unloads the file cells that the table holds for its first `rows` rows. Only those: making a
// cell for every entry just to quiet it would set up and draw one per file, a hundred thousand
// in a large folder. The rows give their cells back, and the table sets them up again when it
// shows them.
void unloadFileCells(platform::UITableView& table, std::size_t rows);

// The "fileCell" set up for a row of `files` (a row outside them gets the cell as it comes).
std::shared_ptr<VeskFileCell> fileCellForRow(platform::UITableView& table, const std::vector<std::shared_ptr<VeskFile>>& files,
    const platform::NSIndexPath& indexPath, const std::shared_ptr<VeskFileCellDelegate>& delegate = nullptr);
// The row's cell when it is a file cell showing an item, else null.
std::shared_ptr<VeskFileCell> fileCellAt(platform::UITableView& table, const platform::NSIndexPath& indexPath);
// The viewer a firm press on the cell previews; null, with the tap feedback, when there is none.
std::shared_ptr<platform::UIViewController> filePreview(Utility& utility, const std::shared_ptr<VeskFileCell>& cell,
    platform::UIViewControllerPreviewing& context);

}
