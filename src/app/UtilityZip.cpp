#include "app/Utility.h"
#include "app/UtilityOperations.h"
#include "model/VeskLocalizer.h"
#include "model/ZipArchive.h"
#include "platform/foundation/Dispatch.h"
#include "platform/graphics/UIColor.h"
#include "platform/uikit/UIActivityIndicatorView.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIProgressView.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

using namespace platform;

namespace {

    // The most lines the zip sheet lists; past that, the last one counts the rest.
    constexpr std::size_t sheetLines = 10;

    bool sameItem(const std::string& a, const std::string& b)
    {
        struct stat first { };
        struct stat second { };
        return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    }

    // An existing archive at the target is no input of the new one.
    std::vector<ZipItem> withoutArchive(std::vector<ZipItem> items, const std::string& archive)
    {
        std::erase_if(items, [&](const ZipItem& item) { return item.path == archive || sameItem(item.path, archive); });
        return items;
    }

    // A hidden file beside the archive, so the archive appears whole or not at all. Empty when
    // none can be made.
    std::string makeTemporaryBeside(const std::string& path)
    {
        static thread_local std::mt19937_64 random { std::random_device {}() };
        auto folder = stringByDeletingLastPathComponent(path);
        for (int attempt = 0; attempt < 16; ++attempt) {
            char suffix[17];
            std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
            auto temporary = stringByAppendingPathComponent(folder, "." + lastPathComponent(path) + "." + suffix);
            int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd >= 0) {
                ::close(fd);
                return temporary;
            }
            if (errno != EEXIST)
                break;
        }
        return {};
    }

    // The finished archive only takes a free name: an item already there, an older archive
    // included, is never replaced.
    bool placeWithoutReplacing(const std::string& from, const std::string& to)
    {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // A file system without that rename: a hard link fails as well when the name is taken.
        if (::link(from.c_str(), to.c_str()) != 0)
            return false;
        ::unlink(from.c_str());
        return true;
    }

    // Whole or not at all: an item that cannot be added leaves no archive.
    bool writeArchive(const std::string& path, const std::vector<ZipItem>& items)
    {
        auto temporary = makeTemporaryBeside(path);
        if (temporary.empty())
            return false;
        if (ZipArchive::createZipFileFromItems(temporary, items) && placeWithoutReplacing(temporary, path))
            return true;
        ::unlink(temporary.c_str());
        return false;
    }

}

void Utility::zipContent(const std::string& path, const std::vector<std::string>& files, const std::shared_ptr<UIViewController>& viewController, CGRect rect, FinishedCallBack finishedCallBack)
{
    // The sheet counts what the worker will write: it is handed this very list. It names the
    // files as the archive will, with their folders, and only the first few: a sheet of
    // thousands of lines would take seconds to lay out, for nobody to read.
    auto items = withoutArchive(zipItemsOf(files), path);
    auto fileCount = static_cast<std::size_t>(std::count_if(items.begin(), items.end(), [](auto& item) { return item.kind != ZipItem::Kind::folder; }));
    std::string message;
    std::size_t listed = 0;
    for (auto& item : items) {
        if (item.kind == ZipItem::Kind::folder)
            continue;
        if (fileCount > sheetLines && listed == sheetLines - 1) {
            message += localizedFormat("… and %i more file(s)", { fileCount - listed }) + "\r";
            break;
        }
        message += "• " + item.name + "\r";
        ++listed;
    }
    auto sheet = UIAlertController::alertControllerWithTitle(localizedFormat("Zip %i file(s)", { fileCount }), message, UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Zip"), UIAlertActionStyle::Default,
        [utility = handlerCopy(), path, items = std::move(items), fileCount, viewController, rect, finishedCallBack](UIAlertAction&) {
            utility->zipWorker(path, items, fileCount, viewController, rect, finishedCallBack);
        }));
    presentSheet(sheet, viewController, rect);
}

void Utility::zipWorker(const std::string& path, const std::vector<ZipItem>& items, std::size_t fileCount, const std::shared_ptr<UIViewController>& viewController, CGRect rect, FinishedCallBack finishedCallBack)
{
    auto alert = UIAlertController::alertControllerWithTitle(localizedFormat("Zipping %i file(s)\"\r\r", { fileCount }), localized("This may take some time..."), UIAlertControllerStyle::Alert);
    auto spinner = UIActivityIndicatorView::initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle::WhiteLarge);
    spinner->setColor(UIColor::blackColor());
    spinner->setCenter(CGPointMake(130.5, 65.5));
    spinner->startAnimating();
    alert->view()->addSubview(spinner);
    presentSheet(alert, viewController, rect);

    // Screens and the callback that may hold them are let go on the main thread only: the
    // worker holds the alert weakly and hands the callback back.
    std::weak_ptr<UIAlertController> weakAlert = alert;
    DispatchQueue::global(QualityOfService::UserInitiated).async([path, items, fileCount, weakAlert, finishedCallBack]() mutable {
        auto& main = DispatchQueue::main();
        if (writeArchive(path, items))
            operations::queueBanner(localizedFormat("Done zipping \"%i\" file(s)", { fileCount }), NotificationType::Success);
        else
            operations::queueBanner(localizedFormat("Error zipping \"%i\" file(s)", { fileCount }), NotificationType::Error);
        main.async([weakAlert] {
            if (auto shown = weakAlert.lock())
                shown->dismissViewControllerAnimated(true);
        });
        if (finishedCallBack)
            main.async(std::move(finishedCallBack));
    });
}

void Utility::openZip(const std::string& path, const std::shared_ptr<UIViewController>& viewController, CGRect rect)
{
    auto name = lastPathComponent(path);
    auto sheet = UIAlertController::alertControllerWithTitle(localizedFormat("Unzip \"%@\"", { name }), std::nullopt, UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, {}));
    auto utility = handlerCopy();
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Unzip here"), UIAlertActionStyle::Default,
        [utility, path, viewController, rect](UIAlertAction&) { utility->unzipProgressAlert(stringByDeletingLastPathComponent(path), path, viewController, rect); }));
    sheet->addAction(UIAlertAction::actionWithTitle(localizedFormat("Unzip in folder \"%@\"", { stringByDeletingPathExtension(name) }), UIAlertActionStyle::Default,
        [utility, path, viewController, rect](UIAlertAction&) { utility->unzipProgressAlert(stringByDeletingPathExtension(path), path, viewController, rect); }));
    presentSheet(sheet, viewController, rect);
}

std::shared_ptr<UIProgressView> Utility::presentProgressAlert(const std::shared_ptr<UIAlertController>& alert, const std::shared_ptr<UIViewController>& viewController, CGRect rect) const
{
    auto frame = alert->view()->frame();
    auto progressView = UIProgressView::initWithProgressViewStyle(UIProgressViewStyle::Bar);
    progressView->setFrame(CGRectMake(0, frame.size.height - 2.5, frame.size.width, 2.5));
    presentSheet(alert, viewController, rect);
    alert->view()->addSubview(progressView);
    alert->view()->bringSubviewToFront(progressView);
    return progressView;
}

void Utility::unzipProgressAlert(const std::string& destination, const std::string& path, const std::shared_ptr<UIViewController>& viewController, CGRect rect)
{
    auto alert = UIAlertController::alertControllerWithTitle(localizedFormat("Unziping \"%@\"", { lastPathComponent(path) }), std::string(), UIAlertControllerStyle::Alert);
    auto progressView = presentProgressAlert(alert, viewController, rect);
    DispatchQueue::global(QualityOfService::UserInitiated).async([path, destination, weakProgress = std::weak_ptr(progressView), weakAlert = std::weak_ptr(alert)] {
        unzipWorker(path, destination, weakProgress, weakAlert);
    });
}

// On the global queue, holding the alert and its bar weakly so that screens are only let go
// on the main thread. Success means every entry arrived: a corrupt entry, a refused name, an
// entry left out beside an existing file or a missing password gives the error banner.
void Utility::unzipWorker(const std::string& path, const std::string& destination, const std::weak_ptr<UIProgressView>& progressView, const std::weak_ptr<UIAlertController>& alert)
{
    auto& main = DispatchQueue::main();
    auto name = lastPathComponent(path);
    bool completed = false;
    // No file already there is ever written over: an entry whose name is taken by other contents
    // is left out, and the run fails.
    bool extracted = ZipArchive::unzipFileAtPath(
        path, destination, false, std::nullopt,
        [&main, progressView, alert](const std::string& entryName, const unz_file_info64&, std::int64_t entryNumber, std::int64_t total) {
            main.async([progressView, alert, entryName, entryNumber, total] {
                if (total <= 0)
                    return;
                if (auto bar = progressView.lock())
                    bar->setProgress(static_cast<float>(static_cast<double>(entryNumber) / static_cast<double>(total)));
                if (auto shown = alert.lock())
                    shown->setMessage(entryName.empty() ? std::nullopt : std::optional(entryName));
            });
        },
        [&completed](const std::optional<std::string>&, bool succeeded, const std::optional<ZipArchiveError>&) { completed = succeeded; });
    if (extracted && completed)
        operations::queueBanner(localizedFormat("Succesfully unzipped \"%@\"", { name }), NotificationType::Success);
    else
        operations::queueBanner(localizedFormat("Error unzipping \"%@\"", { name }), NotificationType::Error);
    main.async([alert] {
        if (auto shown = alert.lock())
            shown->dismissViewControllerAnimated(true);
    });
}

}
