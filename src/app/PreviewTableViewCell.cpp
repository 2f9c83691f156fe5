#include "app/PreviewTableViewCell.h"

#include "model/VeskFileManager.h"
#include "platform/foundation/Dispatch.h"

namespace vesk {

using namespace platform;

PreviewTableViewCell::PreviewTableViewCell(std::optional<std::string> reuseIdentifier)
    : UITableViewCell(UITableViewCellStyle::Default, std::move(reuseIdentifier))
    , m_fileIcon(imageView())
{
    m_fileIcon->setContentMode(UIViewContentMode::ScaleAspectFit);
    layoutSubviews();
}

void PreviewTableViewCell::layoutSubviews()
{
    contentView()->setFrame(bounds());
    m_fileIcon->setFrame(bounds().insetBy(8, 8));
}

void PreviewTableViewCell::setup()
{
    auto request = ++m_iconRequest;
    std::weak_ptr<UIView> weakSelf = weak_from_this();
    DispatchQueue::global(QualityOfService::UserInitiated).async([weakSelf, path = m_path, request] {
        auto icon = VeskFileManager::defaultManager().getImageForFileAtPath(path);
        DispatchQueue::main().async([weakSelf, icon = std::move(icon), request] {
            auto self = std::static_pointer_cast<PreviewTableViewCell>(weakSelf.lock());
            if (self && request == self->m_iconRequest)
                self->m_fileIcon->setImage(icon);
        });
    });
}

}
