#pragma once

#include "platform/uikit/UITableView.h"

#include <memory>

namespace vesk {

class VeskFile;

// The file list: one folder as a table; whoever pushes or previews it sets `file` first.
class VeskFileListController : public platform::UITableViewController {
public:
    std::shared_ptr<VeskFile> file() const { return m_file; }
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }

private:
    std::shared_ptr<VeskFile> m_file;
};

}
