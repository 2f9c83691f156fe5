#include "model/VeskLocalizer.h"

#include "model/PlatformUtilities.h"
#include "platform/foundation/AppHome.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/PropertyList.h"

namespace vesk {

using namespace platform;

struct VeskLocalizer::Private {
};

namespace {

    constexpr std::size_t maxTableBytes = 16u << 20;

    // The recording tasks run on worker threads; each reads, changes and rewrites the whole file.
    std::mutex& unlocalizedMutex()
    {
        static std::mutex mutex;
        return mutex;
    }

    std::optional<FormatArgumentKind> kindOfConversion(char conversion)
    {
        switch (conversion) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
        case 'c':
        case 'C':
            return FormatArgumentKind::Integer;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            return FormatArgumentKind::Real;
        case '@':
            return FormatArgumentKind::Object;
        case 's':
        case 'S':
            return FormatArgumentKind::CString;
        case 'p':
            return FormatArgumentKind::Pointer;
        default:
            return std::nullopt;
        }
    }

    // The text entries of a property-list dictionary; anything else in it is left out.
    std::map<std::string, std::string, std::less<>> stringEntries(const std::optional<Value>& list)
    {
        std::map<std::string, std::string, std::less<>> table;
        if (!list || !list->dictionary())
            return table;
        for (const auto& [key, value] : *list->dictionary()) {
            if (const auto* text = value.string())
                table.emplace(key, *text);
        }
        return table;
    }

    // A translation may stand for the English text only when it takes the same arguments.
    bool takesSameArguments(std::string_view english, std::string_view translation)
    {
        auto englishKinds = formatArgumentKinds(english);
        auto translationKinds = formatArgumentKinds(translation);
        if (!translationKinds)
            return false;
        if (!englishKinds)
            return translationKinds->empty() && translation.find('%') == std::string_view::npos;
        return *englishKinds == *translationKinds;
    }

}

std::optional<std::vector<FormatArgumentKind>> formatArgumentKinds(std::string_view format)
{
    std::vector<std::optional<FormatArgumentKind>> kinds;
    bool positional = false;
    bool sequential = false;
    std::size_t i = 0;
    while (i < format.size()) {
        if (format[i] != '%') {
            ++i;
            continue;
        }
        ++i;
        if (i < format.size() && format[i] == '%') {
            ++i;
            continue;
        }
        auto directive = readFormatDirective(format, i);
        // Widths and precisions from arguments aren't matched between a text and its translation.
        bool fromArgument = (directive.width && directive.width->argument) || (directive.precision && directive.precision->argument);
        if (directive.positionDigits > 4 || fromArgument || !directive.conversion)
            return std::nullopt;
        auto kind = kindOfConversion(*directive.conversion);
        if (!kind)
            return std::nullopt;
        std::size_t position = directive.position;
        if (position == 0) {
            sequential = true;
            kinds.push_back(kind);
        } else {
            positional = true;
            if (kinds.size() < position)
                kinds.resize(position);
            if (kinds[position - 1] && *kinds[position - 1] != *kind)
                return std::nullopt;
            kinds[position - 1] = kind;
        }
        if (positional && sequential)
            return std::nullopt;
    }
    std::vector<FormatArgumentKind> result;
    result.reserve(kinds.size());
    for (const auto& kind : kinds) {
        if (!kind)
            return std::nullopt; // a gap: an argument no placeholder takes
        result.push_back(*kind);
    }
    return result;
}

VeskLocalizer::VeskLocalizer(const Private&, const std::string& folder)
    : m_unlocalizedTableFilePath(stringByAppendingPathComponent(folder, "unlocalized.plist"))
    , m_localizationTableFilePath(stringByAppendingPathComponent(folder, "lang.plist"))
{
}

std::shared_ptr<VeskLocalizer> VeskLocalizer::init()
{
    return initWithFolder(expandingTildeInPath(libraryDirectory()));
}

std::shared_ptr<VeskLocalizer> VeskLocalizer::initWithFolder(const std::string& folder)
{
    return std::make_shared<VeskLocalizer>(Private {}, folder);
}

const std::shared_ptr<VeskLocalizer>& VeskLocalizer::shared()
{
    static const std::shared_ptr<VeskLocalizer> instance = init();
    return instance;
}

std::string VeskLocalizer::localizeFormatString(std::string_view format, const FormatArgs& arguments)
{
    return shared()->localizeFormat(format, arguments);
}

std::string VeskLocalizer::localizeString(std::string_view text)
{
    return shared()->localize(text);
}

std::string VeskLocalizer::unlocalizedTableFilePath()
{
    return shared()->unlocalizedTablePath();
}

std::string VeskLocalizer::localizationTableFilePath()
{
    return shared()->localizationTablePath();
}

std::size_t VeskLocalizer::translationCount() const
{
    std::shared_lock lock(m_translationMutex);
    return m_translationTable.size();
}

std::string VeskLocalizer::localize(std::string_view text)
{
    bool empty;
    {
        std::shared_lock lock(m_translationMutex);
        empty = m_translationTable.empty();
        if (!empty) {
            if (auto found = m_translationTable.find(text); found != m_translationTable.end())
                return found->second;
        }
    }
    // An empty table is loaded now and used from the next lookup on.
    if (empty) {
        getTranslationTable();
        return std::string(text);
    }
    debugLog("\"" + std::string(text) + "\" has not been localized yet!", __FILE__, __LINE__, __func__);
    dispatch_async(dispatch_get_global_queue(QualityOfService::UserInitiated),
        [self = shared_from_this(), missing = std::string(text)] { self->saveUnlocalizedTable(missing); });
    return std::string(text);
}

std::string VeskLocalizer::localizeFormat(std::string_view format, const FormatArgs& arguments)
{
    return stringWithFormat(localize(format), arguments);
}

void VeskLocalizer::getTranslationTable()
{
    auto& fm = NSFileManager::defaultManager();
    if (!fm.fileExistsAtPath(m_localizationTableFilePath)) {
        if (!isConnectedToNetwork())
            debugLog(std::string("No internet connection has been found!"), __FILE__, __LINE__, __func__);
        else
            dispatch_async(dispatch_get_global_queue(QualityOfService::UserInitiated), [] {});
        return;
    }

    auto table = stringEntries(propertyListFromFile(m_localizationTableFilePath, maxTableBytes));
    std::erase_if(table, [](const auto& entry) { return !takesSameArguments(entry.first, entry.second); });
    {
        std::unique_lock lock(m_translationMutex);
        m_translationTable = std::move(table);
    }

    std::lock_guard lock(unlocalizedMutex());
    if (!m_unlocalizedTable.empty())
        m_unlocalizedTable.clear();
    if (!fm.removeItemAtPath(m_unlocalizedTableFilePath))
        debugLog(std::string("Could not delete unlocalized String file"), __FILE__, __LINE__, __func__);
}

void VeskLocalizer::saveUnlocalizedTable(const std::string& text)
{
    std::lock_guard lock(unlocalizedMutex());
    auto& fm = NSFileManager::defaultManager();
    if (fm.fileExistsAtPath(m_unlocalizedTableFilePath)) {
        // A file that isn't a list of texts doesn't wipe what was collected so far.
        if (auto stored = propertyListFromFile(m_unlocalizedTableFilePath, maxTableBytes); stored && stored->dictionary()) {
            m_unlocalizedTable.clear();
            for (auto& [key, value] : stringEntries(stored))
                m_unlocalizedTable.emplace(key, value);
        }
    }
    m_unlocalizedTable[text] = "";

    Dictionary root;
    for (const auto& [key, value] : m_unlocalizedTable)
        root.set(key, Value(value));
    if (auto data = dataFromPropertyList(Value(std::move(root)), PropertyListFormat::XML))
        fm.createFileAtPath(m_unlocalizedTableFilePath, *data);
}

std::string localized(std::string_view text)
{
    return VeskLocalizer::localizeString(text);
}

std::string localizedFormat(std::string_view format, const FormatArgs& arguments)
{
    return VeskLocalizer::localizeFormatString(format, arguments);
}

}
