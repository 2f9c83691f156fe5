#pragma once

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UITextView.h"
#include "platform/uikit/UIViewController.h"

#include <functional>
#include <memory>
#include <string>

namespace vesk {

class VeskFile;

// The modal editor of one text file: comes up with the keyboard, keeps the text clear of it,
// and saves the text as UTF-8 over the file (atomically) or cancels, each after a confirmation.
// A save that fails keeps the editor open with the edits and an error banner.
class TextEditorViewController : public platform::UIViewController {
public:
    // Edited texts are copied whole at each keystroke: a bigger one is not opened here.
    static constexpr std::size_t maximumTextBytes = 16u << 20;

    TextEditorViewController();
    ~TextEditorViewController() override;

    const std::string& text() const { return m_text; }
    void setText(std::string text) { m_text = std::move(text); }
    std::shared_ptr<VeskFile> file() const { return m_file; }
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }
    std::shared_ptr<platform::UITextView> textView() const { return m_textView.lock(); }
    void setTextView(const std::shared_ptr<platform::UITextView>& view) { m_textView = view; }
    const std::function<void()>& savedFileCallback() const { return m_savedFileCallback; }
    void setSavedFileCallback(std::function<void()> callback) { m_savedFileCallback = std::move(callback); }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;
    virtual void keyboardWasShown(const platform::NSNotification& notification);
    virtual void cancelEdit();
    virtual void save();
    virtual void saveText();

private:
    std::string m_text;
    std::shared_ptr<VeskFile> m_file;
    std::weak_ptr<platform::UITextView> m_textView;
    std::function<void()> m_savedFileCallback;
};

}
