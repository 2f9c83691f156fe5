#pragma once

#include "platform/graphics/CGGeometry.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIWebView.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::test {

// What a web view told its delegate, in order.
class LoadRecorder : public platform::UIWebViewDelegate {
public:
    void webViewDidStartLoad(platform::UIWebView&) override { calls.push_back("start"); }
    void webViewDidFinishLoad(platform::UIWebView&) override { calls.push_back("finish"); }
    void didFailLoadWithError(platform::UIWebView&, const std::optional<platform::NSError>&) override { calls.push_back("fail"); }
    std::vector<std::string> calls;
};

// A PDF of the objects, numbered from 1, the first the catalogue, with its cross-reference table.
inline std::string pdfWithObjects(const std::vector<std::string>& objects)
{
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (auto& object : objects) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + object + "\nendobj\n";
    }
    auto table = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (auto offset : offsets) {
        auto digits = std::to_string(offset);
        pdf += std::string(10 - digits.size(), '0') + digits + " 00000 n \n";
    }
    return pdf + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n";
}

inline std::string repeat(std::string_view part, std::size_t times)
{
    std::string text;
    text.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        text += part;
    return text;
}

// The pixels of the rectangle (in the image's pixels) that pass the test.
inline int countPixels(const platform::UIImage& image, platform::CGRect rect, const std::function<bool(platform::UIPixel)>& test)
{
    int found = 0;
    for (int y = int(rect.origin.y); y < int(platform::CGRectGetMaxY(rect)); ++y) {
        for (int x = int(rect.origin.x); x < int(platform::CGRectGetMaxX(rect)); ++x)
            found += test(image.pixelAt(x, y));
    }
    return found;
}

}
