// libFuzzer target: what a web view and its renderer say to each other, as either side reads it:
// the framing of the byte stream, then each message's decoder. A message that decodes must
// encode back to the very same bytes.

#include "renderer/protocol/RendererProtocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace vesk::platform::renderer;

namespace {

template<typename Message>
void roundTrip(const Channel::Received& received, const std::optional<Message>& message)
{
    if (!message)
        return;
    auto again = encode(*message);
    if (again.size() != received.payload.size() + 8 || (!received.payload.empty() && std::memcmp(again.data() + 8, received.payload.data(), received.payload.size()) != 0))
        std::abort();
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return 0;
    // The socket holds far more than the longest input.
    auto written = ::send(ends[0], data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    ::close(ends[0]);
    Channel channel(ends[1]);
    if (written < 0)
        return 0;
    for (int round = 0; round < 64; ++round) {
        if (!channel.readAvailable())
            break;
        while (auto received = channel.takeMessage()) {
            roundTrip(*received, decodeAppMessage(received->type, received->payload.data(), received->payload.size()));
            roundTrip(*received, decodeRendererMessage(received->type, received->payload.data(), received->payload.size()));
        }
        if (channel.isBroken())
            break;
    }
    return 0;
}
