#pragma once

#include "model/VeskNotification.h"

#include <string>

// What the file operations of Utility share.
namespace vesk::operations {

// A file operation's banner: three seconds, no completion, no click handler. Main thread.
void showBanner(std::string message, NotificationType type);
// The same from any thread: queued on the main queue.
void queueBanner(std::string message, NotificationType type);

}
