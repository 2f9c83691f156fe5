#include "platform/uikit/UITableView.h"

#include "platform/graphics/UIScreen.h"
#include "platform/uikit/ScreenLayout.h"
#include "platform/uikit/TableGeometry.h"
#include "platform/uikit/UIApplication.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace vesk::platform {

UITableViewCell::UITableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UIView(CGRectMake(0, 0, UIScreen::mainScreen().bounds().size.width, 44))
    , m_style(style)
    , m_reuseIdentifier(std::move(reuseIdentifier))
{
}

std::shared_ptr<UIView> UITableViewCell::contentView()
{
    if (!m_contentView) {
        m_contentView = std::make_shared<UIView>(bounds());
        m_contentView->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth | UIViewAutoresizing::FlexibleHeight);
        addSubview(m_contentView);
    }
    return m_contentView;
}

namespace {

    // A cell makes its parts the first time they are asked for, inside its content view.
    template<typename View>
    std::shared_ptr<View> madeIn(UIView& parent, std::shared_ptr<View>& part)
    {
        if (!part) {
            part = std::make_shared<View>();
            parent.addSubview(part);
        }
        return part;
    }

}

std::shared_ptr<UILabel> UITableViewCell::textLabel()
{
    return madeIn(*contentView(), m_textLabel);
}

std::shared_ptr<UILabel> UITableViewCell::detailTextLabel()
{
    if (m_style == UITableViewCellStyle::Default)
        return nullptr;
    return madeIn(*contentView(), m_detailTextLabel);
}

std::shared_ptr<UIImageView> UITableViewCell::imageView()
{
    return madeIn(*contentView(), m_imageView);
}

void UITableViewCell::setSelected(bool selected, bool)
{
    m_selected = selected;
}

void UITableViewCell::setHighlighted(bool highlighted, bool)
{
    m_highlighted = highlighted;
}

void UITableViewCell::setEditing(bool editing, bool)
{
    m_editing = editing;
}

std::shared_ptr<UITableViewRowAction> UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle style, std::string title, Handler handler)
{
    auto action = std::make_shared<UITableViewRowAction>();
    action->m_style = style;
    action->m_title = std::move(title);
    action->m_handler = std::move(handler);
    return action;
}

void UITableViewRowAction::perform(const NSIndexPath& indexPath)
{
    if (m_handler)
        m_handler(*this, indexPath);
}

namespace {

    // Cells are made this far beyond each edge of the view, so the next rows are ready before
    // they scroll in.
    constexpr CGFloat layoutMargin = 100;
    // How often a layout starts over when the data source keeps reloading as its cells are made.
    constexpr int maxLayoutPasses = 8;

    std::mutex& prototypeMutex()
    {
        static std::mutex mutex;
        return mutex;
    }

    std::map<std::string, UITableView::CellFactory>& prototypes()
    {
        static auto* factories = new std::map<std::string, UITableView::CellFactory>;
        return *factories;
    }

}

UITableView::UITableView(CGRect frame, UITableViewStyle style)
    : UIView(frame)
    , m_style(style)
{
}

void UITableView::registerPrototypeCell(const std::string& reuseIdentifier, CellFactory factory)
{
    std::lock_guard lock(prototypeMutex());
    prototypes()[reuseIdentifier] = std::move(factory);
}

void UITableView::registerClass(const std::string& reuseIdentifier, CellFactory factory)
{
    m_factories[reuseIdentifier] = std::move(factory);
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& reuseIdentifier)
{
    auto& pool = m_reusePool[reuseIdentifier];
    if (!pool.empty()) {
        auto cell = pool.back();
        pool.pop_back();
        cell->prepareForReuse();
        return cell;
    }
    CellFactory factory;
    if (auto it = m_factories.find(reuseIdentifier); it != m_factories.end()) {
        factory = it->second;
    } else {
        std::lock_guard lock(prototypeMutex());
        if (auto prototype = prototypes().find(reuseIdentifier); prototype != prototypes().end())
            factory = prototype->second;
    }
    return factory ? factory(reuseIdentifier) : nullptr;
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& reuseIdentifier, const NSIndexPath&)
{
    if (auto cell = dequeueReusableCellWithIdentifier(reuseIdentifier))
        return cell;
    // The platform refuses an unregistered identifier here; a plain cell keeps the table going.
    std::fprintf(stderr, "unable to dequeue a cell with identifier %s\n", reuseIdentifier.c_str());
    return std::make_shared<UITableViewCell>(UITableViewCellStyle::Default, reuseIdentifier);
}

void UITableView::recycle(const std::shared_ptr<UITableViewCell>& cell)
{
    cell->removeFromSuperview();
    if (cell->reuseIdentifier())
        m_reusePool[*cell->reuseIdentifier()].push_back(cell);
}

void UITableView::recycleCells()
{
    auto cells = std::move(m_cells);
    m_cells.clear();
    for (auto& [indexPath, cell] : cells)
        recycle(cell);
    m_needsLayout = true;
}

void UITableView::countRows()
{
    std::vector<int> counts;
    if (auto source = dataSource()) {
        int sections = std::max(0, source->numberOfSectionsInTableView(*this));
        for (int section = 0; section < sections; ++section)
            counts.push_back(std::max(0, source->numberOfRowsInSection(*this, section)));
    }
    m_rowCounts = std::move(counts);
    // Measured once per count, so that finding a row is a search, not a walk. Each section's
    // rows lie between its header and its footer.
    m_rowEdges.assign(m_rowCounts->size(), {});
    CGFloat y = 0;
    for (std::size_t section = 0; section < m_rowCounts->size(); ++section) {
        auto ends = tableDrawing::sectionEnds(*this, static_cast<int>(section));
        y += ends.header;
        auto& edges = m_rowEdges[section];
        int rows = (*m_rowCounts)[section];
        edges.reserve(static_cast<std::size_t>(rows) + 1);
        for (int row = 0; row < rows; ++row) {
            edges.push_back(y);
            y += heightOfRow({ static_cast<int>(section), row });
        }
        edges.push_back(y);
        y += ends.footer;
    }
    m_sectionsHeight = y;
    m_needsLayout = true;
}

void UITableView::reloadData()
{
    recycleCells();
    m_selected.clear();
    m_rowCounts.reset();
    ++m_reloadCount;
    countRows();
}

int UITableView::numberOfSections()
{
    if (!m_rowCounts)
        countRows();
    return static_cast<int>(m_rowCounts->size());
}

int UITableView::numberOfRowsInSection(int section)
{
    if (!m_rowCounts)
        countRows();
    if (section < 0 || section >= static_cast<int>(m_rowCounts->size()))
        return 0;
    return (*m_rowCounts)[static_cast<std::size_t>(section)];
}

bool UITableView::isValid(const NSIndexPath& indexPath)
{
    return indexPath.row >= 0 && indexPath.row < numberOfRowsInSection(indexPath.section);
}

void UITableView::shiftSelection(int section, int fromRow, int by)
{
    std::set<NSIndexPath> shifted;
    for (auto indexPath : m_selected) {
        if (indexPath.section == section && indexPath.row >= fromRow)
            indexPath.row += by;
        if (indexPath.row >= 0)
            shifted.insert(indexPath);
    }
    m_selected = std::move(shifted);
}

void UITableView::insertRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation)
{
    auto before = m_rowCounts;
    countRows();
    auto sorted = indexPaths;
    std::sort(sorted.begin(), sorted.end());
    for (auto& indexPath : sorted)
        shiftSelection(indexPath.section, indexPath.row, 1);
    if (before) {
        auto expected = *before;
        for (auto& indexPath : indexPaths) {
            if (indexPath.section >= 0 && static_cast<std::size_t>(indexPath.section) < expected.size())
                ++expected[static_cast<std::size_t>(indexPath.section)];
        }
        if (expected != *m_rowCounts)
            std::fprintf(stderr, "Invalid update: the number of rows after an insert does not match the data source\n");
    }
    recycleCells();
    ++m_reloadCount;
}

void UITableView::deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation)
{
    auto before = m_rowCounts;
    countRows();
    auto sorted = indexPaths;
    std::sort(sorted.rbegin(), sorted.rend());
    for (auto& indexPath : sorted) {
        m_selected.erase(indexPath);
        shiftSelection(indexPath.section, indexPath.row + 1, -1);
    }
    if (before) {
        auto expected = *before;
        for (auto& indexPath : indexPaths) {
            if (indexPath.section >= 0 && static_cast<std::size_t>(indexPath.section) < expected.size())
                --expected[static_cast<std::size_t>(indexPath.section)];
        }
        if (expected != *m_rowCounts)
            std::fprintf(stderr, "Invalid update: the number of rows after a delete does not match the data source\n");
    }
    recycleCells();
    ++m_reloadCount;
}

void UITableView::reloadRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths, UITableViewRowAnimation)
{
    for (auto& indexPath : indexPaths) {
        auto it = m_cells.find(indexPath);
        if (it == m_cells.end())
            continue;
        auto cell = it->second;
        m_cells.erase(it);
        recycle(cell);
    }
    m_needsLayout = true;
    ++m_reloadCount;
}

void UITableView::reloadSections(const std::vector<int>&, UITableViewRowAnimation)
{
    reloadData();
}

CGFloat UITableView::contentTop() const
{
    return m_headerView ? m_headerView->frame().size.height : 0;
}

CGFloat UITableView::contentHeight()
{
    if (!m_rowCounts)
        countRows();
    return contentTop() + m_sectionsHeight + (m_footerView ? m_footerView->frame().size.height : 0);
}

void UITableView::setRowHeight(CGFloat height)
{
    m_rowHeight = height;
    if (m_rowCounts) {
        recycleCells();
        countRows();
    }
}

void UITableView::setContentOffset(CGPoint offset)
{
    m_contentOffset = offset;
    m_needsLayout = true;
    layoutSubviews();
}

UITableView::RowRange UITableView::rowsIn(CGFloat top, CGFloat bottom)
{
    RowRange range { { 0, 0 }, { -1, -1 } };
    if (!m_rowCounts)
        countRows();
    top -= contentTop();
    bottom -= contentTop();
    bool found = false;
    for (int section = 0; section < static_cast<int>(m_rowEdges.size()); ++section) {
        auto& edges = m_rowEdges[static_cast<std::size_t>(section)];
        int rows = static_cast<int>(edges.size()) - 1;
        if (rows <= 0 || edges.back() <= top || edges.front() >= bottom)
            continue;
        // The first row that ends below the top, the last that begins above the bottom.
        auto firstEnd = std::upper_bound(edges.begin() + 1, edges.end(), top);
        auto lastBegin = std::lower_bound(edges.begin(), edges.end() - 1, bottom);
        int first = static_cast<int>(firstEnd - edges.begin()) - 1;
        int last = static_cast<int>(lastBegin - edges.begin()) - 1;
        if (first > last)
            continue;
        if (!found)
            range.first = { section, first };
        range.last = { section, last };
        found = true;
    }
    return range;
}

UITableView::RowRange UITableView::laidOutRange()
{
    CGFloat height = frame().size.height > 0 ? frame().size.height : UIScreen::mainScreen().bounds().size.height;
    return rowsIn(m_contentOffset.y - layoutMargin, m_contentOffset.y + height + layoutMargin);
}

std::shared_ptr<UITableViewCell> UITableView::makeCell(const NSIndexPath& indexPath)
{
    auto source = dataSource();
    if (!source)
        return nullptr;
    auto reloads = m_reloadCount;
    auto cell = source->cellForRowAtIndexPath(*this, indexPath);
    if (m_reloadCount != reloads) {
        // The rows changed while the cell was made (a cell that finds its item gone tells its
        // owner, which reloads): the cell may show an item no longer at this row.
        if (cell)
            recycle(cell);
        return nullptr;
    }
    if (!cell) {
        std::fprintf(stderr, "the table's data source answered no cell for row %d in section %d\n", indexPath.row, indexPath.section);
        cell = std::make_shared<UITableViewCell>(UITableViewCellStyle::Default, std::nullopt);
    }
    cell->setFrame(rectForRowAtIndexPath(indexPath));
    cell->setEditing(m_editing, false);
    cell->setSelected(m_selected.count(indexPath) != 0, false);
    m_cells[indexPath] = cell;
    addSubview(cell);
    if (auto delegate = this->delegate())
        delegate->willDisplayCell(*this, *cell, indexPath);
    return cell;
}

void UITableView::layoutSubviews()
{
    // A data source that asks the table for its rows while one is being made must not start
    // a second layout.
    if (m_layingOut || !dataSource())
        return;
    m_layingOut = true;
    // A pass cut short by a reload starts over on the new rows.
    for (int pass = 0; pass < maxLayoutPasses && !layoutPass(); ++pass) { }
    m_layingOut = false;
}

bool UITableView::layoutPass()
{
    if (!m_rowCounts)
        countRows();
    CGFloat height = frame().size.height > 0 ? frame().size.height : UIScreen::mainScreen().bounds().size.height;
    CGFloat lowest = std::max<CGFloat>(0, contentHeight() - height);
    if (m_contentOffset.y > lowest)
        m_contentOffset.y = lowest;
    auto range = laidOutRange();
    recycleOutside(range);
    for (int section = range.first.section; section <= range.last.section; ++section) {
        int first = section == range.first.section ? range.first.row : 0;
        int last = section == range.last.section ? range.last.row : numberOfRowsInSection(section) - 1;
        for (int row = first; row <= last; ++row) {
            if (!m_cells.count({ section, row }) && !makeCell({ section, row }))
                return false;
        }
    }
    m_needsLayout = false;
    return true;
}

void UITableView::recycleOutside(const RowRange& range)
{
    for (auto it = m_cells.begin(); it != m_cells.end();) {
        if (range.contains(it->first)) {
            ++it;
            continue;
        }
        auto cell = it->second;
        it = m_cells.erase(it);
        recycle(cell);
    }
}

void UITableView::layoutRowsIfNeeded()
{
    if (m_needsLayout)
        layoutSubviews();
}

std::shared_ptr<UITableViewCell> UITableView::cellForRowAtIndexPath(const NSIndexPath& indexPath)
{
    for (int pass = 0; pass < maxLayoutPasses; ++pass) {
        layoutRowsIfNeeded();
        if (!isValid(indexPath))
            return nullptr;
        if (auto it = m_cells.find(indexPath); it != m_cells.end())
            return it->second;
        // A row out of view: its cell is made now and kept only until the next such request.
        recycleOutside(laidOutRange());
        if (auto cell = makeCell(indexPath))
            return cell;
    }
    return nullptr;
}

CGFloat UITableView::heightOfRow(const NSIndexPath& indexPath)
{
    if (auto delegate = this->delegate()) {
        if (auto height = delegate->heightForRowAtIndexPath(*this, indexPath))
            return *height;
    }
    return m_rowHeight;
}

CGRect UITableView::rectForRowAtIndexPath(const NSIndexPath& indexPath)
{
    if (!isValid(indexPath))
        return CGRectZero;
    auto& edges = m_rowEdges[static_cast<std::size_t>(indexPath.section)];
    auto row = static_cast<std::size_t>(indexPath.row);
    return CGRectMake(0, contentTop() + edges[row], frame().size.width, edges[row + 1] - edges[row]);
}

std::vector<NSIndexPath> UITableView::indexPathsForVisibleRows()
{
    CGFloat height = frame().size.height > 0 ? frame().size.height : UIScreen::mainScreen().bounds().size.height;
    auto range = rowsIn(m_contentOffset.y, m_contentOffset.y + height);
    std::vector<NSIndexPath> visible;
    for (int section = range.first.section; section <= range.last.section; ++section) {
        int first = section == range.first.section ? range.first.row : 0;
        int last = section == range.last.section ? range.last.row : numberOfRowsInSection(section) - 1;
        for (int row = first; row <= last; ++row)
            visible.push_back({ section, row });
    }
    return visible;
}

std::vector<std::shared_ptr<UITableViewCell>> UITableView::visibleCells()
{
    layoutRowsIfNeeded();
    std::vector<std::shared_ptr<UITableViewCell>> cells;
    for (auto& indexPath : indexPathsForVisibleRows()) {
        if (auto cell = cellForRowAtIndexPath(indexPath))
            cells.push_back(cell);
    }
    return cells;
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const UITableViewCell& cell) const
{
    for (auto& [indexPath, shown] : m_cells) {
        if (shown.get() == &cell)
            return indexPath;
    }
    return std::nullopt;
}

std::optional<NSIndexPath> UITableView::indexPathForRowAtPoint(CGPoint point)
{
    auto range = rowsIn(point.y, std::nextafter(point.y, point.y + 1));
    if (range.last < range.first)
        return std::nullopt;
    return range.first;
}

void UITableView::scrollToRowAtIndexPath(const NSIndexPath& indexPath, UITableViewScrollPosition, bool)
{
    if (isValid(indexPath))
        setContentOffset({ m_contentOffset.x, rectForRowAtIndexPath(indexPath).origin.y });
}

std::optional<NSIndexPath> UITableView::indexPathForSelectedRow() const
{
    if (m_selected.empty())
        return std::nullopt;
    return *m_selected.begin();
}

std::vector<NSIndexPath> UITableView::indexPathsForSelectedRows() const
{
    return { m_selected.begin(), m_selected.end() };
}

void UITableView::setCellSelected(const NSIndexPath& indexPath, bool selected)
{
    auto it = m_cells.find(indexPath);
    if (it != m_cells.end())
        it->second->setSelected(selected, false);
}

void UITableView::selectRowAtIndexPath(const std::optional<NSIndexPath>& indexPath, bool, UITableViewScrollPosition)
{
    bool multiple = m_editing && m_allowsMultipleSelectionDuringEditing;
    if (!multiple || !indexPath) {
        for (auto& selected : m_selected)
            setCellSelected(selected, false);
        m_selected.clear();
    }
    if (indexPath && isValid(*indexPath)) {
        m_selected.insert(*indexPath);
        setCellSelected(*indexPath, true);
    }
}

void UITableView::deselectRowAtIndexPath(const NSIndexPath& indexPath, bool)
{
    m_selected.erase(indexPath);
    setCellSelected(indexPath, false);
}

void UITableView::setEditing(bool editing, bool animated)
{
    if (m_editing == editing)
        return;
    m_editing = editing;
    for (auto& selected : m_selected)
        setCellSelected(selected, false);
    m_selected.clear();
    for (auto& [indexPath, cell] : m_cells)
        cell->setEditing(editing, animated);
}

void UITableView::tapRowAtIndexPath(const NSIndexPath& indexPath)
{
    if (!isValid(indexPath))
        return;
    if (m_editing ? !(m_allowsSelectionDuringEditing || m_allowsMultipleSelectionDuringEditing) : !m_allowsSelection)
        return;
    auto delegate = this->delegate();
    if (m_editing && m_allowsMultipleSelectionDuringEditing) {
        if (m_selected.count(indexPath)) {
            deselectRowAtIndexPath(indexPath, true);
            if (delegate)
                delegate->didDeselectRowAtIndexPath(*this, indexPath);
            return;
        }
        m_selected.insert(indexPath);
        setCellSelected(indexPath, true);
        if (delegate)
            delegate->didSelectRowAtIndexPath(*this, indexPath);
        return;
    }
    auto previous = m_selected;
    previous.erase(indexPath);
    for (auto& old : previous) {
        deselectRowAtIndexPath(old, false);
        if (delegate)
            delegate->didDeselectRowAtIndexPath(*this, old);
    }
    m_selected.insert(indexPath);
    setCellSelected(indexPath, true);
    if (delegate)
        delegate->didSelectRowAtIndexPath(*this, indexPath);
}

void UITableView::tapAccessoryAtIndexPath(const NSIndexPath& indexPath)
{
    if (!isValid(indexPath))
        return;
    if (auto delegate = this->delegate())
        delegate->accessoryButtonTappedForRowWithIndexPath(*this, indexPath);
}

std::vector<std::shared_ptr<UITableViewRowAction>> UITableView::swipeRowAtIndexPath(const NSIndexPath& indexPath)
{
    if (!isValid(indexPath) || m_editing)
        return {};
    auto source = dataSource();
    auto delegate = this->delegate();
    if (source) {
        if (auto canEdit = source->canEditRowAtIndexPath(*this, indexPath); canEdit && !*canEdit)
            return {};
    }
    if (delegate) {
        if (auto style = delegate->editingStyleForRowAtIndexPath(*this, indexPath); style && *style == UITableViewCellEditingStyle::None)
            return {};
        if (auto actions = delegate->editActionsForRowAtIndexPath(*this, indexPath))
            return *actions;
    }
    if (!source)
        return {};
    // Without actions of its own, a row whose source commits edits shows the platform's Delete.
    std::weak_ptr<UITableView> weakTable = std::static_pointer_cast<UITableView>(shared_from_this());
    std::weak_ptr<UITableViewDataSource> weakSource = source;
    auto probe = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Destructive, "Delete",
        [weakTable, weakSource](UITableViewRowAction&, const NSIndexPath& path) {
            auto table = weakTable.lock();
            auto owner = weakSource.lock();
            if (table && owner)
                owner->commitEditingStyle(*table, UITableViewCellEditingStyle::Delete, path);
        });
    return { probe };
}

UITableViewController::UITableViewController(UITableViewStyle style)
    : m_tableStyle(style)
{
}

std::shared_ptr<UITableView> UITableViewController::tableView()
{
    view();
    return m_tableView;
}

void UITableViewController::loadView()
{
    m_tableView = std::make_shared<UITableView>(screenLayout::boundsForLoadingView(*this), m_tableStyle);
    m_tableView->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth | UIViewAutoresizing::FlexibleHeight);
    auto self = std::dynamic_pointer_cast<UITableViewController>(shared_from_this());
    m_tableView->setDataSource(self);
    m_tableView->setDelegate(self);
    setView(m_tableView);
}

void UITableViewController::setEditing(bool editing, bool animated)
{
    UIViewController::setEditing(editing, animated);
    tableView()->setEditing(editing, animated);
}

void UITableViewController::beginAppearance(bool appearing, bool animated)
{
    if (appearing && !isVisible() && m_clearsSelectionOnViewWillAppear && m_tableView) {
        for (auto& indexPath : m_tableView->indexPathsForSelectedRows())
            m_tableView->deselectRowAtIndexPath(indexPath, animated);
    }
    UIViewController::beginAppearance(appearing, animated);
}

}
