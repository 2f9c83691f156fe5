#include "platform/foundation/NSKeyedArchiver.h"

#include "platform/foundation/PropertyList.h"

#include <exception>

namespace vesk::platform {

namespace {

    constexpr double referenceDateOffset = 978307200.0;
    // Object graphs nested deeper than this are treated as malformed.
    constexpr std::size_t maxDepth = 256;

}

// ArchiveObject

ArchiveObject::ArchiveObject(Value value)
{
    if (!value.isNull())
        m_storage = std::move(value);
}

ArchiveObject::ArchiveObject(std::string text)
    : m_storage(Value(std::move(text)))
{
}

ArchiveObject::ArchiveObject(std::shared_ptr<const NSCoding> object)
{
    if (object)
        m_storage = std::move(object);
}

ArchiveObject ArchiveObject::makeArray(std::vector<ArchiveObject> items, bool isMutable)
{
    ArchiveObject result;
    result.m_storage = std::make_shared<const std::vector<ArchiveObject>>(std::move(items));
    result.m_mutableArray = isMutable;
    return result;
}

bool ArchiveObject::isNil() const
{
    return std::holds_alternative<std::monostate>(m_storage);
}

const Value* ArchiveObject::value() const
{
    return std::get_if<Value>(&m_storage);
}

const std::shared_ptr<const NSCoding>* ArchiveObject::object() const
{
    return std::get_if<std::shared_ptr<const NSCoding>>(&m_storage);
}

const std::vector<ArchiveObject>* ArchiveObject::array() const
{
    auto const* items = std::get_if<std::shared_ptr<const std::vector<ArchiveObject>>>(&m_storage);
    return items ? items->get() : nullptr;
}

std::optional<Value> ArchiveObject::asValue() const
{
    if (auto const* plain = value())
        return *plain;
    auto const* items = array();
    if (!items)
        return std::nullopt;
    Array values;
    values.reserve(items->size());
    for (auto const& item : *items) {
        auto converted = item.asValue();
        if (!converted)
            return std::nullopt;
        values.push_back(std::move(*converted));
    }
    return Value(std::move(values));
}

// NSKeyedArchiver

NSKeyedArchiver::NSKeyedArchiver()
{
    m_objects.emplace_back("$null");
}

Uid NSKeyedArchiver::classUid(const std::vector<std::string>& hierarchy)
{
    auto const& name = hierarchy.front();
    if (auto it = m_classes.find(name); it != m_classes.end())
        return it->second;
    Array classes;
    for (auto const& entry : hierarchy)
        classes.emplace_back(entry);
    Uid uid { m_objects.size() };
    m_objects.emplace_back(Dictionary { { "$classname", name }, { "$classes", Value(std::move(classes)) } });
    m_classes.emplace(name, uid);
    return uid;
}

Uid NSKeyedArchiver::encode(const ArchiveObject& object)
{
    if (object.isNil())
        return Uid { 0 };

    // An object's slot is taken before its contents are encoded, so that
    // references come out in the order they were first met, and the class
    // entry after them.
    auto encodeContainer = [&](auto&& fill, const std::vector<std::string>& hierarchy) {
        Uid uid { m_objects.size() };
        m_objects.emplace_back();
        Dictionary contents;
        fill(contents);
        contents.set("$class", Value(classUid(hierarchy)));
        m_objects[uid.value] = Value(std::move(contents));
        return uid;
    };

    if (auto const* coding = object.object()) {
        auto const* identity = static_cast<const void*>(coding->get());
        if (auto it = m_encoded.find(identity); it != m_encoded.end())
            return it->second;
        m_keepAlive.push_back(*coding);
        Uid uid { m_objects.size() };
        m_encoded.emplace(identity, uid);
        m_objects.emplace_back();
        Dictionary contents;
        auto* outer = m_current;
        m_current = &contents;
        (*coding)->encodeWithCoder(*this);
        m_current = outer;
        contents.set("$class", Value(classUid((*coding)->classHierarchyForKeyedArchiver())));
        m_objects[uid.value] = Value(std::move(contents));
        return uid;
    }

    if (auto const* items = object.array()) {
        auto const* identity = static_cast<const void*>(items);
        if (auto it = m_encoded.find(identity); it != m_encoded.end())
            return it->second;
        auto hierarchy = object.isMutableArray() ? std::vector<std::string> { "NSMutableArray", "NSArray", "NSObject" }
                                                 : std::vector<std::string> { "NSArray", "NSObject" };
        return encodeContainer([&](Dictionary& contents) {
            Array references;
            for (auto const& item : *items)
                references.emplace_back(encode(item));
            contents.set("NS.objects", Value(std::move(references)));
        },
            hierarchy);
    }

    auto const& value = *object.value();
    switch (value.type()) {
    case Value::Type::Array:
        return encodeContainer([&](Dictionary& contents) {
            Array references;
            for (auto const& item : *value.array())
                references.emplace_back(encode(ArchiveObject(item)));
            contents.set("NS.objects", Value(std::move(references)));
        },
            { "NSArray", "NSObject" });
    case Value::Type::Dictionary:
        return encodeContainer([&](Dictionary& contents) {
            Array keys;
            Array objects;
            for (auto const& [key, item] : *value.dictionary()) {
                keys.emplace_back(encode(ArchiveObject(Value(key))));
                objects.emplace_back(encode(ArchiveObject(item)));
            }
            contents.set("NS.keys", Value(std::move(keys)));
            contents.set("NS.objects", Value(std::move(objects)));
        },
            { "NSDictionary", "NSObject" });
    case Value::Type::Date:
        return encodeContainer([&](Dictionary& contents) {
            contents.set("NS.time", Value(value.dateValue()->timeIntervalSince1970 - referenceDateOffset));
        },
            { "NSDate", "NSObject" });
    default: {
        // Strings, numbers and data stand in the object list as they are.
        Uid uid { m_objects.size() };
        m_objects.push_back(value);
        return uid;
    }
    }
}

void NSKeyedArchiver::encodeObject(const ArchiveObject& object, std::string_view key)
{
    if (!m_current)
        return;
    auto* current = m_current;
    auto uid = encode(object);
    current->set(std::string(key), Value(uid));
}

void NSKeyedArchiver::encodeBool(bool value, std::string_view key)
{
    if (m_current)
        m_current->set(std::string(key), Value(value));
}

void NSKeyedArchiver::encodeInteger(std::int64_t value, std::string_view key)
{
    if (m_current)
        m_current->set(std::string(key), Value(static_cast<long long>(value)));
}

void NSKeyedArchiver::encodeDouble(double value, std::string_view key)
{
    if (m_current)
        m_current->set(std::string(key), Value(value));
}

Value NSKeyedArchiver::archiveValueWithRootObject(const ArchiveObject& root)
{
    NSKeyedArchiver archiver;
    auto rootUid = archiver.encode(root);
    Dictionary archive;
    archive.set("$version", Value(100000));
    archive.set("$archiver", Value("NSKeyedArchiver"));
    archive.set("$top", Value(Dictionary { { "root", Value(rootUid) } }));
    archive.set("$objects", Value(std::move(archiver.m_objects)));
    return Value(std::move(archive));
}

Bytes NSKeyedArchiver::archivedDataWithRootObject(const ArchiveObject& root)
{
    return dataFromPropertyList(archiveValueWithRootObject(root), PropertyListFormat::Binary).value_or(Bytes {});
}

// NSKeyedUnarchiver

NSKeyedUnarchiver::NSKeyedUnarchiver(const Array& objects, const Decoders& decoders)
    : m_objects(objects)
    , m_decoders(decoders)
{
}

std::optional<ArchiveObject> NSKeyedUnarchiver::unarchiveObjectWithData(const Bytes& data, const Decoders& decoders)
{
    auto archive = propertyListFromData(data);
    if (!archive)
        return std::nullopt;
    return unarchiveObjectWithValue(*archive, decoders);
}

std::optional<ArchiveObject> NSKeyedUnarchiver::unarchiveObjectWithValue(const Value& archive, const Decoders& decoders)
{
    auto const* archiver = archive["$archiver"].string();
    auto const* objects = archive["$objects"].array();
    auto root = archive["$top"]["root"].uidValue();
    if (!archiver || *archiver != "NSKeyedArchiver" || !objects || objects->empty() || !root)
        return std::nullopt;
    NSKeyedUnarchiver unarchiver(*objects, decoders);
    return unarchiver.decodeIndex(root->value);
}

std::optional<ArchiveObject> NSKeyedUnarchiver::decode(const Value& reference)
{
    auto uid = reference.uidValue();
    if (!uid)
        return std::nullopt;
    return decodeIndex(uid->value);
}

std::optional<ArchiveObject> NSKeyedUnarchiver::decodeIndex(std::uint64_t index)
{
    if (index == 0)
        return ArchiveObject();
    if (index >= m_objects.size())
        return std::nullopt;
    if (auto it = m_decoded.find(index); it != m_decoded.end())
        return it->second;
    // A reference back into an object still being read is a cycle.
    for (auto pending : m_inProgress) {
        if (pending == index)
            return std::nullopt;
    }
    if (m_inProgress.size() >= maxDepth)
        return std::nullopt;

    auto const& stored = m_objects[index];
    if (!stored.isDictionary()) {
        if (stored.isArray() || stored.isUid() || stored.isNull())
            return std::nullopt;
        return ArchiveObject(stored);
    }
    auto classIndex = stored["$class"].uidValue();
    if (!classIndex || classIndex->value >= m_objects.size())
        return std::nullopt;
    auto const& classEntry = m_objects[classIndex->value];
    auto const* className = classEntry["$classname"].string();
    if (!className)
        return std::nullopt;

    m_inProgress.push_back(index);
    struct PopOnExit {
        std::vector<std::uint64_t>& stack;
        ~PopOnExit() { stack.pop_back(); }
    } pop { m_inProgress };

    std::optional<ArchiveObject> result;
    auto const& name = *className;
    if (name == "NSArray" || name == "NSMutableArray" || name == "NSSet" || name == "NSMutableSet") {
        auto const* references = stored["NS.objects"].array();
        if (!references)
            return std::nullopt;
        std::vector<ArchiveObject> items;
        for (auto const& reference : *references) {
            auto item = decode(reference);
            if (item && !item->isNil())
                items.push_back(std::move(*item));
        }
        result = ArchiveObject::makeArray(std::move(items), name == "NSMutableArray");
    } else if (name == "NSDictionary" || name == "NSMutableDictionary") {
        auto const* keys = stored["NS.keys"].array();
        auto const* objects = stored["NS.objects"].array();
        if (!keys || !objects || keys->size() != objects->size())
            return std::nullopt;
        Dictionary dict;
        for (std::size_t i = 0; i < keys->size(); ++i) {
            auto key = decode((*keys)[i]);
            auto item = decode((*objects)[i]);
            auto plain = item ? item->asValue() : std::nullopt;
            if (!key || !key->value() || !key->value()->string() || !plain)
                continue;
            dict.set(*key->value()->string(), std::move(*plain));
        }
        result = ArchiveObject(Value(std::move(dict)));
    } else if (name == "NSString" || name == "NSMutableString") {
        auto const* text = stored["NS.string"].string();
        if (!text)
            return std::nullopt;
        result = ArchiveObject(Value(*text));
    } else if (name == "NSData" || name == "NSMutableData") {
        auto const* bytes = stored["NS.data"].data();
        if (!bytes)
            return std::nullopt;
        result = ArchiveObject(Value(*bytes));
    } else if (name == "NSDate") {
        auto time = stored["NS.time"].realValue();
        if (!time)
            return std::nullopt;
        result = ArchiveObject(Value(Date { *time + referenceDateOffset }));
    } else {
        auto decoder = m_decoders.find(name);
        if (decoder == m_decoders.end())
            return std::nullopt;
        auto const* outer = m_current;
        m_current = stored.dictionary();
        std::shared_ptr<const NSCoding> object;
        try {
            object = decoder->second(*this);
        } catch (const std::exception&) {
            object = nullptr;
        }
        m_current = outer;
        if (!object)
            return std::nullopt;
        result = ArchiveObject(std::move(object));
    }
    m_decoded.emplace(index, *result);
    return result;
}

bool NSKeyedUnarchiver::containsValueForKey(std::string_view key) const
{
    return m_current && m_current->contains(key);
}

ArchiveObject NSKeyedUnarchiver::decodeObjectForKey(std::string_view key)
{
    if (!m_current)
        return {};
    auto const* reference = m_current->find(key);
    if (!reference)
        return {};
    return decode(*reference).value_or(ArchiveObject {});
}

std::optional<std::string> NSKeyedUnarchiver::decodeStringForKey(std::string_view key)
{
    auto object = decodeObjectForKey(key);
    if (auto const* value = object.value(); value && value->string())
        return *value->string();
    return std::nullopt;
}

bool NSKeyedUnarchiver::decodeBoolForKey(std::string_view key) const
{
    if (!m_current)
        return false;
    auto const* value = m_current->find(key);
    if (!value)
        return false;
    if (auto flag = value->boolValue())
        return *flag;
    return value->integerValue().value_or(0) != 0;
}

std::int64_t NSKeyedUnarchiver::decodeIntegerForKey(std::string_view key) const
{
    auto const* value = m_current ? m_current->find(key) : nullptr;
    return value ? value->integerValue().value_or(0) : 0;
}

double NSKeyedUnarchiver::decodeDoubleForKey(std::string_view key) const
{
    auto const* value = m_current ? m_current->find(key) : nullptr;
    return value ? value->realValue().value_or(0) : 0;
}

} // namespace vesk::platform
