#pragma once

#include "platform/uikit/UITableView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vesk {

// A row that shows the icon of one path, for the icon-colour editor.
class PreviewTableViewCell : public platform::UITableViewCell {
public:
    explicit PreviewTableViewCell(std::optional<std::string> reuseIdentifier);

    const std::string& path() const { return m_path; }
    void setPath(std::string path) { m_path = std::move(path); }
    const std::shared_ptr<platform::UIImageView>& fileIcon() const { return m_fileIcon; }

    // Asks for the path's icon afresh, off the main thread, and shows it.
    void setup();
    void layoutSubviews() override;

private:
    std::string m_path;
    std::shared_ptr<platform::UIImageView> m_fileIcon;
    // Names the latest request; an icon made for an older one is dropped on arrival.
    std::uint64_t m_iconRequest = 0;
};

}
