#include "app/Utility.h"
#include "app/UtilityOperations.h"
#include "model/Bookmarks.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIProgressView.h"

namespace vesk {

using namespace platform;

namespace {

    // How long a move runs before its progress alert shows.
    constexpr double momentBeforeProgress = 0.5;

    struct ClipboardEntry {
        std::string methode;
        std::vector<std::string> paths;
    };

    // Usable only as a dictionary whose "methode" is a text and whose "paths" is a non-empty
    // list of texts.
    std::optional<ClipboardEntry> readClipboard()
    {
        auto stored = NSUserDefaults::standardUserDefaults()->dictionaryForKey(hashedDefaultsKey6());
        if (!stored)
            return std::nullopt;
        auto* methode = stored->find("methode");
        auto* paths = stored->find("paths");
        if (!methode || !methode->string() || !paths || !paths->array() || paths->array()->empty())
            return std::nullopt;
        ClipboardEntry entry { *methode->string(), {} };
        for (auto& path : *paths->array()) {
            if (!path.string())
                return std::nullopt;
            entry.paths.push_back(*path.string());
        }
        return entry;
    }

    // Where an item inside one that an earlier move of the same paste took lies now: it went
    // along with that one. None when it lies in no such item, or is not there.
    std::optional<std::string> carriedPlace(const std::vector<std::pair<std::string, std::string>>& moved, const std::string& path)
    {
        for (auto& [from, to] : moved) {
            if (!path.starts_with(from) || path.size() <= from.size() || path[from.size()] != '/')
                continue;
            auto place = to + path.substr(from.size());
            if (NSFileManager::defaultManager().attributesOfItemAtPath(place))
                return place;
        }
        return std::nullopt;
    }

    // What a multi-item paste says at the end: the failures, then what arrived; a warning when
    // some of it also stayed where it was.
    void queueSummary(std::size_t pathCount, std::size_t failed, bool sourceLeft = false)
    {
        if (failed > 0)
            operations::queueBanner(localizedFormat("%i item(s) could not be past", { failed }), NotificationType::Warning);
        if (pathCount > 1 && failed < pathCount)
            operations::queueBanner(localizedFormat("%i item(s) have been past", { pathCount - failed }), sourceLeft ? NotificationType::Warning : NotificationType::Success);
    }

}

void Utility::copyCutContent(const Files& files, const std::shared_ptr<UIViewController>& viewController, FinishedCallBack finishedCallBack)
{
    std::vector<std::string> paths;
    for (auto& file : files)
        paths.push_back(file->path());
    std::optional<std::string> singleName;
    if (files.size() == 1)
        singleName = files.front()->name();

    auto alert = UIAlertController::alertControllerWithTitle(localized("Copy/Move"),
        localized("If you select move the file(s) will be deleted after you past it (them) to the new direction."), UIAlertControllerStyle::Alert);
    alert->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    auto utility = handlerCopy();
    alert->addAction(UIAlertAction::actionWithTitle(localized("Copy"), UIAlertActionStyle::Default,
        [utility, paths, singleName, finishedCallBack](UIAlertAction&) { utility->storeClipboard("copy", paths, singleName, finishedCallBack); }));
    alert->addAction(UIAlertAction::actionWithTitle(localized("Move"), UIAlertActionStyle::Destructive,
        [utility, paths, finishedCallBack](UIAlertAction&) {
            std::optional<std::string> singleName;
            if (paths.size() == 1)
                singleName = lastPathComponent(paths.front());
            utility->storeClipboard("cut", paths, singleName, finishedCallBack);
        }));
    if (viewController)
        viewController->presentViewController(alert, true);
}

void Utility::storeClipboard(const std::string& methode, const std::vector<std::string>& paths, const std::optional<std::string>& singleName, FinishedCallBack finishedCallBack)
{
    Array stored;
    for (auto& path : paths)
        stored.push_back(Value(path));
    NSUserDefaults::standardUserDefaults()->setObject(Value(Dictionary { { "methode", Value(methode) }, { "paths", Value(std::move(stored)) } }), hashedDefaultsKey6());
    std::string notice = singleName ? localizedFormat("\"%@\" has been coppied", { *singleName }) : localizedFormat("%i items have been coppied", { paths.size() });
    DispatchQueue::main().async([notice, finishedCallBack] {
        operations::showBanner(notice, NotificationType::Info);
        if (finishedCallBack)
            finishedCallBack();
    });
}

std::shared_ptr<UIAlertAction> Utility::pasteEntry(const std::string& folder, const std::shared_ptr<UIViewController>& viewController)
{
    auto entry = readClipboard();
    if (!entry || !NSFileManager::defaultManager().isWritableFileAtPath(folder))
        return nullptr;
    std::string title = entry->paths.size() == 1
        ? localizedFormat("Past \"%@\"", { lastPathComponent(entry->paths.front()) })
        : localizedFormat("Past %i item(s)", { entry->paths.size() });
    // The entry as read now: a later change of the clipboard does not reach this sheet.
    return UIAlertAction::actionWithTitle(title, UIAlertActionStyle::Default,
        [utility = handlerCopy(), entry = *entry, folder, weakController = std::weak_ptr(viewController)](UIAlertAction&) {
            utility->paste(entry.methode, entry.paths, folder, weakController);
        });
}

// The worker holds the presenting screen weakly, so screens are only let go on the main thread.
void Utility::paste(const std::string& methode, const std::vector<std::string>& paths, const std::string& folder, const std::weak_ptr<UIViewController>& viewController)
{
    DispatchQueue::global(QualityOfService::UserInitiated).async([utility = handlerCopy(), methode, paths, folder, viewController] {
        if (methode == "copy") {
            // Never onto an item of that name, never a folder into itself.
            std::size_t failed = 0;
            for (auto& path : paths) {
                auto name = lastPathComponent(path);
                bool copied = NSFileManager::defaultManager().copyItemAtPath(path, stringByAppendingPathComponent(folder, name));
                if (paths.size() == 1)
                    operations::queueBanner(localizedFormat(copied ? "\"%@\" has been past" : "\"%@\" could not be past", { name }), copied ? NotificationType::Success : NotificationType::Error);
                else if (!copied)
                    ++failed;
            }
            queueSummary(paths.size(), failed);
        } else if (methode == "cut") {
            DispatchQueue::main().async([utility, paths, folder, viewController] {
                std::string title = paths.size() > 1
                    ? localizedFormat("Move %i items", { paths.size() })
                    : localizedFormat("Move \"%@\"", { lastPathComponent(paths.front()) });
                auto alert = UIAlertController::alertControllerWithTitle(title,
                    localized("This action will delete the file(s) in its original directory and pasts it (them) to the current directory!"), UIAlertControllerStyle::Alert);
                alert->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
                alert->addAction(UIAlertAction::actionWithTitle(localized("Move"), UIAlertActionStyle::Destructive,
                    [utility, paths, folder, title, viewController](UIAlertAction&) { utility->moveClipboardItems(paths, folder, title, viewController); }));
                if (auto presenter = viewController.lock())
                    presenter->presentViewController(alert, true);
            });
        }
    });
}

// How a move goes, for its progress alert. Changed on the main thread only; it holds the
// alert and its bar weakly, so that the worker never lets go of a screen.
struct MoveProgress {
    std::size_t total = 0;
    std::size_t done = 0;
    std::string current;
    bool finished = false;
    std::weak_ptr<UIAlertController> alert;
    std::weak_ptr<UIProgressView> bar;

    void show() const
    {
        if (auto shown = bar.lock(); shown && total > 0)
            shown->setProgress(static_cast<float>(static_cast<double>(done) / static_cast<double>(total)));
        if (auto shown = alert.lock())
            shown->setMessage(current.empty() ? std::nullopt : std::optional(current));
    }
};

// Across file systems a move is a copy, so the moves run on a worker; a move that outlasts a
// moment shows the progress alert that unzipping shows, titled as its confirmation was.
void Utility::moveClipboardItems(const std::vector<std::string>& paths, const std::string& folder, const std::string& title, const std::weak_ptr<UIViewController>& viewController)
{
    auto progress = std::make_shared<MoveProgress>();
    progress->total = paths.size();
    DispatchQueue::main().after(momentBeforeProgress, [utility = handlerCopy(), progress, title, viewController] {
        auto presenter = viewController.lock();
        if (progress->finished || !presenter)
            return;
        auto alert = UIAlertController::alertControllerWithTitle(title, std::string(), UIAlertControllerStyle::Alert);
        progress->bar = utility->presentProgressAlert(alert, presenter, CGRectZero);
        progress->alert = alert;
        progress->show();
    });
    DispatchQueue::global(QualityOfService::UserInitiated).async([utility = handlerCopy(), paths, folder, progress] {
        utility->moveWorker(paths, folder, progress);
    });
}

// On the worker: the folder, the bookmarks and the clipboard change in list order, and every
// banner and progress step is queued on the main queue as it happens.
void Utility::moveWorker(const std::vector<std::string>& paths, const std::string& folder, const std::shared_ptr<MoveProgress>& progress)
{
    auto& main = DispatchQueue::main();
    std::size_t failed = 0;
    std::size_t done = 0;
    bool sourceLeft = false;
    // What has arrived so far: where it was, where it is.
    std::vector<std::pair<std::string, std::string>> arrived;
    // Asked before anything moves: the store forgets the bookmark of an item it can't find,
    // and an item inside one moved earlier is no longer where it was.
    std::vector<bool> bookmarked;
    for (auto& path : paths)
        bookmarked.push_back(m_bookmarks->isInBookmarks(*VeskFile::initWithPath(path)));
    for (std::size_t index = 0; index < paths.size(); ++index) {
        auto& path = paths[index];
        auto name = lastPathComponent(path);
        auto target = stringByAppendingPathComponent(folder, name);
        NSError error;
        bool moved = false;
        if (auto carried = carriedPlace(arrived, path)) {
            target = *carried;
            moved = true;
        } else {
            moved = NSFileManager::defaultManager().moveItemAtPath(path, target, &error);
        }
        // Copied whole from another file system, but part of the source could not be removed:
        // the item has arrived, so it is past, not moved, and not lost either.
        bool left = !moved && error.domain == NSFileManagerSourceLeftDomain;
        sourceLeft = sourceLeft || left;
        ++done;
        main.async([progress, name, count = done] {
            progress->done = count;
            progress->current = name;
            progress->show();
        });
        if (!moved && !left) {
            if (paths.size() == 1)
                operations::queueBanner(localizedFormat("\"%@\" could not be moved", { name }), NotificationType::Error);
            else
                ++failed;
            continue;
        }
        arrived.emplace_back(path, target);
        if (bookmarked[index])
            m_bookmarks->save(VeskFile::initWithPath(target));
        NSUserDefaults::standardUserDefaults()->removeObjectForKey(hashedDefaultsKey6());
        if (paths.size() == 1 && left)
            operations::queueBanner(localizedFormat("\"%@\" has been past", { name }), NotificationType::Warning);
        else if (paths.size() == 1)
            operations::queueBanner(localizedFormat("\"%@\" has been moved", { name }), NotificationType::Success);
    }
    queueSummary(paths.size(), failed, sourceLeft);
    main.async([progress] {
        progress->finished = true;
        if (auto shown = progress->alert.lock())
            shown->dismissViewControllerAnimated(true);
    });
}

}
