// libFuzzer target: a hostile HTML page decoded, bounded, parsed, laid out, drawn and clicked.

#include "renderer/engine/HTMLEncoding.h"
#include "renderer/engine/HTMLNesting.h"
#include "renderer/engine/TextElements.h"
#include "renderer/engine/WebPage.h"

#include <cstdint>
#include <cstdlib>

using namespace vesk::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Read as a browser reads a page's bytes, the first bytes choosing the charset.
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto charset = size > 0 && data[0] % 4 == 0 ? std::optional<std::string_view>(bytes.substr(0, std::min<std::size_t>(size, 12))) : std::nullopt;
    auto decoded = decodedHTML(bytes, charset);
    // A small bound, so that inputs within the length limit reach it.
    auto markup = boundedHTMLNesting(decoded.text, 24);
    if (auto cut = htmlFirstPartEnd(markup, markup.size() / 3); cut != std::string::npos && cut > markup.size())
        std::abort();
    // Each space of preformatted text becomes two bytes, and nothing else changes.
    auto joined = htmlWithPreformattedLinesJoined(markup);
    if (joined.size() < markup.size() || joined.size() > 2 * markup.size() || htmlTextElements(markup) > markup.size())
        std::abort();
    auto page = WebPage::create(markup, NSURL::fileURLWithPath("/fuzz/page.html"), [](const NSURL&) { return std::string("p { color: red } div { width: 40% }"); });
    if (!page)
        return 0;
    page->layout(200);
    auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 200);
    auto* cr = cairo_create(surface);
    page->draw(cr, CGRectMake(0, 0, 200, 200));
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    page->linkAt({ 20, 10 });
    auto references = page->references();
    if (references.links.size() > size)
        std::abort();
    page->layout(80);
    return 0;
}
