#include "platform/foundation/AppHome.h"
#include "platform/foundation/FoundationTestSupport.h"
#include "sdk/Analytics.h"
#include "sdk/CrashReporter.h"
#include "sdk/Telemetry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>

using namespace vesk;
using namespace vesk::platform;

namespace {

const Value& attribute(const Analytics::Event& event, const char* key)
{
    static const Value none;
    auto* value = event.attributes.find(key);
    return value ? *value : none;
}

class CountingKit : public TLMKit {
public:
    std::string identifier() const override { return "Counting"; }
    void start() override { ++starts; }
    int starts = 0;
};

class SdkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CrashReporter::sharedInstance()->reset();
        Analytics::setMaximumLogSize(0);
    }
    void TearDown() override { Analytics::setMaximumLogSize(0); }

    vesk::testing::TemporaryFolder m_home;
    vesk::testing::ScopedEnv m_env { "VESK_HOME", m_home.path().c_str() };
};

TEST_F(SdkTest, TelemetryStartsItsKitsOncePerProcess)
{
    auto counting = std::make_shared<CountingKit>();
    auto crash = CrashReporter::init();
    auto telemetry = Telemetry::with({ crash, nullptr, counting, crash });
    ASSERT_NE(telemetry, nullptr);
    EXPECT_EQ(telemetry->kitIdentifiers(), (std::vector<std::string> { "CrashReporter", "Counting", "Analytics" }));
    EXPECT_EQ(counting->starts, 1);
    EXPECT_TRUE(crash->isStarted());

    auto again = Telemetry::with({ counting });
    EXPECT_EQ(again, telemetry);
    EXPECT_EQ(Telemetry::sharedInstance(), telemetry);
    EXPECT_EQ(counting->starts, 1);
}

TEST_F(SdkTest, CustomEventsAreRecordedInTheCachesEventLogInOrder)
{
    Analytics::logCustomEventWithName("HTTP-Server", { { "State", Value(true) } });
    Analytics::logCustomEventWithName("Memory Warning", { { "File", Value("/tmp/a \"b\"\nc") }, { "RAM", Value(123) } });
    Analytics::logCustomEventWithName("Opened Github issue tracker");

    EXPECT_EQ(Analytics::eventLogPath().rfind(cachesDirectory() + "/", 0), 0u) << Analytics::eventLogPath();
    auto events = Analytics::recordedEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, "HTTP-Server");
    EXPECT_EQ(events[1].attributes, (Dictionary { { "File", Value("/tmp/a \"b\"\nc") }, { "RAM", Value(123) } }));
    EXPECT_TRUE(events[2].attributes.empty());
    EXPECT_GT(events[0].timestamp, 1.5e9);
    // One JSON object a line, whatever the texts hold.
    std::ifstream log(Analytics::eventLogPath());
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(log), {}, '\n'), 3);
}

TEST_F(SdkTest, OddAttributeValuesAndNamesNeverCostTheEvent)
{
    Analytics::logCustomEventWithName("bad \xff name", { { "when", Value(Date { 0 }) }, { "list", Value(Array { Value(1) }) } });
    auto events = Analytics::recordedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name, "bad \xEF\xBF\xBD name");
    EXPECT_TRUE(attribute(events[0], "when").isString());
    EXPECT_TRUE(attribute(events[0], "list").isString());
}

TEST_F(SdkTest, TheEventLogIsCappedToTwoFiles)
{
    Analytics::setMaximumLogSize(600);
    for (int index = 0; index < 100; ++index)
        Analytics::logCustomEventWithName("HTTP-Server", { { "State", Value(index) } });

    struct stat current {
    }, previous {};
    ASSERT_EQ(::stat(Analytics::eventLogPath().c_str(), &current), 0);
    ASSERT_EQ(::stat(Analytics::previousEventLogPath().c_str(), &previous), 0);
    EXPECT_LE(current.st_size, 600);
    EXPECT_LE(previous.st_size, 600);

    // What is kept is the newest events, contiguous and in order.
    auto events = Analytics::recordedEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_LT(events.size(), 100u);
    EXPECT_EQ(attribute(events.back(), "State"), Value(99));
    for (std::size_t index = 1; index < events.size(); ++index)
        EXPECT_EQ(*attribute(events[index], "State").integerValue(), *attribute(events[index - 1], "State").integerValue() + 1);
}

TEST_F(SdkTest, EventsFromManyThreadsStayWholeLines)
{
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([thread] {
            for (int index = 0; index < 50; ++index) {
                Analytics::logCustomEventWithName("HTTP-Server", { { "State", Value(thread * 1000 + index) } });
                CrashReporter::sharedInstance()->setObjectValue(Value(index), "key" + std::to_string(thread));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(Analytics::recordedEvents().size(), 200u);
    EXPECT_EQ(CrashReporter::sharedInstance()->customKeys().size(), 4u);
}

}
