#pragma once

#include <memory>
#include <optional>
#include <string>

namespace vesk {

namespace platform {
class UIView;
}

// Small questions to the platform. Has no fields; every use makes a new one.
class ObjCHelper {
public:
    // "text/directory" for an existing folder, else the MIME type registered for the path's
    // extension, else "unknown".
    std::string getMimeTypeOfFile(const std::string& path) const;

    // The application's status-bar view; none where the platform has none.
    std::shared_ptr<platform::UIView> getStatusBar() const;

    // The five device answers of the device identity, in the order they enter it.
    std::optional<std::string> getFire() const; // "DieId"
    std::optional<std::string> getChicken() const; // "HWModelStr", may be absent
    std::optional<std::string> getAngryGuy() const; // "BoardId"
    std::optional<std::string> getBikini() const; // "ChipID"
    std::optional<std::string> getACar() const; // "HardwarePlatform", may be absent
};

}
