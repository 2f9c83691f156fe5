#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vesk::platform {

// The device answers in place of the platform's MobileGestalt questions: "DieId",
// "HWModelStr", "BoardId", "ChipID" and "HardwarePlatform". Each comes from stable machine
// facts (machine id, product and board names, CPU model, architecture), the same on every run.
// Any other question has no answer.
std::optional<std::string> MGCopyAnswer(const std::string& question);

// Tests put their own answers in place; an empty function restores the machine's.
using DeviceAnswerSource = std::function<std::optional<std::string>(const std::string& question)>;
void setDeviceAnswerSource(DeviceAnswerSource source);

}
