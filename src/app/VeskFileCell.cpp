#include "app/VeskFileCell.h"

#include "app/Utility.h"
#include "assets/VeskAssets.h"
#include "model/Bookmarks.h"
#include "model/PlatformUtilities.h"
#include "model/VeskFile.h"
#include "model/VeskFileTypes.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileData.h"
#include "platform/graphics/UIGraphics.h"

namespace vesk {

using namespace platform;

namespace {

    constexpr CGFloat markerWidth = 4;
    constexpr CGFloat iconSide = 44;
    constexpr CGFloat textLeft = 62;
    constexpr CGFloat accessoryWidth = 34;

    // The item's picture. A picture file is read only when it is a regular file within the
    // limit, without waiting on a FIFO or device; any other item asks its record.
    std::shared_ptr<UIImage> iconOf(const VeskFile& file)
    {
        auto path = file.path();
        if (file.isDir() || !isImageFileAtPath(path))
            return file.icon();
        auto contents = readFileContents(path, VeskFileCell::thumbnailSourceLimit);
        return contents ? UIImage::imageWithData(*contents) : nullptr;
    }

    // The icon as the row shows it: pictures scaled to fit the icon view, keeping their shape.
    std::shared_ptr<UIImage> rowImage(const VeskFile& file, CGRect iconBounds)
    {
        auto icon = iconOf(file);
        if (!icon)
            return VeskAssets::imageOfFileIconWithFileFillColor(VeskAssets::flatPurple(), file.suffix());
        if (!isImageFileAtPath(file.path()))
            return icon;
        auto fitted = AVMakeRectWithAspectRatioInsideRect(icon->size(), iconBounds);
        if (fitted.size.width < 1 || fitted.size.height < 1)
            return icon;
        UIGraphicsBeginImageContextWithOptions(fitted.size, false, 0);
        icon->drawInRect(CGRectMake(0, 0, fitted.size.width, fitted.size.height));
        auto thumbnail = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        return thumbnail ? thumbnail : icon;
    }

}

VeskFileCell::VeskFileCell(std::optional<std::string> reuseIdentifier)
    : UITableViewCell(UITableViewCellStyle::Subtitle, std::move(reuseIdentifier))
    , m_fileIcon(imageView())
    , m_fileTitle(textLabel())
    , m_detailsLabel(detailTextLabel())
    , m_favView(std::make_shared<UIView>())
    , m_fw(std::make_shared<FileWatcher>())
    , m_bookmarks(std::make_shared<Bookmarks>())
    , m_utility(std::make_shared<Utility>())
{
    contentView()->addSubview(m_favView);
    m_fileIcon->setContentMode(UIViewContentMode::Center);
    m_detailsLabel->setFont(UIFont::systemFontOfSize(12));
    m_detailsLabel->setTextColor(UIColor::grayColor());
    layoutSubviews();
}

VeskFileCell::~VeskFileCell()
{
    debugLog("deinit cell", __FILE__, __LINE__, __func__);
    unload();
}

void VeskFileCell::layoutSubviews()
{
    auto size = frame().size;
    CGFloat textWidth = size.width - textLeft - (accessoryType() == UITableViewCellAccessoryType::None ? 8 : accessoryWidth);
    contentView()->setFrame(bounds());
    m_favView->setFrame(CGRectMake(0, 0, markerWidth, size.height));
    m_fileIcon->setFrame(CGRectMake(12, (size.height - iconSide) / 2, iconSide, iconSide));
    m_fileTitle->setFrame(CGRectMake(textLeft, 6, textWidth, 22));
    m_detailsLabel->setFrame(CGRectMake(textLeft, size.height - 24, textWidth, 18));
}

void VeskFileCell::setup()
{
    if (!m_file)
        return;
    m_bookmarks->setup();
    m_fw->setDelegate(std::static_pointer_cast<VeskFileCell>(shared_from_this()));
    m_fw->setup(m_file);
    m_fw->start();
    m_utility->setup();
    m_favView->setBackgroundColor(backgroundColor());
    m_fileTitle->setText(m_file->name());
    update();
    m_privateIsMultiSelectable = true;
    if (m_file->isDir()) {
        m_fileTitle->setTextColor(UIColor::blueColor());
        setAccessoryType(UITableViewCellAccessoryType::DisclosureIndicator);
    } else {
        m_fileTitle->setTextColor(UIColor::blackColor());
        setAccessoryType(UITableViewCellAccessoryType::None);
    }
    if (!m_file->isReadable()) {
        m_fileTitle->setTextColor(UIColor::redColor());
        setAccessoryType(UITableViewCellAccessoryType::None);
        m_privateIsMultiSelectable = false;
    }
    layoutSubviews();
    showBookmarked(m_bookmarks->isInBookmarks(*m_file));
}

void VeskFileCell::update()
{
    if (!m_file)
        return;
    auto request = ++m_iconRequest;
    std::weak_ptr<UIView> weakSelf = weak_from_this();
    DispatchQueue::global(QualityOfService::UserInitiated).async([weakSelf, file = m_file, bounds = m_fileIcon->bounds(), request] {
        auto image = rowImage(*file, bounds);
        auto details = file->posix();
        DispatchQueue::main().async([weakSelf, image = std::move(image), details = std::move(details), request] {
            auto self = std::static_pointer_cast<VeskFileCell>(weakSelf.lock());
            // A cell given another item, or unloaded, since: the result is no longer its own.
            if (!self || request != self->m_iconRequest)
                return;
            // An icon larger than its place is fitted into it, so it stays inside the row.
            auto place = self->m_fileIcon->bounds().size;
            bool larger = image && (image->size().width > place.width || image->size().height > place.height);
            self->m_fileIcon->setContentMode(larger ? UIViewContentMode::ScaleAspectFit : UIViewContentMode::Center);
            self->m_fileIcon->setImage(image);
            self->m_detailsLabel->setText(details);
        });
    });
}

void VeskFileCell::unload()
{
    m_fw->stop();
    m_fileIcon->setImage(nullptr);
    ++m_iconRequest;
    m_privateIsMultiSelectable = false;
}

void VeskFileCell::setHighlighted(bool highlighted, bool animated)
{
    auto marker = m_favView->backgroundColor();
    UITableViewCell::setHighlighted(highlighted, animated);
    m_favView->setBackgroundColor(marker);
}

void VeskFileCell::setSelected(bool selected, bool animated)
{
    auto marker = m_favView->backgroundColor();
    UITableViewCell::setSelected(selected, animated);
    m_favView->setBackgroundColor(marker);
}

void VeskFileCell::showBookmarked(bool bookmarked)
{
    auto marker = m_favView;
    UIView::animateWithDuration(0.2, [&] {
        marker->setBackgroundColor(bookmarked ? VeskAssets::flatOrange() : UIColor::clearColor());
    });
}

bool VeskFileCell::changedBookmark(const std::shared_ptr<VeskFile>&, bool removed)
{
    showBookmarked(!removed);
    return true;
}

bool VeskFileCell::fileHasBeenDeleted(const std::shared_ptr<VeskFile>& file)
{
    auto listener = delegate();
    if (!listener)
        return true;
    // The delegate may reload its table, which recycles this cell.
    auto keep = shared_from_this();
    listener->didDeleteFile(file);
    m_fw->stop();
    return true;
}

void unloadFileCells(UITableView& table, std::size_t rows)
{
    std::vector<NSIndexPath> unloaded;
    // The table's cells are its subviews; asking for visible cells could make new ones.
    for (auto& view : table.subviews()) {
        auto fileCell = std::dynamic_pointer_cast<VeskFileCell>(view);
        auto row = fileCell ? table.indexPathForCell(*fileCell) : std::nullopt;
        if (!row || static_cast<std::size_t>(row->row) >= rows)
            continue;
        fileCell->unload();
        unloaded.push_back(*row);
    }
    if (!unloaded.empty())
        table.reloadRowsAtIndexPaths(unloaded, UITableViewRowAnimation::None);
}

std::shared_ptr<VeskFileCell> fileCellForRow(UITableView& table, const std::vector<std::shared_ptr<VeskFile>>& files,
    const NSIndexPath& indexPath, const std::shared_ptr<VeskFileCellDelegate>& delegate)
{
    auto cell = std::dynamic_pointer_cast<VeskFileCell>(table.dequeueReusableCellWithIdentifier("fileCell"));
    if (!cell)
        cell = std::make_shared<VeskFileCell>("fileCell");
    if (indexPath.row < 0 || indexPath.row >= static_cast<int>(files.size()))
        return cell;
    cell->setFile(files[static_cast<std::size_t>(indexPath.row)]);
    cell->setup();
    if (delegate)
        cell->setDelegate(delegate);
    return cell;
}

std::shared_ptr<VeskFileCell> fileCellAt(UITableView& table, const NSIndexPath& indexPath)
{
    auto cell = std::dynamic_pointer_cast<VeskFileCell>(table.cellForRowAtIndexPath(indexPath));
    return cell && cell->file() ? cell : nullptr;
}

std::shared_ptr<UIViewController> filePreview(Utility& utility, const std::shared_ptr<VeskFileCell>& cell, UIViewControllerPreviewing& context)
{
    auto preview = cell && cell->file() && cell->file()->isReadable() ? utility.getViewControllerForPath(cell->file()) : nullptr;
    if (!preview) {
        postTapNotification();
        return nullptr;
    }
    preview->setPreferredContentSize(CGSizeMake(0, 400));
    context.setSourceRect(cell->frame());
    return preview;
}

}
