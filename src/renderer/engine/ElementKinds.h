#pragma once

#include <litehtml/litehtml.h>

#include <memory>
#include <string>

namespace vesk::platform {

// The element the layout engine makes for the tag, but one that finds a child's place among its
// siblings (for :nth-child and the like) from a table made once for all of them, where the
// engine counts the siblings before it for every rule and every child. Null for the tags that
// hold no elements, which the engine makes itself.
std::shared_ptr<litehtml::element> newElement(const std::string& tag, const std::shared_ptr<litehtml::document>& document);

}
