#pragma once

#include "platform/uikit/UIView.h"
#include "platform/uikit/UIViewController.h"

#include <compare>
#include <map>
#include <optional>
#include <set>

namespace vesk::platform {

struct NSIndexPath {
    int section = 0;
    int row = 0;
    static NSIndexPath indexPathForRow(int row, int section) { return { section, row }; }
    auto operator<=>(const NSIndexPath&) const = default;
};

enum class UITableViewStyle {
    Plain,
    Grouped,
};

enum class UITableViewCellStyle {
    Default,
    Value1,
    Value2,
    Subtitle,
};

enum class UITableViewCellEditingStyle {
    None,
    Delete,
    Insert,
};

enum class UITableViewCellAccessoryType {
    None,
    DisclosureIndicator,
    DetailDisclosureButton,
    Checkmark,
    DetailButton,
};

enum class UITableViewCellSelectionStyle {
    None,
    Blue,
    Gray,
    Default,
};

enum class UITableViewRowAnimation {
    Fade,
    Right,
    Left,
    Top,
    Bottom,
    None,
    Middle,
    Automatic,
};

enum class UITableViewScrollPosition {
    None,
    Top,
    Middle,
    Bottom,
};

enum class UITableViewCellSeparatorStyle {
    None,
    SingleLine,
};

class UITableViewCell : public UIView {
public:
    UITableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);

    UITableViewCellStyle style() const { return m_style; }
    const std::optional<std::string>& reuseIdentifier() const { return m_reuseIdentifier; }
    std::shared_ptr<UIView> contentView();
    std::shared_ptr<UILabel> textLabel();
    // None for the default style, as on the platform.
    std::shared_ptr<UILabel> detailTextLabel();
    std::shared_ptr<UIImageView> imageView();

    UITableViewCellAccessoryType accessoryType() const { return m_accessoryType; }
    void setAccessoryType(UITableViewCellAccessoryType type) { m_accessoryType = type; }
    std::shared_ptr<UIView> accessoryView() const { return m_accessoryView; }
    void setAccessoryView(std::shared_ptr<UIView> view) { m_accessoryView = std::move(view); }
    UITableViewCellAccessoryType editingAccessoryType() const { return m_editingAccessoryType; }
    void setEditingAccessoryType(UITableViewCellAccessoryType type) { m_editingAccessoryType = type; }
    UITableViewCellSelectionStyle selectionStyle() const { return m_selectionStyle; }
    void setSelectionStyle(UITableViewCellSelectionStyle style) { m_selectionStyle = style; }

    bool isSelected() const { return m_selected; }
    virtual void setSelected(bool selected, bool animated);
    bool isHighlighted() const { return m_highlighted; }
    virtual void setHighlighted(bool highlighted, bool animated);
    bool isEditing() const { return m_editing; }
    virtual void setEditing(bool editing, bool animated);
    virtual void prepareForReuse() { }

private:
    UITableViewCellStyle m_style;
    std::optional<std::string> m_reuseIdentifier;
    std::shared_ptr<UIView> m_contentView;
    std::shared_ptr<UILabel> m_textLabel;
    std::shared_ptr<UILabel> m_detailTextLabel;
    std::shared_ptr<UIImageView> m_imageView;
    UITableViewCellAccessoryType m_accessoryType = UITableViewCellAccessoryType::None;
    std::shared_ptr<UIView> m_accessoryView;
    UITableViewCellAccessoryType m_editingAccessoryType = UITableViewCellAccessoryType::None;
    UITableViewCellSelectionStyle m_selectionStyle = UITableViewCellSelectionStyle::Default;
    bool m_selected = false;
    bool m_highlighted = false;
    bool m_editing = false;
};

enum class UITableViewRowActionStyle {
    Default,
    Destructive = Default,
    Normal,
};

class UITableViewRowAction {
public:
    using Handler = std::function<void(UITableViewRowAction&, const NSIndexPath&)>;
    static std::shared_ptr<UITableViewRowAction> rowActionWithStyle(UITableViewRowActionStyle style, std::string title, Handler handler);

    UITableViewRowActionStyle style() const { return m_style; }
    const std::string& title() const { return m_title; }
    std::shared_ptr<UIColor> backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(std::shared_ptr<UIColor> color) { m_backgroundColor = std::move(color); }
    void perform(const NSIndexPath& indexPath);

private:
    UITableViewRowActionStyle m_style = UITableViewRowActionStyle::Default;
    std::string m_title;
    std::shared_ptr<UIColor> m_backgroundColor;
    Handler m_handler;
};

class UITableView;

// Optional calls answer "not implemented" (none, or false for calls without an answer).
class UITableViewDataSource {
public:
    virtual ~UITableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(UITableView&) { return 1; }
    virtual int numberOfRowsInSection(UITableView& tableView, int section) = 0;
    virtual std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) = 0;
    virtual std::optional<std::string> titleForHeaderInSection(UITableView&, int) { return std::nullopt; }
    virtual std::optional<std::string> titleForFooterInSection(UITableView&, int) { return std::nullopt; }
    virtual std::optional<bool> canEditRowAtIndexPath(UITableView&, const NSIndexPath&) { return std::nullopt; }
    virtual bool commitEditingStyle(UITableView&, UITableViewCellEditingStyle, const NSIndexPath&) { return false; }
};

class UITableViewDelegate {
public:
    virtual ~UITableViewDelegate() = default;
    virtual std::optional<CGFloat> heightForRowAtIndexPath(UITableView&, const NSIndexPath&) { return std::nullopt; }
    virtual void didSelectRowAtIndexPath(UITableView&, const NSIndexPath&) { }
    virtual void didDeselectRowAtIndexPath(UITableView&, const NSIndexPath&) { }
    virtual void willDisplayCell(UITableView&, UITableViewCell&, const NSIndexPath&) { }
    virtual void accessoryButtonTappedForRowWithIndexPath(UITableView&, const NSIndexPath&) { }
    virtual std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(UITableView&, const NSIndexPath&) { return std::nullopt; }
    virtual std::optional<UITableViewCellEditingStyle> editingStyleForRowAtIndexPath(UITableView&, const NSIndexPath&) { return std::nullopt; }
    virtual std::shared_ptr<UIView> viewForHeaderInSection(UITableView&, int) { return nullptr; }
    virtual std::optional<CGFloat> heightForHeaderInSection(UITableView&, int) { return std::nullopt; }
    virtual std::shared_ptr<UIView> viewForFooterInSection(UITableView&, int) { return nullptr; }
    virtual std::optional<CGFloat> heightForFooterInSection(UITableView&, int) { return std::nullopt; }
};

// A headless table with a viewport, as on the platform: rows are counted and measured on
// reload, and cells exist only for the rows that the frame shows from the scroll offset, plus
// a small margin. Cells that leave that range go to the reuse pool of their identifier, so a
// table of any length holds a screenful of cells. Cells are subviews of the table at their
// rows' rectangles in content coordinates. A cell asked for a row outside the range is made
// on demand and goes back to the pool at the next layout or the next such request.
class UITableView : public UIView {
public:
    using CellFactory = std::function<std::shared_ptr<UITableViewCell>(const std::string& reuseIdentifier)>;

    UITableView(CGRect frame, UITableViewStyle style);

    // The storyboard's prototype cells, found by every table that dequeues their identifier
    // and has no class of its own registered for it. Any thread.
    static void registerPrototypeCell(const std::string& reuseIdentifier, CellFactory factory);

    UITableViewStyle style() const { return m_style; }
    std::shared_ptr<UITableViewDataSource> dataSource() const { return m_dataSource.lock(); }
    void setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource) { m_dataSource = dataSource; }
    std::shared_ptr<UITableViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate) { m_delegate = delegate; }

    void registerClass(const std::string& reuseIdentifier, CellFactory factory);
    // A cell from the reuse pool, or a new one of a registered class; none otherwise.
    std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& reuseIdentifier);
    std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& reuseIdentifier, const NSIndexPath& indexPath);

    void reloadData();
    void beginUpdates() { }
    void endUpdates() { }
    void insertRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
    void deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
    void reloadRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation animation);
    void reloadSections(const std::vector<int>& sections, UITableViewRowAnimation animation);
    // How often the rows were reloaded in any way, for tests.
    std::size_t reloadCount() const { return m_reloadCount; }

    int numberOfSections();
    int numberOfRowsInSection(int section);
    // The cell that shows the row, made on demand; none outside the rows.
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const NSIndexPath& indexPath);
    std::vector<NSIndexPath> indexPathsForVisibleRows();
    std::vector<std::shared_ptr<UITableViewCell>> visibleCells();
    std::optional<NSIndexPath> indexPathForCell(const UITableViewCell& cell) const;
    std::optional<NSIndexPath> indexPathForRowAtPoint(CGPoint point);
    CGRect rectForRowAtIndexPath(const NSIndexPath& indexPath);
    void scrollToRowAtIndexPath(const NSIndexPath& indexPath, UITableViewScrollPosition position, bool animated);
    CGPoint contentOffset() const { return m_contentOffset; }
    // Scrolling: the rows in view get their cells at once.
    void setContentOffset(CGPoint offset);
    CGFloat contentHeight();

    std::optional<NSIndexPath> indexPathForSelectedRow() const;
    std::vector<NSIndexPath> indexPathsForSelectedRows() const;
    void selectRowAtIndexPath(const std::optional<NSIndexPath>& indexPath, bool animated, UITableViewScrollPosition position);
    void deselectRowAtIndexPath(const NSIndexPath& indexPath, bool animated);

    bool isEditing() const { return m_editing; }
    void setEditing(bool editing, bool animated);
    bool allowsSelection() const { return m_allowsSelection; }
    void setAllowsSelection(bool allows) { m_allowsSelection = allows; }
    bool allowsMultipleSelectionDuringEditing() const { return m_allowsMultipleSelectionDuringEditing; }
    void setAllowsMultipleSelectionDuringEditing(bool allows) { m_allowsMultipleSelectionDuringEditing = allows; }
    bool allowsSelectionDuringEditing() const { return m_allowsSelectionDuringEditing; }
    void setAllowsSelectionDuringEditing(bool allows) { m_allowsSelectionDuringEditing = allows; }

    CGFloat rowHeight() const { return m_rowHeight; }
    void setRowHeight(CGFloat height);
    CGFloat estimatedRowHeight() const { return m_estimatedRowHeight; }
    void setEstimatedRowHeight(CGFloat height) { m_estimatedRowHeight = height; }
    std::shared_ptr<UIView> tableHeaderView() const { return m_headerView; }
    void setTableHeaderView(std::shared_ptr<UIView> view) { m_headerView = std::move(view); }
    std::shared_ptr<UIView> tableFooterView() const { return m_footerView; }
    void setTableFooterView(std::shared_ptr<UIView> view) { m_footerView = std::move(view); }
    std::shared_ptr<UIView> backgroundView() const { return m_backgroundView; }
    void setBackgroundView(std::shared_ptr<UIView> view) { m_backgroundView = std::move(view); }
    UITableViewCellSeparatorStyle separatorStyle() const { return m_separatorStyle; }
    void setSeparatorStyle(UITableViewCellSeparatorStyle style) { m_separatorStyle = style; }

    // What a person does.
    void tapRowAtIndexPath(const NSIndexPath& indexPath);
    void tapAccessoryAtIndexPath(const NSIndexPath& indexPath);
    // The actions a swipe to the left shows on the row; empty when the row can't be edited.
    std::vector<std::shared_ptr<UITableViewRowAction>> swipeRowAtIndexPath(const NSIndexPath& indexPath);

    // Lays out the rows in view: recycles the cells that left the range, asks the data source
    // for the rows that entered it.
    void layoutSubviews() override;

private:
    struct RowRange {
        NSIndexPath first;
        NSIndexPath last; // inclusive; first > last when empty
        bool contains(const NSIndexPath& indexPath) const { return !(indexPath < first) && !(last < indexPath); }
    };

    void countRows();
    bool isValid(const NSIndexPath& indexPath);
    CGFloat heightOfRow(const NSIndexPath& indexPath);
    CGFloat contentTop() const;
    // The rows that meet the band [top, bottom) of the content.
    RowRange rowsIn(CGFloat top, CGFloat bottom);
    RowRange laidOutRange();
    void layoutRowsIfNeeded();
    // False when the pass was cut short because the rows changed meanwhile.
    bool layoutPass();
    // None when the data source reloaded while it made the cell.
    std::shared_ptr<UITableViewCell> makeCell(const NSIndexPath& indexPath);
    void recycle(const std::shared_ptr<UITableViewCell>& cell);
    // Gives back the cells of rows outside the range.
    void recycleOutside(const RowRange& range);
    void recycleCells();
    void setCellSelected(const NSIndexPath& indexPath, bool selected);
    void shiftSelection(int section, int fromRow, int by);

    UITableViewStyle m_style;
    std::weak_ptr<UITableViewDataSource> m_dataSource;
    std::weak_ptr<UITableViewDelegate> m_delegate;
    std::map<std::string, CellFactory> m_factories;
    std::map<std::string, std::vector<std::shared_ptr<UITableViewCell>>> m_reusePool;
    std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> m_cells;
    std::optional<std::vector<int>> m_rowCounts;
    // Per section: where each row begins, then where the last one ends, below the table's header view.
    std::vector<std::vector<CGFloat>> m_rowEdges;
    CGFloat m_sectionsHeight = 0;
    bool m_needsLayout = true;
    bool m_layingOut = false;
    std::set<NSIndexPath> m_selected;
    std::size_t m_reloadCount = 0;
    bool m_editing = false;
    bool m_allowsSelection = true;
    bool m_allowsMultipleSelectionDuringEditing = false;
    bool m_allowsSelectionDuringEditing = false;
    CGFloat m_rowHeight = 44;
    CGFloat m_estimatedRowHeight = 0;
    CGPoint m_contentOffset {};
    std::shared_ptr<UIView> m_headerView;
    std::shared_ptr<UIView> m_footerView;
    std::shared_ptr<UIView> m_backgroundView;
    UITableViewCellSeparatorStyle m_separatorStyle = UITableViewCellSeparatorStyle::SingleLine;
};

class UITableViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    explicit UITableViewController(UITableViewStyle style = UITableViewStyle::Plain);

    std::shared_ptr<UITableView> tableView();
    void loadView() override;
    void setEditing(bool editing, bool animated) override;
    bool clearsSelectionOnViewWillAppear() const { return m_clearsSelectionOnViewWillAppear; }
    void setClearsSelectionOnViewWillAppear(bool clears) { m_clearsSelectionOnViewWillAppear = clears; }

    int numberOfRowsInSection(UITableView&, int) override { return 0; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView&, const NSIndexPath&) override { return nullptr; }

    void beginAppearance(bool appearing, bool animated) override;

private:
    UITableViewStyle m_tableStyle;
    std::shared_ptr<UITableView> m_tableView;
    bool m_clearsSelectionOnViewWillAppear = true;
    bool m_loadedOnce = false;
};

}
