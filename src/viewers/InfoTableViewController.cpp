#include "viewers/InfoTableViewController.h"

#include "app/Utility.h"
#include "model/ObjCHelper.h"
#include "model/PlatformUtilities.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "model/VeskFileTypes.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSDateFormatter.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNumberFormatter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PropertyList.h"
#include "platform/uikit/UIPasteboard.h"

namespace vesk {

using namespace platform;

namespace {

    Value row(std::string title, Value subTitle)
    {
        Dictionary entry;
        entry.set("title", Value(std::move(title)));
        entry.set("subTitle", std::move(subTitle));
        return Value(std::move(entry));
    }

    Value titleRow(std::string title)
    {
        Dictionary entry;
        entry.set("title", Value(std::move(title)));
        return Value(std::move(entry));
    }

    Date dateOf(std::chrono::system_clock::time_point time)
    {
        return Date { std::chrono::duration<double>(time.time_since_epoch()).count() };
    }

    std::optional<std::string> textOf(const Value& row, std::string_view key)
    {
        auto* text = row[key].string();
        return text ? std::optional(*text) : std::nullopt;
    }

}

InfoTableViewCell::InfoTableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier))
    , m_utility(std::make_unique<Utility>())
{
    setFrame(CGRectMake(0, 0, frame().size.width, 85));
    auto icon = std::make_shared<UIImageView>(CGRectMake(15, 12.5, 60, 60));
    auto name = std::make_shared<UILabel>(CGRectMake(90, 0, frame().size.width - 105, 85));
    name->setNumberOfLines(2);
    name->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth);
    contentView()->addSubview(icon);
    contentView()->addSubview(name);
    m_fileIcon = icon;
    m_fileName = name;
}

InfoTableViewCell::~InfoTableViewCell() = default;

void InfoTableViewCell::setup()
{
    m_utility->setup();
    if (auto name = fileName())
        name->setText(lastPathComponent(m_path));
    auto self = std::static_pointer_cast<InfoTableViewCell>(shared_from_this());
    DispatchQueue::global(QualityOfService::UserInitiated).async([self, path = m_path]() mutable {
        auto image = VeskFileManager::defaultManager().getImageForFileAtPath(path);
        DispatchQueue::main().async([self = std::move(self), path, image] {
            auto icon = self->fileIcon();
            // A reused cell may show another item by now.
            if (!icon || self->path() != path)
                return;
            // Both sides are held against the view's height.
            CGFloat limit = icon->frame().size.height;
            bool larger = image && (image->size().height > limit || image->size().width > limit);
            icon->setContentMode(larger ? UIViewContentMode::ScaleAspectFit : UIViewContentMode::Center);
            icon->setImage(image);
        });
    });
}

InfoTableViewController::InfoTableViewController()
    : UITableViewController(UITableViewStyle::Grouped)
    , m_utility(std::make_unique<Utility>())
    , m_fm(NSFileManager::defaultManager())
{
}

InfoTableViewController::~InfoTableViewController() = default;

void InfoTableViewController::loadView()
{
    UITableViewController::loadView();
    auto table = tableView();
    table->registerClass("fileCell", [](const std::string& identifier) {
        return std::make_shared<InfoTableViewCell>(UITableViewCellStyle::Default, identifier);
    });
    table->registerClass("basicCell", [](const std::string& identifier) {
        return std::make_shared<UITableViewCell>(UITableViewCellStyle::Value1, identifier);
    });
    std::weak_ptr<UIViewController> weak = weak_from_this();
    navigationItem().setRightBarButtonItem(std::make_shared<UIBarButtonItem>(std::optional<std::string>("Done"), UIBarButtonItemStyle::Done, [weak](UIBarButtonItem&) {
        if (auto screen = std::dynamic_pointer_cast<InfoTableViewController>(weak.lock()))
            screen->dismiss();
    }));
}

void InfoTableViewController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    setTitle(localized("Fileinfo"));
    Dictionary placeholder;
    placeholder.set("", Array { titleRow(m_file ? m_file->name() : std::string()) });
    placeholder.set(localized("Fileinfo"), Array { row(localized("Loading..."), Value("")) });
    placeholder.set(localized("Additional Infos"), Array { row(localized("Loading..."), Value("")) });
    m_content = std::move(placeholder);
    tableView()->reloadData();
    m_utility->setup();
    loadContent();
}

void InfoTableViewController::loadContent()
{
    if (!m_file)
        return;
    auto self = std::static_pointer_cast<InfoTableViewController>(shared_from_this());
    // The screen goes back to the main queue with the facts, so it never ends on a worker.
    DispatchQueue::global(QualityOfService::UserInitiated).async([self]() mutable {
        auto& file = *self->m_file;
        auto path = file.path();
        Dictionary content;
        content.set("", Array { titleRow(path) });
        Array facts {
            row(localized("Posix"), Value(file.posix())),
            row(localized("Size"), Value(VeskFileManager::defaultManager().getSizeOfFileAsString(path))),
            row(localized("Path"), Value(path)),
        };
        NSError error;
        if (auto attributes = self->m_fm.attributesOfItemAtPath(path, &error)) {
            NSDateFormatter formatter;
            formatter.setDateStyle(NSDateFormatterStyle::Medium);
            formatter.setTimeStyle(NSDateFormatterStyle::Medium);
            // Without a recorded birth time the date is unknown, never the start of 1970.
            auto created = attributes->birthDate ? formatter.stringFromDate(dateOf(*attributes->birthDate)) : std::string();
            auto modified = formatter.stringFromDate(dateOf(attributes->modificationDate));
            facts.push_back(row(localized("Created"), Value(created.empty() ? localized("Unknown") : created)));
            facts.push_back(row(localized("Modified"), Value(modified.empty() ? localized("Unknown") : modified)));
        } else {
            debugLog("Error getting attributes of File", __FILE__, __LINE__, __func__);
        }
        content.set(localized("Fileinfo"), std::move(facts));
        if (auto additional = self->getAdditionalInfos()) {
            for (auto& [title, rows] : *additional)
                content.set(title, rows);
        }
        DispatchQueue::main().async([self = std::move(self), content = std::move(content)]() mutable {
            self->m_content = std::move(content);
            self->tableView()->reloadData();
        });
    });
}

std::optional<Dictionary> InfoTableViewController::getAdditionalInfos() const
{
    if (!m_file)
        return std::nullopt;
    auto path = m_file->path();
    Array rows { row("MIME-Type", Value(ObjCHelper().getMimeTypeOfFile(path))) };
    if (m_file->isDir() && !isAppFileAtPath(path)) {
        rows.push_back(row("Subfiles", Value(std::to_string(VeskFileManager::defaultManager().getFiles(path).size()))));
    } else if (isImageFileAtPath(path)) {
        if (auto image = UIImage::imageWithContentsOfFile(path)) {
            NSNumberFormatter formatter;
            formatter.setMinimumFractionDigits(0);
            formatter.setMaximumFractionDigits(1);
            auto size = image->size();
            rows.push_back(row("Dimensions", Value(formatter.stringFromNumber(size.width) + "x" + formatter.stringFromNumber(size.height) + " px")));
        }
    } else if (isAppFileAtPath(path)) {
        if (auto info = propertyListFromFile(stringByAppendingPathComponent(path, "Info.plist")); info && info->dictionary()) {
            static const std::pair<const char*, const char*> facts[] = {
                { "CFBundleIdentifier", "Bundle-ID" },
                { "CFBundleShortVersionString", "Version" },
                { "CFBundleVersion", "Build" },
                { "CFBundleDisplayName", "Name" },
            };
            for (auto [key, title] : facts) {
                if (auto* value = info->dictionary()->find(key))
                    rows.push_back(row(title, *value));
            }
        }
    }
    Dictionary additional;
    additional.set(localized("Additional infos"), std::move(rows));
    return additional;
}

void InfoTableViewController::dismiss()
{
    close();
}

void InfoTableViewController::close()
{
    dismissViewControllerAnimated(true);
}

const Array* InfoTableViewController::rowsOfSection(int section) const
{
    if (section < 0 || static_cast<std::size_t>(section) >= m_content.size())
        return nullptr;
    return (m_content.begin() + section)->second.array();
}

int InfoTableViewController::numberOfSectionsInTableView(UITableView&)
{
    return static_cast<int>(m_content.size());
}

int InfoTableViewController::numberOfRowsInSection(UITableView&, int section)
{
    auto* rows = rowsOfSection(section);
    return rows ? static_cast<int>(rows->size()) : 0;
}

std::shared_ptr<UITableViewCell> InfoTableViewController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    if (indexPath.section == 0) {
        auto cell = std::dynamic_pointer_cast<InfoTableViewCell>(tableView.dequeueReusableCellWithIdentifier("fileCell"));
        if (cell && m_file) {
            cell->setPath(m_file->path());
            cell->setup();
        }
        return cell;
    }
    auto cell = tableView.dequeueReusableCellWithIdentifier("basicCell");
    auto* rows = rowsOfSection(indexPath.section);
    if (!cell || !rows || static_cast<std::size_t>(indexPath.row) >= rows->size())
        return cell;
    auto& entry = (*rows)[static_cast<std::size_t>(indexPath.row)];
    auto title = textOf(entry, "title");
    cell->textLabel()->setText(title);
    cell->detailTextLabel()->setText(textOf(entry, "subTitle"));
    // A path keeps its last part in sight.
    cell->detailTextLabel()->setLineBreakMode(title == localized("Path") ? NSLineBreakMode::ByTruncatingMiddle : NSLineBreakMode::ByTruncatingTail);
    return cell;
}

std::optional<CGFloat> InfoTableViewController::heightForRowAtIndexPath(UITableView&, const NSIndexPath& indexPath)
{
    return indexPath.section == 0 ? 85.0 : 44.0;
}

std::optional<std::string> InfoTableViewController::titleForHeaderInSection(UITableView&, int section)
{
    if (section < 0 || static_cast<std::size_t>(section) >= m_content.size())
        return std::nullopt;
    return (m_content.begin() + section)->first;
}

void InfoTableViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
    if (indexPath.section == 0)
        return;
    auto cell = tableView.cellForRowAtIndexPath(indexPath);
    if (!cell)
        return;
    auto detail = cell->detailTextLabel();
    UIPasteboard::generalPasteboard().setString(detail ? detail->text() : std::nullopt);
    auto title = cell->textLabel()->text().value_or("");
    VeskNotificationManager::showNotification(localizedFormat("\"%@\" has been added to your Clipboard", { title }), NotificationType::Info, {}, {}, 3.0, 0.25);
}

}
