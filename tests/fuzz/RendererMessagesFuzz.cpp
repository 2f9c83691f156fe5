// libFuzzer target: what a web view and its renderer say to each other, as either side reads it:
// the framing of the byte stream, then each message's decoder. A message that decodes must
// encode back to the very same bytes. A load's shared document is the input itself, sealed as
// the low bits of its size say; it must be read exactly when sealed and long enough, and intact.

#include "renderer/protocol/RendererProtocol.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
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

void readShared(const std::optional<AppMessage>& message, const std::uint8_t* data, std::size_t size)
{
    auto* load = message ? std::get_if<Load>(&*message) : nullptr;
    if (!load || load->sharedSize == 0)
        return;
    int memory = static_cast<int>(::syscall(SYS_memfd_create, "fuzz", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (memory < 0)
        return;
    if (::pwrite(memory, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    int seals = (load->sharedSize & 1 ? F_SEAL_SHRINK : 0) | (load->sharedSize & 2 ? F_SEAL_WRITE : 0);
    if (seals && ::fcntl(memory, F_ADD_SEALS, seals) != 0)
        std::abort();
    auto document = readSharedDocument(memory, load->sharedSize);
    ::close(memory);
    bool readable = seals == (F_SEAL_SHRINK | F_SEAL_WRITE) && load->sharedSize <= size;
    if (document.has_value() != readable || (document && (document->size() != load->sharedSize || std::memcmp(document->data(), data, document->size()) != 0)))
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
            auto app = decodeAppMessage(received->type, received->payload.data(), received->payload.size());
            roundTrip(*received, app);
            readShared(app, data, size);
            roundTrip(*received, decodeRendererMessage(received->type, received->payload.data(), received->payload.size()));
        }
        if (channel.isBroken())
            break;
    }
    return 0;
}
