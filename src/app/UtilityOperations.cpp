#include "app/Utility.h"

// The file operations land here; until then each call does nothing.
namespace vesk {

using namespace platform;

void Utility::deleteFile(const std::shared_ptr<UIViewController>&, const Files&, CGRect, FinishedCallBack) { }
void Utility::shareFile(const std::shared_ptr<UIViewController>&, CGRect, const Files&) { }
void Utility::openAs(const std::shared_ptr<UIViewController>&, CGRect, const std::shared_ptr<VeskFile>&) { }
void Utility::copyCutContent(const Files&, const std::shared_ptr<UIViewController>&, FinishedCallBack) { }
void Utility::zipContent(const std::string&, const std::vector<std::string>&, const std::shared_ptr<UIViewController>&, CGRect, FinishedCallBack) { }
void Utility::openZip(const std::string&, const std::shared_ptr<UIViewController>&, CGRect) { }
void Utility::addFileOrDir(const std::string&, const std::shared_ptr<UIViewController>&, CGRect) { }

}
