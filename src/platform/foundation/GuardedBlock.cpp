#include "platform/foundation/GuardedBlock.h"

#include <cstdio>
#include <exception>

namespace vesk::platform {

void runGuarded(const std::function<void()>& block, const char* where)
{
    try {
        block();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Uncaught exception in %s: %s\n", where, e.what());
    } catch (...) {
        std::fprintf(stderr, "Uncaught exception in %s\n", where);
    }
}

}
