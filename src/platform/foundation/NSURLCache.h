#pragma once

#include "platform/foundation/NSURLRequest.h"

#include <memory>
#include <optional>

namespace vesk::platform {

// The process-wide URL cache the loader consults: asked before every load, and handed every
// successful GET response from the network. This one keeps nothing; a subclass installed as
// the shared cache decides what to keep and answer. Loads run on any thread, so a subclass
// guards its own state.
class NSURLCache {
public:
    virtual ~NSURLCache() = default;

    static std::shared_ptr<NSURLCache> sharedURLCache();
    static void setSharedURLCache(std::shared_ptr<NSURLCache> cache);

    // A response answered here is used instead of loading.
    virtual std::optional<NSCachedURLResponse> cachedResponseForRequest(const NSURLRequest&) { return std::nullopt; }
    virtual void storeCachedResponse(const NSCachedURLResponse&, const NSURLRequest&) { }
};

}
