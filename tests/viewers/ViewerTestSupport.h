#pragma once

// The app launched on its file list; files are opened from it as a tap would, and the banners
// raised since are read back.

#include "app/AppDelegate.h"
#include "app/AppTestSupport.h"
#include "app/Utility.h"
#include "model/VeskFile.h"

#include <cairo.h>
#include <cstdlib>
#include <string>

namespace vesk::test {

class ViewerTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        beforeLaunch();
        platform::UIApplication::sharedApplication().launch(std::make_shared<AppDelegate>());
    }
    // Where a fixture sets up the device the app launches on.
    virtual void beforeLaunch() { }

    // Opens the file over the file list; answers the screen a person then sees.
    template<typename Screen>
    std::shared_ptr<Screen> open(const std::string& path)
    {
        utility.openItem(driver.screenStack().front(), VeskFile::initWithPath(path), platform::CGRectMake(0, 0, 1, 1));
        driver.drain();
        return driver.visible<Screen>();
    }

    // The banners on screen or waiting, as "type: message".
    static std::vector<std::string> banners()
    {
        std::vector<std::string> texts;
        for (auto& banner : VeskNotificationManager::queue())
            texts.push_back(std::string(notificationTypeName(banner->type())) + ": " + banner->message().value_or(""));
        return texts;
    }

    // A PNG of one colour.
    std::string makePNG(const std::string& name, int width, int height) const
    {
        std::string path = root() + "/" + name;
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        EXPECT_EQ(cairo_surface_write_to_png(surface, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(surface);
        return path;
    }

    // Runs `what` with the renderer `program` started for pages, in the hostile `mode` that its
    // VESK_HOSTILE_RENDERER names; answers what `what` answers.
    template<typename What>
    static auto withRenderer(const std::string& program, const char* mode, What what)
    {
        ::setenv("VESK_RENDERER", program.c_str(), 1);
        ::setenv("VESK_HOSTILE_RENDERER", mode, 1);
        struct Reset {
            ~Reset()
            {
                ::unsetenv("VESK_HOSTILE_RENDERER");
                ::unsetenv("VESK_RENDERER");
            }
        } reset;
        return what();
    }

    static constexpr const char* errorBanner = "Error: There was an unidentefied issue with this file!";

    Utility utility;
};

}
