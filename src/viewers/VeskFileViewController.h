#pragma once

#include "platform/uikit/UIViewController.h"

#include <memory>

namespace vesk {

class VeskFile;

// The base of the file viewers: the presenter sets `file` before presenting the screen.
class VeskFileViewController : public platform::UIViewController {
public:
    std::shared_ptr<VeskFile> file() const { return m_file; }
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }

private:
    std::shared_ptr<VeskFile> m_file;
};

class ImageViewController : public VeskFileViewController { };
class TextViewController : public VeskFileViewController { };
class PlistViewController : public VeskFileViewController { };
class WebViewController : public VeskFileViewController { };
class UnknownViewController : public VeskFileViewController { };

}
