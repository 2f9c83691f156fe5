#include "assets/VeskAssets.h"

#include "platform/graphics/UIGraphics.h"

#include <array>
#include <mutex>

namespace vesk {

using platform::CGSize;
using platform::UIColor;
using platform::UIImage;

// Palette: each colour is made once, by its own guard, on first use.
#define VESK_PALETTE_COLOR(name, red, green, blue)                                        \
    const VeskAssets::UIColorPtr& VeskAssets::name()                                      \
    {                                                                                     \
        static const UIColorPtr color = std::make_shared<UIColor>(red, green, blue, 1.0); \
        return color;                                                                     \
    }

VESK_PALETTE_COLOR(iOSDefaultTint, 0.09, 0.494, 0.984)
VESK_PALETTE_COLOR(flatGreen, 0.224, 0.792, 0.455)
VESK_PALETTE_COLOR(flatBlue, 0.271, 0.522, 0.831)
VESK_PALETTE_COLOR(flatYellow, 0.973, 0.745, 0.286)
VESK_PALETTE_COLOR(flatOrange, 0.969, 0.412, 0.145)
VESK_PALETTE_COLOR(flatRed, 0.937, 0.161, 0.137)
VESK_PALETTE_COLOR(flatPurple, 0.6, 0.129, 0.694)
VESK_PALETTE_COLOR(flatDeepBlue, 0.137, 0.192, 0.243)
VESK_PALETTE_COLOR(glypishFillColor, 0.945, 0.957, 0.961)
VESK_PALETTE_COLOR(txtColor, 0.318, 0.314, 0.314)
VESK_PALETTE_COLOR(xmlColor, 0.851, 0.647, 0.435)
VESK_PALETTE_COLOR(logColor, 0.969, 0.416, 0.137)
VESK_PALETTE_COLOR(shColor, 0.161, 0.675, 0.38)
VESK_PALETTE_COLOR(cColor, 0.878, 0.271, 0.298)
VESK_PALETTE_COLOR(cppColor, 0.988, 0.337, 0.243)
VESK_PALETTE_COLOR(hColor, 0.153, 0.455, 0.659)
VESK_PALETTE_COLOR(mColor, 0.78, 0.58, 0.184)
VESK_PALETTE_COLOR(phpColor, 0.357, 0.318, 0.282)
VESK_PALETTE_COLOR(rbColor, 0.741, 0.082, 0.078)
VESK_PALETTE_COLOR(pyColor, 0.208, 0.38, 0.345)
VESK_PALETTE_COLOR(plColor, 0.945, 0.714, 0.212)
VESK_PALETTE_COLOR(listColor, 0.106, 0.659, 0.635)
VESK_PALETTE_COLOR(infoColor, 0.392, 0.506, 0.635)
VESK_PALETTE_COLOR(inColor, 0.494, 0.451, 0.165)
VESK_PALETTE_COLOR(diffColor, 0.718, 0.725, 0.149)
VESK_PALETTE_COLOR(hexColor, 0.118, 0.118, 0.157)
VESK_PALETTE_COLOR(cssColor, 0.094, 0.631, 0.533)
VESK_PALETTE_COLOR(jsColor, 0.984, 0.835, 0.561)
VESK_PALETTE_COLOR(confColor, 0.157, 0.502, 0.733)
VESK_PALETTE_COLOR(htmlColor, 0.443, 0.353, 0.204)
VESK_PALETTE_COLOR(pdfColor, 0.753, 0.208, 0.259)
VESK_PALETTE_COLOR(plistColor, 0.153, 0.651, 0.361)
VESK_PALETTE_COLOR(jsonColor, 0.718, 0.369, 0.161)
VESK_PALETTE_COLOR(debColor, 0.565, 0.4, 0.235)
VESK_PALETTE_COLOR(ipaColor, 0.957, 0.169, 0.267)
VESK_PALETTE_COLOR(swiftColor, 1, 0.463, 0.145)
VESK_PALETTE_COLOR(zipColor, 0.925, 0.925, 0.925)

#undef VESK_PALETTE_COLOR

namespace {

    // A new image of the canvas (not opaque, at the main screen's scale) holding the drawing.
    template<typename Draw>
    VeskAssets::UIImagePtr renderIcon(CGSize canvas, Draw draw)
    {
        platform::UIGraphicsBeginImageContextWithOptions(canvas, false, 0);
        draw();
        auto image = platform::UIGraphicsGetImageFromCurrentImageContext();
        platform::UIGraphicsEndImageContext();
        return image;
    }

    // The image slot of an icon without parameters: drawn once, even when several threads ask
    // for it first at the same time.
    struct CachedIcon {
        std::once_flag once;
        VeskAssets::UIImagePtr image;
    };

    VeskAssets::UIImagePtr cachedIcon(CachedIcon& slot, CGSize canvas, void (*draw)())
    {
        std::call_once(slot.once, [&] { slot.image = renderIcon(canvas, draw); });
        return slot.image;
    }

}

#define VESK_CACHED_ICON(maker, routine, width, height)                   \
    VeskAssets::UIImagePtr VeskAssets::maker()                            \
    {                                                                     \
        static CachedIcon slot;                                           \
        return cachedIcon(slot, { width, height }, &VeskAssets::routine); \
    }

VESK_CACHED_ICON(imageOfVeskIcon, drawVeskIcon, 1024, 1024)
VESK_CACHED_ICON(imageOfSwiftIcon, drawSwiftIcon, 40, 52)
VESK_CACHED_ICON(imageOfZipIcon, drawZipIcon, 40, 51)
VESK_CACHED_ICON(imageOfTrashIcon, drawTrashIcon, 25, 31)
VESK_CACHED_ICON(imageOfBookmarkIcon, drawBookmarkIcon, 36, 31)
VESK_CACHED_ICON(imageOfCutIcon, drawCutIcon, 32, 31)
VESK_CACHED_ICON(imageOfComposeIcon, drawComposeIcon, 32, 31)
VESK_CACHED_ICON(imageOfShareIcon, drawShareIcon, 23, 31)
VESK_CACHED_ICON(imageOfPackageIcon, drawPackageIcon, 32, 31)
VESK_CACHED_ICON(imageOfDynamicCopy, drawDynamicCopy, 20, 31)
VESK_CACHED_ICON(imageOfMenueIcon, drawMenueIcon, 50, 31)
VESK_CACHED_ICON(imageOfLinkIcon, drawLinkIcon, 31, 31)
VESK_CACHED_ICON(imageOfInfoButton, drawInfoButton, 31, 31)
VESK_CACHED_ICON(imageOfSelectedInfoButton, drawSelectedInfoButton, 30, 30)
VESK_CACHED_ICON(imageOfDocumentIcon, drawDocumentIcon, 35, 31)
VESK_CACHED_ICON(imageOfGearIcon, drawGearIcon, 31, 31)
VESK_CACHED_ICON(imageOfPlusCircleIcon, drawPlusCircleIcon, 30, 30)
VESK_CACHED_ICON(imageOfHomeIcon, drawHomeIcon, 32, 31)

#undef VESK_CACHED_ICON

VeskAssets::UIImagePtr VeskAssets::imageOfVideoIcon2WithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 40, 52 }, [&] { drawVideoIcon2WithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfVideoIcon3WithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 40, 52 }, [&] { drawVideoIcon3WithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfCircularProgresWithTransparentColor(const UIColorPtr& transparentColor,
    const UIColorPtr& circularProgresTextColor, CGFloat progres)
{
    return renderIcon({ 246, 246 }, [&] { drawCircularProgresWithTransparentColor(transparentColor, circularProgresTextColor, progres); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfFolderIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 56, 48 }, [&] { drawFolderIconWithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfExecutableIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 40, 52 }, [&] { drawExecutableIconWithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfFileIconWithFileFillColor(const UIColorPtr& fileFillColor, const std::string& suffix)
{
    return renderIcon({ 40, 52 }, [&] { drawFileIconWithFileFillColor(fileFillColor, suffix); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfImageIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 40, 52 }, [&] { drawImageIconWithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfMusicIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 40, 51 }, [&] { drawMusicIconWithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfVideoIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 40, 52 }, [&] { drawVideoIconWithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfDefaultIconWithIconFillColor(const UIColorPtr& iconFillColor)
{
    return renderIcon({ 240, 240 }, [&] { drawDefaultIconWithIconFillColor(iconFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfStringsIconWithFileFillColor(const UIColorPtr& fileFillColor)
{
    return renderIcon({ 40, 51 }, [&] { drawStringsIconWithFileFillColor(fileFillColor); });
}

VeskAssets::UIImagePtr VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress(CGFloat DLIconProgress)
{
    return renderIcon({ 40, 52 }, [&] { drawDynamicDownloadIconWithDLIconProgress(DLIconProgress); });
}

namespace {

    // Target lists are shared by every instance. Interface files assign them on the main thread,
    // but a lock keeps a read from another thread safe.
    struct TargetSlot {
        std::mutex mutex;
        std::optional<IconTargetList> list;
    };

    std::optional<IconTargetList> readTargets(TargetSlot& slot)
    {
        std::lock_guard lock(slot.mutex);
        return slot.list;
    }

    void assignTargets(TargetSlot& slot, IconTargetList targets, VeskAssets::UIImagePtr (*maker)())
    {
        {
            std::lock_guard lock(slot.mutex);
            slot.list = targets;
        }
        // Outside the lock: an element may read the list back while it takes its image.
        for (auto& element : targets) {
            if (element)
                element->setImage(maker());
        }
    }

    void modifyTargets(TargetSlot& slot, const VeskAssets::TargetChange& change, VeskAssets::UIImagePtr (*maker)())
    {
        auto list = readTargets(slot).value_or(IconTargetList {});
        if (change)
            change(list);
        assignTargets(slot, std::move(list), maker);
    }

}

#define VESK_TARGET_LIST(getter, Name, maker)                                  \
    namespace {                                                                \
        TargetSlot& getter##Slot()                                             \
        {                                                                      \
            static TargetSlot slot;                                            \
            return slot;                                                       \
        }                                                                      \
    }                                                                          \
    std::optional<IconTargetList> VeskAssets::getter() const                   \
    {                                                                          \
        return readTargets(getter##Slot());                                    \
    }                                                                          \
    void VeskAssets::set##Name(IconTargetList targets)                         \
    {                                                                          \
        assignTargets(getter##Slot(), std::move(targets), &VeskAssets::maker); \
    }                                                                          \
    void VeskAssets::modify##Name(const TargetChange& change)                  \
    {                                                                          \
        modifyTargets(getter##Slot(), change, &VeskAssets::maker);             \
    }

VESK_TARGET_LIST(veskIconTargets, VeskIconTargets, imageOfVeskIcon)
VESK_TARGET_LIST(swiftIconTargets, SwiftIconTargets, imageOfSwiftIcon)
VESK_TARGET_LIST(zipIconTargets, ZipIconTargets, imageOfZipIcon)
VESK_TARGET_LIST(trashIconTargets, TrashIconTargets, imageOfTrashIcon)
VESK_TARGET_LIST(bookmarkIconTargets, BookmarkIconTargets, imageOfBookmarkIcon)
VESK_TARGET_LIST(cutIconTargets, CutIconTargets, imageOfCutIcon)
VESK_TARGET_LIST(composeIconTargets, ComposeIconTargets, imageOfComposeIcon)
VESK_TARGET_LIST(shareIconTargets, ShareIconTargets, imageOfShareIcon)
VESK_TARGET_LIST(packageIconTargets, PackageIconTargets, imageOfPackageIcon)
VESK_TARGET_LIST(dynamicCopyTargets, DynamicCopyTargets, imageOfDynamicCopy)
VESK_TARGET_LIST(menueIconTargets, MenueIconTargets, imageOfMenueIcon)
VESK_TARGET_LIST(linkIconTargets, LinkIconTargets, imageOfLinkIcon)
VESK_TARGET_LIST(infoButtonTargets, InfoButtonTargets, imageOfInfoButton)
VESK_TARGET_LIST(selectedInfoButtonTargets, SelectedInfoButtonTargets, imageOfSelectedInfoButton)
VESK_TARGET_LIST(documentIconTargets, DocumentIconTargets, imageOfDocumentIcon)
VESK_TARGET_LIST(gearIconTargets, GearIconTargets, imageOfGearIcon)
VESK_TARGET_LIST(plusCircleIconTargets, PlusCircleIconTargets, imageOfPlusCircleIcon)
VESK_TARGET_LIST(homeIconTargets, HomeIconTargets, imageOfHomeIcon)

#undef VESK_TARGET_LIST

}
