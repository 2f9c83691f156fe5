#include "app/Utility.h"
#include "app/UtilityOperations.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/uikit/UIAlertController.h"

#include <algorithm>
#include <sys/stat.h>

namespace vesk {

using namespace platform;

namespace {

    bool exists(const std::string& path)
    {
        struct stat st { };
        return ::lstat(path.c_str(), &st) == 0;
    }

    std::string withoutTrailingSlash(std::string path)
    {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }

    bool isInside(const std::string& path, const std::string& folder)
    {
        auto inner = withoutTrailingSlash(path);
        auto outer = withoutTrailingSlash(folder);
        if (outer != "/")
            outer += '/';
        return inner.size() > outer.size() && inner.starts_with(outer);
    }

}

void Utility::deleteFile(const std::shared_ptr<UIViewController>& viewController, const Files& files, CGRect rect, FinishedCallBack finishedCallBack)
{
    if (files.empty())
        return;
    std::string title = files.size() == 1
        ? localizedFormat("Delete \"%@\"", { files.front()->name() })
        : localizedFormat("Delete %i files", { files.size() });
    auto sheet = UIAlertController::alertControllerWithTitle(title, localized("This action can't be reversed"), UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Delete"), UIAlertActionStyle::Destructive,
        [utility = handlerCopy(), files, finishedCallBack](UIAlertAction&) {
            // The callback may hold screens: it is only ever let go on the main thread.
            DispatchQueue::global(QualityOfService::UserInitiated).async([utility, files, finishedCallBack]() mutable {
                utility->deleteWorker(files, std::move(finishedCallBack));
            });
        }));
    presentSheet(sheet, viewController, rect);
}

// On the global queue; everything the user sees goes to the main queue, in order. Removal
// never follows a link: a link in the selection goes, its target stays.
void Utility::deleteWorker(const Files& files, FinishedCallBack finishedCallBack)
{
    auto& main = DispatchQueue::main();
    auto self = handlerCopy();
    if (files.size() == 1) {
        auto file = files.front();
        if (file->deleteFile()) {
            main.async([self, file, message = localizedFormat("\"%@\" has been deleted", { file->name() })] {
                operations::showBanner(message, NotificationType::Success);
                self->notifyDelegateDidDeleteFile(file);
            });
        } else {
            operations::queueBanner(localizedFormat("\"%@\" can't be deleted", { file->name() }), NotificationType::Error);
        }
    } else {
        // An item inside a folder of the same list goes with that folder: gone, not failed.
        std::vector<bool> existed;
        for (auto& file : files)
            existed.push_back(exists(file->path()));
        std::size_t failed = 0;
        for (std::size_t index = 0; index < files.size(); ++index) {
            auto& file = files[index];
            bool gone = file->deleteFile();
            if (!gone && existed[index] && !exists(file->path()))
                gone = std::any_of(files.begin(), files.begin() + static_cast<std::ptrdiff_t>(index), [&](auto& earlier) { return isInside(file->path(), earlier->path()); });
            if (gone)
                main.async([self, file] { self->notifyDelegateDidDeleteFile(file); });
            else
                ++failed;
        }
        if (failed > 0)
            operations::queueBanner(localizedFormat("Could not delete %i Files!", { failed }), NotificationType::Warning);
        else
            operations::queueBanner(localizedFormat("%i files have been deleted", { files.size() }), NotificationType::Success);
    }
    if (finishedCallBack)
        main.async(std::move(finishedCallBack));
}

// Main thread. Only a Utility with a delegate carries the deletion into the bookmarks.
void Utility::notifyDelegateDidDeleteFile(const std::shared_ptr<VeskFile>& file)
{
    auto target = delegate();
    if (!target)
        return;
    m_bookmarks->remove(file);
    target->didDeleteFile(file);
}

}
