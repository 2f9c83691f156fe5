#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk::platform {

// The layout engine makes an element of about 300 bytes for every word and every run of spaces
// of a page's text: 60 bytes or more for each byte of text. How many a page may have before the
// lines of its preformatted text are made one element each.
constexpr std::size_t maximumTextElements = 1'500'000;

// How many words and runs of whitespace the text of the markup holds (outside its tags,
// comments, scripts and styles): the elements the engine makes of it.
std::size_t htmlTextElements(std::string_view html);

// The markup with the spaces of the text in its <pre> and <listing> elements made no-break
// spaces, so that each of their lines is one word. They look the same where lines don't wrap,
// as preformatted text's don't unless a page says so.
std::string htmlWithPreformattedLinesJoined(std::string_view html);

}
