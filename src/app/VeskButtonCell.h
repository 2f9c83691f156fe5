#pragma once

#include "platform/uikit/UITableView.h"

#include <memory>
#include <optional>
#include <string>

namespace vesk {

// A row whose one label serves as a button; its owner sets the label's text and colour.
class VeskButtonCell : public platform::UITableViewCell {
public:
    explicit VeskButtonCell(std::optional<std::string> reuseIdentifier);

    const std::shared_ptr<platform::UILabel>& buttonLabel() const { return m_buttonLabel; }
    void layoutSubviews() override;

private:
    std::shared_ptr<platform::UILabel> m_buttonLabel;
};

}
