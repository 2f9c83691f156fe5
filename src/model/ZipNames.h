#pragma once

#include "platform/foundation/NSString.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vesk {

// An entry name as text: as it stands when the bytes are valid UTF-8 or
// the archive was made on Unix, where names are bytes (as Info-ZIP reads
// them), CP437 otherwise. `versionMadeBy` is the entry's record of its maker.
std::string decodeZipEntryName(std::string_view raw, unsigned long versionMadeBy);

// Whether the entry's maker wrote backslashes as folder separators: archives made
// on DOS, OS/2 or Windows, whose names can't hold one. Anywhere else a backslash is
// part of a name, as Linux allows.
bool zipEntrySeparatesWithBackslash(unsigned long versionMadeBy);

// The components of a name whose separators are slashes; none when the name
// is absolute, climbs with "..", or holds a NUL byte.
std::optional<std::vector<std::string>> safeZipEntryComponents(std::string_view name);

// The folder an archive is extracted into. Every folder below it is made
// component by component, so that no symbolic link leads a write outside.
class ZipDestination {
public:
    enum class Result {
        ok,
        outside,
        failed,
    };

    // Creates root with intermediate folders when missing.
    explicit ZipDestination(const std::string& root);

    bool isUsable() const { return !m_root.empty(); }
    const std::string& realRoot() const { return m_root; }

    // Makes the first `count` components as folders below the root and
    // answers the real path of the last one in `realPath`. A folder made
    // here for the last component gets `modificationTime` when given.
    Result makeFolders(const std::vector<std::string>& components, std::size_t count,
        std::optional<time_t> modificationTime, std::string& realPath, int& error);
    // Whether makeFolders created the folder at this real path.
    bool made(const std::string& realPath) const { return m_made.count(realPath) > 0; }

private:
    bool isInside(const std::string& realPath) const;

    std::string m_root;
    // Relative folder path to its verified real path.
    std::unordered_map<std::string, std::string> m_known;
    std::unordered_set<std::string> m_made;
};

}
