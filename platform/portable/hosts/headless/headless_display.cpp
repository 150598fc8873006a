// Headless display host, for tests.
//
// Supports: any number of simulated top-level windows with a configurable frame (borders and
// caption height), positions (a fixed default spot when the program lets the system choose),
// show state, the window icon's size, and the client pixels as last presented; key downs (with
// auto-repeat), key ups and close requests injected by the test into the focus window (the
// newest live one); waking and idle detection for the window thread; the live drawing-object
// count; a window creation that fails on request.
// Limits: nothing is ever shown; there is no focus change, mouse, expose event or user move or
// resize; idle detection assumes one window thread at a time.

#include "platform/portable/hosts/headless/headless_display.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/portable/gdi_internal.h"
#include "platform/portable/host.h"
#include "platform/portable/resources.h"
#include "platform/portable/win_internal.h"

struct host::DisplayWindow {
    std::string caption;
    host::DisplayFrame frame{};
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool visible = false;
    bool minimised = false;
    int presents = 0;
    int iconWidth = 0;
    int iconHeight = 0;
    int shownWidth = 0;
    int shownHeight = 0;
    std::vector<uint32_t> shown;
};

namespace {

constexpr host::DisplayFrame kDefaultFrame{4, 24, 4, 4};

struct Display {
    std::mutex mutex;
    // Signals new events and wakes to waiting window threads.
    std::condition_variable changed;
    // Signals a change in who waits, for WaitIdle.
    std::condition_variable waiters;
    std::deque<host::DisplayEvent> events;
    // Counts wakes; a waiter returns once it has not seen the latest.
    uint64_t generation = 0;
    // What each thread now waiting had seen when it started waiting.
    std::vector<const uint64_t*> waiting;
    std::vector<std::unique_ptr<host::DisplayWindow>> windows;
    host::DisplayFrame frame = kDefaultFrame;
    int created = 0;
    bool failNextCreation = false;
};

Display& D()
{
    static Display* display = new Display;
    return *display;
}

bool Idle(const Display& d)
{
    return d.events.empty() && !d.waiting.empty() &&
           std::all_of(d.waiting.begin(), d.waiting.end(),
                       [&](const uint64_t* seen) { return *seen == d.generation; });
}

void Inject(host::DisplayEventKind kind, unsigned virtualKey, bool repeat)
{
    std::lock_guard lock(D().mutex);
    if (D().windows.empty()) {
        return;
    }
    D().events.push_back(host::DisplayEvent{kind, D().windows.back().get(), virtualKey, repeat});
    D().changed.notify_all();
}

} // namespace

host::DisplayFrame host::ExpectedDisplayFrame()
{
    std::lock_guard lock(D().mutex);
    return D().frame;
}

host::DisplayWindow* host::CreateDisplayWindow(const DisplayWindowParams& params)
{
    std::lock_guard lock(D().mutex);
    if (D().failNextCreation) {
        D().failNextCreation = false;
        return nullptr;
    }
    auto window = std::make_unique<DisplayWindow>();
    window->caption = params.caption != nullptr ? params.caption : "";
    window->frame = D().frame;
    bool chosen = params.clientX == kDefaultPosition;
    window->x = chosen ? 100 + window->frame.left : params.clientX;
    window->y = chosen ? 100 + window->frame.top : params.clientY;
    window->width = params.clientWidth;
    window->height = params.clientHeight;
    if (params.icon != nullptr) {
        window->iconWidth = params.icon->width;
        window->iconHeight = params.icon->height;
    }
    D().windows.push_back(std::move(window));
    ++D().created;
    return D().windows.back().get();
}

void host::DestroyDisplayWindow(DisplayWindow* window)
{
    std::lock_guard lock(D().mutex);
    auto& events = D().events;
    events.erase(std::remove_if(events.begin(), events.end(),
                                [&](const DisplayEvent& e) { return e.window == window; }),
                 events.end());
    auto& windows = D().windows;
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [&](const auto& w) { return w.get() == window; }),
                  windows.end());
    D().waiters.notify_all();
}

host::DisplayFrame host::DisplayWindowFrame(DisplayWindow* window)
{
    std::lock_guard lock(D().mutex);
    return window->frame;
}

void host::DisplayWindowPosition(DisplayWindow* window, int* clientX, int* clientY)
{
    std::lock_guard lock(D().mutex);
    *clientX = window->x;
    *clientY = window->y;
}

void host::MoveDisplayWindow(DisplayWindow* window, int clientX, int clientY, int clientWidth,
                             int clientHeight)
{
    std::lock_guard lock(D().mutex);
    window->x = clientX;
    window->y = clientY;
    window->width = clientWidth;
    window->height = clientHeight;
}

void host::ShowDisplayWindow(DisplayWindow* window, bool visible, bool minimised)
{
    std::lock_guard lock(D().mutex);
    window->visible = visible;
    window->minimised = visible && minimised;
}

void host::PresentDisplayWindow(DisplayWindow* window, const uint32_t* pixels, int width,
                                int height)
{
    std::lock_guard lock(D().mutex);
    window->shown.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
    window->shownWidth = width;
    window->shownHeight = height;
    ++window->presents;
}

bool host::PollDisplayEvent(DisplayEvent* event)
{
    std::lock_guard lock(D().mutex);
    if (D().events.empty()) {
        return false;
    }
    *event = D().events.front();
    D().events.pop_front();
    return true;
}

void host::WaitDisplayEvent()
{
    thread_local uint64_t seen = 0;
    std::unique_lock lock(D().mutex);
    Display& d = D();
    if (d.events.empty() && seen == d.generation) {
        d.waiting.push_back(&seen);
        d.waiters.notify_all();
        d.changed.wait(lock, [&] { return !d.events.empty() || seen != d.generation; });
        d.waiting.erase(std::find(d.waiting.begin(), d.waiting.end(), &seen));
        d.waiters.notify_all();
    }
    seen = d.generation;
}

void host::WakeDisplayWaiter()
{
    std::lock_guard lock(D().mutex);
    ++D().generation;
    D().changed.notify_all();
}

COLORREF headless::WindowView::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= shownWidth || y >= shownHeight) {
        return CLR_INVALID;
    }
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(shownWidth) +
                  static_cast<size_t>(x)];
}

void headless::ResetDisplay()
{
    portable::ResetWindowing();
    std::lock_guard lock(D().mutex);
    D().events.clear();
    D().windows.clear();
    D().frame = kDefaultFrame;
    D().created = 0;
    D().failNextCreation = false;
    ++D().generation;
    D().changed.notify_all();
}

void headless::SetFrame(int border, int caption)
{
    std::lock_guard lock(D().mutex);
    D().frame = host::DisplayFrame{border, border + caption, border, border};
}

std::optional<headless::WindowView> headless::TopWindow(const std::string& caption)
{
    std::lock_guard lock(D().mutex);
    auto& windows = D().windows;
    auto it = std::find_if(windows.rbegin(), windows.rend(),
                           [&](const auto& w) { return w->caption == caption; });
    if (it == windows.rend()) {
        return std::nullopt;
    }
    const host::DisplayWindow& w = **it;
    WindowView view;
    view.caption = w.caption;
    view.outer = RECT{w.x - w.frame.left, w.y - w.frame.top, w.x + w.width + w.frame.right,
                      w.y + w.height + w.frame.bottom};
    view.clientX = w.x;
    view.clientY = w.y;
    view.clientWidth = w.width;
    view.clientHeight = w.height;
    view.visible = w.visible;
    view.minimised = w.minimised;
    view.presents = w.presents;
    view.iconWidth = w.iconWidth;
    view.iconHeight = w.iconHeight;
    view.shownWidth = w.shownWidth;
    view.shownHeight = w.shownHeight;
    view.pixels.reserve(w.shown.size());
    for (uint32_t pixel : w.shown) {
        view.pixels.push_back(portable::ToColorRef(pixel));
    }
    return view;
}

std::vector<std::string> headless::WindowCaptions()
{
    std::lock_guard lock(D().mutex);
    std::vector<std::string> captions;
    for (const auto& w : D().windows) {
        captions.push_back(w->caption);
    }
    return captions;
}

void headless::FailNextWindowCreation()
{
    std::lock_guard lock(D().mutex);
    D().failNextCreation = true;
}

void headless::KeyDown(unsigned virtualKey, bool repeat)
{
    Inject(host::DisplayEventKind::KeyDown, virtualKey, repeat);
}

void headless::KeyUp(unsigned virtualKey)
{
    Inject(host::DisplayEventKind::KeyUp, virtualKey, false);
}

void headless::PressKey(unsigned virtualKey, int repeats)
{
    KeyDown(virtualKey);
    for (int i = 0; i < repeats; ++i) {
        KeyDown(virtualKey, true);
    }
    KeyUp(virtualKey);
}

void headless::RequestClose()
{
    Inject(host::DisplayEventKind::CloseRequest, 0, false);
}

bool headless::WaitIdle()
{
    std::unique_lock lock(D().mutex);
    Display& d = D();
    auto gone = [&] { return d.created > 0 && d.windows.empty() && d.waiting.empty(); };
    // Woken by waits, wakes and events; the predicate decides.
    while (!Idle(d) && !gone()) {
        d.waiters.wait(lock);
    }
    return Idle(d);
}

bool headless::IsIdle()
{
    std::lock_guard lock(D().mutex);
    return Idle(D());
}

int headless::LiveDrawingObjects()
{
    return portable::LiveDrawingObjects();
}
