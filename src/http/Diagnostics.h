#pragma once

#include <string_view>

namespace vesk {

// Writes one diagnostic line to standard output; lines of parallel connections
// never interleave. On a terminal each line is written at once; otherwise lines
// gather in a buffer that is written at least once a second and at exit, so a
// busy server does not pay a system call per request.
void printDiagnosticLine(std::string_view text);

// Writes out what the buffer holds now.
void flushDiagnostics();

} // namespace vesk
