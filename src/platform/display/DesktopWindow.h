#pragma once

#include "platform/graphics/CGGeometry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;
typedef struct _cairo_surface cairo_surface_t;

namespace vesk::platform {

class NSTimer;

// The desktop window that shows the key window at the screen's scale (smaller, drawn at the
// window's own pixel size, when the desktop is smaller) and turns clicks, drags, the wheel and
// typing into what a person does on the screens. It looks for input and draws on the main run
// loop, about sixty times a second, drawing only when something changed. While it is open the
// app's pasteboard and the desktop's clipboard hold the same text. Minimising the window takes
// the app to the background; restoring it, or choosing the app's desktop notification while it
// runs, brings the app back to the front. Main thread.
class DesktopWindow {
public:
    // The window, or none with the reason when there is no display or it cannot be opened.
    static std::unique_ptr<DesktopWindow> open(std::string& failure);
    ~DesktopWindow();
    DesktopWindow(const DesktopWindow&) = delete;
    DesktopWindow& operator=(const DesktopWindow&) = delete;

    // What closing the window does.
    void setCloseHandler(std::function<void()> handler) { m_closeHandler = std::move(handler); }
    // Starts taking input and drawing on the main run loop; stop() ends it.
    void start();
    void stop();
    // One turn: handles the waiting input, then draws when the screen changed.
    void step();
    // Brings the window to the front, out of the taskbar when minimised (the app then becomes
    // active as when the person restores it).
    void raise();
    // Window pixels per point.
    CGFloat pointScale() const { return m_pointScale; }

private:
    DesktopWindow() = default;
    void handle(const SDL_Event& event);
    CGPoint toPoints(int x, int y) const;
    void draw();
    void present();
    void syncPasteboard(bool desktopChanged);
    void followVisibility();
    // The pixel size of the screen drawn at the largest scale, up to its own, that fits the room.
    void sizeFor(int width, int height);
    bool makePicture();
    void fitFrame();

    SDL_Window* m_window = nullptr;
    SDL_Renderer* m_renderer = nullptr;
    SDL_Texture* m_texture = nullptr;
    cairo_surface_t* m_surface = nullptr;
    int m_pixelWidth = 0;
    int m_pixelHeight = 0;
    CGFloat m_pointScale = 1;
    // The desktop's room for windows, and the frame the window system last gave the window.
    int m_usableX = 0;
    int m_usableY = 0;
    int m_usableWidth = 0;
    int m_usableHeight = 0;
    struct Frame {
        int top = 0;
        int left = 0;
        int bottom = 0;
        int right = 0;
        bool operator==(const Frame&) const = default;
    };
    Frame m_frame;
    bool m_textInput = false;
    bool m_drawn = false;
    bool m_clipboardChanged = true;
    // The app is in front while the window is on screen; the window system reports its state in
    // events that may take it back within one batch.
    bool m_onScreen = true;
    bool m_visibilityChanged = false;
    std::int64_t m_pasteboardCount = 0;
    std::shared_ptr<NSTimer> m_timer;
    std::function<void()> m_closeHandler;
};

}
