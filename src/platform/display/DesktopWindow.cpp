#include "platform/display/DesktopWindow.h"
#include "platform/system/DesktopServices.h"
#include "platform/system/LeakCheckPause.h"

#include "platform/foundation/NSTimer.h"
#include "platform/graphics/UIScreen.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIEvent.h"
#include "platform/uikit/UIPasteboard.h"
#include "platform/uikit/UIView.h"
#include "platform/uikit/UIViewRendering.h"

#include <SDL.h>
#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace vesk::platform {

namespace {

    constexpr double frameInterval = 1.0 / 60;
    // A notch of the wheel moves the content this far.
    constexpr CGFloat wheelStep = 40;
    constexpr double zoomStep = 1.1;

    // The window system's libraries keep memory for the life of the process (D-Bus, input
    // methods, libraries loaded and unloaded by SDL); the leak checker is not to count it.
    using WindowSystemCall = LeakCheckPause;

    bool isSet(const char* name)
    {
        const char* value = std::getenv(name);
        return value && *value;
    }

}

std::unique_ptr<DesktopWindow> DesktopWindow::open(std::string& failure)
{
    // Only the desktop's own window systems: SDL would otherwise settle for a window
    // nobody sees, or print the reasons it could not use the others.
    if (!isSet("SDL_VIDEODRIVER")) {
        if (!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
            failure = "no display";
            return nullptr;
        }
        SDL_SetHint(SDL_HINT_VIDEODRIVER, isSet("DISPLAY") ? (isSet("WAYLAND_DISPLAY") ? "x11,wayland" : "x11") : "wayland");
    }
    WindowSystemCall call;
    // The program takes SIGINT and SIGTERM itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The first click into the window is a tap, not only a focus change.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        failure = SDL_GetError();
        return nullptr;
    }
    std::unique_ptr<DesktopWindow> window(new DesktopWindow);
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
        window->m_usableX = usable.x;
        window->m_usableY = usable.y;
        window->m_usableWidth = usable.w;
        window->m_usableHeight = usable.h;
    }
    window->sizeFor(window->m_usableWidth, window->m_usableHeight);
    window->m_window = SDL_CreateWindow("Vesk", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, window->m_pixelWidth, window->m_pixelHeight, 0);
    if (window->m_window) {
        window->m_renderer = SDL_CreateRenderer(window->m_window, -1, 0);
        if (!window->m_renderer)
            window->m_renderer = SDL_CreateRenderer(window->m_window, -1, SDL_RENDERER_SOFTWARE);
    }
    if (!window->m_renderer || !window->makePicture()) {
        failure = SDL_GetError();
        return nullptr;
    }
    window->fitFrame();
    SDL_StopTextInput();
    window->m_pasteboardCount = UIPasteboard::generalPasteboard().changeCount();
    return window;
}

void DesktopWindow::sizeFor(int width, int height)
{
    auto screen = UIScreen::mainScreen().bounds().size;
    auto scale = UIScreen::mainScreen().scale();
    // Smaller than the screen at its scale when the desktop is smaller, never larger; the same
    // scale both ways keeps the device's proportions.
    double fit = 1;
    if (width > 0 && height > 0)
        fit = std::min({ 1.0, width / (screen.width * scale), height / (screen.height * scale) });
    m_pointScale = scale * fit;
    m_pixelWidth = std::max(1, int(std::lround(screen.width * m_pointScale)));
    m_pixelHeight = std::max(1, int(std::lround(screen.height * m_pointScale)));
}

// The texture and the surface the screen is drawn into, at the window's pixel size.
bool DesktopWindow::makePicture()
{
    if (m_surface)
        cairo_surface_destroy(m_surface);
    m_surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, m_pixelWidth, m_pixelHeight);
    m_drawn = false;
    WindowSystemCall call;
    if (m_texture)
        SDL_DestroyTexture(m_texture);
    m_texture = SDL_CreateTexture(m_renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, m_pixelWidth, m_pixelHeight);
    if (m_texture && cairo_surface_status(m_surface) != CAIRO_STATUS_SUCCESS)
        SDL_SetError("no memory for the window's picture");
    return m_texture && cairo_surface_status(m_surface) == CAIRO_STATUS_SUCCESS;
}

// The window manager's title bar and borders come on top of the window's size. They are known
// once it has framed the shown window, which may be after the window is first drawn; then the
// frame and what it holds are fitted into the desktop's room, in its middle.
void DesktopWindow::fitFrame()
{
    Frame frame;
    {
        WindowSystemCall call;
        if (SDL_GetWindowBordersSize(m_window, &frame.top, &frame.left, &frame.bottom, &frame.right) != 0)
            return;
    }
    if (frame == m_frame || m_usableWidth <= 0 || m_usableHeight <= 0)
        return;
    m_frame = frame;
    int width = std::max(1, m_usableWidth - frame.left - frame.right);
    int height = std::max(1, m_usableHeight - frame.top - frame.bottom);
    int oldWidth = m_pixelWidth, oldHeight = m_pixelHeight;
    sizeFor(width, height);
    if (m_pixelWidth != oldWidth || m_pixelHeight != oldHeight) {
        {
            WindowSystemCall call;
            SDL_SetWindowSize(m_window, m_pixelWidth, m_pixelHeight);
        }
        // Without the memory for it, nothing is drawn until a later frame fits again.
        if (!makePicture())
            std::fprintf(stderr, "vesk: %s\n", SDL_GetError());
    }
    WindowSystemCall call;
    SDL_SetWindowPosition(m_window, m_usableX + frame.left + (width - m_pixelWidth) / 2, m_usableY + frame.top + (height - m_pixelHeight) / 2);
}

DesktopWindow::~DesktopWindow()
{
    stop();
    WindowSystemCall call;
    if (m_surface)
        cairo_surface_destroy(m_surface);
    if (m_texture)
        SDL_DestroyTexture(m_texture);
    if (m_renderer)
        SDL_DestroyRenderer(m_renderer);
    if (m_window)
        SDL_DestroyWindow(m_window);
    SDL_Quit();
}

void DesktopWindow::start()
{
    if (m_timer)
        return;
    m_timer = NSTimer::scheduledTimerWithTimeInterval(frameInterval, true, [this](NSTimer&) { step(); });
    // Choosing the app's desktop notification, or its action, brings the app back as the
    // person's own restoring does.
    DesktopServices::setNotificationHandler([this] { raise(); });
}

void DesktopWindow::stop()
{
    if (!m_timer)
        return;
    DesktopServices::setNotificationHandler(nullptr);
    m_timer->invalidate();
    m_timer.reset();
}

void DesktopWindow::raise()
{
    WindowSystemCall call;
    auto flags = SDL_GetWindowFlags(m_window);
    // An unmapped window is shown again first: restoring it alone takes the window system's
    // notice that it is back, so the app would not hear of it, nor of the next minimising.
    if (flags & SDL_WINDOW_HIDDEN)
        SDL_ShowWindow(m_window);
    if (flags & SDL_WINDOW_MINIMIZED)
        SDL_RestoreWindow(m_window);
    SDL_RaiseWindow(m_window);
}

CGPoint DesktopWindow::toPoints(int x, int y) const
{
    auto screen = UIScreen::mainScreen().bounds().size;
    return { x * screen.width / m_pixelWidth, y * screen.height / m_pixelHeight };
}

void DesktopWindow::step()
{
    // Taken first, handled after: what the screens do is not the window system's memory.
    std::vector<SDL_Event> events;
    {
        WindowSystemCall call;
        SDL_Event event;
        while (SDL_PollEvent(&event))
            events.push_back(event);
    }
    for (auto& event : events)
        handle(event);
    fitFrame();
    followVisibility();
    syncPasteboard(m_clipboardChanged);
    m_clipboardChanged = false;
    // Typing goes to a field only while one takes it.
    bool wantsText = UIEventDispatcher::shared().acceptsText();
    if (wantsText != m_textInput) {
        WindowSystemCall call;
        m_textInput = wantsText;
        wantsText ? SDL_StartTextInput() : SDL_StopTextInput();
    }
    if (!m_drawn || UIRenderer::needsDisplay())
        draw();
}

void DesktopWindow::handle(const SDL_Event& event)
{
    auto& events = UIEventDispatcher::shared();
    switch (event.type) {
    case SDL_QUIT:
        if (m_closeHandler)
            m_closeHandler();
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE && m_closeHandler)
            m_closeHandler();
        else if (event.window.event == SDL_WINDOWEVENT_EXPOSED && m_drawn)
            present();
        else if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
            events.cancelGesture();
        else if (event.window.event == SDL_WINDOWEVENT_MINIMIZED || event.window.event == SDL_WINDOWEVENT_HIDDEN
            || event.window.event == SDL_WINDOWEVENT_RESTORED || event.window.event == SDL_WINDOWEVENT_SHOWN)
            m_visibilityChanged = true;
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT)
            events.pointerDown(toPoints(event.button.x, event.button.y));
        else if (event.button.button == SDL_BUTTON_RIGHT)
            events.secondaryClick(toPoints(event.button.x, event.button.y));
        break;
    case SDL_MOUSEMOTION:
        if (event.motion.state & SDL_BUTTON_LMASK)
            events.pointerMoved(toPoints(event.motion.x, event.motion.y));
        break;
    case SDL_MOUSEBUTTONUP:
        if (event.button.button == SDL_BUTTON_LEFT)
            events.pointerUp(toPoints(event.button.x, event.button.y));
        break;
    case SDL_MOUSEWHEEL: {
        int x = 0, y = 0;
        SDL_GetMouseState(&x, &y);
        float notches = event.wheel.preciseY, sideways = event.wheel.preciseX;
        if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) {
            notches = -notches;
            sideways = -sideways;
        }
        auto mods = SDL_GetModState();
        // With Control held the wheel pinches: away from you zooms in.
        if (mods & KMOD_CTRL) {
            events.zoom(toPoints(x, y), std::pow(zoomStep, notches));
            break;
        }
        // With Shift held it turns sideways, as in a browser: towards you shows what lies right.
        if ((mods & KMOD_SHIFT) && sideways == 0) {
            sideways = -notches;
            notches = 0;
        }
        // Turning the wheel away from you shows what lies above; tilting it right, what lies right.
        events.scroll(toPoints(x, y), sideways * wheelStep, -notches * wheelStep);
        break;
    }
    case SDL_CLIPBOARDUPDATE:
        m_clipboardChanged = true;
        break;
    case SDL_TEXTINPUT:
        events.insertText(event.text.text);
        break;
    case SDL_KEYDOWN:
        switch (event.key.keysym.sym) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            events.pressKey(UIKey::Return);
            break;
        case SDLK_BACKSPACE:
            events.pressKey(UIKey::Backspace);
            break;
        case SDLK_ESCAPE:
            events.pressKey(UIKey::Escape);
            break;
        case SDLK_LEFT:
            events.pressKey(UIKey::Left);
            break;
        case SDLK_RIGHT:
            events.pressKey(UIKey::Right);
            break;
        case SDLK_UP:
            events.pressKey(UIKey::Up);
            break;
        case SDLK_DOWN:
            events.pressKey(UIKey::Down);
            break;
        case SDLK_TAB:
            events.pressKey(event.key.keysym.mod & KMOD_SHIFT ? UIKey::BackTab : UIKey::Tab);
            break;
        case SDLK_HOME:
            events.pressKey(event.key.keysym.mod & KMOD_CTRL ? UIKey::TextStart : UIKey::Home);
            break;
        case SDLK_END:
            events.pressKey(event.key.keysym.mod & KMOD_CTRL ? UIKey::TextEnd : UIKey::End);
            break;
        case SDLK_PAGEUP:
            events.pressKey(UIKey::PageUp);
            break;
        case SDLK_PAGEDOWN:
            events.pressKey(UIKey::PageDown);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

// Only where the window ends up after a batch of events counts: mapping a new window hides and
// shows it again at once, which is no trip to the background.
void DesktopWindow::followVisibility()
{
    if (!m_visibilityChanged)
        return;
    m_visibilityChanged = false;
    Uint32 flags;
    {
        WindowSystemCall call;
        flags = SDL_GetWindowFlags(m_window);
    }
    bool onScreen = (flags & SDL_WINDOW_SHOWN) && !(flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED));
    if (onScreen == m_onScreen)
        return;
    m_onScreen = onScreen;
    if (onScreen)
        UIApplication::sharedApplication().becomeActive();
    else
        UIApplication::sharedApplication().enterBackground();
}

// What the app copied goes to the desktop; what was copied on the desktop comes to the app.
void DesktopWindow::syncPasteboard(bool desktopChanged)
{
    auto& pasteboard = UIPasteboard::generalPasteboard();
    if (pasteboard.changeCount() != m_pasteboardCount) {
        auto text = pasteboard.string();
        WindowSystemCall call;
        SDL_SetClipboardText(text ? text->c_str() : "");
    } else if (desktopChanged) {
        std::optional<std::string> text;
        {
            WindowSystemCall call;
            if (SDL_HasClipboardText()) {
                char* copied = SDL_GetClipboardText();
                text = copied ? copied : "";
                SDL_free(copied);
            }
        }
        if (text && text != pasteboard.string())
            pasteboard.setString(text);
    }
    m_pasteboardCount = pasteboard.changeCount();
}

void DesktopWindow::draw()
{
    if (!m_texture || cairo_surface_status(m_surface) != CAIRO_STATUS_SUCCESS)
        return;
    auto window = UIApplication::sharedApplication().keyWindow();
    auto* cr = cairo_create(m_surface);
    if (window) {
        // The screen fills every pixel, the last column and row too, even when its size at the
        // window's scale is no whole number of pixels.
        auto screen = UIScreen::mainScreen().bounds().size;
        cairo_scale(cr, m_pixelWidth / screen.width, m_pixelHeight / screen.height);
        UIRenderer::renderWindow(*window, cr);
    } else {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(m_surface);
    WindowSystemCall call;
    SDL_UpdateTexture(m_texture, nullptr, cairo_image_surface_get_data(m_surface), cairo_image_surface_get_stride(m_surface));
    m_drawn = true;
    present();
}

void DesktopWindow::present()
{
    WindowSystemCall call;
    SDL_RenderClear(m_renderer);
    SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
    SDL_RenderPresent(m_renderer);
}

}
