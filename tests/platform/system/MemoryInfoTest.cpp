#include "platform/system/MemoryInfo.h"

#include <gtest/gtest.h>

using namespace vesk::platform;

namespace {

TEST(MemoryInfoTest, ParsesTheStatusFields)
{
    auto figures = parseProcStatus("Name:\tvesk\nVmPeak:\t  9000 kB\nVmSize:\t  8000 kB\nVmHWM:\t  3000 kB\nVmRSS:\t  2048 kB\n");
    ASSERT_TRUE(figures);
    EXPECT_EQ(figures->residentSize, 2048u * 1024);
    EXPECT_EQ(figures->residentSizePeak, 3000u * 1024);
    EXPECT_EQ(figures->virtualSize, 8000u * 1024);
}

TEST(MemoryInfoTest, MalformedStatusTextReadsAsAbsent)
{
    for (const char* text : { "", "VmRSS:", "VmRSS:\t kB\n", "VmRSS:\tlots kB\n", "VmRSS:\t12 MB\n", "VmRSSX:\t12 kB\n",
             "VmRSS:\t99999999999999999999999 kB\n", "VmRSS:\t18446744073709551615 kB\n", "Name:\tVmRSS: 12 kB\n" }) {
        EXPECT_FALSE(parseProcStatus(text)) << text;
    }
    auto missingPeak = parseProcStatus("VmRSS:\t10 kB");
    ASSERT_TRUE(missingPeak);
    EXPECT_EQ(missingPeak->residentSizePeak, 10u * 1024);
    EXPECT_EQ(missingPeak->virtualSize, 0u);
}

}
