#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vesk::platform {

// The layout engine matches every rule against every element, walks every ancestor for each
// descendant combinator (trying each again when a later part fails, so the work doubles with
// each part), and counts siblings for each :nth- rule; it keeps a table's grid as rows by
// columns. What a page's style sheets and tables may ask of it is bounded here, before it
// parses them, so that ordinary pages with such features still show.
// How many compound selectors one selector may chain; longer selectors are left out.
constexpr std::size_t maximumSelectorParts = 8;
constexpr std::size_t maximumSelectorLength = 1024;
// How many selectors a page's style sheets may hold together, after those that can match none
// of its elements are left out.
constexpr std::size_t maximumStyleSelectors = 4000;
// How many chains of ancestors the descendant combinators of one selector may try for an
// element at most, as the page nests: longer selectors are left out on deeply nested pages.
constexpr double maximumAncestorChains = 1e6;
// How many selectors may count siblings (:nth-child and the like).
constexpr std::size_t maximumSiblingSelectors = 64;
// How many selectors rules nested in rules may make by joining an outer and an inner one.
constexpr std::size_t maximumNestedSelectors = 16000;
// How deep @media, other blocks and rules in rules may nest; deeper blocks are left out.
constexpr std::size_t maximumStyleBlockNesting = 4;
// The HTML standard's bounds of a cell's colspan and rowspan.
constexpr long maximumColspan = 1000;
constexpr long maximumRowspan = 65534;

// The layout engine puts a custom property's value in place of each var() that names it, again
// and again while a var() is left, so a property that refers to itself (`--a: var(--a)`, or
// through others) never ends. The references in custom properties' own values are held here as
// vref(), which the engine leaves alone; the page's elements look them up once all their rules
// are in, a bounded number of times.
std::string heldCustomPropertyReferences(std::string_view css);

// The bounds for one page: made from its markup (which elements, classes and ids it has, so
// that rules that can match none of them are left out), then asked for each style sheet.
class StyleBounds {
public:
    explicit StyleBounds(std::string_view markup);

    // The markup with its <style> sheets bounded and its cells' colspan and rowspan clamped.
    std::string boundedMarkup(std::string_view markup);
    // The style sheet with the rules the page can't use, or that are past the bounds, left out.
    std::string boundedSheet(std::string_view css);

private:
    struct RuleBody {
        std::string declarations;
        std::vector<std::pair<std::string, std::string_view>> nested;
    };
    void bound(std::string_view css, std::size_t depth, std::string& out);
    void styleRule(const std::vector<std::string>& selectors, std::string_view body, std::size_t depth, std::string& out);
    static RuleBody ruleBody(std::string_view body);
    bool keeps(std::string_view selector);

    std::unordered_set<std::string> m_tags;
    std::unordered_set<std::string> m_classes;
    std::unordered_set<std::string> m_ids;
    std::size_t m_selectors = 0;
    std::size_t m_siblingSelectors = 0;
    std::size_t m_nestedSelectors = 0;
    std::size_t m_branchingCombinators = 0;
};

}
