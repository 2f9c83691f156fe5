#include "platform/graphics/UIFont.h"

#include "platform/graphics/TextLayout.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>

namespace vesk::platform {

namespace {

    // Pango font maps are not to be shared between threads: each thread gets its own, released
    // when the thread ends (the main thread's at exit).
    struct ThreadFontMap {
        PangoFontMap* map = pango_cairo_font_map_new();
        ~ThreadFontMap() { g_object_unref(map); }
    };

    PangoFontMap* threadFontMap()
    {
        thread_local ThreadFontMap holder;
        return holder.map;
    }

}

namespace {

    constexpr const char* kSansFamily = "Liberation Sans";

    std::string lowercase(std::string s)
    {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        return s;
    }

    // Installed font families, lower-cased; read once.
    const std::set<std::string>& installedFamilies()
    {
        static std::set<std::string> families;
        static std::once_flag once;
        std::call_once(once, [] {
            auto* map = pango_cairo_font_map_new();
            PangoFontFamily** list = nullptr;
            int count = 0;
            pango_font_map_list_families(map, &list, &count);
            for (int i = 0; i < count; ++i)
                families.insert(lowercase(pango_font_family_get_name(list[i])));
            g_free(list);
            g_object_unref(map);
        });
        return families;
    }

    bool familyInstalled(const std::string& family)
    {
        return installedFamilies().count(lowercase(family)) != 0;
    }

    PangoFontDescription* describe(const UIFont& font)
    {
        auto* desc = pango_font_description_new();
        pango_font_description_set_family(desc, font.familyName().c_str());
        pango_font_description_set_weight(desc, font.isBold() ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
        pango_font_description_set_absolute_size(desc, font.pointSize() * PANGO_SCALE);
        return desc;
    }

    bool usableSize(CGFloat size)
    {
        return std::isfinite(size) && size > 0 && size < 100000;
    }

}

UIFont::UIFont(std::string fontName, std::string family, bool bold, CGFloat pointSize)
    : m_fontName(std::move(fontName))
    , m_family(std::move(family))
    , m_bold(bold)
    , m_pointSize(pointSize)
{
}

std::shared_ptr<UIFont> UIFont::fontWithName(const std::string& fontName, CGFloat size)
{
    if (!usableSize(size))
        return nullptr;
    auto name = lowercase(fontName);
    // Helvetica is not shipped on Linux; Liberation Sans has its metrics.
    if (name == "helvetica" || name == "arial")
        return std::make_shared<UIFont>(fontName, kSansFamily, false, size);
    if (name == "helvetica-bold" || name == "arial-boldmt")
        return std::make_shared<UIFont>(fontName, kSansFamily, true, size);
    bool bold = false;
    std::string family = fontName;
    for (auto suffix : { "-bold", " bold" }) {
        auto len = std::char_traits<char>::length(suffix);
        if (name.size() > len && name.compare(name.size() - len, len, suffix) == 0) {
            bold = true;
            family = fontName.substr(0, fontName.size() - len);
            break;
        }
    }
    if (!familyInstalled(family))
        return nullptr;
    return std::make_shared<UIFont>(fontName, family, bold, size);
}

std::shared_ptr<UIFont> UIFont::systemFontOfSize(CGFloat size)
{
    return std::make_shared<UIFont>(".SFUI-Regular", kSansFamily, false, usableSize(size) ? size : 12);
}

std::shared_ptr<UIFont> UIFont::boldSystemFontOfSize(CGFloat size)
{
    return std::make_shared<UIFont>(".SFUI-Semibold", kSansFamily, true, usableSize(size) ? size : 12);
}

namespace {

    template<typename Read>
    CGFloat readMetrics(const UIFont& font, Read read)
    {
        auto* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        auto* cr = cairo_create(surface);
        auto* layout = createTextLayout(cr, "", font);
        auto* metrics = pango_context_get_metrics(pango_layout_get_context(layout), pango_layout_get_font_description(layout), nullptr);
        CGFloat value = read(metrics);
        pango_font_metrics_unref(metrics);
        g_object_unref(layout);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return value;
    }

}

CGFloat UIFont::ascender() const
{
    return readMetrics(*this, [](PangoFontMetrics* m) { return CGFloat(pango_font_metrics_get_ascent(m)) / PANGO_SCALE; });
}

CGFloat UIFont::descender() const
{
    return readMetrics(*this, [](PangoFontMetrics* m) { return -CGFloat(pango_font_metrics_get_descent(m)) / PANGO_SCALE; });
}

CGFloat UIFont::lineHeight() const
{
    return readMetrics(*this, [](PangoFontMetrics* m) {
        return CGFloat(pango_font_metrics_get_ascent(m) + pango_font_metrics_get_descent(m)) / PANGO_SCALE;
    });
}

std::string sanitizedText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        const char* stop = nullptr;
        g_utf8_validate(p, end - p, &stop);
        out.append(p, stop);
        p = stop;
        if (p < end) {
            // An invalid sequence or a NUL byte: one replacement character, then skip the
            // byte (and the continuation bytes after it).
            out.append("\xEF\xBF\xBD");
            ++p;
            while (p < end && (static_cast<unsigned char>(*p) & 0xC0) == 0x80)
                ++p;
        }
    }
    return out;
}

PangoLayout* createTextLayout(cairo_t* cr, const std::string& text, const UIFont& font)
{
    auto* context = pango_font_map_create_context(threadFontMap());
    pango_cairo_update_context(cr, context);
    pango_cairo_context_set_resolution(context, 72);
    auto* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
#if PANGO_VERSION_CHECK(1, 44, 0)
    pango_context_set_round_glyph_positions(context, FALSE);
#endif
    auto* layout = pango_layout_new(context);
    g_object_unref(context);
    auto* desc = describe(font);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    auto clean = sanitizedText(text);
    pango_layout_set_text(layout, clean.data(), int(clean.size()));
#if PANGO_VERSION_CHECK(1, 44, 0)
    // Words broken across lines keep their letters only: no hyphen is added.
    auto* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
    pango_layout_set_attributes(layout, attributes);
    pango_attr_list_unref(attributes);
#endif
    return layout;
}

std::shared_ptr<UIFont> defaultTextFont()
{
    return UIFont::fontWithName("Helvetica", 12);
}

}

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig leaks a few bytes while it parses its configuration; that is not ours to fix,
// and the leak checker would otherwise fail every program that lays out text.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

#if defined(__SANITIZE_THREAD__)
// The font stack (fontconfig, glib, pango, cairo and below) synchronises with atomics the race
// detector cannot see, as those libraries are not instrumented; races in our own code are
// still reported.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libfontconfig.so.1\n"
           "race:libfontconfig.so\n"
           "race:libglib-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libpango-1.0.so\n"
           "race:libpangoft2-1.0.so\n"
           "race:libpangocairo-1.0.so\n"
           "race:libcairo.so\n"
           "race:libpixman-1.so\n"
           "race:libharfbuzz.so\n"
           "race:libfreetype.so\n"
           "mutex:libpangoft2-1.0.so\n"
           "mutex:libfontconfig.so\n";
}
#endif
