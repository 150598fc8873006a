// Window classes, windows, message queues, sent messages, painting and key state.
//
// Every thread that creates a window gets a message queue. Messages sent from another thread
// wait in the receiver's queue until it retrieves or waits for messages; the sender blocks until
// then, or returns 0 at once when the window is being destroyed or its thread has left its
// message loop, so a timer thread can never hang on a window that is gone.

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/portable/gdi_internal.h"
#include "platform/portable/host.h"
#include "platform/portable/resources.h"
#include "platform/portable/win_internal.h"

// No icons unless the program links a table of its own.
extern "C" __attribute__((weak)) const IconResource* tovaliskIconResources(int* count)
{
    *count = 0;
    return nullptr;
}

namespace portable {
namespace {

struct ClassRecord {
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HICON icon = nullptr;
};

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM first;
    LPARAM second;
    LRESULT result = 0;
    bool done = false;
};

struct ThreadQueue {
    std::thread::id thread;
    std::deque<MSG> posted;
    std::deque<SentMessage*> incoming;
    bool quit = false;
    int quitCode = 0;
    // The thread left its message loop (or ended): sends to its windows return 0 at once.
    bool closed = false;
    // Per virtual key: 0x80 while down, 0x01 toggled by each press.
    std::array<uint8_t, 256> keys{};
};

struct WindowRecord {
    HWND handle = nullptr;
    std::shared_ptr<ClassRecord> windowClass;
    std::string caption;
    DWORD style = 0;
    std::shared_ptr<ThreadQueue> queue;
    host::DisplayWindow* display = nullptr;
    int clientWidth = 0;
    int clientHeight = 0;
    std::shared_ptr<Surface> surface;
    // Classes with CS_OWNDC or CS_CLASSDC keep one DC whose settings last between paints.
    HDC ownDc = nullptr;
    bool visible = false;
    bool invalid = true;
    bool destroying = false;
};

struct State {
    std::mutex mutex;
    std::condition_variable sendDone;
    std::map<std::string, std::shared_ptr<ClassRecord>> classes;
    std::map<HWND, std::shared_ptr<WindowRecord>> windows;
    std::vector<std::shared_ptr<ThreadQueue>> queues;
    uintptr_t nextHandle = 0x10010;
    ATOM nextAtom = 0xC000;
    unsigned epoch = 0;
};

// Never destroyed: timer threads may still send while the process exits.
State& S()
{
    static State* state = new State;
    return *state;
}

using Lock = std::unique_lock<std::mutex>;

void AbortSends(ThreadQueue& queue, HWND onlyFor)
{
    bool any = false;
    for (auto it = queue.incoming.begin(); it != queue.incoming.end();) {
        if (onlyFor == nullptr || (*it)->window == onlyFor) {
            (*it)->result = 0;
            (*it)->done = true;
            it = queue.incoming.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    if (any) {
        S().sendDone.notify_all();
    }
}

void DropWindowSilently(const std::shared_ptr<WindowRecord>& w)
{
    w->destroying = true;
    AbortSends(*w->queue, w->handle);
    if (w->ownDc != nullptr) {
        DeleteWindowDc(w->ownDc);
        w->ownDc = nullptr;
    }
    if (w->display != nullptr) {
        host::DestroyDisplayWindow(w->display);
        w->display = nullptr;
    }
    S().windows.erase(w->handle);
}

void OnThreadExit(const std::shared_ptr<ThreadQueue>& queue);

struct ThreadLink {
    unsigned epoch = ~0u;
    std::shared_ptr<ThreadQueue> queue;
    ~ThreadLink()
    {
        if (queue != nullptr) {
            OnThreadExit(queue);
        }
    }
};

thread_local ThreadLink threadLink;

// The calling thread's queue, made on first use; call with the state locked.
const std::shared_ptr<ThreadQueue>& CurrentQueue()
{
    if (threadLink.queue == nullptr || threadLink.epoch != S().epoch) {
        threadLink.queue = std::make_shared<ThreadQueue>();
        threadLink.queue->thread = std::this_thread::get_id();
        threadLink.epoch = S().epoch;
        S().queues.push_back(threadLink.queue);
    }
    return threadLink.queue;
}

void OnThreadExit(const std::shared_ptr<ThreadQueue>& queue)
{
    Lock lock(S().mutex);
    queue->closed = true;
    AbortSends(*queue, nullptr);
    std::vector<std::shared_ptr<WindowRecord>> owned;
    for (auto& [handle, w] : S().windows) {
        if (w->queue == queue) {
            owned.push_back(w);
        }
    }
    for (auto& w : owned) {
        DropWindowSilently(w);
    }
    auto& queues = S().queues;
    queues.erase(std::remove(queues.begin(), queues.end(), queue), queues.end());
}

std::shared_ptr<WindowRecord> Find(HWND handle)
{
    auto it = S().windows.find(handle);
    return it != S().windows.end() ? it->second : nullptr;
}

bool OnThisThread(const WindowRecord& w)
{
    return w.queue->thread == std::this_thread::get_id();
}

std::string Lower(const char* text)
{
    std::string out = text;
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool IsResourceId(LPCSTR name)
{
    return (reinterpret_cast<uintptr_t>(name) >> 16) == 0;
}

const IconResource* IconTable(int* count)
{
    *count = 0;
    const IconResource* table = tovaliskIconResources(count);
    if (table == nullptr) {
        *count = 0;
    }
    return table;
}

const IconImage* LargestImage(HICON icon)
{
    int count = 0;
    const IconResource* table = IconTable(&count);
    auto* resource = reinterpret_cast<const IconResource*>(icon);
    if (resource == nullptr || resource < table || resource >= table + count) {
        return nullptr;
    }
    const IconImage* best = nullptr;
    for (int i = 0; i < resource->imageCount; ++i) {
        const IconImage& image = resource->images[i];
        if (best == nullptr || image.width * image.height > best->width * best->height) {
            best = &image;
        }
    }
    return best;
}

void WakeOthers(const WindowRecord& w, bool& wake)
{
    if (!OnThisThread(w)) {
        wake = true;
    }
}

// Posts to the window's queue; returns whether another thread must be woken.
bool Post(const std::shared_ptr<WindowRecord>& w, UINT message, WPARAM first, LPARAM second)
{
    w->queue->posted.push_back(MSG{w->handle, message, first, second, 0, POINT{0, 0}});
    bool wake = false;
    WakeOthers(*w, wake);
    return wake;
}

// Host events become queue messages for their window, as the keyboard and frame would post
// them; returns whether another thread must be woken.
bool Route(const host::DisplayEvent& event)
{
    std::shared_ptr<WindowRecord> target;
    for (auto& [handle, w] : S().windows) {
        if (w->display == event.window && !w->destroying) {
            target = w;
        }
    }
    if (target == nullptr) {
        return false;
    }
    auto key = static_cast<WPARAM>(event.virtualKey & 0xFFu);
    switch (event.kind) {
    case host::DisplayEventKind::KeyDown:
        return Post(target, WM_KEYDOWN, key, event.repeat ? (1 | (1 << 30)) : 1);
    case host::DisplayEventKind::KeyUp:
        return Post(target, WM_KEYUP, key,
                    static_cast<LPARAM>(1 | (1u << 30) | (static_cast<LPARAM>(1) << 31)));
    case host::DisplayEventKind::CloseRequest:
        return Post(target, WM_CLOSE, 0, 0);
    case host::DisplayEventKind::Exposed: {
        target->invalid = true;
        bool wake = false;
        WakeOthers(*target, wake);
        return wake;
    }
    }
    return false;
}

void PumpHost(Lock& lock)
{
    bool wake = false;
    for (;;) {
        host::DisplayEvent event{};
        lock.unlock();
        bool got = host::PollDisplayEvent(&event);
        lock.lock();
        if (!got) {
            break;
        }
        wake = Route(event) || wake;
    }
    if (wake) {
        host::WakeDisplayWaiter();
    }
}

void ProcessSent(Lock& lock, const std::shared_ptr<ThreadQueue>& queue)
{
    while (!queue->incoming.empty()) {
        SentMessage* sent = queue->incoming.front();
        queue->incoming.pop_front();
        std::shared_ptr<WindowRecord> w = Find(sent->window);
        if (w == nullptr || w->destroying) {
            sent->done = true;
            S().sendDone.notify_all();
            continue;
        }
        WNDPROC proc = w->windowClass->proc;
        lock.unlock();
        LRESULT result = proc(sent->window, sent->message, sent->first, sent->second);
        lock.lock();
        sent->result = result;
        sent->done = true;
        S().sendDone.notify_all();
    }
}

bool Matches(HWND filter, UINT first, UINT last, const MSG& msg)
{
    if (filter != nullptr && msg.hwnd != filter) {
        return false;
    }
    return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
}

void NoteKey(ThreadQueue& queue, const MSG& msg)
{
    uint8_t& state = queue.keys[msg.wParam & 0xFFu];
    if (msg.message == WM_KEYDOWN) {
        if ((state & 0x80) == 0) {
            state ^= 0x01;
        }
        state |= 0x80;
    } else if (msg.message == WM_KEYUP) {
        state &= static_cast<uint8_t>(~0x80);
    }
}

enum class Got { Nothing, Message, Quit };

// One look at the queue in the order the system keeps: sent messages are handled first, then
// posted messages, then the quit request, then paints of invalid windows.
Got Look(Lock& lock, const std::shared_ptr<ThreadQueue>& queue, MSG* out, HWND filter, UINT first,
         UINT last, bool remove)
{
    ProcessSent(lock, queue);
    PumpHost(lock);
    ProcessSent(lock, queue);
    for (auto it = queue->posted.begin(); it != queue->posted.end(); ++it) {
        if (Matches(filter, first, last, *it)) {
            *out = *it;
            if (remove) {
                queue->posted.erase(it);
                NoteKey(*queue, *out);
            }
            return Got::Message;
        }
    }
    if (queue->quit) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, 0, POINT{0, 0}};
        if (remove) {
            queue->quit = false;
        }
        return Got::Quit;
    }
    for (auto& [handle, w] : S().windows) {
        MSG paint{handle, WM_PAINT, 0, 0, 0, POINT{0, 0}};
        if (w->queue == queue && w->visible && w->invalid && !w->destroying &&
            Matches(filter, first, last, paint)) {
            *out = paint;
            return Got::Message;
        }
    }
    return Got::Nothing;
}

bool HasWork(const std::shared_ptr<ThreadQueue>& queue)
{
    if (!queue->posted.empty() || queue->quit || !queue->incoming.empty()) {
        return true;
    }
    return std::any_of(S().windows.begin(), S().windows.end(), [&](const auto& entry) {
        const WindowRecord& w = *entry.second;
        return w.queue == queue && w.visible && w.invalid && !w.destroying;
    });
}

void Present(const std::shared_ptr<WindowRecord>& w)
{
    if (w->display != nullptr && w->surface != nullptr) {
        host::PresentDisplayWindow(w->display, w->surface->pixels.data(), w->surface->width,
                                   w->surface->height);
    }
}

void LogMessage(const char* operation, UINT message)
{
    char detail[16];
    std::snprintf(detail, sizeof detail, "0x%04X", message);
    host::LogCall(operation, detail);
}

} // namespace

HINSTANCE ProgramInstance()
{
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
}

void ResetWindowing()
{
    Lock lock(S().mutex);
    std::vector<std::shared_ptr<WindowRecord>> all;
    for (auto& [handle, w] : S().windows) {
        all.push_back(w);
    }
    for (auto& w : all) {
        DropWindowSilently(w);
    }
    for (auto& queue : S().queues) {
        queue->closed = true;
        AbortSends(*queue, nullptr);
    }
    S().queues.clear();
    S().classes.clear();
    ++S().epoch;
}

} // namespace portable

using namespace portable;

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    return name == nullptr ? ProgramInstance() : nullptr;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    host::LogCall("LoadIconA");
    // Only the program's own icons, by resource number.
    if (instance == nullptr || !IsResourceId(name)) {
        return nullptr;
    }
    auto id = static_cast<unsigned>(reinterpret_cast<uintptr_t>(name));
    int count = 0;
    const IconResource* table = IconTable(&count);
    for (int i = 0; i < count; ++i) {
        if (table[i].id == id && table[i].imageCount > 0) {
            return reinterpret_cast<HICON>(const_cast<IconResource*>(&table[i]));
        }
    }
    return nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    host::LogCall("LoadCursorA");
    // The host shows its own arrow; the handle only has to be a valid one.
    static int arrow;
    if (instance != nullptr || name != IDC_ARROW) {
        return nullptr;
    }
    return reinterpret_cast<HCURSOR>(&arrow);
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc)
{
    host::LogCall("RegisterClassExA",
                  wc != nullptr && wc->lpszClassName != nullptr && !IsResourceId(wc->lpszClassName)
                      ? wc->lpszClassName
                      : "");
    if (wc == nullptr || wc->cbSize != sizeof(WNDCLASSEXA) || wc->lpfnWndProc == nullptr ||
        wc->lpszClassName == nullptr || IsResourceId(wc->lpszClassName) ||
        wc->lpszClassName[0] == '\0') {
        return 0;
    }
    if (wc->cbClsExtra != 0 || wc->cbWndExtra != 0) {
        PORTABLE_UNSUPPORTED("class or window extra bytes");
    }
    Lock lock(S().mutex);
    std::string key = Lower(wc->lpszClassName);
    if (S().classes.count(key) != 0) {
        return 0;
    }
    auto record = std::make_shared<ClassRecord>();
    record->name = wc->lpszClassName;
    record->style = wc->style;
    record->proc = wc->lpfnWndProc;
    record->icon = wc->hIcon;
    S().classes[key] = record;
    return S().nextAtom++;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE /*instance*/)
{
    host::LogCall("UnregisterClassA");
    if (className == nullptr || IsResourceId(className)) {
        return FALSE;
    }
    Lock lock(S().mutex);
    std::string key = Lower(className);
    // A class still in use by a window stays.
    for (auto& [handle, w] : S().windows) {
        if (Lower(w->windowClass->name.c_str()) == key) {
            return FALSE;
        }
    }
    return S().classes.erase(key) != 0 ? TRUE : FALSE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR caption, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param)
{
    host::LogCall("CreateWindowExA", caption != nullptr ? caption : "");
    if (parent != nullptr || menu != nullptr) {
        PORTABLE_UNSUPPORTED("child windows and menus");
        return nullptr;
    }
    if (className == nullptr || IsResourceId(className)) {
        return nullptr;
    }
    Lock lock(S().mutex);
    auto found = S().classes.find(Lower(className));
    if (found == S().classes.end()) {
        return nullptr;
    }
    auto w = std::make_shared<WindowRecord>();
    w->windowClass = found->second;
    w->caption = caption != nullptr ? caption : "";
    w->style = style;
    w->queue = CurrentQueue();
    w->queue->closed = false;
    if (width == CW_USEDEFAULT) {
        width = 640;
        height = 480;
    }
    host::DisplayFrame frame = host::ExpectedDisplayFrame();
    w->clientWidth = std::max(0, width - frame.left - frame.right);
    w->clientHeight = std::max(0, height - frame.top - frame.bottom);
    host::DisplayWindowParams params{w->caption.c_str(),
                                     x == CW_USEDEFAULT ? host::kDefaultPosition : x + frame.left,
                                     x == CW_USEDEFAULT ? host::kDefaultPosition : y + frame.top,
                                     w->clientWidth,
                                     w->clientHeight,
                                     LargestImage(w->windowClass->icon)};
    w->display = host::CreateDisplayWindow(params);
    if (w->display == nullptr) {
        return nullptr;
    }
    // Some hosts learn the real frame only once the window exists; keep the outer size.
    host::DisplayFrame real = host::DisplayWindowFrame(w->display);
    if (real.left != frame.left || real.top != frame.top || real.right != frame.right ||
        real.bottom != frame.bottom) {
        int cx = 0;
        int cy = 0;
        host::DisplayWindowPosition(w->display, &cx, &cy);
        w->clientWidth = std::max(0, width - real.left - real.right);
        w->clientHeight = std::max(0, height - real.top - real.bottom);
        host::MoveDisplayWindow(w->display, cx, cy, w->clientWidth, w->clientHeight);
    }
    w->surface = MakeSurface(w->clientWidth, w->clientHeight);
    if ((w->windowClass->style & (CS_OWNDC | CS_CLASSDC)) != 0) {
        w->ownDc = CreateWindowDc(w->surface, false);
    }
    w->handle = reinterpret_cast<HWND>(S().nextHandle);
    S().nextHandle += 4;
    S().windows[w->handle] = w;
    HWND handle = w->handle;
    WNDPROC proc = w->windowClass->proc;
    CREATESTRUCTA create{
        param,   instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        caption, className, exStyle};
    lock.unlock();
    // The window procedure sees WM_CREATE before the caller gets the handle.
    if (proc(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if ((style & WS_VISIBLE) != 0) {
        ShowWindow(handle, SW_SHOW);
    }
    return handle;
}

BOOL WINAPI DestroyWindow(HWND handle)
{
    host::LogCall("DestroyWindow");
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr || w->destroying || !OnThisThread(*w)) {
        return FALSE;
    }
    // From here on, sends from other threads return 0: a timer thread blocked on this window
    // must not wait for a destruction that may be waiting for it.
    w->destroying = true;
    AbortSends(*w->queue, handle);
    WNDPROC proc = w->windowClass->proc;
    lock.unlock();
    proc(handle, WM_DESTROY, 0, 0);
    lock.lock();
    auto& posted = w->queue->posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [&](const MSG& m) { return m.hwnd == handle; }),
                 posted.end());
    AbortSends(*w->queue, handle);
    DropWindowSilently(w);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND handle)
{
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    return w != nullptr ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND handle, int showCommand)
{
    char detail[8];
    std::snprintf(detail, sizeof detail, "%d", showCommand);
    host::LogCall("ShowWindow", detail);
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr) {
        return FALSE;
    }
    BOOL wasVisible = w->visible ? TRUE : FALSE;
    bool minimised = showCommand == SW_SHOWMINIMIZED || showCommand == SW_MINIMIZE ||
                     showCommand == SW_SHOWMINNOACTIVE;
    w->visible = showCommand != SW_HIDE;
    if (w->visible && !wasVisible) {
        w->invalid = true;
    }
    host::ShowDisplayWindow(w->display, w->visible, minimised);
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND handle)
{
    host::LogCall("UpdateWindow");
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr) {
        return FALSE;
    }
    if (!w->visible || !w->invalid || w->destroying || !OnThisThread(*w)) {
        return TRUE;
    }
    WNDPROC proc = w->windowClass->proc;
    lock.unlock();
    proc(handle, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND handle, RECT* rect)
{
    host::LogCall("GetWindowRect");
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr || rect == nullptr) {
        return FALSE;
    }
    // Asked afresh each time: the user may have moved the window, and a frame may have appeared.
    int x = 0;
    int y = 0;
    host::DisplayWindowPosition(w->display, &x, &y);
    host::DisplayFrame frame = host::DisplayWindowFrame(w->display);
    *rect = RECT{x - frame.left, y - frame.top, x + w->clientWidth + frame.right,
                 y + w->clientHeight + frame.bottom};
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND handle, RECT* rect)
{
    host::LogCall("GetClientRect");
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr || rect == nullptr) {
        return FALSE;
    }
    *rect = RECT{0, 0, w->clientWidth, w->clientHeight};
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND handle, int x, int y, int width, int height, BOOL repaint)
{
    char detail[64];
    std::snprintf(detail, sizeof detail, "%d %d %d %d", x, y, width, height);
    host::LogCall("MoveWindow", detail);
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr) {
        return FALSE;
    }
    host::DisplayFrame frame = host::DisplayWindowFrame(w->display);
    int clientWidth = std::max(0, width - frame.left - frame.right);
    int clientHeight = std::max(0, height - frame.top - frame.bottom);
    if (clientWidth != w->clientWidth || clientHeight != w->clientHeight) {
        // Keep what fits of the old pixels; the rest starts black.
        std::shared_ptr<Surface> fresh = MakeSurface(clientWidth, clientHeight);
        for (int row = 0; row < std::min(clientHeight, w->surface->height); ++row) {
            auto from = w->surface->pixels.begin() + row * w->surface->width;
            std::copy(from, from + std::min(clientWidth, w->surface->width),
                      fresh->pixels.begin() + row * clientWidth);
        }
        w->surface = fresh;
        w->clientWidth = clientWidth;
        w->clientHeight = clientHeight;
        if (w->ownDc != nullptr) {
            RetargetWindowDc(w->ownDc, fresh);
        }
    }
    host::MoveDisplayWindow(w->display, x + frame.left, y + frame.top, clientWidth, clientHeight);
    bool wake = false;
    if (repaint) {
        w->invalid = true;
        WakeOthers(*w, wake);
    }
    lock.unlock();
    if (wake) {
        host::WakeDisplayWaiter();
    }
    return TRUE;
}

BOOL WINAPI PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT removeFlags)
{
    host::LogCall("PeekMessageA");
    Lock lock(S().mutex);
    const std::shared_ptr<ThreadQueue>& queue = CurrentQueue();
    queue->closed = false;
    MSG found{};
    Got got = Look(lock, queue, &found, window, first, last, (removeFlags & PM_REMOVE) != 0);
    if (got == Got::Nothing) {
        return FALSE;
    }
    if (msg != nullptr) {
        *msg = found;
    }
    return TRUE;
}

BOOL WINAPI GetMessageA(MSG* msg, HWND window, UINT first, UINT last)
{
    host::LogCall("GetMessageA");
    Lock lock(S().mutex);
    std::shared_ptr<ThreadQueue> queue = CurrentQueue();
    queue->closed = false;
    for (;;) {
        MSG found{};
        Got got = Look(lock, queue, &found, window, first, last, true);
        if (got != Got::Nothing) {
            if (msg != nullptr) {
                *msg = found;
            }
            if (got == Got::Quit) {
                // The loop ends here; nobody will handle sends to this thread's windows now.
                queue->closed = true;
                AbortSends(*queue, nullptr);
                return FALSE;
            }
            return TRUE;
        }
        lock.unlock();
        host::WaitDisplayEvent();
        lock.lock();
    }
}

BOOL WINAPI TranslateMessage(const MSG* msg)
{
    host::LogCall("TranslateMessage");
    // No character messages are made: the program only reads key-downs.
    return msg != nullptr && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP) ? TRUE
                                                                                      : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg)
{
    if (msg == nullptr) {
        return 0;
    }
    LogMessage("DispatchMessageA", msg->message);
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(msg->hwnd);
    if (w == nullptr || !OnThisThread(*w)) {
        return 0;
    }
    WNDPROC proc = w->windowClass->proc;
    lock.unlock();
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI WaitMessage()
{
    host::LogCall("WaitMessage");
    Lock lock(S().mutex);
    std::shared_ptr<ThreadQueue> queue = CurrentQueue();
    queue->closed = false;
    for (;;) {
        ProcessSent(lock, queue);
        PumpHost(lock);
        if (HasWork(queue)) {
            return TRUE;
        }
        lock.unlock();
        host::WaitDisplayEvent();
        lock.lock();
    }
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM /*first*/, LPARAM /*second*/)
{
    LogMessage("DefWindowProcA", message);
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    default:
        return 0;
    }
}

void WINAPI PostQuitMessage(int exitCode)
{
    char detail[16];
    std::snprintf(detail, sizeof detail, "%d", exitCode);
    host::LogCall("PostQuitMessage", detail);
    Lock lock(S().mutex);
    const std::shared_ptr<ThreadQueue>& queue = CurrentQueue();
    queue->quit = true;
    queue->quitCode = exitCode;
}

LRESULT WINAPI SendMessageA(HWND handle, UINT message, WPARAM first, LPARAM second)
{
    LogMessage("SendMessageA", message);
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr) {
        return 0;
    }
    if (OnThisThread(*w)) {
        WNDPROC proc = w->windowClass->proc;
        lock.unlock();
        return proc(handle, message, first, second);
    }
    if (w->destroying || w->queue->closed) {
        return 0;
    }
    SentMessage sent{handle, message, first, second};
    w->queue->incoming.push_back(&sent);
    lock.unlock();
    host::WakeDisplayWaiter();
    lock.lock();
    S().sendDone.wait(lock, [&] { return sent.done; });
    return sent.result;
}

BOOL WINAPI PostMessageA(HWND handle, UINT message, WPARAM first, LPARAM second)
{
    LogMessage("PostMessageA", message);
    Lock lock(S().mutex);
    bool wake = false;
    if (handle == nullptr) {
        CurrentQueue()->posted.push_back(MSG{nullptr, message, first, second, 0, POINT{0, 0}});
    } else {
        std::shared_ptr<WindowRecord> w = Find(handle);
        if (w == nullptr || w->destroying) {
            return FALSE;
        }
        wake = Post(w, message, first, second);
    }
    lock.unlock();
    if (wake) {
        host::WakeDisplayWaiter();
    }
    return TRUE;
}

SHORT WINAPI GetKeyState(int virtualKey)
{
    host::LogCall("GetKeyState");
    Lock lock(S().mutex);
    uint8_t state = CurrentQueue()->keys[static_cast<unsigned>(virtualKey) & 0xFFu];
    // High bit of the 16-bit result while held, low bit toggled by each press.
    auto value = static_cast<uint16_t>(((state & 0x80) != 0 ? 0xFF80u : 0u) | (state & 0x01u));
    return static_cast<SHORT>(value);
}

BOOL WINAPI InvalidateRect(HWND handle, const RECT* /*rect*/, BOOL /*erase*/)
{
    host::LogCall("InvalidateRect");
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr) {
        if (handle == nullptr) {
            PORTABLE_UNSUPPORTED("invalidating every window");
        }
        return FALSE;
    }
    // The paint always covers the whole client area and never erases: the program draws every
    // pixel of it and its class has no background brush.
    w->invalid = true;
    bool wake = false;
    WakeOthers(*w, wake);
    lock.unlock();
    if (wake) {
        host::WakeDisplayWaiter();
    }
    return TRUE;
}

BOOL WINAPI RedrawWindow(HWND handle, const RECT* rect, HRGN /*region*/, UINT flags)
{
    char detail[16];
    std::snprintf(detail, sizeof detail, "0x%04X", flags);
    host::LogCall("RedrawWindow", detail);
    if ((flags & ~static_cast<UINT>(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW)) != 0) {
        PORTABLE_UNSUPPORTED("redraw flags");
    }
    if ((flags & RDW_INVALIDATE) != 0 && InvalidateRect(handle, rect, FALSE) == FALSE) {
        return FALSE;
    }
    if ((flags & RDW_UPDATENOW) != 0) {
        UpdateWindow(handle);
    }
    return TRUE;
}

HDC WINAPI BeginPaint(HWND handle, PAINTSTRUCT* paint)
{
    host::LogCall("BeginPaint");
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr || paint == nullptr || !OnThisThread(*w)) {
        return nullptr;
    }
    w->invalid = false;
    HDC dc = w->ownDc;
    std::shared_ptr<Surface> surface = w->surface;
    int width = w->clientWidth;
    int height = w->clientHeight;
    lock.unlock();
    if (dc == nullptr) {
        dc = CreateWindowDc(surface, true);
    }
    *paint = PAINTSTRUCT{};
    paint->hdc = dc;
    paint->fErase = FALSE;
    paint->rcPaint = RECT{0, 0, width, height};
    return dc;
}

BOOL WINAPI EndPaint(HWND handle, const PAINTSTRUCT* paint)
{
    host::LogCall("EndPaint");
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr || paint == nullptr) {
        return FALSE;
    }
    if (paint->hdc != w->ownDc) {
        DeleteWindowDc(paint->hdc);
    }
    // What was drawn during the paint reaches the screen now.
    Present(w);
    return TRUE;
}

HDC WINAPI GetDC(HWND handle)
{
    host::LogCall("GetDC");
    if (handle == nullptr) {
        return CreateScreenDc();
    }
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr) {
        return nullptr;
    }
    if (w->ownDc != nullptr) {
        return w->ownDc;
    }
    std::shared_ptr<Surface> surface = w->surface;
    lock.unlock();
    return CreateWindowDc(surface, true);
}

int WINAPI ReleaseDC(HWND handle, HDC dc)
{
    host::LogCall("ReleaseDC");
    if (handle == nullptr) {
        return DeleteScreenDc(dc) ? 1 : 0;
    }
    Lock lock(S().mutex);
    std::shared_ptr<WindowRecord> w = Find(handle);
    if (w == nullptr) {
        return 0;
    }
    if (dc != w->ownDc && !DeleteWindowDc(dc)) {
        return 0;
    }
    Present(w);
    return 1;
}
