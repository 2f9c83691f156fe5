#include "viewers/PlistViewController.h"

#include "model/VeskFile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/PropertyList.h"
#include "platform/uikit/UIStoryboard.h"
#include "screens/VeskSwitchCell.h"
#include "viewers/ViewerLimits.h"

namespace vesk {

using namespace platform;

namespace {

    bool isContainer(const Value& value)
    {
        return value.isArray() || value.isDictionary();
    }

    // Decimal digits only, and inside the array.
    std::optional<std::size_t> indexIn(const std::string& key, const Array& array)
    {
        if (key.empty() || key.size() > 18 || key.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        auto index = std::stoull(key);
        if (index >= array.size())
            return std::nullopt;
        return static_cast<std::size_t>(index);
    }

}

void PlistViewController::loadView()
{
    UIViewController::loadView();
    auto back = barButton<PlistViewController>("Back", &PlistViewController::goBack);
    setBackButton(back);
    auto area = loadScene({ back }, false);
    auto table = std::make_shared<UITableView>(area, UITableViewStyle::Plain);
    table->registerClass("normalCell", [](const std::string& identifier) {
        return std::make_shared<UITableViewCell>(UITableViewCellStyle::Value1, identifier);
    });
    table->registerClass("switchCell", [](const std::string& identifier) {
        return std::make_shared<VeskSwitchCell>(UITableViewCellStyle::Default, identifier);
    });
    view()->addSubview(table);
    setTableView(table);
}

void PlistViewController::viewDidLoad()
{
    auto navigation = navigationController();
    setToolBar(navigation ? navigation->toolbar() : nullptr);
    if (navigation)
        navigation->setToolbarHidden(false, false);
    VeskFileViewController::viewDidLoad();
    auto self = std::static_pointer_cast<PlistViewController>(shared_from_this());
    if (auto table = tableView()) {
        table->setDelegate(self);
        table->setDataSource(self);
    }
    m_object = Array {};
    if (file() && isLargerThan(file()->path(), maximumListBytes)) {
        // Told what the limit is, as the text viewer tells it, rather than that something failed.
        DispatchQueue::main().async([self] {
            showTooBig(listTooBigFormat, maximumListBytes, self->file());
            self->dismissViewControllerAnimated(true);
        });
        return;
    }
    auto data = file() ? readFileContents(file()->path(), maximumListBytes) : std::nullopt;
    auto root = data ? propertyListFromData(*data) : std::nullopt;
    if (!root) {
        showErrorAndClose();
        return;
    }
    // The walk stops at the first bad step, so the banner is raised once.
    std::optional<Value> object = *root;
    for (auto& key : m_keys) {
        if (!object || !isContainer(*object))
            break;
        object = getObjectFromObject(key, *object);
    }
    if (!object || !isContainer(*object)) {
        showErrorAndClose();
        return;
    }
    m_object = std::move(*object);
    if (auto table = tableView())
        table->reloadData();
}

void PlistViewController::viewWillAppear(bool animated)
{
    VeskFileViewController::viewWillAppear(animated);
    if (auto back = backButton())
        back->setEnabled(!m_keys.empty());
}

void PlistViewController::goBack()
{
    if (auto navigation = navigationController())
        navigation->popViewControllerAnimated(true);
}

std::optional<Value> PlistViewController::getObjectFromObject(const std::string& key, const Value& object) const
{
    if (auto* array = object.array()) {
        if (auto index = indexIn(key, *array))
            return (*array)[*index];
    } else if (auto* dictionary = object.dictionary()) {
        if (auto* child = dictionary->find(key))
            return *child;
    }
    return std::nullopt;
}

void PlistViewController::didReceiveMemoryWarning()
{
    gotMemoryWarning(__FILE__);
}

int PlistViewController::numberOfRowsInSection(UITableView&, int)
{
    if (auto* array = m_object.array())
        return static_cast<int>(array->size());
    if (auto* dictionary = m_object.dictionary())
        return static_cast<int>(dictionary->size());
    return 0;
}

std::shared_ptr<UITableViewCell> PlistViewController::cellForRowAtIndexPath(UITableView&, const NSIndexPath& indexPath)
{
    auto row = static_cast<std::size_t>(indexPath.row);
    if (auto* array = m_object.array(); array && row < array->size())
        return objectToTableViewCell((*array)[row], Value(static_cast<long long>(row)));
    if (auto* dictionary = m_object.dictionary(); dictionary && row < dictionary->size()) {
        auto& [key, value] = *(dictionary->begin() + static_cast<std::ptrdiff_t>(row));
        return objectToTableViewCell(value, Value(key));
    }
    return nullptr;
}

std::shared_ptr<UITableViewCell> PlistViewController::objectToTableViewCell(const Value& value, const Value& key)
{
    auto table = tableView();
    if (!table)
        return nullptr;
    // Only a Boolean is a switch: a number shows its value like any other leaf.
    if (value.isBool()) {
        auto cell = std::dynamic_pointer_cast<VeskSwitchCell>(table->dequeueReusableCellWithIdentifier("switchCell"));
        if (!cell)
            return nullptr;
        if (auto title = cell->title())
            title->setText(key.string() ? std::optional(*key.string()) : std::nullopt);
        cell->setOn(*value.boolValue());
        cell->setup();
        return cell;
    }
    auto cell = table->dequeueReusableCellWithIdentifier("normalCell");
    if (!cell)
        return nullptr;
    cell->textLabel()->setText(key.description());
    if (isContainer(value)) {
        cell->setAccessoryType(UITableViewCellAccessoryType::DisclosureIndicator);
        cell->detailTextLabel()->setText(std::nullopt);
    } else {
        // A reused cell may come from a container row.
        cell->setAccessoryType(UITableViewCellAccessoryType::None);
        cell->detailTextLabel()->setText(value.description());
    }
    return cell;
}

void PlistViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
    auto cell = tableView.cellForRowAtIndexPath(indexPath);
    auto key = cell ? cell->textLabel()->text() : std::nullopt;
    if (!key || !isContainer(m_object))
        return;
    auto child = getObjectFromObject(*key, m_object);
    auto navigation = navigationController();
    if (!child || !isContainer(*child) || !navigation)
        return;
    auto next = UIStoryboard::storyboardWithName("Main").instantiate<PlistViewController>("plist");
    if (!next)
        return;
    auto path = m_keys;
    path.push_back(*key);
    next->setKeys(std::move(path));
    next->setFile(file());
    navigation->pushViewController(next, true);
}

}
