#include "model/SettingsKeys.h"

#include "model/ObjCHelper.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/NSString.h"

namespace vesk {

using namespace platform;

std::string sha1Hex(std::string_view text)
{
    SHA1Digest digest = sha1(text);
    std::string result;
    result.reserve(2 * digest.size());
    for (std::uint8_t byte : digest)
        result += stringWithFormat("%02x", { static_cast<unsigned>(byte) });
    return result;
}

namespace {

    // Both getters that hand back the answer itself may have none; the join needs a fixed word
    // for it so the keys stay the same from run to run.
    constexpr std::string_view absentAnswer = "(null)";

    std::string answerText(const std::optional<std::string>& answer)
    {
        return answer ? *answer : std::string(absentAnswer);
    }

    std::string settingsKey(std::string_view suffix)
    {
        std::string seed = deviceIdentity();
        seed += suffix;
        return sha1Hex(seed);
    }

}

std::string deviceIdentity()
{
    ObjCHelper helper;
    std::string joined = answerText(helper.getFire());
    for (auto const& answer : { helper.getChicken(), helper.getAngryGuy(), helper.getBikini(), helper.getACar() }) {
        joined += '-';
        joined += answerText(answer);
    }
    return sha1Hex(joined);
}

// Function-local statics: C++ initialises each exactly once, even when first read from two threads.
const std::string& hashedDefaultsKey1V2()
{
    static const std::string key = settingsKey("1V2");
    return key;
}

const std::string& hashedDefaultsKey2()
{
    static const std::string key = settingsKey("2");
    return key;
}

const std::string& hashedDefaultsKey4()
{
    static const std::string key = settingsKey("4");
    return key;
}

const std::string& hashedDefaultsKey6()
{
    static const std::string key = settingsKey("6");
    return key;
}

const std::string& hashedDefaultsKey7()
{
    static const std::string key = settingsKey("7");
    return key;
}

const std::string& hashedDefaultsKey8()
{
    static const std::string key = settingsKey("8");
    return key;
}

}
