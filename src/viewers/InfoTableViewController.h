#pragma once

#include "platform/uikit/UITableView.h"

#include <memory>

namespace vesk {

class VeskFile;

// The file-information screen; the presenter sets `file` before presenting it.
class InfoTableViewController : public platform::UITableViewController {
public:
    std::shared_ptr<VeskFile> file() const { return m_file; }
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }

private:
    std::shared_ptr<VeskFile> m_file;
};

}
