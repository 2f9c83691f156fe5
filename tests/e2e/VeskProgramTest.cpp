#include "e2e/VeskProcess.h"
#include "platform/foundation/NSFileManager.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

using vesk::test::isListening;
using vesk::test::VeskProcess;

// The vesk binary of this build, with a home of its own under a scratch folder.
class VeskProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        vesk = std::make_unique<VeskProcess>(root + "/home", root);
    }
    void TearDown() override
    {
        vesk.reset();
        vesk::platform::NSFileManager::defaultManager().removeItemAtPath(root);
    }

    // Never in a window, whatever display the tests run on.
    void launch(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "--headless");
        vesk->launch(arguments);
    }

    std::string root;
    std::unique_ptr<VeskProcess> vesk;
};

TEST_F(VeskProgramTest, StartFileserverServesUntilSigtermThenExitsCleanly)
{
    launch({ "--quick-action", "fileserver" });
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    EXPECT_TRUE(vesk->waitForError("Webserver: 127.0.0.1:" + std::to_string(vesk->port))) << vesk->errors();
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
    EXPECT_FALSE(isListening(vesk->port));

    // The switch is kept: the next run serves without the quick action, and SIGINT ends it too.
    launch({});
    ASSERT_TRUE(vesk->waitUntilListening()) << vesk->errors();
    vesk->signal(SIGINT);
    EXPECT_EQ(vesk->waitForExit(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, AMissingFileHandedOverRaisesInvalidePath)
{
    launch({ "--", "--open", root + "/nothing-here.txt" });
    EXPECT_TRUE(vesk->waitForError("Invalide path")) << vesk->errors();
    EXPECT_FALSE(isListening(vesk->port)) << "the server switch is off";
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
}

TEST_F(VeskProgramTest, SigtermEndsTheProgramWithinTwoSecondsWhileTheMainRunLoopIsBusy)
{
    // The viewer parses a property list of 1.5 million entries on the main run loop, for seconds.
    std::string list = "<plist><array>";
    for (int index = 0; index < 1500000; ++index)
        list += "<integer>" + std::to_string(index) + "</integer>";
    std::ofstream(root + "/big.plist") << list << "</array></plist>";
    launch({ "--open", root + "/big.plist" });
    // Start-up takes the main thread well under this; the parse, seconds more.
    ASSERT_TRUE(VeskProcess::waitUntil([&] { return vesk->mainThreadNanoseconds() > 400'000'000; })) << vesk->errors();
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(vesk->stop(), 0) << vesk->errors();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
}

TEST_F(VeskProgramTest, HelpAndBadOptions)
{
    launch({ "--help" });
    EXPECT_EQ(vesk->waitForExit(), 0);
    for (const char* option : { "--quick-action fileserver", "--quick-action bookmarks", "--open PATH", "--help" })
        EXPECT_NE(vesk->output().find(option), std::string::npos) << option;

    launch({ "--quick-action", "launch-rockets" });
    EXPECT_EQ(vesk->waitForExit(), 2);
    EXPECT_NE(vesk->errors().find("unknown quick action"), std::string::npos);
    for (const char* bad : { "--open", "--verbose" }) {
        launch({ bad });
        EXPECT_EQ(vesk->waitForExit(), 2) << bad;
    }
}

}
