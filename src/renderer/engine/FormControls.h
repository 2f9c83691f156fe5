#pragma once

#include <litehtml/litehtml.h>

#include <memory>
#include <string>

namespace vesk::platform {

// The element that lays out and draws a form control as a browser draws it unstyled, with its
// value, placeholder, chosen option or checked state: <input> (all but hidden and image),
// <select> and <textarea>. Null for other tags, which the engine makes itself (a <button>
// lays out its own content). Controls take no typing and send nothing.
std::shared_ptr<litehtml::element> newFormControl(const std::string& tag, const litehtml::string_map& attributes, const std::shared_ptr<litehtml::document>& document);

}
