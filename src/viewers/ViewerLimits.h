#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vesk {

class VeskFile;

// What the viewers say of a property list bigger than they parse.
inline constexpr const char* listTooBigFormat = "Property lists of up to %@ can be shown: \"%@\" is bigger";

// A regular file of more bytes than the limit. Decided by its size alone: it is never read.
bool isLargerThan(const std::string& path, std::size_t limit);

// The warning that a file is bigger than a viewer or the editor takes, told rather than failed:
// the format gets the limit (as "1 GiB" or "16 MiB") and the file's name, shortened where the
// banner would otherwise lose its end.
void showTooBig(const char* format, std::size_t limit, const std::shared_ptr<VeskFile>& file);

}
