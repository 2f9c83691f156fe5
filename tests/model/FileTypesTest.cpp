#include "model/VeskFileTypes.h"

#include "assets/VeskAssets.h"
#include "model/ModelTestSupport.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/graphics/UIColor.h"
#include "platform/graphics/UIImage.h"

#include <gtest/gtest.h>

#include <cairo.h>
#include <functional>
#include <set>
#include <thread>

namespace vesk {
namespace {

    using namespace platform;
    using ImagePtr = std::shared_ptr<UIImage>;

    // The type tests, by the name they answer to.
    const std::vector<std::pair<std::string, std::function<bool(std::string_view)>>>& typeTests()
    {
        static const std::vector<
            std::pair<std::string, std::function<bool(std::string_view)>>>
            tests {
                { "video", isVideoFileAtPath },
                { "music", isMusicFileAtPath },
                { "strings", isStringsFileAtPath },
                { "list", isListFileAtPath },
                { "image", isImageFileAtPath },
                { "zip", isZipFileAtPath },
                { "swift", isSwiftFileAtPath },
                { "text", isTextFileAtPath },
                { "web", isWebFileAtPath },
                { "app", isAppFileAtPath },
            };
        return tests;
    }

    struct TypeCase {
        const char* path;
        std::set<std::string> types;
    };

    class FileTypeTest : public ::testing::TestWithParam<TypeCase> { };

    TEST_P(FileTypeTest, TypesComeFromTheExtensionAsWritten)
    {
        std::set<std::string> answered;
        for (const auto& [name, test] : typeTests()) {
            if (test(GetParam().path))
                answered.insert(name);
        }
        EXPECT_EQ(answered, GetParam().types) << GetParam().path;
    }

    INSTANTIATE_TEST_SUITE_P(
        Extensions, FileTypeTest,
        ::testing::Values(
            TypeCase { "/a/clip.mov", { "video" } }, TypeCase { "clip.mp4", { "video" } },
            TypeCase { "song.mp3", { "music" } }, TypeCase { "s.aiff", { "music" } },
            TypeCase { "s.aif", { "music" } }, TypeCase { "s.caf", { "music" } },
            TypeCase { "s.m4a", { "music" } }, TypeCase { "s.wav", { "music" } },
            TypeCase { "ring.m4r", { "music" } },
            TypeCase { "Localizable.strings", { "strings" } },
            TypeCase { "Info.plist", { "list" } }, TypeCase { "p.png", { "image" } },
            TypeCase { "p.jpg", { "image" } }, TypeCase { "p.jpeg", { "image" } },
            TypeCase { "p.tiff", { "image" } }, TypeCase { "p.tif", { "image" } },
            TypeCase { "p.gif", { "image" } }, TypeCase { "photo.JPG", {} },
            TypeCase { "archive.Zip", {} }, TypeCase { "a.PNG", {} },
            TypeCase { "a.zip", { "zip" } }, TypeCase { "main.swift", { "swift", "text" } },
            TypeCase { "t.txt", { "text" } }, TypeCase { "t.xml", { "text" } },
            TypeCase { "t.log", { "text" } }, TypeCase { "t.sh", { "text" } },
            TypeCase { "t.c", { "text" } }, TypeCase { "t.cpp", { "text" } },
            TypeCase { "t.h", { "text" } }, TypeCase { "t.m", { "text" } },
            TypeCase { "t.php", { "text" } }, TypeCase { "t.rb", { "text" } },
            TypeCase { "t.py", { "text" } }, TypeCase { "t.pl", { "text" } },
            TypeCase { "t.list", { "text" } }, TypeCase { "t.info", { "text" } },
            TypeCase { "t.in", { "text" } }, TypeCase { "t.diff", { "text" } },
            TypeCase { "t.hex", { "text" } }, TypeCase { "t.css", { "text" } },
            TypeCase { "t.js", { "text" } }, TypeCase { "t.conf", { "text" } },
            TypeCase { "t.scss", { "text" } }, TypeCase { "t.csv", { "text" } },
            TypeCase { "t.json", { "text" } }, TypeCase { "w.html", { "web" } },
            TypeCase { "w.pdf", { "web" } }, TypeCase { "w.doc", { "web" } },
            TypeCase { "image.svg", { "web" } },
            TypeCase { "/Applications/Tool.app", { "app" } },
            TypeCase { "archive.deb", {} }, TypeCase { "app.ipa", {} },
            TypeCase { "README", {} }, TypeCase { "a.tar.gz", {} },
            TypeCase { "/folder.txt/inner", {} }, TypeCase { "x.htm", {} },
            TypeCase { "x.veskDL", {} }, TypeCase { ".txt", {} }));

    struct ColourCase {
        const char* path;
        const std::shared_ptr<UIColor>& (*colour)();
    };

    class FileColourTest : public ::testing::TestWithParam<ColourCase> { };

    TEST_P(FileColourTest, EachTypeHasItsPaletteColour)
    {
        auto colour = getColorOfFile(GetParam().path);
        ASSERT_TRUE(colour);
        EXPECT_EQ(colour, GetParam().colour()) << GetParam().path;
    }

    INSTANTIATE_TEST_SUITE_P(
        Extensions, FileColourTest,
        ::testing::Values(ColourCase { "a.txt", &VeskAssets::txtColor },
            ColourCase { "a.xml", &VeskAssets::xmlColor },
            ColourCase { "a.log", &VeskAssets::logColor },
            ColourCase { "a.sh", &VeskAssets::shColor },
            ColourCase { "a.c", &VeskAssets::cColor },
            ColourCase { "a.cpp", &VeskAssets::cppColor },
            ColourCase { "a.h", &VeskAssets::hColor },
            ColourCase { "a.m", &VeskAssets::mColor },
            ColourCase { "a.php", &VeskAssets::phpColor },
            ColourCase { "a.rb", &VeskAssets::rbColor },
            ColourCase { "a.py", &VeskAssets::pyColor },
            ColourCase { "a.pl", &VeskAssets::plColor },
            ColourCase { "a.list", &VeskAssets::listColor },
            ColourCase { "notes.info", &VeskAssets::infoColor },
            ColourCase { "notes.in", &VeskAssets::infoColor },
            ColourCase { "a.diff", &VeskAssets::diffColor },
            ColourCase { "a.hex", &VeskAssets::hexColor },
            ColourCase { "a.css", &VeskAssets::cssColor },
            ColourCase { "a.js", &VeskAssets::jsColor },
            ColourCase { "a.conf", &VeskAssets::confColor },
            ColourCase { "a.html", &VeskAssets::htmlColor },
            ColourCase { "a.pdf", &VeskAssets::pdfColor },
            ColourCase { "a.plist", &VeskAssets::plistColor },
            ColourCase { "a.json", &VeskAssets::jsonColor },
            ColourCase { "archive.deb", &VeskAssets::debColor },
            ColourCase { "app.ipa", &VeskAssets::ipaColor },
            ColourCase { "image.svg", &VeskAssets::flatBlue },
            ColourCase { "README", &VeskAssets::flatPurple },
            ColourCase { "a.TXT", &VeskAssets::flatPurple },
            ColourCase { "a.png", &VeskAssets::flatPurple },
            ColourCase { "a.swift", &VeskAssets::flatPurple },
            ColourCase { "a.csv", &VeskAssets::flatPurple },
            ColourCase { "a.Sh", &VeskAssets::flatPurple }));

    // Icons are compared pixel for pixel with what the drawing kit makes for the
    // expected choice.
    class FileIconTest : public test::TemporaryHome {
    protected:
        static ImagePtr iconOf(const std::string& path)
        {
            return VeskFileManager::defaultManager().getImageForFileAtPath(path);
        }

        static void expectSame(const ImagePtr& icon, const ImagePtr& expected,
            const std::string& what)
        {
            ASSERT_TRUE(icon) << what;
            ASSERT_TRUE(expected) << what;
            EXPECT_TRUE(icon->hasEqualPixels(*expected)) << what;
        }

        static ImagePtr genericIcon(const std::shared_ptr<UIColor>& colour,
            const std::string& suffix)
        {
            return VeskAssets::imageOfFileIconWithFileFillColor(colour, suffix);
        }
        static ImagePtr defaultAppIcon()
        {
            return VeskAssets::imageOfDefaultIconWithIconFillColor(
                UIColor::lightGrayColor());
        }

        // A PNG of one colour.
        std::string makePicture(const std::string& relative, int width, int height,
            double red = 1, double green = 0, double blue = 0)
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
            return Value(
                Dictionary { { "CFBundleIcons",
                    Dictionary { { "CFBundlePrimaryIcon",
                        Dictionary { { "CFBundleIconFiles", files } } } } } });
        }
    };

    TEST_F(FileIconTest, DrawnIconsFollowTheOrderOfQuestions)
    {
        auto download = makeFile("data.veskDL", "\x89PNG");
        auto downloadFolder = makeFolder("movie.veskDL");
        auto folder = makeFolder("pics.png");
        auto swiftFolder = makeFolder("src.swift");
        auto script = makeFile("run.sh", "#!/bin/sh\n", 0755);
        auto swift = makeFile("main.swift", "print(1)\n", 0755);
        auto strings = makeFile("Localizable.strings");
        auto music = makeFile("song.mp3");
        auto video = makeFile("clip.mov");
        auto zip = makeFile("a.zip");
        auto text = makeFile("notes.txt");
        auto shell = makeFile("setup.sh");
        auto capitals = makeFile("photo.JPG");
        auto bare = makeFile("README");
        auto deb = makeFile("archive.deb");

        const auto downloadIcon = VeskAssets::imageOfDynamicDownloadIconWithDLIconProgress(1.0);
        const auto folderIcon = VeskAssets::imageOfFolderIconWithFileFillColor(VeskAssets::flatRed());
        expectSame(iconOf(download), downloadIcon,
            "a placeholder file, whatever it holds");
        expectSame(iconOf(downloadFolder), downloadIcon, "a placeholder folder");
        expectSame(iconOf(folder), folderIcon, "a folder named like a picture");
        expectSame(iconOf(swiftFolder), folderIcon,
            "a folder named like swift source");
        expectSame(iconOf(script),
            VeskAssets::imageOfExecutableIconWithFileFillColor(
                VeskAssets::flatGreen()),
            "an executable script");
        EXPECT_EQ(iconOf(swift), VeskAssets::imageOfSwiftIcon())
            << "swift source before the executable test";
        expectSame(
            iconOf(strings),
            VeskAssets::imageOfStringsIconWithFileFillColor(VeskAssets::flatBlue()),
            "strings");
        expectSame(
            iconOf(music),
            VeskAssets::imageOfMusicIconWithFileFillColor(VeskAssets::flatOrange()),
            "music");
        expectSame(
            iconOf(video),
            VeskAssets::imageOfVideoIconWithFileFillColor(VeskAssets::flatDeepBlue()),
            "video");
        EXPECT_EQ(iconOf(zip), VeskAssets::imageOfZipIcon());
        expectSame(iconOf(text), genericIcon(VeskAssets::txtColor(), "txt"), "text");
        expectSame(iconOf(shell), genericIcon(VeskAssets::shColor(), "sh"),
            "a script that can't be run");
        expectSame(iconOf(capitals), genericIcon(VeskAssets::flatPurple(), "JPG"),
            "JPG in capitals is no picture");
        expectSame(iconOf(bare), genericIcon(VeskAssets::flatPurple(), ""),
            "no extension");
        expectSame(iconOf(deb), genericIcon(VeskAssets::debColor(), "deb"), "deb");

        // The generic icons differ by colour and suffix, so the comparisons above can
        // tell them apart.
        EXPECT_FALSE(
            genericIcon(VeskAssets::txtColor(), "txt")
                ->hasEqualPixels(*genericIcon(VeskAssets::flatPurple(), "txt")));
        EXPECT_FALSE(
            genericIcon(VeskAssets::flatPurple(), "JPG")
                ->hasEqualPixels(*genericIcon(VeskAssets::flatPurple(), "")));
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
        ASSERT_TRUE(record->icon());
        EXPECT_TRUE(record->icon()->hasEqualPixels(*icon));
        EXPECT_NE(record->icon(), record->icon());

        // Any picture the loader reads counts, whatever its format; a GIF shows its
        // first frame.
        const unsigned char gif[] = {
            'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xff, 0,
            0, 0, 0, 0, 0x21, 0xf9, 4, 0, 0, 0, 0, 0, 0x2c, 0, 0,
            0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0, 0x3b
        };
        auto animation = iconOf(makeFile("dot.gif", std::string(std::begin(gif), std::end(gif))));
        ASSERT_TRUE(animation);
        EXPECT_EQ(animation->pixelWidth(), 1);
        EXPECT_EQ(animation->pixelAt(0, 0), (UIPixel { 255, 0, 0, 255 }));
        auto pngBytes = NSFileManager::defaultManager().contentsAtPath(picture);
        ASSERT_TRUE(pngBytes);
        ASSERT_TRUE(iconOf(
            makeFile("named.jpg", std::string(pngBytes->begin(), pngBytes->end()))));

        EXPECT_EQ(iconOf(makeFile("broken.png", "not a picture")), nullptr);
        EXPECT_EQ(iconOf(makeFile("broken.jpeg", "\xff\xd8\xff\xe0 truncated")),
            nullptr);
        EXPECT_EQ(iconOf(at("missing.png")), nullptr);
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
        const auto expected = defaultAppIcon();
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
        expectSame(iconOf(makeFile("Flat.app", "", 0755)), expected,
            "a file named like an app");
    }

    TEST_F(FileIconTest, IconsAreAskedForFromManyThreadsAtOnce)
    {
        const std::vector<std::string> paths {
            makeFile("a.txt"), makeFolder("docs"),
            makeFile("z.zip"), makeFile("m.swift"),
            makePicture("p.png", 3, 3), makeFolder("Tool.app"),
            makeFile("run", "", 0755)
        };
        std::vector<ImagePtr> expected;
        for (const auto& path : paths)
            expected.push_back(iconOf(path));

        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&] {
                for (int round = 0; round < 3; ++round) {
                    for (std::size_t i = 0; i < paths.size(); ++i) {
                        auto icon = iconOf(paths[i]);
                        EXPECT_TRUE(icon && icon->hasEqualPixels(*expected[i])) << paths[i];
                    }
                }
            });
        }
        for (auto& worker : workers)
            worker.join();
    }

    TEST_F(FileIconTest, MimeTypes)
    {
        auto folder = makeFolder("pics.png");
        EXPECT_EQ(getMimeTypeOfFile(folder), "text/directory");
        EXPECT_EQ(getMimeTypeOfFile(makeFile("a.txt")), "text/plain");
        EXPECT_EQ(getMimeTypeOfFile(at("missing.png")), "image/png");
        EXPECT_EQ(getMimeTypeOfFile(makeFile("README")), "unknown");
        EXPECT_EQ(getMimeTypeOfFile(at("missing")), "unknown");
        EXPECT_EQ(getMimeTypeOfFile(at("x.no-such-type")), "unknown");
    }

} // namespace
} // namespace vesk
