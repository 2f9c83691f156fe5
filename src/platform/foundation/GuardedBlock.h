#pragma once

#include <functional>

namespace vesk::platform {

// Runs a block so that no exception leaves it: a queue or a thread must never see one.
// What was thrown is written to standard error, naming where it ran ("a timer", ...).
void runGuarded(const std::function<void()>& block, const char* where);

}
