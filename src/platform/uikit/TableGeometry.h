#pragma once

#include "platform/uikit/UITableView.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::platform {

// Where a table shows its header view, section headers, rows, footers and footer view, in
// its content's coordinates (before the scroll offset), as the drawing and the taps see it.
// Worked out once per reload and width, so a frame only looks up the rows it shows.
class TableGeometry {
public:
    static const TableGeometry& of(UITableView& table);

    struct Section {
        CGFloat top = 0;
        CGFloat headerHeight = 0;
        CGFloat footerHeight = 0;
        int rows = 0;
        // Row tops from the section's first row, one more than the rows; empty when every
        // row has the table's height.
        std::vector<CGFloat> rowOffsets;
        CGFloat uniformHeight = 0;
        CGFloat rowsTop() const { return top + headerHeight; }
        CGFloat rowsHeight() const { return rowOffsets.empty() ? rows * uniformHeight : rowOffsets.back(); }
        CGFloat bottom() const { return rowsTop() + rowsHeight() + footerHeight; }
    };

    const std::vector<Section>& sections() const { return m_sections; }
    CGFloat headerViewHeight() const { return m_headerViewHeight; }
    CGFloat contentHeight() const { return m_contentHeight; }
    CGRect rowRect(const NSIndexPath& indexPath) const;
    CGRect headerRect(int section) const;
    CGRect footerRect(int section) const;
    std::optional<NSIndexPath> rowAt(CGFloat y) const;
    // The rows that reach into the band between top and bottom, in order.
    std::vector<NSIndexPath> rowsBetween(CGFloat top, CGFloat bottom) const;
    // How far the table scrolls down at most.
    CGFloat maximumOffset(CGFloat visibleHeight) const;

private:
    friend struct TableGeometryCache;
    void build(UITableView& table);

    std::vector<Section> m_sections;
    CGFloat m_headerViewHeight = 0;
    CGFloat m_contentHeight = 0;
    CGFloat m_width = 0;
};

// The row whose actions a swipe revealed; one at a time, as on the platform.
struct RevealedRowActions {
    std::weak_ptr<UITableView> table;
    NSIndexPath indexPath;
    std::vector<std::shared_ptr<UITableViewRowAction>> actions;
    std::size_t reloadCount = 0;

    static RevealedRowActions& current();
    // The actions shown on the row of the table, if any; a reload closes them.
    const std::vector<std::shared_ptr<UITableViewRowAction>>* on(UITableView& table, const NSIndexPath& indexPath);
    void reveal(UITableView& table, const NSIndexPath& indexPath, std::vector<std::shared_ptr<UITableViewRowAction>> shown);
    void close();
    bool isOpen();
};

namespace tableDrawing {

    // Widths of the buttons a revealed row shows from the right edge, the first action rightmost.
    std::vector<CGFloat> actionWidths(const std::vector<std::shared_ptr<UITableViewRowAction>>& actions);
    // Where the content of a cell starts in edit mode: the room of its selection mark.
    CGFloat editingIndent(UITableView& table, const NSIndexPath& indexPath);
    // How wide the accessory is at the right edge of the cell.
    CGFloat accessoryWidth(UITableView& table, UITableViewCell& cell);
    // How high the section's header and footer are, for the rows and the drawing alike.
    struct SectionEnds {
        CGFloat header = 0;
        CGFloat footer = 0;
    };
    SectionEnds sectionEnds(UITableView& table, int section);
    // Puts the cell at its row, laid out as it is drawn there: what a tap meets is what shows.
    void placeCell(UITableView& table, UITableViewCell& cell, const NSIndexPath& indexPath);

}

}
