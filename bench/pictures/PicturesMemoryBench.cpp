// Opens three pictures in the image viewer on the phone, three times each, and prints the app's
// resident memory while each is shown and after each close, against the figure before its first
// view: an animated GIF of 783 frames of 640 x 421 (its frames decoded up to the decoder's pixel
// budget), a JPEG of 2013 x 2241 and a PNG of the same size; and after all of them, the figure
// against the app before the first picture. The pictures are made here, under /tmp, and deleted
// after; named on the command line ("gif", "jpeg", "png"), only those are viewed. Target: a closed
// viewer keeps no reference to its picture and gives its memory back, the app within 60 MB of
// where it was after three views of each.

#include "app/MainStoryboard.h"
#include "app/Utility.h"
#include "common/BenchApp.h"
#include "common/BenchFolders.h"
#include "model/VeskFile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIViewRendering.h"
#include "viewers/ImageViewController.h"

#include <cairo.h>
#include <gif_lib.h>
#include <jpeglib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace vesk;
using namespace vesk::platform;

namespace {

void fail(const char* what)
{
    std::fprintf(stderr, "pictures_bench: %s\n", what);
    std::exit(1);
}

// A looping GIF whose frames each fill the canvas: a gradient that moves a little each frame.
void makeGIF(const std::string& path, int width, int height, int frames)
{
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif)
        fail("the GIF could not be written");
    EGifSetGifVersion(gif, true);
    std::vector<GifColorType> colors(256);
    for (int i = 0; i < 256; ++i)
        colors[std::size_t(i)] = { GifByteType(i), GifByteType(255 - i), GifByteType((i * 7) & 255) };
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifPutScreenDesc(gif, width, height, 8, 0, map);
    std::vector<GifPixelType> line(std::size_t(width), 0);
    for (int frame = 0; frame < frames; ++frame) {
        GraphicsControlBlock control { DISPOSAL_UNSPECIFIED, false, 4, NO_TRANSPARENT_COLOR };
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
        EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                line[std::size_t(x)] = GifPixelType((x / 3 + y / 5 + frame * 2) & 255);
            EGifPutLine(gif, line.data(), width);
        }
    }
    if (EGifCloseFile(gif, &error) != GIF_OK)
        fail("the GIF could not be written");
    GifFreeMapObject(map);
}

void makeJPEG(const std::string& path, int width, int height)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        fail("the JPEG could not be written");
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, true);
    jpeg_start_compress(&info, true);
    std::vector<JSAMPLE> row(std::size_t(width) * 3);
    while (info.next_scanline < info.image_height) {
        int y = int(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            row[std::size_t(x) * 3] = JSAMPLE(x & 255);
            row[std::size_t(x) * 3 + 1] = JSAMPLE(y & 255);
            row[std::size_t(x) * 3 + 2] = JSAMPLE((x ^ y) & 255);
        }
        JSAMPROW rows[] = { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(out);
}

void makePNG(const std::string& path, int width, int height)
{
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    auto* cr = cairo_create(surface);
    auto* gradient = cairo_pattern_create_linear(0, 0, width, height);
    cairo_pattern_add_color_stop_rgb(gradient, 0, 1, 0.5, 0);
    cairo_pattern_add_color_stop_rgb(gradient, 1, 0, 0.3, 1);
    cairo_set_source(cr, gradient);
    cairo_paint(cr);
    cairo_pattern_destroy(gradient);
    cairo_destroy(cr);
    if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS)
        fail("the PNG could not be written");
    cairo_surface_destroy(surface);
}

struct Viewed {
    double shownMegabytes = 0;
    // The picture, which the closed viewer must not keep.
    std::weak_ptr<UIImage> picture;
};

// Shows the picture in the viewer until it is in and drawn a few times, then closes it; nothing
// when no picture came.
std::optional<Viewed> view(const std::string& path, const std::shared_ptr<UIViewController>& home)
{
    auto window = UIApplication::sharedApplication().keyWindow();
    Utility utility;
    utility.openImage(VeskFile::initWithPath(path), home);
    RunLoop::main().drain();
    auto viewer = bench::presentedViewer<ImageViewController>(home);
    if (!viewer)
        return std::nullopt;
    RunLoop::main().runUntil([&] { return viewer->imageView()->image() != nullptr; }, std::chrono::minutes(2));
    if (!viewer->imageView()->image())
        return std::nullopt;
    // A second of it, as the window draws it: the animation plays.
    for (int frame = 0; frame < 10; ++frame) {
        UIRenderer::imageOfWindow(*window, 2);
        RunLoop::main().runUntil([] { return false; }, std::chrono::milliseconds(100));
    }
    Viewed viewed { bench::residentMegabytes(), viewer->imageView()->image() };
    viewer->dismissViewControllerAnimated(false);
    viewer.reset();
    RunLoop::main().drain();
    UIRenderer::imageOfWindow(*window, 2);
    return viewed;
}

}

int main(int argc, char** argv)
{
    std::string root = bench::makeScratchRoot("pictures-bench");
    auto home = bench::launchOnEmptyScreen();

    struct Picture {
        const char* kind;
        const char* name;
        std::string path;
    };
    const Picture pictures[] = {
        { "gif", "animated GIF, 783 frames of 640 x 421", root + "/moving.gif" },
        { "jpeg", "JPEG, 2013 x 2241", root + "/photo.jpg" },
        { "png", "PNG, 2013 x 2241", root + "/drawing.png" },
    };
    makeGIF(pictures[0].path, 640, 421, 783);
    makeJPEG(pictures[1].path, 2013, 2241);
    makePNG(pictures[2].path, 2013, 2241);

    // Named on the command line ("gif", "jpeg", "png"), only those are viewed.
    auto wanted = [&](const char* kind) {
        if (argc < 2)
            return true;
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) == kind)
                return true;
        }
        return false;
    };
    constexpr double target = 60;
    bool met = true;
    double first = bench::residentMegabytes();
    for (auto& picture : pictures) {
        if (!wanted(picture.kind))
            continue;
        RunLoop::main().drain();
        double before = bench::residentMegabytes();
        double closed = before;
        for (int round = 1; round <= 3; ++round) {
            auto viewed = view(picture.path, home);
            closed = bench::residentMegabytes();
            if (!viewed) {
                std::printf("%s, view %d: no picture shown!\n", picture.name, round);
                met = false;
                break;
            }
            bool kept = !viewed->picture.expired();
            std::printf("%s, view %d: resident %.0f MB while shown, %.0f MB after the close, %+.0f MB over the %.0f MB before the first view%s\n", picture.name, round,
                viewed->shownMegabytes, closed, closed - before, before, kept ? " -- the picture is still held!" : "");
            met = met && !kept;
        }
        std::printf("%s: after three views %+.0f MB (target <= %.0f)%s\n", picture.name, closed - before, target,
            closed - before <= target ? "" : " -- the closed viewers still hold their pictures!");
        std::fflush(stdout);
        met = met && closed - before <= target;
    }
    double last = bench::residentMegabytes();
    std::printf("all three pictures, three views each: %+.0f MB over the %.0f MB before the first (target <= %.0f)\n", last - first, first, target);
    met = met && last - first <= target;
    NSFileManager::defaultManager().removeItemAtPath(root);
    return met ? 0 : 1;
}
