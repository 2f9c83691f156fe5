#pragma once

#include "platform/uikit/UITextView.h"
#include "viewers/VeskFileViewController.h"

namespace vesk {

// A text file shown read-only, with an edit button that opens the text editor on it. A property
// list is shown as the description of its contents, which is never saved over the file.
class TextViewController : public VeskFileViewController {
public:
    // Texts are read whole into one buffer, of which the view lays out only what it shows;
    // bigger files are refused with a banner that names the limit. A property list is parsed
    // whole, so it has less room: as much as the property-list viewer gives it.
    static constexpr std::size_t maximumTextBytes = std::size_t(1) << 30;
    static constexpr std::size_t maximumListBytes = 64u << 20;

    ~TextViewController() override;

    std::shared_ptr<platform::UITextView> textView() const { return m_textView.lock(); }
    void setTextView(const std::shared_ptr<platform::UITextView>& view) { m_textView = view; }
    std::shared_ptr<platform::UIBarButtonItem> editButton() const { return m_editButton.lock(); }
    void setEditButton(const std::shared_ptr<platform::UIBarButtonItem>& item) { m_editButton = item; }

    void loadView() override;
    void viewDidLoad() override;
    // Reads the file on a background queue; the text arrives on the main queue.
    virtual void load();
    virtual void edit();
    void didReceiveMemoryWarning() override;

private:
    bool isEditableText() const;

    std::weak_ptr<platform::UITextView> m_textView;
    std::weak_ptr<platform::UIBarButtonItem> m_editButton;
};

}
