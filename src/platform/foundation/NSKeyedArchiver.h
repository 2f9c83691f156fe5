#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vesk::platform {

class NSKeyedArchiver;
class NSKeyedUnarchiver;
class ArchiveObject;

// An object that archives itself under keys.
class NSCoding {
public:
    virtual ~NSCoding() = default;
    // The class name stored in the archive ("$classname").
    virtual std::string classNameForKeyedArchiver() const = 0;
    // The class chain stored as "$classes", most derived first.
    virtual std::vector<std::string> classHierarchyForKeyedArchiver() const { return { classNameForKeyedArchiver(), "NSObject" }; }
    virtual void encodeWithCoder(NSKeyedArchiver& coder) const = 0;
};

// One object of an archive: nothing, a plain value (string, number, Bool, data;
// arrays and dictionaries of them are archived as NSArray and NSDictionary),
// a self-archiving object, or an array of objects.
class ArchiveObject {
public:
    ArchiveObject() = default;
    ArchiveObject(Value value);
    ArchiveObject(std::shared_ptr<const NSCoding> object);
    ArchiveObject(std::string text);
    ArchiveObject(const char* text)
        : ArchiveObject(std::string(text ? text : ""))
    {
    }
    static ArchiveObject makeArray(std::vector<ArchiveObject> items, bool isMutable = false);

    bool isNil() const;
    const Value* value() const;
    const std::shared_ptr<const NSCoding>* object() const;
    const std::vector<ArchiveObject>* array() const;
    bool isMutableArray() const { return m_mutableArray; }
    // The object as a plain value: a value, or an array of plain values; absent otherwise.
    std::optional<Value> asValue() const;

    // The object as T, or null.
    template<class T>
    std::shared_ptr<const T> objectAs() const
    {
        auto const* held = object();
        return held ? std::dynamic_pointer_cast<const T>(*held) : nullptr;
    }

private:
    std::variant<std::monostate, Value, std::shared_ptr<const NSCoding>, std::shared_ptr<const std::vector<ArchiveObject>>> m_storage;
    bool m_mutableArray { false };
};

// Writes the platform archiver's layout: a binary property list with
// "$archiver" "NSKeyedArchiver", "$version" 100000, "$top" {"root": UID} and
// "$objects" starting with "$null", objects numbered in encoding order, each
// class entry ("$classname", "$classes") written once after its first object.
class NSKeyedArchiver {
public:
    static Bytes archivedDataWithRootObject(const ArchiveObject& root);
    // The archive as a property-list value (what the binary form holds).
    static Value archiveValueWithRootObject(const ArchiveObject& root);

    void encodeObject(const ArchiveObject& object, std::string_view key);
    void encodeBool(bool value, std::string_view key);
    void encodeInteger(std::int64_t value, std::string_view key);
    void encodeDouble(double value, std::string_view key);

private:
    NSKeyedArchiver();
    Uid encode(const ArchiveObject& object);
    Uid classUid(const std::vector<std::string>& hierarchy);

    Array m_objects;
    std::map<const void*, Uid> m_encoded;
    std::map<std::string, Uid> m_classes;
    Dictionary* m_current { nullptr };
    std::vector<std::shared_ptr<const void>> m_keepAlive;
};

// Reads archives written by NSKeyedArchiver. Lenient: an array element that
// cannot be read (unknown class, broken reference, a decoder that gives up) is
// skipped; an archive that is malformed as a whole reads as absent.
class NSKeyedUnarchiver {
public:
    // Makes an object of one class from its keyed values; null when it cannot.
    using Decoder = std::function<std::shared_ptr<const NSCoding>(NSKeyedUnarchiver& coder)>;
    using Decoders = std::map<std::string, Decoder, std::less<>>;

    static std::optional<ArchiveObject> unarchiveObjectWithData(const Bytes& data, const Decoders& decoders);
    static std::optional<ArchiveObject> unarchiveObjectWithValue(const Value& archive, const Decoders& decoders);

    bool containsValueForKey(std::string_view key) const;
    // The object under the key; nil when absent or unreadable.
    ArchiveObject decodeObjectForKey(std::string_view key);
    // A string object under the key; absent otherwise.
    std::optional<std::string> decodeStringForKey(std::string_view key);
    bool decodeBoolForKey(std::string_view key) const;
    std::int64_t decodeIntegerForKey(std::string_view key) const;
    double decodeDoubleForKey(std::string_view key) const;

private:
    NSKeyedUnarchiver(const Array& objects, const Decoders& decoders);
    std::optional<ArchiveObject> decode(const Value& reference);
    std::optional<ArchiveObject> decodeIndex(std::uint64_t index);

    const Array& m_objects;
    const Decoders& m_decoders;
    const Dictionary* m_current { nullptr };
    std::map<std::uint64_t, ArchiveObject> m_decoded;
    std::vector<std::uint64_t> m_inProgress;
};

} // namespace vesk::platform
