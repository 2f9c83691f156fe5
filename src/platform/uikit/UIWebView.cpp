#include "platform/uikit/UIWebView.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSURLConnection.h"

#include <gumbo.h>
#include <set>

namespace vesk::platform {

// Made on a background queue, then handed whole to the main queue.
struct UIWebView::PageLoad {
    std::optional<NSURLResponse> response;
    NSError error;
    Bytes data;
    std::vector<Resource> resources;
    std::vector<Link> links;
    HTMLText text;
};

namespace {

    // Bigger documents are shown, but their references past this point are not looked for.
    constexpr std::size_t maximumParsedBytes = 16u << 20;
    constexpr std::size_t maximumLinkText = 256;

    std::string lowercase(std::string text)
    {
        for (auto& c : text) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }

    bool linkLoads(const GumboVector& attributes)
    {
        auto* rel = gumbo_get_attribute(&attributes, "rel");
        if (!rel)
            return false;
        std::string tokens = lowercase(rel->value);
        std::size_t at = 0;
        while (at < tokens.size()) {
            auto start = tokens.find_first_not_of(" \t\r\n\f", at);
            if (start == std::string::npos)
                break;
            auto end = tokens.find_first_of(" \t\r\n\f", start);
            auto token = tokens.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (token == "stylesheet" || token == "icon")
                return true;
            at = end == std::string::npos ? tokens.size() : end;
        }
        return false;
    }

    // The text of an element, white space collapsed, cut short after maximumLinkText bytes.
    std::string textOf(const GumboNode* element)
    {
        std::string text;
        std::vector<const GumboNode*> stack { element };
        while (!stack.empty() && text.size() < maximumLinkText) {
            const GumboNode* node = stack.back();
            stack.pop_back();
            if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
                for (const char* c = node->v.text.text; *c && text.size() < maximumLinkText; ++c) {
                    bool space = *c == ' ' || *c == '\t' || *c == '\r' || *c == '\n' || *c == '\f';
                    if (!space)
                        text += *c;
                    else if (!text.empty() && text.back() != ' ')
                        text += ' ';
                }
            } else if (node->type == GUMBO_NODE_ELEMENT) {
                auto& children = node->v.element.children;
                for (unsigned i = children.length; i > 0; --i)
                    stack.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
            }
        }
        if (!text.empty() && text.back() == ' ')
            text.pop_back();
        return text;
    }

    bool mayLeadTo(const NSURL& url, bool fromFilePage)
    {
        auto& scheme = url.scheme();
        return scheme == "http" || scheme == "https" || (scheme == "file" && fromFilePage);
    }

    bool isHTML(const NSURLResponse& response)
    {
        return response.MIMEType == "text/html" || response.MIMEType == "application/xhtml+xml";
    }

    bool isBlock(GumboTag tag)
    {
        switch (tag) {
        case GUMBO_TAG_P:
        case GUMBO_TAG_DIV:
        case GUMBO_TAG_BR:
        case GUMBO_TAG_LI:
        case GUMBO_TAG_UL:
        case GUMBO_TAG_OL:
        case GUMBO_TAG_DL:
        case GUMBO_TAG_DT:
        case GUMBO_TAG_DD:
        case GUMBO_TAG_H1:
        case GUMBO_TAG_H2:
        case GUMBO_TAG_H3:
        case GUMBO_TAG_H4:
        case GUMBO_TAG_H5:
        case GUMBO_TAG_H6:
        case GUMBO_TAG_TR:
        case GUMBO_TAG_TABLE:
        case GUMBO_TAG_PRE:
        case GUMBO_TAG_BLOCKQUOTE:
        case GUMBO_TAG_HR:
        case GUMBO_TAG_SECTION:
        case GUMBO_TAG_ARTICLE:
        case GUMBO_TAG_HEADER:
        case GUMBO_TAG_FOOTER:
        case GUMBO_TAG_NAV:
        case GUMBO_TAG_FORM:
            return true;
        default:
            return false;
        }
    }

    bool isLink(const GumboNode* node)
    {
        if (node->type != GUMBO_NODE_ELEMENT || node->v.element.tag != GUMBO_TAG_A)
            return false;
        auto* href = gumbo_get_attribute(&node->v.element.attributes, "href");
        return href && *href->value;
    }

    // The anchors with an address in a part of the page that is not drawn, counted the way the
    // web view lists the page's links.
    std::size_t anchorsIn(const GumboNode* root)
    {
        std::size_t count = 0;
        std::vector<const GumboNode*> stack { root };
        while (!stack.empty()) {
            auto* node = stack.back();
            stack.pop_back();
            if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
                continue;
            count += isLink(node);
            auto& children = node->v.element.children;
            for (unsigned i = 0; i < children.length; ++i)
                stack.push_back(static_cast<const GumboNode*>(children.data[i]));
        }
        return count;
    }

    void loadPage(const NSURLRequest& request, UIWebView::PageLoad& page)
    {
        NSURLResponse response(request.URL);
        auto data = NSURLConnection::sendSynchronousRequest(request, &response, &page.error);
        if (!data)
            return;
        page.data = std::move(*data);
        page.response = response;
        if (!isHTML(response))
            return;
        page.text = htmlReadableText(page.data);
        auto references = htmlResourceReferences(page.data);
        NSURL base = response.URL;
        if (references.base) {
            if (auto resolved = URLByResolvingReference(*references.base, response.URL))
                base = *resolved;
        }
        // A page from the network never reaches into the local disk.
        bool filePage = response.URL.isFileURL();
        for (std::size_t anchor = 0; anchor < references.links.size(); ++anchor) {
            if (page.links.size() >= UIWebView::maximumLinks)
                break;
            auto& [text, reference] = references.links[anchor];
            if (auto url = URLByResolvingReference(reference, base); url && mayLeadTo(*url, filePage))
                page.links.push_back({ text, *url, anchor });
        }
        std::set<std::string> seen;
        for (auto& reference : references.resources) {
            if (page.resources.size() >= UIWebView::maximumResources)
                break;
            auto url = URLByResolvingReference(reference, base);
            if (!url || !mayLeadTo(*url, filePage) || !seen.insert(url->absoluteString()).second)
                continue;
            UIWebView::Resource resource { *url, std::nullopt, 0 };
            NSURLResponse answered(*url);
            NSError failure;
            if (auto body = NSURLConnection::sendSynchronousRequest(NSURLRequest(*url, request.timeoutInterval), &answered, &failure)) {
                resource.response = answered;
                resource.length = body->size();
            }
            page.resources.push_back(std::move(resource));
        }
    }

}

HTMLReferences htmlResourceReferences(const Bytes& html)
{
    HTMLReferences references;
    auto length = std::min(html.size(), maximumParsedBytes);
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    GumboOutput* output = gumbo_parse_with_options(&options, reinterpret_cast<const char*>(html.data()), length);
    if (!output)
        return references;
    // Depth first in document order, without recursion: a deep document can't exhaust the stack.
    std::vector<const GumboNode*> stack { output->root };
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        auto& element = node->v.element;
        auto take = [&](const char* name) {
            if (auto* attribute = gumbo_get_attribute(&element.attributes, name); attribute && *attribute->value)
                references.resources.emplace_back(attribute->value);
        };
        switch (element.tag) {
        case GUMBO_TAG_IMG:
        case GUMBO_TAG_SCRIPT:
        case GUMBO_TAG_AUDIO:
        case GUMBO_TAG_SOURCE:
        case GUMBO_TAG_IFRAME:
            take("src");
            break;
        case GUMBO_TAG_VIDEO:
            take("poster");
            take("src");
            break;
        case GUMBO_TAG_LINK:
            if (linkLoads(element.attributes))
                take("href");
            break;
        case GUMBO_TAG_A:
            if (auto* href = gumbo_get_attribute(&element.attributes, "href"); href && *href->value)
                references.links.emplace_back(textOf(node), href->value);
            break;
        case GUMBO_TAG_BASE:
            if (auto* href = gumbo_get_attribute(&element.attributes, "href"); href && !references.base)
                references.base = href->value;
            break;
        default:
            break;
        }
        for (unsigned i = element.children.length; i > 0; --i)
            stack.push_back(static_cast<const GumboNode*>(element.children.data[i - 1]));
    }
    gumbo_destroy_output(&options, output);
    return references;
}

HTMLText htmlReadableText(const Bytes& html)
{
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    auto length = std::min(html.size(), maximumParsedBytes);
    GumboOutput* output = gumbo_parse_with_options(&options, reinterpret_cast<const char*>(html.data()), length);
    if (!output)
        return {};
    HTMLText page;
    auto& text = page.text;
    auto newline = [&] {
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        if (!text.empty() && text.back() != '\n')
            text += '\n';
    };
    // Depth first without recursion; a null entry closes a block element, or the anchor it names.
    constexpr std::size_t noAnchor = SIZE_MAX;
    struct Step {
        const GumboNode* node;
        bool preformatted;
        std::size_t closes = noAnchor;
    };
    std::size_t ordinal = 0;
    std::vector<Step> stack { { output->root, false } };
    while (!stack.empty()) {
        auto [node, preformatted, closes] = stack.back();
        stack.pop_back();
        if (!node) {
            if (closes == noAnchor)
                newline();
            else
                page.anchors[closes].end = text.size();
            continue;
        }
        if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA) {
            for (const char* c = node->v.text.text; *c; ++c) {
                bool space = *c == ' ' || *c == '\t' || *c == '\r' || *c == '\n' || *c == '\f';
                if (preformatted || !space)
                    text += *c;
                else if (!text.empty() && text.back() != ' ' && text.back() != '\n')
                    text += ' ';
            }
            continue;
        }
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT) {
            ordinal += anchorsIn(node);
            continue;
        }
        if (node->type == GUMBO_NODE_ELEMENT) {
            auto tag = node->v.element.tag;
            if (tag == GUMBO_TAG_HEAD || tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_TEMPLATE || tag == GUMBO_TAG_NOSCRIPT) {
                ordinal += anchorsIn(node);
                continue;
            }
            if (isBlock(tag)) {
                newline();
                stack.push_back({ nullptr, false });
            }
            if (isLink(node)) {
                page.anchors.push_back({ text.size(), text.size(), ordinal++ });
                stack.push_back({ nullptr, false, page.anchors.size() - 1 });
            }
            preformatted = preformatted || tag == GUMBO_TAG_PRE;
        }
        auto& children = node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
        for (unsigned i = children.length; i > 0; --i)
            stack.push_back({ static_cast<const GumboNode*>(children.data[i - 1]), preformatted });
    }
    gumbo_destroy_output(&options, output);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    // Trailing white space taken away may have ended inside the last links.
    for (auto& anchor : page.anchors) {
        anchor.end = std::min(anchor.end, text.size());
        anchor.start = std::min(anchor.start, anchor.end);
    }
    std::erase_if(page.anchors, [](const HTMLText::Anchor& anchor) { return anchor.start == anchor.end; });
    return page;
}

void UIWebView::loadRequest(const NSURLRequest& request)
{
    startLoad(request, UIWebViewNavigationType::Other);
}

void UIWebView::followLink(const Link& link)
{
    NSURLRequest request(link.URL);
    if (m_request)
        request.timeoutInterval = m_request->timeoutInterval;
    startLoad(request, UIWebViewNavigationType::LinkClicked);
}

void UIWebView::startLoad(const NSURLRequest& request, UIWebViewNavigationType type)
{
    if (auto listener = delegate(); listener && !listener->shouldStartLoadWithRequest(*this, request, type))
        return;
    auto generation = ++m_generation;
    m_request = request;
    m_loading = true;
    if (auto listener = delegate())
        listener->webViewDidStartLoad(*this);
    // The start may have been answered with another load or a stop.
    if (generation != m_generation)
        return;
    std::weak_ptr<UIView> weak = weak_from_this();
    DispatchQueue::global(QualityOfService::UserInitiated).async([weak, request, generation] {
        auto page = std::make_shared<PageLoad>();
        loadPage(request, *page);
        DispatchQueue::main().async([weak, generation, page = std::move(page)] {
            auto self = std::static_pointer_cast<UIWebView>(weak.lock());
            if (self && self->m_generation == generation)
                self->finishLoad(*page);
        });
    });
}

void UIWebView::stopLoading()
{
    ++m_generation;
    m_loading = false;
}

void UIWebView::finishLoad(PageLoad& page)
{
    m_loading = false;
    auto listener = delegate();
    if (!page.response) {
        if (listener)
            listener->didFailLoadWithError(*this, page.error);
        return;
    }
    m_response = std::move(page.response);
    m_documentData = std::move(page.data);
    m_resources = std::move(page.resources);
    m_links = std::move(page.links);
    m_pageText = std::move(page.text);
    if (listener)
        listener->webViewDidFinishLoad(*this);
}

}
