#pragma once

#include <string_view>

namespace vesk {

// Writes one diagnostic line to standard output in a single write call:
// lines of parallel connections never interleave, and no stdio lock is
// shared between connection threads.
void printDiagnosticLine(std::string_view text);

} // namespace vesk
