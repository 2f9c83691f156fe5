#include "platform/foundation/MimeType.h"

#include <fstream>
#include <sstream>
#include <unordered_map>

namespace vesk::platform {

namespace {

    std::string lowercase(std::string_view text)
    {
        std::string out(text);
        for (auto& c : out) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return out;
    }

    std::unordered_map<std::string, std::string> loadTable()
    {
        std::unordered_map<std::string, std::string> table;
        std::ifstream file("/etc/mime.types");
        std::string line;
        while (std::getline(file, line)) {
            if (auto hash = line.find('#'); hash != std::string::npos)
                line.erase(hash);
            std::istringstream words(line);
            std::string type;
            if (!(words >> type))
                continue;
            std::string extension;
            while (words >> extension)
                table.emplace(lowercase(extension), type);
        }
        return table;
    }

}

std::optional<std::string> mimeTypeForExtension(std::string_view extension)
{
    // Built once; a function-local static is initialised thread-safely.
    static const auto table = loadTable();
    if (extension.empty())
        return std::nullopt;
    auto it = table.find(lowercase(extension));
    if (it == table.end())
        return std::nullopt;
    return it->second;
}

} // namespace vesk::platform
