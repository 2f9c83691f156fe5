#include "app/Utility.h"
#include "app/UtilityOperations.h"
#include "model/Bookmarks.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/uikit/UIAlertController.h"

namespace vesk {

using namespace platform;

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
        std::size_t failed = 0;
        for (auto& file : files) {
            if (file->deleteFile())
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
