#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIImage.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

// The elements of a target list: each receives the list's icon through setImage.
using IconTargetList = std::vector<std::shared_ptr<platform::UIImageSettable>>;

// The app's named colours and drawn icons. Colours and the icons without parameters are
// made once, on first use, on any thread; icons with parameters are drawn anew on every call.
// Drawing routines paint into the calling thread's current context at fixed coordinates;
// image makers paint into a fresh image of the icon's canvas at the main screen's scale.
class VeskAssets {
public:
    using UIColorPtr = std::shared_ptr<platform::UIColor>;
    using UIImagePtr = std::shared_ptr<platform::UIImage>;
    using CGFloat = platform::CGFloat;

    VeskAssets() = default;

    // Palette: one shared object per colour.
    static const UIColorPtr& iOSDefaultTint();
    static const UIColorPtr& flatGreen();
    static const UIColorPtr& flatBlue();
    static const UIColorPtr& flatYellow();
    static const UIColorPtr& flatOrange();
    static const UIColorPtr& flatRed();
    static const UIColorPtr& flatPurple();
    static const UIColorPtr& flatDeepBlue();
    static const UIColorPtr& glypishFillColor();
    static const UIColorPtr& txtColor();
    static const UIColorPtr& xmlColor();
    static const UIColorPtr& logColor();
    static const UIColorPtr& shColor();
    static const UIColorPtr& cColor();
    static const UIColorPtr& cppColor();
    static const UIColorPtr& hColor();
    static const UIColorPtr& mColor();
    static const UIColorPtr& phpColor();
    static const UIColorPtr& rbColor();
    static const UIColorPtr& pyColor();
    static const UIColorPtr& plColor();
    static const UIColorPtr& listColor();
    static const UIColorPtr& infoColor();
    static const UIColorPtr& inColor();
    static const UIColorPtr& diffColor();
    static const UIColorPtr& hexColor();
    static const UIColorPtr& cssColor();
    static const UIColorPtr& jsColor();
    static const UIColorPtr& confColor();
    static const UIColorPtr& htmlColor();
    static const UIColorPtr& pdfColor();
    static const UIColorPtr& plistColor();
    static const UIColorPtr& jsonColor();
    static const UIColorPtr& debColor();
    static const UIColorPtr& ipaColor();
    static const UIColorPtr& swiftColor();
    static const UIColorPtr& zipColor();

    // Drawing routines. Default colours are made afresh on each call that leaves them out.
    static void drawVeskIcon();
    static void drawVideoIcon2WithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawVideoIcon3WithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawCircularProgresWithTransparentColor(
        const UIColorPtr& transparentColor = platform::UIColor::colorWithRed(0.06, 0.06, 0.06, 1),
        const UIColorPtr& circularProgresTextColor = platform::UIColor::colorWithRed(1, 1, 1, 1),
        CGFloat progres = 0.403);
    static void drawFolderIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawExecutableIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawFileIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1),
        const std::string& suffix = "txt");
    static void drawImageIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawMusicIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawVideoIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawSwiftIcon();
    static void drawDefaultIconWithIconFillColor(const UIColorPtr& iconFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawStringsIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static void drawZipIcon();
    static void drawDynamicDownloadIconWithDLIconProgress(CGFloat DLIconProgress = 1.0);
    static void drawTrashIcon();
    static void drawBookmarkIcon();
    static void drawCutIcon();
    static void drawComposeIcon();
    static void drawShareIcon();
    static void drawPackageIcon();
    static void drawDynamicCopy();
    static void drawMenueIcon();
    static void drawLinkIcon();
    static void drawInfoButton();
    static void drawSelectedInfoButton();
    static void drawDocumentIcon();
    static void drawGearIcon();
    static void drawPlusCircleIcon();
    static void drawHomeIcon();

    // Image makers: a new image per call for the routines with parameters, one cached image
    // per process for the others.
    static UIImagePtr imageOfVeskIcon();
    static UIImagePtr imageOfVideoIcon2WithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfVideoIcon3WithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfCircularProgresWithTransparentColor(
        const UIColorPtr& transparentColor = platform::UIColor::colorWithRed(0.06, 0.06, 0.06, 1),
        const UIColorPtr& circularProgresTextColor = platform::UIColor::colorWithRed(1, 1, 1, 1),
        CGFloat progres = 0.403);
    static UIImagePtr imageOfFolderIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfExecutableIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfFileIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1),
        const std::string& suffix = "txt");
    static UIImagePtr imageOfImageIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfMusicIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfVideoIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfSwiftIcon();
    static UIImagePtr imageOfDefaultIconWithIconFillColor(const UIColorPtr& iconFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfStringsIconWithFileFillColor(const UIColorPtr& fileFillColor = platform::UIColor::colorWithRed(1, 0, 0, 1));
    static UIImagePtr imageOfZipIcon();
    static UIImagePtr imageOfDynamicDownloadIconWithDLIconProgress(CGFloat DLIconProgress = 1.0);
    static UIImagePtr imageOfTrashIcon();
    static UIImagePtr imageOfBookmarkIcon();
    static UIImagePtr imageOfCutIcon();
    static UIImagePtr imageOfComposeIcon();
    static UIImagePtr imageOfShareIcon();
    static UIImagePtr imageOfPackageIcon();
    static UIImagePtr imageOfDynamicCopy();
    static UIImagePtr imageOfMenueIcon();
    static UIImagePtr imageOfLinkIcon();
    static UIImagePtr imageOfInfoButton();
    static UIImagePtr imageOfSelectedInfoButton();
    static UIImagePtr imageOfDocumentIcon();
    static UIImagePtr imageOfGearIcon();
    static UIImagePtr imageOfPlusCircleIcon();
    static UIImagePtr imageOfHomeIcon();

    // Target lists, shared by every instance. Read answers the last list assigned (nothing
    // before the first assignment); assign stores the list and sends every element the
    // icon's cached image; modify changes the stored list (empty when none) in place and
    // then sends the icon to every element, as an assignment does.
    using TargetChange = std::function<void(IconTargetList&)>;
    std::optional<IconTargetList> veskIconTargets() const;
    void setVeskIconTargets(IconTargetList targets);
    void modifyVeskIconTargets(const TargetChange& change);
    std::optional<IconTargetList> swiftIconTargets() const;
    void setSwiftIconTargets(IconTargetList targets);
    void modifySwiftIconTargets(const TargetChange& change);
    std::optional<IconTargetList> zipIconTargets() const;
    void setZipIconTargets(IconTargetList targets);
    void modifyZipIconTargets(const TargetChange& change);
    std::optional<IconTargetList> trashIconTargets() const;
    void setTrashIconTargets(IconTargetList targets);
    void modifyTrashIconTargets(const TargetChange& change);
    std::optional<IconTargetList> bookmarkIconTargets() const;
    void setBookmarkIconTargets(IconTargetList targets);
    void modifyBookmarkIconTargets(const TargetChange& change);
    std::optional<IconTargetList> cutIconTargets() const;
    void setCutIconTargets(IconTargetList targets);
    void modifyCutIconTargets(const TargetChange& change);
    std::optional<IconTargetList> composeIconTargets() const;
    void setComposeIconTargets(IconTargetList targets);
    void modifyComposeIconTargets(const TargetChange& change);
    std::optional<IconTargetList> shareIconTargets() const;
    void setShareIconTargets(IconTargetList targets);
    void modifyShareIconTargets(const TargetChange& change);
    std::optional<IconTargetList> packageIconTargets() const;
    void setPackageIconTargets(IconTargetList targets);
    void modifyPackageIconTargets(const TargetChange& change);
    std::optional<IconTargetList> dynamicCopyTargets() const;
    void setDynamicCopyTargets(IconTargetList targets);
    void modifyDynamicCopyTargets(const TargetChange& change);
    std::optional<IconTargetList> menueIconTargets() const;
    void setMenueIconTargets(IconTargetList targets);
    void modifyMenueIconTargets(const TargetChange& change);
    std::optional<IconTargetList> linkIconTargets() const;
    void setLinkIconTargets(IconTargetList targets);
    void modifyLinkIconTargets(const TargetChange& change);
    std::optional<IconTargetList> infoButtonTargets() const;
    void setInfoButtonTargets(IconTargetList targets);
    void modifyInfoButtonTargets(const TargetChange& change);
    std::optional<IconTargetList> selectedInfoButtonTargets() const;
    void setSelectedInfoButtonTargets(IconTargetList targets);
    void modifySelectedInfoButtonTargets(const TargetChange& change);
    std::optional<IconTargetList> documentIconTargets() const;
    void setDocumentIconTargets(IconTargetList targets);
    void modifyDocumentIconTargets(const TargetChange& change);
    std::optional<IconTargetList> gearIconTargets() const;
    void setGearIconTargets(IconTargetList targets);
    void modifyGearIconTargets(const TargetChange& change);
    std::optional<IconTargetList> plusCircleIconTargets() const;
    void setPlusCircleIconTargets(IconTargetList targets);
    void modifyPlusCircleIconTargets(const TargetChange& change);
    std::optional<IconTargetList> homeIconTargets() const;
    void setHomeIconTargets(IconTargetList targets);
    void modifyHomeIconTargets(const TargetChange& change);
};

}
