#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vesk {

class VeskFile;

class BookmarksDelegate {
public:
    virtual ~BookmarksDelegate() = default;
    // `remove` is false after save() and true after remove().
    virtual void didChangeBookmarks(const std::shared_ptr<VeskFile>& file, bool remove) = 0;
};

// The user's bookmarks: an ordered list of records kept as one keyed archive in the standard
// user defaults under hashedDefaultsKey1V2. Objects share the list only through that entry;
// every query reads it again, through one decoded copy that is decoded anew only when the
// entry's bytes differ from those it came from (our own writes update it directly). Each
// read-modify-write of the entry runs under one process-wide lock, since the main thread,
// file workers and server threads all use it. A missing or undecodable entry reads as an
// empty list; an element that can't be decoded is skipped.
class Bookmarks {
public:
    using List = std::vector<std::shared_ptr<VeskFile>>;

    Bookmarks() = default;
    virtual ~Bookmarks() = default;
    Bookmarks(const Bookmarks&) = delete;
    Bookmarks& operator=(const Bookmarks&) = delete;

    // Held weakly: the delegate usually owns this store.
    std::shared_ptr<BookmarksDelegate> delegate() const;
    void setDelegate(std::weak_ptr<BookmarksDelegate> delegate);
    std::int64_t count() const;
    void setCount(std::int64_t count);
    // The list as last read or written by setup(), reloadBookmarks(), save() or remove().
    List bookmarks() const;
    void setBookmarks(List bookmarks);

    // Stores an archived empty list when there is none yet, then reads the list.
    virtual void setup();
    // Drops the equal entry, and answers false, when its item has gone.
    virtual bool isInBookmarks(const VeskFile& file);
    // Adds the file at the end; false when an equal entry is already stored. The delegate is
    // told either way.
    virtual bool save(const std::shared_ptr<VeskFile>& file);
    // Removes the equal entry; false when there is none. The delegate is told either way.
    virtual bool remove(const std::shared_ptr<VeskFile>& file);
    // Reads the stored list, drops (and stores without) the entries whose item is gone.
    virtual List reloadBookmarks();
    // Removes every entry, one remove() at a time.
    virtual void clear();

private:
    void deleteItem(const VeskFile& file);
    void storeList();
    void tellDelegate(const std::shared_ptr<VeskFile>& file, bool remove) const;

    std::weak_ptr<BookmarksDelegate> m_delegate;
    std::int64_t m_count { 0 };
    List m_bookmarks;
};

}
