#pragma once

#include "platform/foundation/NSString.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// Translates the app's English texts through the table "lang.plist" in the Library folder and
// collects the texts the table lacks in "unlocalized.plist" beside it.
class VeskLocalizer : public std::enable_shared_from_this<VeskLocalizer> {
public:
    // Class-level operations on the shared instance, made on first use.
    static std::string localizeFormatString(std::string_view format, const platform::FormatArgs& arguments);
    static std::string localizeString(std::string_view text);
    static std::string unlocalizedTableFilePath();
    static std::string localizationTableFilePath();
    static const std::shared_ptr<VeskLocalizer>& shared();

    // Empty tables; the two files in the app's Library folder.
    static std::shared_ptr<VeskLocalizer> init();
    // The same with the two files in another folder.
    static std::shared_ptr<VeskLocalizer> initWithFolder(const std::string& folder);

    // Loads "lang.plist" into the translation table.
    void getTranslationTable();

    // The lookup and the formatting on this instance.
    std::string localize(std::string_view text);
    std::string localizeFormat(std::string_view format, const platform::FormatArgs& arguments);

    const std::string& unlocalizedTablePath() const { return m_unlocalizedTableFilePath; }
    const std::string& localizationTablePath() const { return m_localizationTableFilePath; }
    std::size_t translationCount() const;

    struct Private;
    explicit VeskLocalizer(const Private&, const std::string& folder);

private:
    void saveUnlocalizedTable(const std::string& text);

    mutable std::shared_mutex m_translationMutex;
    std::map<std::string, std::string, std::less<>> m_translationTable;
    // Guarded by one process-wide lock, which also keeps writers of "unlocalized.plist" apart.
    std::map<std::string, std::string> m_unlocalizedTable;
    std::string m_unlocalizedTableFilePath;
    std::string m_localizationTableFilePath;
};

// The kinds of the arguments a format string takes, in argument order; absent when the
// format is malformed or takes arguments in a way a translation can't be checked against
// ("*" widths, mixed positional and sequential placeholders, unknown conversions).
enum class FormatArgumentKind {
    Integer,
    Real,
    Object,
    CString,
    Pointer,
};
std::optional<std::vector<FormatArgumentKind>> formatArgumentKinds(std::string_view format);

// The text translated through the shared localizer.
std::string localized(std::string_view text);
// The format translated through the shared localizer, then filled with the arguments.
std::string localizedFormat(std::string_view format, const platform::FormatArgs& arguments);

}
