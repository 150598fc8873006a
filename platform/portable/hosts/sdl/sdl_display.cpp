// SDL display host, for the real program.
//
// Supports: one SDL top-level window per created window, with the caption given (ASCII), the
// class icon (its largest image) as the window icon, no user resizing or maximising (it can be
// minimised and closed), the client pixels shown 1:1 through SDL's plain window framebuffer;
// the frame size as the window manager reports it (none under a bare X server); key downs
// (auto-repeat included) and key ups as Windows virtual keys (letters, main-keyboard digits by
// position, keypad digits as VK_NUMPAD*, Tab, arrows, Return, Escape, Space, Backspace,
// Shift, Control, Alt, F1-F12); the close button as a close request; exposure as a repaint.
// Waiting blocks in SDL_WaitEvent and wakes for SDL events and for WakeDisplayWaiter, which
// pushes an SDL user event from any thread.
// Limits: one window thread (the first to create a window owns SDL video and is the only one
// that reads events); the video subsystem stays up until the process ends; no mouse; non-ASCII
// captions are passed on as bytes.

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "platform/portable/host.h"
#include "platform/portable/resources.h"
#include "platform/windowing.h"

struct host::DisplayWindow {
    SDL_Window* window = nullptr;
    Uint32 id = 0;
};

namespace {

std::atomic<Uint32> wakeEventType{0};
std::thread::id videoThread;
std::map<Uint32, host::DisplayWindow*> windowsById;
host::DisplayFrame lastFrame{0, 0, 0, 0};

bool OnVideoThread()
{
    return SDL_WasInit(SDL_INIT_VIDEO) != 0 && std::this_thread::get_id() == videoThread;
}

bool EnsureVideo()
{
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) {
        return std::this_thread::get_id() == videoThread;
    }
    // The plain framebuffer shows our pixels exactly, with no scaling or filtering.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        return false;
    }
    videoThread = std::this_thread::get_id();
    Uint32 type = SDL_RegisterEvents(1);
    wakeEventType.store(type == static_cast<Uint32>(-1) ? 0 : type);
    return true;
}

unsigned VirtualKey(const SDL_Keysym& key)
{
    SDL_Scancode code = key.scancode;
    // Digits by position, as the system's virtual keys for the top row are on every layout.
    if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9) {
        return static_cast<unsigned>('1' + (code - SDL_SCANCODE_1));
    }
    if (code == SDL_SCANCODE_0) {
        return '0';
    }
    if (code >= SDL_SCANCODE_KP_1 && code <= SDL_SCANCODE_KP_9) {
        return static_cast<unsigned>(VK_NUMPAD0 + 1 + (code - SDL_SCANCODE_KP_1));
    }
    if (code == SDL_SCANCODE_KP_0) {
        return VK_NUMPAD0;
    }
    SDL_Keycode sym = key.sym;
    if (sym >= SDLK_a && sym <= SDLK_z) {
        return static_cast<unsigned>('A' + (sym - SDLK_a));
    }
    if (sym >= SDLK_F1 && sym <= SDLK_F12) {
        return static_cast<unsigned>(VK_F1 + (sym - SDLK_F1));
    }
    switch (sym) {
    case SDLK_TAB:
        return VK_TAB;
    case SDLK_LEFT:
        return VK_LEFT;
    case SDLK_UP:
        return VK_UP;
    case SDLK_RIGHT:
        return VK_RIGHT;
    case SDLK_DOWN:
        return VK_DOWN;
    case SDLK_RETURN:
        return VK_RETURN;
    case SDLK_ESCAPE:
        return VK_ESCAPE;
    case SDLK_SPACE:
        return VK_SPACE;
    case SDLK_BACKSPACE:
        return VK_BACK;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT:
        return VK_MENU;
    default:
        break;
    }
    // Layouts whose letter keys do not give Latin letters still have them by position.
    if (code >= SDL_SCANCODE_A && code <= SDL_SCANCODE_Z) {
        return static_cast<unsigned>('A' + (code - SDL_SCANCODE_A));
    }
    return 0;
}

host::DisplayWindow* WindowFor(Uint32 id)
{
    auto it = windowsById.find(id);
    return it != windowsById.end() ? it->second : nullptr;
}

} // namespace

host::DisplayFrame host::ExpectedDisplayFrame()
{
    return lastFrame;
}

host::DisplayWindow* host::CreateDisplayWindow(const DisplayWindowParams& params)
{
    if (!EnsureVideo()) {
        return nullptr;
    }
    bool chosen = params.clientX == kDefaultPosition;
    SDL_Window* window = SDL_CreateWindow(
        params.caption, chosen ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : params.clientX,
        chosen ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : params.clientY,
        std::max(params.clientWidth, 1), std::max(params.clientHeight, 1), SDL_WINDOW_HIDDEN);
    if (window == nullptr) {
        return nullptr;
    }
    if (const IconImage* icon = params.icon) {
        SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
            const_cast<uint32_t*>(icon->pixels), icon->width, icon->height, 32, icon->width * 4,
            SDL_PIXELFORMAT_ARGB8888);
        if (surface != nullptr) {
            SDL_SetWindowIcon(window, surface);
            SDL_FreeSurface(surface);
        }
    }
    auto* record = new DisplayWindow;
    record->window = window;
    record->id = SDL_GetWindowID(window);
    windowsById[record->id] = record;
    return record;
}

void host::DestroyDisplayWindow(DisplayWindow* window)
{
    if (window == nullptr || !OnVideoThread()) {
        return;
    }
    windowsById.erase(window->id);
    SDL_DestroyWindow(window->window);
    delete window;
}

host::DisplayFrame host::DisplayWindowFrame(DisplayWindow* window)
{
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    if (window == nullptr ||
        SDL_GetWindowBordersSize(window->window, &top, &left, &bottom, &right) != 0) {
        return DisplayFrame{0, 0, 0, 0};
    }
    lastFrame = DisplayFrame{left, top, right, bottom};
    return lastFrame;
}

void host::DisplayWindowPosition(DisplayWindow* window, int* clientX, int* clientY)
{
    *clientX = 0;
    *clientY = 0;
    if (window != nullptr) {
        SDL_GetWindowPosition(window->window, clientX, clientY);
    }
}

void host::MoveDisplayWindow(DisplayWindow* window, int clientX, int clientY, int clientWidth,
                             int clientHeight)
{
    if (window == nullptr) {
        return;
    }
    SDL_SetWindowPosition(window->window, clientX, clientY);
    SDL_SetWindowSize(window->window, std::max(clientWidth, 1), std::max(clientHeight, 1));
}

void host::ShowDisplayWindow(DisplayWindow* window, bool visible, bool minimised)
{
    if (window == nullptr) {
        return;
    }
    if (!visible) {
        SDL_HideWindow(window->window);
        return;
    }
    SDL_ShowWindow(window->window);
    if (minimised) {
        SDL_MinimizeWindow(window->window);
    }
}

void host::PresentDisplayWindow(DisplayWindow* window, const uint32_t* pixels, int width,
                                int height)
{
    if (window == nullptr || width <= 0 || height <= 0) {
        return;
    }
    SDL_Surface* surface = SDL_GetWindowSurface(window->window);
    if (surface == nullptr) {
        return;
    }
    // A resize may still be on its way: show what overlaps.
    int w = std::min(width, surface->w);
    int h = std::min(height, surface->h);
    if (SDL_MUSTLOCK(surface)) {
        SDL_LockSurface(surface);
    }
    SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_RGB888, pixels, width * 4, surface->format->format,
                      surface->pixels, surface->pitch);
    if (SDL_MUSTLOCK(surface)) {
        SDL_UnlockSurface(surface);
    }
    SDL_UpdateWindowSurface(window->window);
}

bool host::PollDisplayEvent(DisplayEvent* event)
{
    // SDL's events belong to the thread that runs its video.
    if (!OnVideoThread()) {
        return false;
    }
    SDL_Event e;
    while (SDL_PollEvent(&e) != 0) {
        switch (e.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            DisplayWindow* window = WindowFor(e.key.windowID);
            unsigned key = VirtualKey(e.key.keysym);
            if (window == nullptr || key == 0) {
                break;
            }
            *event = DisplayEvent{e.type == SDL_KEYDOWN ? DisplayEventKind::KeyDown
                                                        : DisplayEventKind::KeyUp,
                                  window, key, e.key.repeat != 0};
            return true;
        }
        case SDL_WINDOWEVENT: {
            DisplayWindow* window = WindowFor(e.window.windowID);
            if (window == nullptr) {
                break;
            }
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
                *event = DisplayEvent{DisplayEventKind::CloseRequest, window, 0, false};
                return true;
            }
            if (e.window.event == SDL_WINDOWEVENT_EXPOSED ||
                e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                *event = DisplayEvent{DisplayEventKind::Exposed, window, 0, false};
                return true;
            }
            break;
        }
        default:
            // Wakes, quit requests (we act on the window's own close event) and the rest.
            break;
        }
    }
    return false;
}

void host::WaitDisplayEvent()
{
    if (!OnVideoThread()) {
        SDL_Delay(1);
        return;
    }
    SDL_WaitEvent(nullptr);
}

void host::WakeDisplayWaiter()
{
    Uint32 type = wakeEventType.load();
    if (type != 0) {
        SDL_Event e;
        SDL_zero(e);
        e.type = type;
        SDL_PushEvent(&e);
    }
}
