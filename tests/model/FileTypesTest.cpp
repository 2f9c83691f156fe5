#include "model/VeskFileTypes.h"

#include "ModelTestSupport.h"
#include "assets/VeskAssets.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIImage.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <set>
#include <thread>
#include <tuple>

namespace vesk {
namespace {

    using namespace platform;
    using ImagePtr = std::shared_ptr<UIImage>;

    TEST(FileTypeTest, TypesComeFromTheExtensionAsWritten)
    {
        const std::vector<std::pair<std::string, bool (*)(std::string_view)>> tests {
            { "video", isVideoFileAtPath }, { "music", isMusicFileAtPath }, { "strings", isStringsFileAtPath },
            { "list", isListFileAtPath }, { "image", isImageFileAtPath }, { "zip", isZipFileAtPath },
            { "swift", isSwiftFileAtPath }, { "text", isTextFileAtPath }, { "web", isWebFileAtPath }, { "app", isAppFileAtPath }
        };
        auto typesOf = [&](const std::string& path) {
            std::set<std::string> answered;
            for (const auto& [name, test] : tests) {
                if (test(path))
                    answered.insert(name);
            }
            return answered;
        };
        const std::vector<std::pair<std::string, std::vector<std::string>>> extensions {
            { "video", { "mov", "mp4" } },
            { "music", { "mp3", "aiff", "aif", "caf", "m4a", "wav", "m4r" } },
            { "strings", { "strings" } },
            { "list", { "plist" } },
            { "image", { "png", "jpg", "jpeg", "tiff", "tif", "gif" } },
            { "zip", { "zip" } },
            { "text", { "txt", "xml", "log", "sh", "c", "cpp", "h", "m", "php", "rb", "py", "pl", "list", "info", "in", "diff", "hex", "css", "js", "conf", "scss", "csv", "json" } },
            { "web", { "html", "pdf", "doc", "svg" } },
            { "app", { "app" } },
        };
        for (const auto& [type, list] : extensions) {
            for (const auto& extension : list)
                EXPECT_EQ(typesOf("/a/name." + extension), std::set<std::string> { type }) << extension;
        }
        EXPECT_EQ(typesOf("main.swift"), (std::set<std::string> { "swift", "text" }));
        // Capitals, other extensions, none, and a dotted folder above all count for nothing.
        for (const char* path : { "photo.JPG", "archive.Zip", "a.PNG", "archive.deb", "app.ipa", "README", "a.tar.gz", "/folder.txt/inner", "x.htm", "x.veskDL", ".txt" })
            EXPECT_EQ(typesOf(path), std::set<std::string> {}) << path;
    }

    // Icons are compared pixel for pixel with what the drawing kit makes for the
    // expected choice.
    class FileIconTest : public test::TemporaryHome {
    protected:
        static ImagePtr iconOf(const std::string& path) { return VeskFileManager::defaultManager().getImageForFileAtPath(path); }

        static void expectSame(const ImagePtr& icon, const ImagePtr& expected, const std::string& what)
        {
            ASSERT_TRUE(icon && expected) << what;
            EXPECT_TRUE(icon->hasEqualPixels(*expected)) << what;
        }

        static ImagePtr genericIcon(const std::shared_ptr<UIColor>& colour, const std::string& suffix)
        {
            return VeskAssets::imageOfFileIconWithFileFillColor(colour, suffix);
        }

        // A PNG of one colour.
        std::string makePicture(const std::string& relative, int width, int height, double red = 1, double green = 0, double blue = 0)
        {
            auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
            auto* cr = cairo_create(surface);
            cairo_set_source_rgb(cr, red, green, blue);
            cairo_paint(cr);
            cairo_destroy(cr);
            UIImage image(surface, 1);
            cairo_surface_destroy(surface);
            EXPECT_TRUE(image.writePNGToFile(at(relative)));
            return at(relative);
        }

        void writeInfo(const std::string& bundle, const Value& info)
        {
            auto data = dataFromPropertyList(info, PropertyListFormat::XML);
            ASSERT_TRUE(data);
            makeFile(bundle + "/Info.plist", std::string(data->begin(), data->end()));
        }

        static Value iconFiles(Array files)
        {
            return Value(Dictionary { { "CFBundleIcons", Dictionary { { "CFBundlePrimaryIcon", Dictionary { { "CFBundleIconFiles", files } } } } } });
        }
    };

    TEST_F(FileIconTest, DrawnIconsFollowTheOrderOfQuestions)
    {
        const auto downloadIcon = VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress(1.0);
        const auto folderIcon = VeskAssets::imageOfFolderIconWithFileFillColor(VeskAssets::flatRed());
        const std::vector<std::tuple<std::string, ImagePtr, const char*>> cases {
            { makeFile("data.veskDL", "\x89PNG"), downloadIcon, "a placeholder file, whatever it holds" },
            { makeFolder("movie.veskDL"), downloadIcon, "a placeholder folder" },
            { makeFolder("pics.png"), folderIcon, "a folder named like a picture" },
            { makeFolder("src.swift"), folderIcon, "a folder named like swift source" },
            { makeFile("run.sh", "#!/bin/sh\n", 0755), VeskAssets::imageOfExecutableIconWithFileFillColor(VeskAssets::flatGreen()), "an executable script" },
            { makeFile("main.swift", "print(1)\n", 0755), VeskAssets::imageOfSwiftIcon(), "swift source before the executable test" },
            { makeFile("Localizable.strings"), VeskAssets::imageOfStringsIconWithFileFillColor(VeskAssets::flatBlue()), "strings" },
            { makeFile("song.mp3"), VeskAssets::imageOfMusicIconWithFileFillColor(VeskAssets::flatOrange()), "music" },
            { makeFile("clip.mov"), VeskAssets::imageOfVideoIconWithFileFillColor(VeskAssets::flatDeepBlue()), "video" },
            { makeFile("a.zip"), VeskAssets::imageOfZipIcon(), "zip" },
            { makeFile("notes.txt"), genericIcon(VeskAssets::txtColor(), "txt"), "text" },
            { makeFile("setup.sh"), genericIcon(VeskAssets::shColor(), "sh"), "a script that can't be run" },
            { makeFile("photo.JPG"), genericIcon(VeskAssets::flatPurple(), "JPG"), "JPG in capitals is no picture" },
            { makeFile("README"), genericIcon(VeskAssets::flatPurple(), ""), "no extension" },
            { makeFile("archive.deb"), genericIcon(VeskAssets::debColor(), "deb"), "deb" },
        };
        for (const auto& [path, expected, what] : cases)
            expectSame(iconOf(path), expected, what);

        // The generic icons differ by colour, so the comparisons above can tell them apart.
        EXPECT_FALSE(genericIcon(VeskAssets::txtColor(), "txt")->hasEqualPixels(*genericIcon(VeskAssets::flatPurple(), "txt")));
    }

    TEST_F(FileIconTest, PicturesShowThemselvesAtTheirOwnSize)
    {
        auto picture = makePicture("photo.png", 7, 5, 0, 0, 1);
        auto icon = iconOf(picture);
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->pixelWidth(), 7);
        EXPECT_EQ(icon->pixelHeight(), 5);
        EXPECT_EQ(icon->pixelAt(3, 2), (UIPixel { 0, 0, 255, 255 }));

        // The record's icon is asked anew each time.
        auto record = VeskFile::initWithPath(picture);
        EXPECT_TRUE(record->icon()->hasEqualPixels(*icon));
        EXPECT_NE(record->icon(), record->icon());

        // Any picture the loader reads counts, whatever its name says.
        auto pngBytes = NSFileManager::defaultManager().contentsAtPath(picture);
        ASSERT_TRUE(pngBytes);
        ASSERT_TRUE(iconOf(makeFile("named.jpg", std::string(pngBytes->begin(), pngBytes->end()))));

        EXPECT_EQ(iconOf(makeFile("broken.jpeg", "\xff\xd8\xff\xe0 truncated")), nullptr);
        EXPECT_EQ(VeskFile::initWithPath(at("missing.png"))->icon(), nullptr);
    }

    TEST_F(FileIconTest, AppBundlesShowTheirLastListedIcon)
    {
        auto bundle = makeFolder("Tool.app");
        writeInfo("Tool.app", iconFiles({ "Icon-60.png", "Icon-76.png" }));
        makePicture("Tool.app/Icon-60.png", 6, 6, 1, 0, 0);
        makePicture("Tool.app/Icon-76.png", 8, 8, 0, 1, 0);
        auto icon = iconOf(bundle);
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->pixelWidth(), 8);
        EXPECT_EQ(icon->pixelAt(1, 1), (UIPixel { 0, 255, 0, 255 }));

        // The name is cut at its first "."; the screen's scale variant wins over the
        // plain file.
        auto scaled = makeFolder("Scaled.app");
        writeInfo("Scaled.app", iconFiles({ "AppIcon.v2" }));
        makePicture("Scaled.app/AppIcon.png", 4, 4, 1, 0, 0);
        makePicture("Scaled.app/AppIcon@2x.png", 8, 8, 0, 0, 1);
        icon = iconOf(scaled);
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->pixelAt(1, 1), (UIPixel { 0, 0, 255, 255 }));
    }

    TEST_F(FileIconTest, AppBundlesWithoutAUsableIconShowTheDefaultIcon)
    {
        struct Case {
            const char* name;
            std::optional<Value> info;
            const char* raw = nullptr;
            bool withPicture = false;
        };
        const std::vector<Case> cases {
            { "NoInfo.app", std::nullopt },
            { "Garbage.app", std::nullopt, "this is no property list" },
            { "Empty.app", iconFiles({}) },
            { "NoIcons.app", Value(Dictionary { { "CFBundleName", "x" } }) },
            { "WrongKind.app", Value(Dictionary { { "CFBundleIcons", Array { "x" } } }) },
            { "NotText.app", iconFiles({ "Icon.png", 5 }) },
            { "Mixed.app", iconFiles({ 5, "Icon.png" }), nullptr, true },
            { "Missing.app", iconFiles({ "Gone.png" }) },
            { "Climb.app", iconFiles({ "../../Tool.app/Icon-76.png" }) },
            { "RootList.app", Value(Array { "Icon" }) },
        };
        const auto expected = VeskAssets::imageOfDefaultIconWithIconFillColor(UIColor::lightGrayColor());
        for (const auto& entry : cases) {
            auto bundle = makeFolder(entry.name);
            if (entry.info)
                writeInfo(entry.name, *entry.info);
            if (entry.raw)
                makeFile(std::string(entry.name) + "/Info.plist", entry.raw);
            if (entry.withPicture)
                makePicture(std::string(entry.name) + "/Icon.png", 4, 4);
            expectSame(iconOf(bundle), expected, entry.name);
        }
        // An app that is a plain file, executable or not, goes the bundle's way too.
        expectSame(iconOf(makeFile("Flat.app", "", 0755)), expected, "a file named like an app");
    }

    TEST_F(FileIconTest, IconsAreAskedForFromManyThreadsAtOnce)
    {
        const std::vector<std::string> paths { makeFile("a.txt"), makeFolder("docs"), makeFile("z.zip"), makeFile("m.swift"),
            makePicture("p.png", 3, 3), makeFolder("Tool.app"), makeFile("run", "", 0755) };
        std::vector<ImagePtr> expected;
        for (const auto& path : paths)
            expected.push_back(iconOf(path));

        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&] {
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    auto icon = iconOf(paths[i]);
                    EXPECT_TRUE(icon && icon->hasEqualPixels(*expected[i])) << paths[i];
                }
            });
        }
        for (auto& worker : workers)
            worker.join();
    }

} // namespace
} // namespace vesk
