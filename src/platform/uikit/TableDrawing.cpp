#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIGraphics.h"
#include "platform/uikit/DrawingSupport.h"
#include "platform/uikit/TableGeometry.h"
#include "platform/uikit/UIViewRendering.h"

#include <algorithm>
#include <map>

namespace vesk::platform {

namespace {

    constexpr CGFloat margin = 15;
    constexpr CGFloat markRoom = 38;

    UIColor rgb(int red, int green, int blue)
    {
        return UIColor(red / 255.0, green / 255.0, blue / 255.0, 1);
    }

    UITableViewCellAccessoryType shownAccessory(UITableView& table, UITableViewCell& cell)
    {
        return table.isEditing() ? cell.editingAccessoryType() : cell.accessoryType();
    }

    bool multipleSelection(UITableView& table)
    {
        return table.isEditing() && table.allowsMultipleSelectionDuringEditing();
    }

    UITableViewCellEditingStyle editingStyle(UITableView& table, const NSIndexPath& indexPath)
    {
        if (auto source = table.dataSource()) {
            if (auto canEdit = source->canEditRowAtIndexPath(table, indexPath); canEdit && !*canEdit)
                return UITableViewCellEditingStyle::None;
        }
        if (auto delegate = table.delegate()) {
            if (auto style = delegate->editingStyleForRowAtIndexPath(table, indexPath))
                return *style;
        }
        return UITableViewCellEditingStyle::Delete;
    }

    // The accessory views the layout put in cells, to take out a replaced one.
    struct PlacedAccessory {
        std::weak_ptr<UIView> cell;
        std::weak_ptr<UIView> view;
    };
    std::map<const UITableViewCell*, PlacedAccessory>& placedAccessories()
    {
        static auto* map = new std::map<const UITableViewCell*, PlacedAccessory>;
        return *map;
    }

    // How far the row's actions reach in from its right edge, when they show.
    CGFloat revealedWidth(UITableView& table, const NSIndexPath& indexPath)
    {
        CGFloat width = 0;
        if (auto actions = RevealedRowActions::current().on(table, indexPath)) {
            for (auto each : tableDrawing::actionWidths(*actions))
                width += each;
        }
        return width;
    }

    void placeAccessoryView(UITableView& table, UITableViewCell& cell, CGFloat revealed)
    {
        auto& placed = placedAccessories();
        static std::size_t pruneAt = 64;
        if (placed.size() > pruneAt) {
            std::erase_if(placed, [](auto& entry) { return entry.second.cell.expired(); });
            pruneAt = std::max<std::size_t>(64, placed.size() * 2);
        }
        auto view = table.isEditing() ? nullptr : cell.accessoryView();
        auto& record = placed[&cell];
        if (record.cell.lock().get() != &cell)
            record = { cell.weak_from_this(), {} };
        auto& entry = record.view;
        auto previous = entry.lock();
        if (previous && previous != view && previous->superview().get() == &cell)
            previous->removeFromSuperview();
        entry = view;
        if (!view)
            return;
        auto size = view->frame().size;
        auto bounds = cell.bounds();
        view->setFrame(CGRectMake(bounds.size.width - revealed - margin - size.width, (bounds.size.height - size.height) / 2, size.width, size.height));
        if (view->superview().get() != &cell)
            cell.addSubview(view);
    }

    void setAlignment(UILabel& label, NSTextAlignment alignment)
    {
        if (label.textAlignment() != alignment)
            label.setTextAlignment(alignment);
    }

    // The platform's layout of the built-in image and labels for the cell's style.
    void layoutStandardCell(UITableViewCell& cell, CGFloat contentWidth, CGFloat rightMargin)
    {
        auto height = cell.bounds().size.height;
        auto style = cell.style();
        auto textLabel = cell.textLabel();
        auto detailLabel = cell.detailTextLabel();
        auto imageView = cell.imageView();
        CGFloat x = margin;
        if (auto image = imageView->image()) {
            auto size = image->size();
            if (size.height > height) {
                size.width *= height / size.height;
                size.height = height;
            }
            imageView->setFrame(CGRectMake(margin, (height - size.height) / 2, size.width, size.height));
            x = margin + size.width + margin;
        } else {
            imageView->setFrame(CGRectZero);
        }
        CGFloat right = contentWidth - rightMargin;
        CGFloat available = std::max(0.0, right - x);
        auto black = UIColor::blackColor();
        switch (style) {
        case UITableViewCellStyle::Default:
            textLabel->setStyleDefaults(UIFont::systemFontOfSize(17), black);
            textLabel->setFrame(CGRectMake(x, 0, available, height));
            break;
        case UITableViewCellStyle::Value1: {
            textLabel->setStyleDefaults(UIFont::systemFontOfSize(17), black);
            detailLabel->setStyleDefaults(UIFont::systemFontOfSize(17), std::make_shared<UIColor>(drawing::secondaryTextColor()));
            setAlignment(*detailLabel, NSTextAlignment::Right);
            auto textWidth = text::measure(textLabel->text().value_or(""), textLabel->font()).width;
            auto detailWidth = text::measure(detailLabel->text().value_or(""), detailLabel->font()).width;
            // The title keeps its room first; the detail takes what is left, at least a third.
            constexpr CGFloat gap = 10;
            auto detailRoom = std::min(detailWidth, std::max(available / 3, available - textWidth - gap));
            auto textRoom = std::max(0.0, std::min(textWidth, available - detailRoom - (detailRoom > 0 ? gap : 0)));
            textLabel->setFrame(CGRectMake(x, 0, textRoom, height));
            detailLabel->setFrame(CGRectMake(right - detailRoom, 0, detailRoom, height));
            break;
        }
        case UITableViewCellStyle::Value2: {
            textLabel->setStyleDefaults(UIFont::boldSystemFontOfSize(12), std::make_shared<UIColor>(drawing::defaultTint()));
            detailLabel->setStyleDefaults(UIFont::systemFontOfSize(15), black);
            setAlignment(*textLabel, NSTextAlignment::Right);
            constexpr CGFloat column = 91;
            textLabel->setFrame(CGRectMake(x, 0, std::min(column - x, available), height));
            detailLabel->setFrame(CGRectMake(column + 6, 0, std::max(0.0, right - column - 6), height));
            break;
        }
        case UITableViewCellStyle::Subtitle: {
            textLabel->setStyleDefaults(UIFont::systemFontOfSize(17), black);
            detailLabel->setStyleDefaults(UIFont::systemFontOfSize(12), black);
            bool hasDetail = detailLabel->text() && !detailLabel->text()->empty();
            CGFloat textHeight = 21, detailHeight = hasDetail ? 15 : 0;
            CGFloat top = (height - textHeight - detailHeight) / 2;
            textLabel->setFrame(CGRectMake(x, top, available, textHeight));
            detailLabel->setFrame(CGRectMake(x, top + textHeight, available, detailHeight));
            break;
        }
        }
    }

    // Labels that would reach past the content's right edge end before it, keeping the room
    // the cell's own layout left at its right (up to the margin), so a long name ends in "…".
    void fitLabels(UIView& content, CGFloat laidOutWidth)
    {
        auto width = content.frame().size.width;
        for (auto& view : content.subviews()) {
            auto* label = dynamic_cast<UILabel*>(view.get());
            if (!label)
                continue;
            auto frame = label->frame();
            auto right = CGRectGetMaxX(frame);
            if (right <= width)
                continue;
            auto gap = std::clamp(laidOutWidth - right, 0.0, margin);
            frame.size.width = std::max(0.0, width - gap - frame.origin.x);
            label->setFrame(frame);
        }
    }

    void layoutCell(UITableView& table, UITableViewCell& cell, const NSIndexPath& indexPath)
    {
        auto bounds = cell.bounds();
        auto indent = tableDrawing::editingIndent(table, indexPath);
        auto accessory = tableDrawing::accessoryWidth(table, cell);
        // Revealed actions push the content's right edge in, so its icon and name stay in
        // sight beside them.
        auto revealed = revealedWidth(table, indexPath);
        auto content = cell.contentView();
        CGRect contentFrame = CGRectMake(indent, 0, std::max(0.0, bounds.size.width - indent - accessory - revealed), bounds.size.height);
        content->setFrame(contentFrame);
        placeAccessoryView(table, cell, revealed);
        layoutStandardCell(cell, contentFrame.size.width, accessory > 0 ? 0 : margin);
        cell.layoutSubviews();
        // A cell's own layout places its views; the content still makes room for the
        // selection mark and the accessory, and its labels narrow with it.
        auto laidOutWidth = content->frame().size.width;
        content->setFrame(contentFrame);
        fitLabels(*content, laidOutWidth);
    }

    void drawAccessory(cairo_t* cr, UITableView& table, UITableViewCell& cell, CGFloat revealed)
    {
        auto bounds = cell.bounds();
        auto midY = bounds.size.height / 2;
        auto right = bounds.size.width - revealed - margin;
        auto tint = drawing::tintOf(table);
        auto type = shownAccessory(table, cell);
        if (cell.accessoryView() && !table.isEditing())
            return;
        auto detailButton = [&](CGFloat centerX) {
            cairo_new_path(cr);
            cairo_arc(cr, centerX, midY, 10.5, 0, 2 * M_PI);
            cairo_set_line_width(cr, 1);
            drawing::setColor(cr, tint);
            cairo_stroke(cr);
            text::draw(cr, "i", CGRectMake(centerX - 10, midY - 10, 20, 20), drawing::textStyle(UIFont::boldSystemFontOfSize(14), tint, text::Align::Center));
        };
        switch (type) {
        case UITableViewCellAccessoryType::None:
            break;
        case UITableViewCellAccessoryType::DisclosureIndicator:
            drawing::chevron(cr, { right, midY }, 13, false, 2, rgb(199, 199, 204));
            break;
        case UITableViewCellAccessoryType::DetailDisclosureButton:
            drawing::chevron(cr, { right, midY }, 13, false, 2, rgb(199, 199, 204));
            detailButton(right - 8 - 12 - 10.5);
            break;
        case UITableViewCellAccessoryType::DetailButton:
            detailButton(right - 10.5);
            break;
        case UITableViewCellAccessoryType::Checkmark:
            cairo_new_path(cr);
            cairo_move_to(cr, right - 14, midY);
            cairo_line_to(cr, right - 9, midY + 5);
            cairo_line_to(cr, right, midY - 6);
            cairo_set_line_width(cr, 2);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            drawing::setColor(cr, tint);
            cairo_stroke(cr);
            break;
        }
    }

    void drawEditingMark(cairo_t* cr, UITableView& table, UITableViewCell& cell, const NSIndexPath& indexPath)
    {
        if (!table.isEditing())
            return;
        auto midY = cell.bounds().size.height / 2;
        CGPoint center { 20, midY };
        auto style = editingStyle(table, indexPath);
        if (style == UITableViewCellEditingStyle::None && !multipleSelection(table))
            return;
        cairo_new_path(cr);
        cairo_arc(cr, center.x, center.y, 11, 0, 2 * M_PI);
        if (multipleSelection(table)) {
            if (tableDrawing::editingIndent(table, indexPath) <= 0)
                return;
            if (!cell.isSelected()) {
                cairo_set_line_width(cr, 1);
                drawing::setColor(cr, rgb(199, 199, 204));
                cairo_stroke(cr);
                return;
            }
            drawing::setColor(cr, drawing::tintOf(table));
            cairo_fill(cr);
            cairo_move_to(cr, center.x - 5, center.y);
            cairo_line_to(cr, center.x - 1.5, center.y + 4);
            cairo_line_to(cr, center.x + 5.5, center.y - 4);
            cairo_set_line_width(cr, 1.8);
            drawing::setColor(cr, UIColor(1, 1, 1, 1));
            cairo_stroke(cr);
            return;
        }
        bool insert = style == UITableViewCellEditingStyle::Insert;
        drawing::setColor(cr, insert ? rgb(76, 217, 100) : drawing::destructiveColor());
        cairo_fill(cr);
        drawing::fillRect(cr, CGRectMake(center.x - 6, center.y - 1, 12, 2), UIColor(1, 1, 1, 1));
        if (insert)
            drawing::fillRect(cr, CGRectMake(center.x - 1, center.y - 6, 2, 12), UIColor(1, 1, 1, 1));
    }

    void drawRowActions(cairo_t* cr, const std::vector<std::shared_ptr<UITableViewRowAction>>& actions, const CGRect& bounds)
    {
        auto widths = tableDrawing::actionWidths(actions);
        CGFloat right = bounds.size.width;
        for (std::size_t index = 0; index < actions.size(); ++index) {
            auto& action = *actions[index];
            CGRect button = CGRectMake(right - widths[index], 0, widths[index], bounds.size.height);
            right -= widths[index];
            auto background = action.backgroundColor() ? *action.backgroundColor()
                                                       : (action.style() == UITableViewRowActionStyle::Normal ? rgb(199, 199, 204) : drawing::destructiveColor());
            drawing::fillRect(cr, button, background);
            text::draw(cr, action.title(), button, drawing::textStyle(UIFont::systemFontOfSize(15), UIColor(1, 1, 1, 1), text::Align::Center));
        }
    }

    void drawCell(cairo_t* cr, UITableView& table, UITableViewCell& cell, const NSIndexPath& indexPath, const CGRect& rect)
    {
        if (cell.isHidden())
            return;
        cairo_save(cr);
        cairo_translate(cr, rect.origin.x, rect.origin.y);
        CGRect bounds { {}, rect.size };
        // A cell never draws outside its row.
        cairo_rectangle(cr, 0, 0, bounds.size.width, bounds.size.height);
        cairo_clip(cr);
        auto actions = RevealedRowActions::current().on(table, indexPath);
        auto background = cell.layer().presentationBackgroundColor();
        drawing::fillRect(cr, bounds, background ? *background : UIColor(1, 1, 1, 1));
        if (cell.isSelected() && cell.selectionStyle() != UITableViewCellSelectionStyle::None)
            drawing::fillRect(cr, bounds, drawing::selectionColor());
        drawEditingMark(cr, table, cell, indexPath);
        if (auto* context = UIGraphicsGetCurrentContext()) {
            CGContextSaveGState(context);
            cell.drawRect(bounds);
            CGContextRestoreGState(context);
        }
        auto subviews = cell.subviews();
        for (auto& subview : subviews)
            UIRenderer::drawView(*subview, cr);
        drawAccessory(cr, table, cell, revealedWidth(table, indexPath));
        if (actions)
            drawRowActions(cr, *actions, bounds);
        cairo_restore(cr);
    }

    void drawSectionText(cairo_t* cr, const std::string& title, const CGRect& rect, bool grouped, bool header)
    {
        if (title.empty())
            return;
        if (grouped) {
            // Grouped headers show in capitals at the bottom of their room.
            auto shown = header ? text::uppercased(title) : title;
            auto style = drawing::textStyle(UIFont::systemFontOfSize(13), rgb(109, 109, 114));
            style.lines = header ? 1 : 0;
            style.wrap = header ? text::Wrap::TruncateTail : text::Wrap::WordWrap;
            CGRect place = header ? CGRectMake(margin, rect.origin.y + rect.size.height - 26, rect.size.width - 2 * margin, 20)
                                  : CGRectMake(margin, rect.origin.y + 6, rect.size.width - 2 * margin, rect.size.height - 8);
            text::draw(cr, shown, place, style);
            return;
        }
        drawing::fillRect(cr, rect, rgb(247, 247, 247));
        text::draw(cr, title, CGRectMake(margin, rect.origin.y, rect.size.width - 2 * margin, rect.size.height),
            drawing::textStyle(UIFont::boldSystemFontOfSize(15), UIColor(0, 0, 0, 1)));
    }

    void drawSupplementary(cairo_t* cr, UITableView& table, int section, const CGRect& rect, bool header)
    {
        if (rect.size.height <= 0)
            return;
        auto source = table.dataSource();
        auto delegate = table.delegate();
        auto view = delegate ? (header ? delegate->viewForHeaderInSection(table, section) : delegate->viewForFooterInSection(table, section)) : nullptr;
        if (view) {
            view->setFrame(rect);
            UIRenderer::drawView(*view, cr);
            return;
        }
        if (!source)
            return;
        auto title = header ? source->titleForHeaderInSection(table, section) : source->titleForFooterInSection(table, section);
        drawSectionText(cr, title.value_or(""), rect, table.style() == UITableViewStyle::Grouped, header);
    }

    std::size_t tableSignature(UITableView& table)
    {
        auto seed = drawing::combine(table.reloadCount(), std::hash<double> {}(table.contentOffset().y));
        seed = drawing::combine(seed, std::hash<double> {}(table.contentOffset().x));
        seed = drawing::combine(seed, table.isEditing());
        for (auto& selected : table.indexPathsForSelectedRows())
            seed = drawing::combine(seed, drawing::combine(static_cast<std::size_t>(selected.section), static_cast<std::size_t>(selected.row)));
        auto& revealed = RevealedRowActions::current();
        if (revealed.isOpen() && revealed.table.lock().get() == &table)
            seed = drawing::combine(seed, static_cast<std::size_t>(revealed.indexPath.row) * 31 + static_cast<std::size_t>(revealed.indexPath.section) + revealed.actions.size());
        return seed;
    }

}

void tableDrawing::placeCell(UITableView& table, UITableViewCell& cell, const NSIndexPath& indexPath)
{
    cell.setFrame(TableGeometry::of(table).rowRect(indexPath));
    layoutCell(table, cell, indexPath);
}

namespace tableDrawing {

    std::vector<CGFloat> actionWidths(const std::vector<std::shared_ptr<UITableViewRowAction>>& actions)
    {
        std::vector<CGFloat> widths;
        for (auto& action : actions)
            widths.push_back(std::max(74.0, text::measure(action->title(), UIFont::systemFontOfSize(15)).width + 30));
        return widths;
    }

    CGFloat editingIndent(UITableView& table, const NSIndexPath& indexPath)
    {
        if (!table.isEditing())
            return 0;
        if (multipleSelection(table)) {
            auto source = table.dataSource();
            auto canEdit = source ? source->canEditRowAtIndexPath(table, indexPath) : std::nullopt;
            return canEdit && !*canEdit ? 0 : markRoom;
        }
        return editingStyle(table, indexPath) == UITableViewCellEditingStyle::None ? 0 : markRoom;
    }

    CGFloat accessoryWidth(UITableView& table, UITableViewCell& cell)
    {
        if (auto view = cell.accessoryView(); view && !table.isEditing())
            return view->frame().size.width + 2 * margin;
        switch (shownAccessory(table, cell)) {
        case UITableViewCellAccessoryType::None:
            return 0;
        case UITableViewCellAccessoryType::DisclosureIndicator:
            return 33;
        case UITableViewCellAccessoryType::Checkmark:
            return 39;
        case UITableViewCellAccessoryType::DetailButton:
            return 47;
        case UITableViewCellAccessoryType::DetailDisclosureButton:
            return 67;
        }
        return 0;
    }

}

void drawing::drawTable(UITableView& table, cairo_t* cr)
{
    auto size = table.frame().size;
    bool grouped = table.style() == UITableViewStyle::Grouped;
    CGRect bounds { {}, size };
    if (!table.backgroundColor())
        drawing::fillRect(cr, bounds, grouped ? drawing::groupedBackgroundColor() : UIColor(1, 1, 1, 1));
    if (auto background = table.backgroundView()) {
        background->setFrame(bounds);
        UIRenderer::drawView(*background, cr);
    }
    // The table makes the cells of the rows in view (and a margin); only those are drawn, so
    // a drawing never makes a cell the table would let go at once.
    table.layoutIfNeeded();
    std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> cells;
    for (auto& subview : table.subviews()) {
        if (auto cell = std::dynamic_pointer_cast<UITableViewCell>(subview)) {
            if (auto indexPath = table.indexPathForCell(*cell))
                cells[*indexPath] = cell;
        }
    }
    auto& geometry = TableGeometry::of(table);
    auto offset = table.contentOffset();
    CGFloat top = offset.y, bottom = offset.y + size.height;
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, size.width, size.height);
    cairo_clip(cr);
    cairo_translate(cr, -offset.x, -offset.y);

    if (auto header = table.tableHeaderView()) {
        header->setFrame(CGRectMake(0, 0, size.width, geometry.headerViewHeight()));
        UIRenderer::drawView(*header, cr);
    }
    auto separator = drawing::separatorColor();
    for (auto& indexPath : geometry.rowsBetween(top, bottom)) {
        auto rect = geometry.rowRect(indexPath);
        if (auto found = cells.find(indexPath); found != cells.end()) {
            auto& cell = found->second;
            tableDrawing::placeCell(table, *cell, indexPath);
            drawCell(cr, table, *cell, indexPath, rect);
        }
        if (table.separatorStyle() == UITableViewCellSeparatorStyle::None)
            continue;
        auto& section = geometry.sections()[static_cast<std::size_t>(indexPath.section)];
        bool last = indexPath.row == section.rows - 1;
        auto inset = (grouped && last) ? 0 : margin + tableDrawing::editingIndent(table, indexPath);
        drawing::hairline(cr, inset, size.width, CGRectGetMaxY(rect) - 0.5, separator);
        if (grouped && indexPath.row == 0)
            drawing::hairline(cr, 0, size.width, rect.origin.y, separator);
    }
    auto& sections = geometry.sections();
    for (std::size_t index = 0; index < sections.size(); ++index) {
        auto& section = sections[index];
        if (section.bottom() < top || section.top > bottom)
            continue;
        int number = static_cast<int>(index);
        drawSupplementary(cr, table, number, geometry.footerRect(number), false);
        auto header = geometry.headerRect(number);
        // A plain table's header stays at the top while its rows scroll under it.
        if (!grouped && header.size.height > 0)
            header.origin.y = std::clamp(top, header.origin.y, std::max(header.origin.y, section.bottom() - section.footerHeight - header.size.height));
        drawSupplementary(cr, table, number, header, true);
    }
    // A plain table without a footer view lines the empty space below its rows.
    if (!grouped && !table.tableFooterView() && table.separatorStyle() != UITableViewCellSeparatorStyle::None && table.rowHeight() >= 1) {
        for (CGFloat y = geometry.contentHeight() + table.rowHeight(); y - table.rowHeight() < bottom; y += table.rowHeight()) {
            if (y > top)
                drawing::hairline(cr, margin, size.width, y - 0.5, separator);
        }
    }
    if (auto footer = table.tableFooterView()) {
        auto height = footer->frame().size.height;
        footer->setFrame(CGRectMake(0, geometry.contentHeight() - height, size.width, height));
        UIRenderer::drawView(*footer, cr);
    }
    cairo_restore(cr);

    std::weak_ptr<UITableView> weak = std::static_pointer_cast<UITableView>(table.shared_from_this());
    drawing::watch([weak] {
        auto table = weak.lock();
        return table ? tableSignature(*table) : 0;
    });
}

}
