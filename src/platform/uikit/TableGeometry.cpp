#include "platform/uikit/TableGeometry.h"

#include "platform/uikit/TextDrawing.h"

#include <algorithm>
#include <map>

namespace vesk::platform {

struct TableGeometryCache {
    struct Entry {
        std::weak_ptr<UITableView> table;
        std::size_t reloadCount = 0;
        CGFloat width = 0;
        CGFloat rowHeight = 0;
        CGFloat headerViewHeight = 0;
        CGFloat footerViewHeight = 0;
        bool editing = false;
        std::vector<int> rowCounts;
        TableGeometry geometry;
    };

    static std::map<const UITableView*, Entry>& entries()
    {
        static auto* map = new std::map<const UITableView*, Entry>;
        return *map;
    }
};

namespace {

    constexpr CGFloat plainTitleHeight = 22;

    std::vector<int> rowCounts(UITableView& table)
    {
        std::vector<int> counts;
        for (int section = 0; section < table.numberOfSections(); ++section)
            counts.push_back(table.numberOfRowsInSection(section));
        return counts;
    }

    CGFloat viewHeight(const std::shared_ptr<UIView>& view)
    {
        return view ? std::max(0.0, view->frame().size.height) : 0;
    }

}

const TableGeometry& TableGeometry::of(UITableView& table)
{
    auto& entries = TableGeometryCache::entries();
    auto& entry = entries[&table];
    auto self = std::static_pointer_cast<UITableView>(table.shared_from_this());
    auto counts = rowCounts(table);
    bool fresh = entry.table.lock() == self && entry.reloadCount == table.reloadCount() && entry.width == table.frame().size.width
        && entry.rowHeight == table.rowHeight() && entry.headerViewHeight == viewHeight(table.tableHeaderView())
        && entry.footerViewHeight == viewHeight(table.tableFooterView()) && entry.editing == table.isEditing() && entry.rowCounts == counts;
    if (!fresh) {
        // Tables that are gone leave the cache.
        for (auto it = entries.begin(); it != entries.end();) {
            if (it->first != &table && it->second.table.expired())
                it = entries.erase(it);
            else
                ++it;
        }
        entry.table = self;
        entry.reloadCount = table.reloadCount();
        entry.width = table.frame().size.width;
        entry.rowHeight = table.rowHeight();
        entry.headerViewHeight = viewHeight(table.tableHeaderView());
        entry.footerViewHeight = viewHeight(table.tableFooterView());
        entry.editing = table.isEditing();
        entry.rowCounts = std::move(counts);
        entry.geometry.build(table);
    }
    return entry.geometry;
}

void TableGeometry::build(UITableView& table)
{
    m_sections.clear();
    m_width = table.frame().size.width;
    m_headerViewHeight = viewHeight(table.tableHeaderView());
    auto delegate = table.delegate();
    CGFloat y = m_headerViewHeight;
    int count = table.numberOfSections();
    for (int index = 0; index < count; ++index) {
        Section section;
        section.top = y;
        section.rows = table.numberOfRowsInSection(index);
        section.uniformHeight = table.rowHeight();

        auto ends = tableDrawing::sectionEnds(table, index);
        section.headerHeight = ends.header;
        section.footerHeight = ends.footer;

        if (delegate) {
            // Heights are asked of the delegate once per reload, not per frame.
            bool uniform = true;
            std::vector<CGFloat> offsets { 0 };
            offsets.reserve(static_cast<std::size_t>(section.rows) + 1);
            for (int row = 0; row < section.rows; ++row) {
                auto height = delegate->heightForRowAtIndexPath(table, { index, row }).value_or(table.rowHeight());
                height = std::max(0.0, height);
                if (height != section.uniformHeight)
                    uniform = false;
                offsets.push_back(offsets.back() + height);
            }
            if (!uniform)
                section.rowOffsets = std::move(offsets);
        }
        y = section.bottom();
        m_sections.push_back(std::move(section));
    }
    m_contentHeight = y + viewHeight(table.tableFooterView());
}

CGRect TableGeometry::rowRect(const NSIndexPath& indexPath) const
{
    if (indexPath.section < 0 || indexPath.section >= static_cast<int>(m_sections.size()))
        return CGRectZero;
    auto& section = m_sections[static_cast<std::size_t>(indexPath.section)];
    if (indexPath.row < 0 || indexPath.row >= section.rows)
        return CGRectZero;
    auto row = static_cast<std::size_t>(indexPath.row);
    CGFloat top = section.rowOffsets.empty() ? indexPath.row * section.uniformHeight : section.rowOffsets[row];
    CGFloat height = section.rowOffsets.empty() ? section.uniformHeight : section.rowOffsets[row + 1] - section.rowOffsets[row];
    return CGRectMake(0, section.rowsTop() + top, m_width, height);
}

CGRect TableGeometry::headerRect(int index) const
{
    auto& section = m_sections.at(static_cast<std::size_t>(index));
    return CGRectMake(0, section.top, m_width, section.headerHeight);
}

CGRect TableGeometry::footerRect(int index) const
{
    auto& section = m_sections.at(static_cast<std::size_t>(index));
    return CGRectMake(0, section.rowsTop() + section.rowsHeight(), m_width, section.footerHeight);
}

std::optional<NSIndexPath> TableGeometry::rowAt(CGFloat y) const
{
    auto rows = rowsBetween(y, y);
    if (rows.empty())
        return std::nullopt;
    auto rect = rowRect(rows.front());
    if (y < rect.origin.y || y >= CGRectGetMaxY(rect))
        return std::nullopt;
    return rows.front();
}

std::vector<NSIndexPath> TableGeometry::rowsBetween(CGFloat top, CGFloat bottom) const
{
    // A band of no height asks for the row at a point.
    bool point = top >= bottom;
    auto overlaps = [&](const CGRect& rect) {
        auto y = rect.origin.y, end = CGRectGetMaxY(rect);
        return point ? y <= top && top < end : y < bottom && end > top;
    };
    std::vector<NSIndexPath> rows;
    auto first = std::partition_point(m_sections.begin(), m_sections.end(), [&](const Section& section) { return section.bottom() <= top; });
    for (auto it = first; it != m_sections.end() && (point ? it->top <= top : it->top < bottom); ++it) {
        int index = static_cast<int>(it - m_sections.begin());
        CGFloat from = top - it->rowsTop();
        int row = 0;
        if (it->rowOffsets.empty()) {
            if (it->uniformHeight > 0 && from > 0)
                row = static_cast<int>(std::min<double>(from / it->uniformHeight, it->rows));
        } else {
            auto upper = std::upper_bound(it->rowOffsets.begin(), it->rowOffsets.end(), from);
            row = std::max(0, static_cast<int>(upper - it->rowOffsets.begin()) - 1);
        }
        for (; row < it->rows; ++row) {
            auto rect = rowRect({ index, row });
            if (point ? rect.origin.y > top : rect.origin.y >= bottom)
                break;
            if (overlaps(rect))
                rows.push_back({ index, row });
        }
    }
    return rows;
}

CGFloat TableGeometry::maximumOffset(CGFloat visibleHeight) const
{
    return std::max(0.0, m_contentHeight - visibleHeight);
}

tableDrawing::SectionEnds tableDrawing::sectionEnds(UITableView& table, int index)
{
    auto source = table.dataSource();
    auto delegate = table.delegate();
    bool grouped = table.style() == UITableViewStyle::Grouped;
    std::optional<CGFloat> header, footer;
    if (delegate) {
        header = delegate->heightForHeaderInSection(table, index);
        footer = delegate->heightForFooterInSection(table, index);
    }
    bool headerTitle = source && source->titleForHeaderInSection(table, index).value_or("") != "";
    auto footerTitle = source ? source->titleForFooterInSection(table, index) : std::nullopt;
    bool headerView = delegate && delegate->viewForHeaderInSection(table, index);
    bool footerView = delegate && delegate->viewForFooterInSection(table, index);
    SectionEnds ends;
    if (header && *header >= 0)
        ends.header = *header;
    else if (grouped)
        ends.header = headerTitle || headerView ? (index == 0 ? 55 : 38) : (index == 0 ? 35 : 17);
    else
        ends.header = headerTitle || headerView ? plainTitleHeight : 0;
    if (footer && *footer >= 0) {
        ends.footer = *footer;
    } else if (footerTitle) {
        auto width = std::max(1.0, table.frame().size.width - 30);
        auto measured = text::measure(*footerTitle, UIFont::systemFontOfSize(13), width).height;
        ends.footer = grouped ? measured + 16 : std::max(plainTitleHeight, measured + 4);
    } else {
        ends.footer = grouped ? 17 : (footerView ? plainTitleHeight : 0);
    }
    return ends;
}

RevealedRowActions& RevealedRowActions::current()
{
    static auto* revealed = new RevealedRowActions;
    return *revealed;
}

const std::vector<std::shared_ptr<UITableViewRowAction>>* RevealedRowActions::on(UITableView& table, const NSIndexPath& path)
{
    if (!isOpen() || this->table.lock().get() != &table || indexPath != path)
        return nullptr;
    return &actions;
}

void RevealedRowActions::reveal(UITableView& shownOn, const NSIndexPath& path, std::vector<std::shared_ptr<UITableViewRowAction>> shown)
{
    table = std::static_pointer_cast<UITableView>(shownOn.shared_from_this());
    indexPath = path;
    actions = std::move(shown);
    reloadCount = shownOn.reloadCount();
}

void RevealedRowActions::close()
{
    table.reset();
    actions.clear();
}

bool RevealedRowActions::isOpen()
{
    auto shownOn = table.lock();
    // The rows changed under the actions, or editing began: they close.
    if (!shownOn || actions.empty() || shownOn->reloadCount() != reloadCount || shownOn->isEditing()) {
        if (!actions.empty())
            close();
        return false;
    }
    return true;
}

}
