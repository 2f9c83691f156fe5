#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vesk {

// Which addresses have a blocked-client banner waiting or showing. A client refused in a loop
// raises one banner for its address; its repeats meanwhile are merged into that banner before
// anything is queued for the main thread, so refusals cost the same however many there are.
// Thread-safe.
class BlockedNotices : public std::enable_shared_from_this<BlockedNotices> {
public:
    // Held by the banner of one address: the address may raise a banner again once the slot is
    // released, or let go (the banner dropped unseen, or never made).
    class Slot {
    public:
        Slot(std::shared_ptr<BlockedNotices> notices, std::string address, std::uint64_t ticket);
        ~Slot();
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        void release();

    private:
        std::shared_ptr<BlockedNotices> m_notices;
        std::string m_address;
        std::uint64_t m_ticket;
    };

    // The slot for a new banner, or null when the address has one waiting or showing.
    std::shared_ptr<Slot> claim(const std::string& address);
    // Forgets every banner, for tests.
    void clear();

private:
    void release(const std::string& address, std::uint64_t ticket);

    std::mutex m_lock;
    std::unordered_map<std::string, std::uint64_t> m_pending; // address -> ticket of its banner
    std::uint64_t m_nextTicket = 0;
};

}
