#include "viewers/TextViewController.h"

#include "model/PlatformUtilities.h"
#include "model/VeskFile.h"
#include "model/VeskFileTypes.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/PropertyListDescription.h"
#include "platform/foundation/TextBuffer.h"
#include "platform/uikit/UIStoryboard.h"
#include "viewers/PlistViewController.h"
#include "viewers/TextEditorViewController.h"
#include "viewers/ViewerLimits.h"

namespace vesk {

using namespace platform;

// A property list opens as text as far as it opens as a table.
static_assert(TextViewController::maximumListBytes == PlistViewController::maximumListBytes);

namespace {

    struct ReadText {
        std::shared_ptr<const TextBuffer> text;
        bool tooBig = false;
    };

    ReadText readText(const std::string& path, bool isList, const std::function<bool()>& stop)
    {
        if (isLargerThan(path, isList ? TextViewController::maximumListBytes : TextViewController::maximumTextBytes))
            return { nullptr, true };
        if (!isList) {
            NSStringEncoding encoding {};
            return { TextBuffer::readFile(path, &encoding, TextViewController::maximumTextBytes, stop) };
        }
        auto data = readFileContents(path, TextViewController::maximumListBytes);
        if (!data)
            return {};
        auto list = propertyListFromData(*data);
        if (!list)
            return {};
        return { std::make_shared<const TextBuffer>(oldStyleDescription(*list)) };
    }

}

TextViewController::~TextViewController()
{
    if (auto view = textView())
        view->setText("");
}

void TextViewController::loadView()
{
    UIViewController::loadView();
    auto edit = barButton<TextViewController>("Edit", &TextViewController::edit);
    edit->setEnabled(false);
    setEditButton(edit);
    auto area = loadScene({ edit });
    auto text = std::make_shared<UITextView>(area);
    view()->addSubview(text);
    setTextView(text);
}

void TextViewController::viewDidLoad()
{
    VeskFileViewController::viewDidLoad();
    if (auto text = textView())
        text->setEditable(false);
    load();
}

bool TextViewController::isEditableText() const
{
    // The description of a property list is no text to write back over it.
    return file() && file()->isWritable() && !isListFileAtPath(file()->path());
}

void TextViewController::load()
{
    auto current = file();
    if (!current)
        return;
    // Editing stays off until the text is there: an editor opened on a half-loaded screen
    // would save an empty text over the file.
    if (auto edit = editButton())
        edit->setEnabled(false);
    // The read holds the screen weakly: a screen closed meanwhile is gone at once, its read
    // stops and what was read is dropped.
    std::weak_ptr<TextViewController> weak = std::static_pointer_cast<TextViewController>(shared_from_this());
    DispatchQueue::global(QualityOfService::UserInitiated).async([weak, path = current->path()] {
        bool isList = isListFileAtPath(path);
        auto [text, tooBig] = readText(path, isList, [&weak] { return weak.expired(); });
        if (weak.expired())
            return;
        if (!text)
            debugLog("Error while reading textFile", __FILE__, __LINE__, __func__);
        DispatchQueue::main().async([weak, text = std::move(text), tooBig, isList] {
            auto self = weak.lock();
            if (!self)
                return;
            if (tooBig) {
                // Told what the limit is, as the editor tells it, rather than that something failed.
                showTooBig(isList ? listTooBigFormat : "Texts of up to %@ can be shown: \"%@\" is bigger",
                    isList ? maximumListBytes : maximumTextBytes, self->file());
                self->dismissViewControllerAnimated(true);
            } else if (!text) {
                self->showErrorAndClose();
            }
            // The view shares the text read: a big file is held once.
            if (auto view = self->textView())
                view->setTextBuffer(text ? text : std::make_shared<const TextBuffer>(std::string()));
            if (auto edit = self->editButton())
                edit->setEnabled(text && self->isEditableText());
        });
    });
}

void TextViewController::edit()
{
    auto view = textView();
    auto text = view ? view->text() : std::string_view();
    if (text.size() > TextEditorViewController::maximumTextBytes) {
        // The viewer stays open with the text; only editing is refused.
        showTooBig("Texts of up to %@ can be edited: \"%@\" is bigger", TextEditorViewController::maximumTextBytes, file());
        return;
    }
    auto editor = UIStoryboard::storyboardWithName("Main").instantiate<TextEditorViewController>("textEditor");
    if (!editor)
        return;
    editor->setText(std::string(text));
    editor->setFile(file());
    std::weak_ptr<TextViewController> weak = std::static_pointer_cast<TextViewController>(shared_from_this());
    editor->setSavedFileCallback([weak] {
        if (auto self = weak.lock())
            self->load();
    });
    auto navigation = UINavigationController::initWithRootViewController(editor);
    navigation->setModalPresentationStyle(isIpad() ? UIModalPresentationStyle::FormSheet : UIModalPresentationStyle::FullScreen);
    presentViewController(navigation, true);
}

void TextViewController::didReceiveMemoryWarning()
{
    gotMemoryWarning(__FILE__);
}

}
