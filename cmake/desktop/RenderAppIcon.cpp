// Renders the app's drawn icon as the PNG files of the desktop's icon theme:
//   vesk-icon-renderer FOLDER SIZE... writes FOLDER/<SIZE>x<SIZE>/apps/vesk.png for each size.

#include "assets/VeskAssets.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/graphics/UIImage.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace vesk;
using namespace vesk::platform;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    // The icon is drawn on 1024 points a side.
    constexpr double drawnSide = 1024;
    for (int index = 2; index < argc; ++index) {
        int side = std::atoi(argv[index]);
        if (side <= 0 || side > 4096) {
            std::fprintf(stderr, "%s: no icon size: %s\n", argv[0], argv[index]);
            return 2;
        }
        UIGraphicsBeginImageContextWithOptions({ drawnSide, drawnSide }, false, side / drawnSide);
        VeskAssets::drawVeskIcon();
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        auto png = UIImagePNGRepresentation(image);
        auto folder = std::filesystem::path(argv[1]) / (std::to_string(side) + "x" + std::to_string(side)) / "apps";
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        std::ofstream file(folder / "vesk.png", std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        if (png.empty() || !file.flush()) {
            std::fprintf(stderr, "%s: could not write %s\n", argv[0], (folder / "vesk.png").c_str());
            return 1;
        }
    }
    return 0;
}
