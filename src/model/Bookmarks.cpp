#include "model/Bookmarks.h"

#include "model/PlatformUtilities.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/NSUserDefaults.h"

#include <algorithm>

namespace vesk {

using namespace platform;

namespace {

    // Every store object shares one stored entry, so one lock serialises each read-modify-write
    // of it (and guards the objects' own fields). Recursive: save() and remove() read the list
    // again through isInBookmarks().
    std::recursive_mutex& storageLock()
    {
        static std::recursive_mutex lock;
        return lock;
    }

    Bytes archiveList(const Bookmarks::List& list)
    {
        std::vector<ArchiveObject> items;
        items.reserve(list.size());
        for (auto const& file : list)
            items.emplace_back(std::shared_ptr<const NSCoding>(file));
        return NSKeyedArchiver::archivedDataWithRootObject(ArchiveObject::makeArray(std::move(items)));
    }

    Bookmarks::List decodeList(const std::optional<Bytes>& data)
    {
        Bookmarks::List list;
        if (!data)
            return list;
        auto root = NSKeyedUnarchiver::unarchiveObjectWithData(*data, VeskFile::archiveDecoders());
        if (!root || !root->array())
            return list;
        for (auto const& item : *root->array()) {
            // Records are never written after construction; the archive only hands them out as const.
            if (auto file = item.objectAs<VeskFile>())
                list.push_back(std::const_pointer_cast<VeskFile>(file));
        }
        return list;
    }

    // The one decoded copy of the stored entry, shared by every store object, with the bytes
    // and the defaults it was decoded from. Guarded by storageLock().
    struct DecodedEntry {
        std::weak_ptr<NSUserDefaults> defaults;
        std::optional<Bytes> data;
        Bookmarks::List list;
    };

    DecodedEntry& decodedEntry()
    {
        static DecodedEntry entry;
        return entry;
    }

    // Under storageLock(). Decodes again only when the entry differs from the bytes decoded
    // last: written by another road, or the defaults opened anew from another file.
    const Bookmarks::List& readStoredList()
    {
        auto defaults = NSUserDefaults::standardUserDefaults();
        auto data = defaults->dataForKey(hashedDefaultsKey1V2());
        auto& entry = decodedEntry();
        if (entry.defaults.lock() != defaults || entry.data != data) {
            entry.list = decodeList(data);
            entry.data = std::move(data);
            entry.defaults = defaults;
        }
        return entry.list;
    }

}

std::shared_ptr<BookmarksDelegate> Bookmarks::delegate() const
{
    std::lock_guard guard(storageLock());
    return m_delegate.lock();
}

void Bookmarks::setDelegate(std::weak_ptr<BookmarksDelegate> delegate)
{
    std::lock_guard guard(storageLock());
    m_delegate = std::move(delegate);
}

std::int64_t Bookmarks::count() const
{
    std::lock_guard guard(storageLock());
    return m_count;
}

void Bookmarks::setCount(std::int64_t count)
{
    std::lock_guard guard(storageLock());
    m_count = count;
}

Bookmarks::List Bookmarks::bookmarks() const
{
    std::lock_guard guard(storageLock());
    return m_bookmarks;
}

void Bookmarks::setBookmarks(List bookmarks)
{
    std::lock_guard guard(storageLock());
    m_bookmarks = std::move(bookmarks);
}

// Our own write refreshes the decoded copy without decoding it again.
void Bookmarks::storeList()
{
    auto defaults = NSUserDefaults::standardUserDefaults();
    auto data = archiveList(m_bookmarks);
    defaults->setObject(Value(data), hashedDefaultsKey1V2());
    auto& entry = decodedEntry();
    entry.defaults = defaults;
    entry.data = std::move(data);
    entry.list = m_bookmarks;
    m_count = static_cast<std::int64_t>(m_bookmarks.size());
}

// Reads the list without looking for vanished items on disk: cells and watchers set up their
// stores by the screenful, and each asks only about its own item.
void Bookmarks::setup()
{
    std::lock_guard guard(storageLock());
    auto defaults = NSUserDefaults::standardUserDefaults();
    if (!defaults->dataForKey(hashedDefaultsKey1V2()))
        defaults->setObject(Value(archiveList(m_bookmarks)), hashedDefaultsKey1V2());
    m_bookmarks = readStoredList();
    m_count = static_cast<std::int64_t>(m_bookmarks.size());
}

Bookmarks::List Bookmarks::reloadBookmarks()
{
    std::lock_guard guard(storageLock());
    m_bookmarks = readStoredList();
    auto const& fm = NSFileManager::defaultManager();
    for (auto const& file : List(m_bookmarks)) {
        if (!fm.fileExistsAtPath(file->path()))
            deleteItem(*file);
    }
    return m_bookmarks;
}

void Bookmarks::deleteItem(const VeskFile& file)
{
    std::lock_guard guard(storageLock());
    auto found = std::find_if(m_bookmarks.begin(), m_bookmarks.end(), [&](auto const& entry) { return entry->isEqual(&file); });
    if (found == m_bookmarks.end()) {
        debugLog("Item has already been deleted??", __FILE__, __LINE__, __func__);
        return;
    }
    m_bookmarks.erase(found);
    storeList();
}

// Only the item asked about is looked for on disk: a bookmark of a vanished item is dropped
// when it is asked about, the others wait for the next full read.
// The answer leaves `bookmarks` as it was: every record has a store of its own, and one that
// kept the shared records would keep itself alive.
bool Bookmarks::isInBookmarks(const VeskFile& file)
{
    std::lock_guard guard(storageLock());
    auto const& list = readStoredList();
    auto found = std::find_if(list.begin(), list.end(), [&](auto const& entry) { return entry->isEqual(&file); });
    if (found == list.end())
        return false;
    if (NSFileManager::defaultManager().fileExistsAtPath((*found)->path()))
        return true;
    m_bookmarks = list;
    deleteItem(file);
    return false;
}

bool Bookmarks::save(const std::shared_ptr<VeskFile>& file)
{
    bool added = false;
    {
        std::lock_guard guard(storageLock());
        if (isInBookmarks(*file)) {
            debugLog(file->name() + " has already been in bookmarks", __FILE__, __LINE__, __func__);
        } else {
            m_bookmarks = readStoredList();
            m_bookmarks.push_back(file);
            storeList();
            added = true;
        }
    }
    tellDelegate(file, false);
    return added;
}

bool Bookmarks::remove(const std::shared_ptr<VeskFile>& file)
{
    bool removed = false;
    {
        std::lock_guard guard(storageLock());
        if (isInBookmarks(*file)) {
            m_bookmarks = readStoredList();
            deleteItem(*file);
            removed = true;
        } else {
            debugLog(file->name() + " has already been removed from bookmarks", __FILE__, __LINE__, __func__);
        }
    }
    tellDelegate(file, true);
    return removed;
}

void Bookmarks::clear()
{
    for (auto const& file : reloadBookmarks())
        remove(file);
}

// Outside the lock: the delegate may well call back into a store.
void Bookmarks::tellDelegate(const std::shared_ptr<VeskFile>& file, bool remove) const
{
    if (auto delegate = this->delegate())
        delegate->didChangeBookmarks(file, remove);
}

}
