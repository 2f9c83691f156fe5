#pragma once

#include "platform/uikit/UIViewController.h"

#include <optional>
#include <string>

namespace vesk {

// The in-app browser; `path` is the folder it works for, set before presenting.
class VeskDownloadWebController : public platform::UIViewController {
public:
    const std::optional<std::string>& path() const { return m_path; }
    void setPath(std::optional<std::string> path) { m_path = std::move(path); }

private:
    std::optional<std::string> m_path;
};

}
