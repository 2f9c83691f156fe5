#include "webservice/HTTPServerWebservicesController.h"

#include "model/VeskLocalizer.h"

#include <array>
#include <vector>

namespace vesk {

using namespace platform;

namespace {

    struct Row {
        const char* title;
        const char* value;
        bool localizedValue;
    };

    struct Service {
        const char* header;
        std::vector<Row> rows;
    };

    // The examples are shown as they stand, parameters joined with "?".
    const std::array<Service, 7>& services()
    {
        static const std::array<Service, 7> table { {
            { "Get File", {
                              { "Webservice", "/getFile", false },
                              { "Methode", "GET", false },
                              { "Example", "/getFile?path=/?type=raw", false },
                              { "Param-\"path\"", "The absolut path of the file or directory", true },
                              { "Param-\"type\"", "\"base64\" or \"raw\"", true },
                              { "Response", "Either a JSON object or the raw file", true },
                              { "Info", "\"type\" is ignored if the \"path\" is a directory", true },
                          } },
            { "Set File", {
                              { "Webservice", "/setFile", false },
                              { "Methode", "POST", false },
                              { "Example", "/setFile", false },
                              { "Response", "JSON object", false },
                              { "Info", "File is been saved in document directory", false },
                          } },
            { "Get Fileicon", {
                                  { "Webservice", "/getIcon", false },
                                  { "Methode", "GET", false },
                                  { "Example", "/getIcon?path=/?type=raw", false },
                                  { "Param-\"path\"", "The absolut path of the file or directory", true },
                                  { "Param-\"type\"", "\"base64\" or \"raw\"", true },
                                  { "Response", "Either a JSON object or the raw icon", true },
                              } },
            { "Get Fileinfo", {
                                  { "Webservice", "/getFileInfo", false },
                                  { "Methode", "GET", false },
                                  { "Example", "/getFileInfo?path=/", false },
                                  { "Info", "Returns a JSON object with the fileinfos", false },
                              } },
            { "Get Home-directory", {
                                        { "Webservice", "/getHomeDir", false },
                                        { "Methode", "GET", false },
                                        { "Example", "/getHomeDir", false },
                                        { "Info", "Returns a JSON object with the Home-Directory", false },
                                    } },
            { "Get Documents-directory", {
                                             { "Webservice", "/getDocDir", false },
                                             { "Methode", "GET", false },
                                             { "Example", "/getDocDir", false },
                                             { "Info", "Returns a JSON object with the Doc-Directory", false },
                                         } },
            { "Get Bookmarks", {
                                   { "Webservice", "/getBookmarks", false },
                                   { "Methode", "GET", false },
                                   { "Example", "/getBookmarks", false },
                                   { "Info", "Returns a JSON object with the bookmarks", false },
                               } },
        } };
        return table;
    }

    const Service* serviceAt(int section)
    {
        if (section < 0 || section >= static_cast<int>(services().size()))
            return nullptr;
        return &services()[static_cast<std::size_t>(section)];
    }

}

void HTTPServerWebservicesController::loadView()
{
    UITableViewController::loadView();
    tableView()->registerClass("cell", [](const std::string& identifier) {
        return std::make_shared<UITableViewCell>(UITableViewCellStyle::Default, identifier);
    });
}

void HTTPServerWebservicesController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    setTitle(localized("Webservices"));
}

int HTTPServerWebservicesController::numberOfSectionsInTableView(UITableView&)
{
    return static_cast<int>(services().size());
}

int HTTPServerWebservicesController::numberOfRowsInSection(UITableView&, int section)
{
    auto service = serviceAt(section);
    return service ? static_cast<int>(service->rows.size()) : 0;
}

std::optional<std::string> HTTPServerWebservicesController::titleForHeaderInSection(UITableView&, int section)
{
    auto service = serviceAt(section);
    return service ? localized(service->header) : std::string();
}

std::shared_ptr<UITableViewCell> HTTPServerWebservicesController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto fallback = tableView.dequeueReusableCellWithIdentifier("cell");
    if (!fallback)
        fallback = std::make_shared<UITableViewCell>(UITableViewCellStyle::Default, "cell");
    fallback->textLabel()->setText(localized("Error, please check the cells!"));
    auto service = serviceAt(indexPath.section);
    if (!service || indexPath.row < 0 || indexPath.row >= static_cast<int>(service->rows.size()))
        return fallback;

    auto& row = service->rows[static_cast<std::size_t>(indexPath.row)];
    auto style = indexPath.row <= 2 ? UITableViewCellStyle::Value1 : UITableViewCellStyle::Subtitle;
    auto cell = std::make_shared<UITableViewCell>(style, "cell");
    cell->textLabel()->setText(localized(row.title));
    cell->detailTextLabel()->setText(row.localizedValue ? localized(row.value) : std::string(row.value));
    return cell;
}

void HTTPServerWebservicesController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
}

}
