#include "platform/graphics/UIImage.h"

#include "platform/foundation/FoundationTestSupport.h"
#include "platform/graphics/GraphicsTestSupport.h"
#include "platform/graphics/ImageDecoding.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gif_lib.h>
#include <jpeglib.h>
#include <sys/mman.h>
#include <thread>
#include <tiffio.h>
#include <unistd.h>

namespace vesk::testing {
namespace {

    class ImageDecodingTest : public ::testing::Test {
    protected:
        std::string pathOf(const std::string& name) const { return (m_dir / name).string(); }

        static std::vector<uint8_t> readAll(const std::string& path)
        {
            std::ifstream in(path, std::ios::binary);
            return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
        }

        // 16 x 8: red on the left half, blue on the right.
        std::vector<uint8_t> makeJPEG(int width = 16, int height = 8, bool gray = false)
        {
            jpeg_compress_struct info;
            jpeg_error_mgr error;
            info.err = jpeg_std_error(&error);
            jpeg_create_compress(&info);
            unsigned char* out = nullptr;
            unsigned long size = 0;
            jpeg_mem_dest(&info, &out, &size);
            info.image_width = JDIMENSION(width);
            info.image_height = JDIMENSION(height);
            info.input_components = gray ? 1 : 3;
            info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
            jpeg_set_defaults(&info);
            jpeg_set_quality(&info, 95, TRUE);
            jpeg_start_compress(&info, TRUE);
            std::vector<JSAMPLE> row(size_t(width) * info.input_components);
            while (info.next_scanline < info.image_height) {
                for (int x = 0; x < width; ++x) {
                    if (gray)
                        row[size_t(x)] = 128;
                    else {
                        bool left = x < width / 2;
                        row[size_t(x) * 3] = left ? 255 : 0;
                        row[size_t(x) * 3 + 1] = 0;
                        row[size_t(x) * 3 + 2] = left ? 0 : 255;
                    }
                }
                JSAMPROW rows[] = { row.data() };
                jpeg_write_scanlines(&info, rows, 1);
            }
            jpeg_finish_compress(&info);
            jpeg_destroy_compress(&info);
            std::vector<uint8_t> bytes(out, out + size);
            free(out);
            return bytes;
        }

        // 4 x 2 RGBA: the first pixel half-transparent green, the rest opaque white.
        std::vector<uint8_t> makeTIFF()
        {
            auto path = pathOf("sample.tiff");
            TIFF* tiff = TIFFOpen(path.c_str(), "w");
            TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 4);
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 2);
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            uint16_t extra[] = { EXTRASAMPLE_UNASSALPHA };
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
            for (uint32_t y = 0; y < 2; ++y) {
                uint8_t row[16];
                for (int x = 0; x < 4; ++x) {
                    bool first = x == 0 && y == 0;
                    row[x * 4] = first ? 0 : 255;
                    row[x * 4 + 1] = 255;
                    row[x * 4 + 2] = first ? 0 : 255;
                    row[x * 4 + 3] = first ? 128 : 255;
                }
                TIFFWriteScanline(tiff, row, y, 0);
            }
            TIFFClose(tiff);
            return readAll(path);
        }

        // A 6 x 4 screen whose first frame is 4 x 2 at (1, 1): index 0 red, 1 transparent,
        // 2 blue; a second frame that must be ignored paints everything green.
        std::vector<uint8_t> makeGIF(bool interlaced)
        {
            auto path = pathOf("sample.gif");
            int error = 0;
            GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
            GifColorType colors[4] = { { 255, 0, 0 }, { 0, 0, 0 }, { 0, 0, 255 }, { 0, 255, 0 } };
            ColorMapObject* map = GifMakeMapObject(4, colors);
            EGifSetGifVersion(gif, true);
            EGifPutScreenDesc(gif, 6, 4, 2, 0, map);
            GraphicsControlBlock gcb {};
            gcb.TransparentColor = 1;
            GifByteType ext[4];
            size_t len = EGifGCBToExtension(&gcb, ext);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext);
            EGifPutImageDesc(gif, 1, 1, 4, 2, interlaced, nullptr);
            GifPixelType row0[] = { 0, 1, 2, 2 }, row1[] = { 2, 2, 0, 0 };
            EGifPutLine(gif, row0, 4);
            EGifPutLine(gif, row1, 4);
            EGifPutImageDesc(gif, 0, 0, 6, 4, false, nullptr);
            GifPixelType green[6] = { 3, 3, 3, 3, 3, 3 };
            for (int y = 0; y < 4; ++y)
                EGifPutLine(gif, green, 6);
            EGifCloseFile(gif, &error);
            GifFreeMapObject(map);
            return readAll(path);
        }

    private:
        TemporaryFolder m_dir;
    };

    ::testing::AssertionResult roughly(const UIPixel& p, int r, int g, int b)
    {
        if (std::abs(p.red - r) <= 24 && std::abs(p.green - g) <= 24 && std::abs(p.blue - b) <= 24 && p.alpha == 255)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << describe(p);
    }

    TEST_F(ImageDecodingTest, JPEGsDecodeInColourAndGrey)
    {
        auto image = UIImage::imageWithData(makeJPEG());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixelWidth(), 16);
        EXPECT_TRUE(roughly(image->pixelAt(2, 4), 255, 0, 0));
        EXPECT_TRUE(roughly(image->pixelAt(13, 4), 0, 0, 255));
        auto grey = UIImage::imageWithData(makeJPEG(8, 8, true));
        ASSERT_TRUE(grey);
        EXPECT_TRUE(roughly(grey->pixelAt(4, 4), 128, 128, 128));
    }

    TEST_F(ImageDecodingTest, JPEGsNeededSmallerDecodeAtAFractionOfTheirSize)
    {
        auto bytes = makeJPEG(160, 80);
        struct Case {
            uint32_t atLeast;
            int width;
        };
        for (auto [atLeast, width] : { Case { 0, 160 }, Case { 160, 160 }, Case { 100, 160 }, Case { 80, 80 }, Case { 41, 40 * 2 }, Case { 40, 40 }, Case { 1, 20 } }) {
            auto* surface = platform::decodeJPEG(bytes.data(), bytes.size(), atLeast);
            ASSERT_TRUE(surface) << atLeast;
            EXPECT_EQ(cairo_image_surface_get_width(surface), width) << atLeast;
            EXPECT_EQ(cairo_image_surface_get_height(surface), width / 2) << atLeast;
            UIImage image(surface, 1);
            cairo_surface_destroy(surface);
            EXPECT_TRUE(roughly(image.pixelAt(width / 8, width / 4), 255, 0, 0)) << atLeast;
            EXPECT_TRUE(roughly(image.pixelAt(width - width / 8, width / 4), 0, 0, 255)) << atLeast;
        }
    }

    // A large picture's pixels are the system's again the moment it is released, whichever
    // thread decoded it: they are not left with the allocator.
    TEST_F(ImageDecodingTest, ALargePicturesPixelsGoBackToTheSystemWhenItIsReleased)
    {
        auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        auto mapped = [&](const void* address) {
            auto start = reinterpret_cast<std::uintptr_t>(address) / page * page;
            return ::msync(reinterpret_cast<void*>(start), page, MS_ASYNC) == 0;
        };
        std::shared_ptr<UIImage> image;
        std::thread([&] { image = UIImage::imageWithData(makeJPEG(640, 480)); }).join();
        ASSERT_TRUE(image);
        EXPECT_TRUE(roughly(image->pixelAt(10, 240), 255, 0, 0));
        EXPECT_TRUE(roughly(image->pixelAt(630, 240), 0, 0, 255));
        auto* pixels = cairo_image_surface_get_data(image->surface());
        std::size_t size = std::size_t(cairo_image_surface_get_stride(image->surface())) * 480;
        ASSERT_TRUE(mapped(pixels) && mapped(pixels + size - 1));
        image.reset();
        EXPECT_FALSE(mapped(pixels)) << "released";
        EXPECT_FALSE(mapped(pixels + size - 1));
    }

    TEST_F(ImageDecodingTest, TIFFsKeepTheirAlpha)
    {
        auto image = UIImage::imageWithData(makeTIFF());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixelWidth(), 4);
        EXPECT_EQ(image->pixelHeight(), 2);
        auto first = image->pixelAt(0, 0);
        EXPECT_NEAR(first.alpha, 128, 1);
        EXPECT_EQ(first.red, 0);
        EXPECT_EQ(image->pixelAt(3, 1), (UIPixel { 255, 255, 255, 255 }));
    }

    TEST_F(ImageDecodingTest, GIFsGiveTheirFirstFrameOnTheScreen)
    {
        for (bool interlaced : { false, true }) {
            auto image = UIImage::imageWithData(makeGIF(interlaced));
            ASSERT_TRUE(image) << interlaced;
            EXPECT_EQ(image->pixelWidth(), 6);
            EXPECT_EQ(image->pixelHeight(), 4);
            EXPECT_TRUE(isTransparent(image->pixelAt(0, 0)));
            EXPECT_EQ(image->pixelAt(1, 1), (UIPixel { 255, 0, 0, 255 }));
            EXPECT_TRUE(isTransparent(image->pixelAt(2, 1))); // the transparent index
            EXPECT_EQ(image->pixelAt(1, 2), (UIPixel { 0, 0, 255, 255 })); // the second row, also when interlaced
            EXPECT_TRUE(isTransparent(image->pixelAt(5, 3)));
        }
    }

    TEST_F(ImageDecodingTest, DamagedImagesNeverCrash)
    {
        for (auto bytes : { makeJPEG(), makeTIFF(), makeGIF(false), makeGIF(true) }) {
            for (size_t cut = 0; cut < bytes.size(); ++cut) {
                std::vector<uint8_t> part(bytes.begin(), bytes.begin() + long(cut));
                auto image = UIImage::imageWithData(part);
                if (image) {
                    EXPECT_GT(image->pixelWidth(), 0);
                }
            }
            // Flipped bytes in the body.
            for (size_t at = 8; at < bytes.size(); at += 5) {
                auto damaged = bytes;
                damaged[at] ^= 0xA5;
                UIImage::imageWithData(damaged);
            }
        }
    }

    TEST_F(ImageDecodingTest, ClaimsOfHugeSizesAreRefusedBeforeDecoding)
    {
        auto jpeg = makeJPEG();
        // The baseline frame header (FF C0) holds the height, then the width.
        for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
            if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
                // 30000 by 30000
                jpeg[i + 5] = 0x75;
                jpeg[i + 6] = 0x30;
                jpeg[i + 7] = 0x75;
                jpeg[i + 8] = 0x30;
                break;
            }
        }
        EXPECT_FALSE(UIImage::imageWithData(jpeg));
        auto gif = makeGIF(false);
        gif[6] = gif[7] = gif[8] = gif[9] = 0xFF; // a 65535 x 65535 screen
        EXPECT_FALSE(UIImage::imageWithData(gif));
        EXPECT_FALSE(UIImage::imageWithData({ 'G', 'I', 'F', '8', '9', 'a' }));
        EXPECT_FALSE(UIImage::imageWithData({ 'I', 'I', 42, 0, 0xff, 0xff, 0xff, 0xff }));
    }

}
}
