#include "webservice/BlockedNotices.h"

namespace vesk {

BlockedNotices::Slot::Slot(std::shared_ptr<BlockedNotices> notices, std::string address, std::uint64_t ticket)
    : m_notices(std::move(notices))
    , m_address(std::move(address))
    , m_ticket(ticket)
{
}

BlockedNotices::Slot::~Slot()
{
    release();
}

void BlockedNotices::Slot::release()
{
    if (auto notices = std::move(m_notices))
        notices->release(m_address, m_ticket);
}

std::shared_ptr<BlockedNotices::Slot> BlockedNotices::claim(const std::string& address)
{
    std::uint64_t ticket;
    {
        std::lock_guard lock(m_lock);
        auto [entry, added] = m_pending.try_emplace(address, m_nextTicket);
        if (!added)
            return nullptr;
        ticket = m_nextTicket++;
    }
    return std::make_shared<Slot>(shared_from_this(), address, ticket);
}

void BlockedNotices::release(const std::string& address, std::uint64_t ticket)
{
    std::lock_guard lock(m_lock);
    // A slot outlived by a clear() must not free the slot of a later banner.
    if (auto entry = m_pending.find(address); entry != m_pending.end() && entry->second == ticket)
        m_pending.erase(entry);
}

void BlockedNotices::clear()
{
    std::lock_guard lock(m_lock);
    m_pending.clear();
}

}
