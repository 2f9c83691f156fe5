#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk::platform {

// How deep the elements of a page may nest. The HTML parser and the layout engine walk the tree
// recursively, and the engine looks up inherited styles through every ancestor of every element,
// so each level costs every element below it; pages people read seldom nest 60 deep.
constexpr std::size_t maximumHTMLNesting = 128;
// How many elements a page may have; past them the rest of the page is its text alone. The
// engine takes tens of microseconds per element.
constexpr std::size_t maximumHTMLElements = 25000;
// How deep tables may nest: the engine lays out each table's cells several times to find their
// widths, so the time grows by the power of the nesting. Deeper tables' cells join the outer
// table's.
constexpr std::size_t maximumTableNesting = 4;

// The markup with its nesting bounded as the big browsers do: an element that would nest deeper
// than the bound goes beside the deepest one instead (an end tag closes that first; the end tag
// that would have closed it is taken out). Elements past the count are taken out, their content
// kept in place. It follows how an HTML parser builds the tree (implied ends, scopes,
// formatting elements it opens again) closely enough that a parser nests no deeper, erring
// towards counting more depth than there is. Linear in the markup's size.
std::string boundedHTMLNesting(std::string_view html, std::size_t maximumDepth = maximumHTMLNesting, std::size_t maximumElements = maximumHTMLElements);

// Where the markup may be cut after at least `atLeast` bytes so that its first part parses as
// the start of the whole: at the start of a tag, outside comments and the text of scripts,
// styles and the like. npos when the markup is not at least twice that long; a page that
// small is laid out whole as fast.
std::size_t htmlFirstPartEnd(std::string_view html, std::size_t atLeast);

// Where the tag whose name ends at `at` ends, after its '>', as the tokenizer reads its attributes
// (a quoted value may hold a '>'); npos when the markup ends first. Whether it ends in "/>"
// outside a value, in `selfClosing` when given.
std::size_t htmlTagEnd(std::string_view html, std::size_t at, bool* selfClosing = nullptr);

// Where the raw text of a script, style or the like that starts at `at` ends: at the '<' of the
// element's end tag (its name in lower case), or the markup's end.
std::size_t htmlRawTextEnd(std::string_view html, std::size_t at, std::string_view name);

}
