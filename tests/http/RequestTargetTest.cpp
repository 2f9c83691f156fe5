#include "http/RequestTarget.h"

#include <gtest/gtest.h>

using namespace vesk;

TEST(RequestTarget, PathOfEachKindOfTarget)
{
    struct Case {
        std::string target;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        { "/", "/" },
        { "/getDocDir", "/getDocDir" },
        { "/a/", "/a" },
        { "/getFile?path=/x&type=raw", "/getFile" },
        { "/page#part", "/page" },
        { "/page?q#part", "/page" },
        { "/a%20b/%2F", "/a b//" },
        { "/caf%C3%A9", "/caf\xC3\xA9" },
        { "/files/a%2520b", "/files/a%20b" },
        { "http://10.0.0.7:8080/getDocDir?x=1", "/getDocDir" },
        { "//host/p", "/p" },
        { "*", "*" },
        { "relative", "relative" },
        // No path at all.
        { "http://host", std::nullopt },
        { "?q=1", std::nullopt },
        { "", std::nullopt },
        // Characters a URL may not hold, and broken or unsafe escapes.
        { "/caf\xC3\xA9", std::nullopt },
        { "/100%", std::nullopt },
        { "/100%2", std::nullopt },
        { "/%zz", std::nullopt },
        { "/%E9", std::nullopt },
        { "/%C3", std::nullopt },
        { "/a%00b", std::nullopt },
        { "/a#b#c", std::nullopt },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(requestPath(testCase.target), testCase.path) << testCase.target;
    for (char unsafe : std::string("\"<>\\[]{}|^`"))
        EXPECT_EQ(requestPath(std::string("/a") + unsafe + "b"), std::nullopt) << unsafe;
}
