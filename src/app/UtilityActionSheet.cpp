#include "app/Utility.h"
#include "app/UtilityOperations.h"
#include "app/VeskFileListController.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "model/VeskFileTypes.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIDocumentInteractionController.h"

namespace vesk {

using namespace platform;

namespace {

    // A new name is one path component: nothing that climbs, stays put or reaches elsewhere.
    bool isPlainName(const std::string& name)
    {
        return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
    }

}

void Utility::shareFile(const std::shared_ptr<UIViewController>& viewController, CGRect rect, const Files& files)
{
    if (files.empty() || !viewController)
        return;
    auto file = files.front();
    bool fromList = std::dynamic_pointer_cast<VeskFileListController>(viewController) != nullptr;
    auto utility = handlerCopy();
    auto add = [](auto& sheet, const std::string& title, auto handler) {
        sheet->addAction(UIAlertAction::actionWithTitle(title, UIAlertActionStyle::Default, [handler](UIAlertAction&) { handler(); }));
    };

    auto sheet = UIAlertController::alertControllerWithTitle("\"" + file->name() + "\"", std::nullopt, UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    if (file->isReadable() && !file->isDir()) {
        // The menu has to stay referenced while it is on screen.
        auto documentController = std::make_shared<std::shared_ptr<UIDocumentInteractionController>>();
        add(sheet, localized("Share File"), [documentController, file, viewController, rect] {
            *documentController = UIDocumentInteractionController::interactionControllerWithURL(file->url());
            if (!(*documentController)->presentOpenInMenuFromRect(rect, viewController->view(), true))
                operations::showBanner(localizedFormat("No App can open \"%@\"", { file->name() }), NotificationType::Warning);
        });
    }
    // A link that leads nowhere can't be read or written through, but is copied, moved and
    // renamed as the link it is.
    bool dangling = VeskFileManager::defaultManager().isDanglingLinkAtPath(file->path());
    if (file->isReadable() || dangling) {
        add(sheet, localized("Copy/Move"), [utility, files, viewController] { utility->copyCutContent(files, viewController); });
    }
    auto documents = VeskFileManager::defaultManager().getDocumentDirectory();
    if ((file->isReadable() || dangling) && stringByDeletingLastPathComponent(file->path()) != documents) {
        add(sheet, localized("Save to documents"), [utility, file] {
            DispatchQueue::global(QualityOfService::UserInitiated).async([utility, file] { utility->saveToDocumentsWorker(file); });
        });
    }
    if (file->isReadable() && !file->isDir() && fromList) {
        add(sheet, localized("Open as..."), [utility, viewController, rect, file] { utility->openAs(viewController, rect, file); });
    }
    if (file->isReadable() && fromList && !isZipFileAtPath(file->path())) {
        add(sheet, "Zip", [utility, viewController, rect, file] {
            auto archive = stringByAppendingPathComponent(stringByDeletingLastPathComponent(file->path()), "Archive.zip");
            utility->zipContent(archive, { file->path() }, viewController, rect);
        });
    }
    bool renamable = file->isWritable() || (dangling && NSFileManager::defaultManager().isWritableFileAtPath(stringByDeletingLastPathComponent(file->path())));
    if (renamable && fromList) {
        add(sheet, localized("Rename"), [utility, file, viewController] { utility->renameAlert(file, viewController); });
    }
    if (m_bookmarks->isInBookmarks(*file))
        add(sheet, localized("Remove from bookmarks"), [utility, file] { utility->removeFromBookmarks(file); });
    else
        add(sheet, localized("Save to bookmarks"), [utility, file] { utility->saveToBookmarks(file); });
    presentSheet(sheet, viewController, rect);
}

// On the global queue. The copy never replaces an item of that name, and a folder that holds
// Documents is refused rather than copied into itself.
void Utility::saveToDocumentsWorker(const std::shared_ptr<VeskFile>& file)
{
    auto target = stringByAppendingPathComponent(VeskFileManager::defaultManager().getDocumentDirectory(), file->name());
    if (NSFileManager::defaultManager().copyItemAtPath(file->path(), target))
        operations::queueBanner(localizedFormat("\"%@\" has successfully been saved", { file->name() }), NotificationType::Success);
    else
        operations::queueBanner(localizedFormat("\"%@\" could not be saved", { file->name() }), NotificationType::Error);
}

void Utility::saveToBookmarks(const std::shared_ptr<VeskFile>& file)
{
    if (m_bookmarks->save(file))
        operations::showBanner(localizedFormat("\"%@\" has been added to bookmarks", { file->name() }), NotificationType::Info);
}

void Utility::removeFromBookmarks(const std::shared_ptr<VeskFile>& file)
{
    if (m_bookmarks->remove(file))
        operations::showBanner(localizedFormat("\"%@\" has been removed from bookmarks", { file->name() }), NotificationType::Info);
}

void Utility::openAs(const std::shared_ptr<UIViewController>& viewController, CGRect rect, const std::shared_ptr<VeskFile>& file)
{
    if (!file)
        return;
    auto sheet = UIAlertController::alertControllerWithTitle(localizedFormat("Open \"%@\"as...", { file->name() }), std::nullopt, UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    auto utility = handlerCopy();
    using Opener = void (Utility::*)(const std::shared_ptr<VeskFile>&, const std::shared_ptr<UIViewController>&);
    const std::pair<const char*, Opener> choices[] = { { "Text", &Utility::openText }, { "Image", &Utility::openImage }, { "Website", &Utility::openWeb } };
    for (auto [title, open] : choices) {
        sheet->addAction(UIAlertAction::actionWithTitle(localized(title), UIAlertActionStyle::Default,
            [utility, open, file, viewController](UIAlertAction&) { ((*utility).*open)(file, viewController); }));
    }
    presentSheet(sheet, viewController, rect);
}

void Utility::renameAlert(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<UIViewController>& viewController)
{
    auto alert = UIAlertController::alertControllerWithTitle(localizedFormat("Rename \"%@\"", { file->name() }), localized("Please type in the new name"), UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    std::weak_ptr<UIAlertController> weakAlert = alert;
    alert->addAction(UIAlertAction::actionWithTitle(localized("Rename"), UIAlertActionStyle::Default,
        [utility = handlerCopy(), file, weakController = std::weak_ptr(viewController), weakAlert](UIAlertAction&) {
            auto shown = weakAlert.lock();
            std::string name = shown && !shown->textFields().empty() ? shown->textFields().front()->text() : std::string();
            DispatchQueue::global(QualityOfService::UserInitiated).async([utility, file, name, weakController] {
                utility->renameWorker(file, name, weakController);
            });
        }));
    alert->addTextFieldWithConfigurationHandler([&](UITextField& field) { field.setPlaceholder(file->path()); });
    if (viewController)
        viewController->presentViewController(alert, true);
}

// On the global queue. The move never replaces an item already there.
void Utility::renameWorker(const std::shared_ptr<VeskFile>& file, const std::string& newName, const std::weak_ptr<UIViewController>& viewController)
{
    bool bookmarked = m_bookmarks->isInBookmarks(*file);
    auto newPath = stringByAppendingPathComponent(stringByDeletingLastPathComponent(file->path()), newName);
    if (isPlainName(newName) && NSFileManager::defaultManager().moveItemAtPath(file->path(), newPath)) {
        if (bookmarked)
            m_bookmarks->save(VeskFile::initWithPath(newPath));
        operations::queueBanner(localizedFormat("\"%@\" has been renamed", { file->name() }), NotificationType::Success);
        return;
    }
    DispatchQueue::main().async([viewController] {
        auto alert = UIAlertController::alertControllerWithTitle(localized("Error"), localized("There was an error with renaming the file, try another one name..."), UIAlertControllerStyle::Alert);
        alert->addAction(UIAlertAction::actionWithTitle(localized("OK"), UIAlertActionStyle::Cancel, {}));
        if (auto presenter = viewController.lock())
            presenter->presentViewController(alert, true);
    });
}

}
