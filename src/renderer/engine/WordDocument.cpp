#include "renderer/engine/WordDocument.h"

#include <gsf/gsf-input-memory.h>
#include <mutex>
#include <wv/wv.h>

namespace vesk::platform {

namespace {

    struct Conversion {
        std::string html;
        bool bold = false;
        bool italic = false;
        // Open fields: whether their code (hidden) or their result (shown) is being read.
        std::vector<bool> hiding;
    };

    void appendCharacter(std::string& html, std::uint32_t c)
    {
        switch (c) {
        case '&':
            html += "&amp;";
            return;
        case '<':
            html += "&lt;";
            return;
        case '>':
            html += "&gt;";
            return;
        default:
            break;
        }
        if (c < 0x80) {
            html += static_cast<char>(c);
        } else if (c < 0x800) {
            html += static_cast<char>(0xC0 | (c >> 6));
            html += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0xD800 || c > 0xDFFF) {
            html += static_cast<char>(0xE0 | (c >> 12));
            html += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            html += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    int character(wvParseStruct* parser, U16 c, U8 eightBit, U16 language)
    {
        auto& conversion = *static_cast<Conversion*>(parser->userData);
        switch (c) {
        case 19: // a field's code begins
            conversion.hiding.push_back(true);
            return 0;
        case 20: // its result follows
            if (!conversion.hiding.empty())
                conversion.hiding.back() = false;
            return 0;
        case 21: // its end
            if (!conversion.hiding.empty())
                conversion.hiding.pop_back();
            return 0;
        default:
            break;
        }
        for (bool hidden : conversion.hiding) {
            if (hidden)
                return 0;
        }
        switch (c) {
        case 13: // the paragraph's end, told as an element
            return 0;
        case 11:
            conversion.html += "<br>";
            return 0;
        case 7: // a table cell's end
        case 9:
            conversion.html += ' ';
            return 0;
        case 12:
            conversion.html += "<hr>";
            return 0;
        case 30:
        case 31:
            conversion.html += '-';
            return 0;
        default:
            break;
        }
        if (c < 32)
            return 0;
        appendCharacter(conversion.html, eightBit ? wvHandleCodePage(c, language) : c);
        return 0;
    }

    void closeStyles(Conversion& conversion)
    {
        if (conversion.italic)
            conversion.html += "</i>";
        if (conversion.bold)
            conversion.html += "</b>";
        conversion.bold = conversion.italic = false;
    }

    int element(wvParseStruct* parser, wvTag tag, void* properties, int)
    {
        auto& conversion = *static_cast<Conversion*>(parser->userData);
        switch (tag) {
        case PARABEGIN:
            conversion.html += "<p>";
            break;
        case PARAEND:
            closeStyles(conversion);
            conversion.html += "</p>\n";
            break;
        case CHARPROPBEGIN:
            if (auto* style = static_cast<CHP*>(properties)) {
                conversion.bold = style->fBold;
                conversion.italic = style->fItalic;
                if (conversion.bold)
                    conversion.html += "<b>";
                if (conversion.italic)
                    conversion.html += "<i>";
            }
            break;
        case CHARPROPEND:
            closeStyles(conversion);
            break;
        default:
            break;
        }
        return 0;
    }

}

std::optional<std::string> htmlFromWordDocument(const std::vector<std::uint8_t>& data)
{
    // libwv keeps state of its own between documents.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    static bool started = (wvInit(), true);
    (void)started;
    auto* input = gsf_input_memory_new(data.data(), static_cast<gsf_off_t>(data.size()), FALSE);
    if (!input)
        return std::nullopt;
    wvParseStruct parser {};
    if (wvInitParser_gsf(&parser, input) != 0) {
        wvOLEFree(&parser);
        return std::nullopt;
    }
    Conversion conversion;
    conversion.html = "<html><head><meta charset=utf-8></head><body>\n";
    parser.userData = &conversion;
    wvSetElementHandler(&parser, element);
    wvSetCharHandler(&parser, character);
    int failed = wvText(&parser);
    wvOLEFree(&parser);
    if (failed)
        return std::nullopt;
    conversion.html += "</body></html>\n";
    return conversion.html;
}

}
