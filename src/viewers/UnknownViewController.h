#pragma once

#include "viewers/VeskFileViewController.h"

namespace vesk {

// The screen for a file no viewer takes: its type icon, large, with the base's title and toolbar.
class UnknownViewController : public VeskFileViewController {
public:
    std::shared_ptr<platform::UIImageView> imageView() const { return m_imageView.lock(); }
    void setImageView(const std::shared_ptr<platform::UIImageView>& view) { m_imageView = view; }

    void loadView() override;
    void viewDidLoad() override;
    void didReceiveMemoryWarning() override;

private:
    std::weak_ptr<platform::UIImageView> m_imageView;
};

}
