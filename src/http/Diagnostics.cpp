#include "http/Diagnostics.h"

#include <cerrno>
#include <string>
#include <unistd.h>

namespace vesk {

void printDiagnosticLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    size_t written = 0;
    while (written < line.size()) {
        ssize_t result = ::write(STDOUT_FILENO, line.data() + written, line.size() - written);
        if (result == -1 && errno == EINTR)
            continue;
        if (result <= 0)
            return;
        written += static_cast<size_t>(result);
    }
}

} // namespace vesk
