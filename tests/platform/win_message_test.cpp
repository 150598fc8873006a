// Windows, messages, painting and keys, written against the Win32 calls so the same tests can
// run against the system's own window services.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/windowing.h"
#include "tests/platform/win_harness.h"

namespace {

constexpr char kClass[] = "WinMessageTest";
constexpr char kCaption[] = "Message test";
constexpr COLORREF kPaintColour = RGB(0, 0, 255);

struct Seen {
    UINT message;
    WPARAM first;
    LPARAM second;
    std::thread::id thread;
};

std::mutex seenMutex;
std::vector<Seen> seen;
// Per-test extra handling; returns true when it handled the message itself.
std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> extra;
std::atomic<int> paints{0};

std::vector<Seen> SeenMessages(UINT message)
{
    std::lock_guard lock(seenMutex);
    std::vector<Seen> out;
    for (const Seen& s : seen) {
        if (s.message == message) {
            out.push_back(s);
        }
    }
    return out;
}

LRESULT CALLBACK TestProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    {
        std::lock_guard lock(seenMutex);
        seen.push_back(Seen{message, first, second, std::this_thread::get_id()});
    }
    LRESULT result = 0;
    if (extra && extra(window, message, first, second, &result)) {
        return result;
    }
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        HBRUSH brush = CreateSolidBrush(kPaintColour);
        FillRect(dc, &ps.rcPaint, brush);
        DeleteObject(brush);
        EndPaint(window, &ps);
        ++paints;
        return 0;
    }
    case WM_USER:
        // Doubles its parameter, so senders can tell the answer came from here.
        return static_cast<LRESULT>(first * 2);
    default:
        return DefWindowProcA(window, message, first, second);
    }
}

ATOM Register(UINT style = 0)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.style = style;
    wc.lpfnWndProc = TestProc;
    wc.hInstance = nullptr;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kClass;
    return RegisterClassExA(&wc);
}

HWND Create(int width = 200, int height = 300)
{
    return CreateWindowExA(0, kClass, kCaption, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                           CW_USEDEFAULT, CW_USEDEFAULT, width, height, nullptr, nullptr, nullptr,
                           nullptr);
}

RECT ClientOf(HWND window)
{
    RECT r{};
    GetClientRect(window, &r);
    return r;
}

// Handles everything that is waiting, without blocking.
void Drain()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void RunLoop()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

class Messages : public ::testing::Test {
  protected:
    void SetUp() override
    {
        harness::Reset(5, 20);
        {
            std::lock_guard lock(seenMutex);
            seen.clear();
        }
        extra = nullptr;
        paints = 0;
        startObjects = harness::LiveDrawingObjects();
        ASSERT_NE(Register(), 0);
    }
    void TearDown() override
    {
        extra = nullptr;
        UnregisterClassA(kClass, nullptr);
        EXPECT_EQ(harness::LiveDrawingObjects(), startObjects);
    }
    int startObjects = 0;
};

TEST_F(Messages, CreationDeliversWmCreateBeforeItReturns)
{
    HWND during = nullptr;
    RECT client{};
    extra = [&](HWND w, UINT m, WPARAM, LPARAM second, LRESULT* r) {
        if (m != WM_CREATE) {
            return false;
        }
        during = w;
        GetClientRect(w, &client);
        EXPECT_STREQ(reinterpret_cast<CREATESTRUCTA*>(second)->lpszName, kCaption);
        *r = 0;
        return true;
    };
    HWND window = Create();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(during, window);
    EXPECT_GT(client.right, 0);
    EXPECT_EQ(client.right, ClientOf(window).right);
    EXPECT_EQ(client.bottom, ClientOf(window).bottom);
    EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(Messages, FailedCreationDestroysTheWindowAndReturnsNull)
{
    extra = [](HWND, UINT m, WPARAM, LPARAM, LRESULT* r) {
        *r = -1;
        return m == WM_CREATE;
    };
    EXPECT_EQ(Create(), nullptr);
}

TEST_F(Messages, ClassRegistrationRefusesDuplicatesAndBadSizes)
{
    EXPECT_EQ(Register(), 0) << "already registered";
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(WNDCLASSEXA) - 4;
    wc.lpfnWndProc = TestProc;
    wc.lpszClassName = "Other";
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", WS_CAPTION, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    // Class names do not care about case.
    HWND window = CreateWindowExA(0, "WINMESSAGETEST", "x", WS_CAPTION, 0, 0, 50, 50, nullptr,
                                  nullptr, nullptr, nullptr);
    EXPECT_NE(window, nullptr);
    EXPECT_FALSE(UnregisterClassA(kClass, nullptr)) << "still in use";
    DestroyWindow(window);
}

TEST_F(Messages, OuterRectangleIncludesTheFrameAndMoveWindowSizesIt)
{
    HWND window = Create(200, 300);
    RECT outer{};
    RECT client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    EXPECT_EQ(outer.right - outer.left, 200);
    EXPECT_EQ(outer.bottom - outer.top, 300);
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    const int frameWidth = 200 - client.right;
    const int frameHeight = 300 - client.bottom;
    int simulatedWidth = 0;
    int simulatedHeight = 0;
    if (harness::SimulatedFrame(&simulatedWidth, &simulatedHeight)) {
        EXPECT_EQ(frameWidth, simulatedWidth);
        EXPECT_EQ(frameHeight, simulatedHeight);
    }

    // Sizing the client area to 400 x 500 the way the program does.
    MoveWindow(window, outer.left, outer.top, (outer.right - outer.left) + (400 - client.right),
               (outer.bottom - outer.top) + (500 - client.bottom), TRUE);
    RECT moved{};
    GetWindowRect(window, &moved);
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 500);
    EXPECT_EQ(moved.left, outer.left);
    EXPECT_EQ(moved.top, outer.top);
    EXPECT_EQ(moved.right - moved.left, 400 + frameWidth);
    EXPECT_EQ(moved.bottom - moved.top, 500 + frameHeight);

    MoveWindow(window, 30, 40, 100, 100, FALSE);
    GetWindowRect(window, &moved);
    EXPECT_EQ(moved.left, 30);
    EXPECT_EQ(moved.top, 40);
    DestroyWindow(window);
}

TEST_F(Messages, ShowThenUpdatePaintsAtOnceAndShowsThePixelsAfterEndPaint)
{
    HWND window = Create(40, 50);
    Drain();
    EXPECT_EQ(paints, 0) << "hidden windows are not painted";
    ShowWindow(window, SW_SHOWDEFAULT);
    int width = 0;
    int height = 0;
    extra = [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT*) {
        if (m == WM_PAINT) {
            // Nothing of this paint is on the screen before EndPaint.
            auto before = harness::ShownPixels(kCaption, &width, &height);
            EXPECT_TRUE(before.empty() || before[0] != kPaintColour);
            EXPECT_NE(w, nullptr);
        }
        return false;
    };
    UpdateWindow(window);
    EXPECT_EQ(paints, 1);
    auto shown = harness::ShownPixels(kCaption, &width, &height);
    ASSERT_EQ(width, ClientOf(window).right);
    ASSERT_EQ(height, ClientOf(window).bottom);
    for (COLORREF c : shown) {
        ASSERT_EQ(c, kPaintColour);
    }
    Drain();
    EXPECT_EQ(paints, 1) << "the paint validated the window";
    DestroyWindow(window);
}

TEST_F(Messages, InvalidationsBeforeAPaintGiveOneWholeClientPaintWithoutErasing)
{
    HWND window = Create(60, 70);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    RECT painted{};
    BOOL erase = TRUE;
    extra = [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT*) {
        if (m != WM_PAINT) {
            return false;
        }
        PAINTSTRUCT ps;
        BeginPaint(w, &ps);
        painted = ps.rcPaint;
        erase = ps.fErase;
        EndPaint(w, &ps);
        ++paints;
        return true;
    };
    paints = 0;
    RECT corner{0, 0, 2, 2};
    InvalidateRect(window, nullptr, FALSE);
    InvalidateRect(window, &corner, FALSE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE);
    EXPECT_EQ(paints, 0) << "painting waits for the message loop";
    Drain();
    EXPECT_EQ(paints, 1);
    EXPECT_EQ(painted.left, 0);
    EXPECT_EQ(painted.top, 0);
    EXPECT_EQ(painted.right, ClientOf(window).right);
    EXPECT_EQ(painted.bottom, ClientOf(window).bottom);
    EXPECT_FALSE(erase);

    RECT outer{};
    GetWindowRect(window, &outer);
    MoveWindow(window, outer.left, outer.top, 80, 90, FALSE);
    Drain();
    EXPECT_EQ(paints, 1) << "no repaint asked";
    MoveWindow(window, outer.left, outer.top, 100, 110, TRUE);
    Drain();
    EXPECT_EQ(paints, 2);
    EXPECT_EQ(painted.right, ClientOf(window).right);
    EXPECT_EQ(painted.bottom, ClientOf(window).bottom);
    DestroyWindow(window);
}

TEST_F(Messages, ClassDcKeepsItsSettingsBetweenPaints)
{
    const char kOwn[] = "WinMessageOwnDc";
    for (UINT style : {0u, static_cast<UINT>(CS_CLASSDC)}) {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(WNDCLASSEXA);
        wc.style = style;
        wc.lpfnWndProc = TestProc;
        wc.lpszClassName = kOwn;
        harness::Reset();
        ASSERT_NE(RegisterClassExA(&wc), 0);
        HWND window = CreateWindowExA(0, kOwn, kOwn, WS_CAPTION, 0, 0, 50, 50, nullptr, nullptr,
                                      nullptr, nullptr);
        std::vector<COLORREF> previous;
        extra = [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT*) {
            if (m != WM_PAINT) {
                return false;
            }
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(w, &ps);
            previous.push_back(SetTextColor(dc, RGB(255, 0, 0)));
            EndPaint(w, &ps);
            return true;
        };
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
        ASSERT_EQ(previous.size(), 2u);
        EXPECT_EQ(previous[1], style == CS_CLASSDC ? RGB(255, 0, 0) : RGB(0, 0, 0));
        DestroyWindow(window);
        EXPECT_TRUE(UnregisterClassA(kOwn, nullptr));
    }
}

TEST_F(Messages, QuitComesAfterPostedMessagesAndEndsGetMessage)
{
    HWND window = Create();
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostQuitMessage(3);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT)) << "peeking leaves the quit in place";
    }
    EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    DestroyWindow(window);
}

TEST_F(Messages, CloseRequestReachesDefWindowProcWhichDestroysTheWindow)
{
    extra = [](HWND, UINT m, WPARAM, LPARAM, LRESULT* r) {
        if (m == WM_DESTROY) {
            PostQuitMessage(0);
            *r = 0;
            return true;
        }
        return false;
    };
    HWND window = Create();
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    harness::RequestClose();
    RunLoop();
    EXPECT_FALSE(IsWindow(window));
    std::lock_guard lock(seenMutex);
    std::vector<UINT> order;
    for (const Seen& s : seen) {
        if (s.message == WM_CLOSE || s.message == WM_DESTROY) {
            order.push_back(s.message);
        }
    }
    EXPECT_EQ(order, (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
}

TEST_F(Messages, KeysArriveAsKeyDownsWithAutoRepeatAndKeyStateFollowsRetrieval)
{
    HWND window = Create();
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    std::vector<bool> aHeldAtRight;
    extra = [&](HWND, UINT m, WPARAM first, LPARAM, LRESULT*) {
        if (m == WM_KEYDOWN && first == VK_RIGHT) {
            aHeldAtRight.push_back((GetKeyState('A') & 0x8000) != 0);
        }
        return false;
    };
    harness::KeyDown('A');
    EXPECT_EQ(GetKeyState('A') & 0x8000, 0) << "the state changes as the message is retrieved";
    harness::KeyDown(VK_RIGHT);
    harness::KeyDown(VK_RIGHT, true);
    harness::KeyDown(VK_RIGHT, true);
    harness::KeyUp(VK_RIGHT);
    harness::KeyUp('A');
    Drain();
    EXPECT_EQ(aHeldAtRight, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(GetKeyState('A') & 0x8000, 0);
    EXPECT_EQ(GetKeyState(VK_RIGHT) & 0x8000, 0);

    auto downs = SeenMessages(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), 4u);
    EXPECT_EQ(downs[0].first, static_cast<WPARAM>('A'));
    EXPECT_EQ(downs[1].second & (1 << 30), 0) << "first press";
    EXPECT_NE(downs[2].second & (1 << 30), 0) << "auto-repeat";
    EXPECT_EQ(SeenMessages(WM_KEYUP).size(), 2u);

    // Every key the program handles comes through with its virtual-key code.
    std::vector<unsigned> keys{VK_TAB, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN};
    for (unsigned k = '0'; k <= '9'; ++k) {
        keys.push_back(k);
    }
    for (unsigned k = 'A'; k <= 'Z'; ++k) {
        keys.push_back(k);
    }
    {
        std::lock_guard lock(seenMutex);
        seen.clear();
    }
    for (unsigned k : keys) {
        harness::KeyDown(k);
        harness::KeyUp(k);
    }
    Drain();
    downs = SeenMessages(WM_KEYDOWN);
    ASSERT_EQ(downs.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(downs[i].first, keys[i]);
    }
    DestroyWindow(window);
}

// A window living on a thread of its own, as the program's window thread.
struct WindowThread {
    std::promise<HWND> created;
    std::promise<void> go;
    std::thread thread;
    HWND window = nullptr;

    // `body` runs on the thread after the window exists and the test said go.
    explicit WindowThread(std::function<void(HWND)> body)
    {
        std::future<void> gate = go.get_future();
        thread = std::thread([this, body, gate = std::move(gate)]() mutable {
            HWND w = Create();
            created.set_value(w);
            gate.wait();
            body(w);
        });
        window = created.get_future().get();
    }
    void Go()
    {
        go.set_value();
    }
    void Join()
    {
        thread.join();
    }
};

// A sender on a third thread, like the program's timer thread.
struct Sender {
    std::atomic<bool> returned{false};
    LRESULT result = -1;
    std::thread thread;

    Sender(HWND window, UINT message, WPARAM first)
        : thread([this, window, message, first] {
              result = SendMessageA(window, message, first, 0);
              returned = true;
          })
    {
    }
};

void LetItBlock()
{
    // Long enough for the sender to reach its wait; the checks below hold whatever the timing.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST_F(Messages, SentMessagesRunOnTheWindowThreadOnlyWhileItRetrievesOrWaits)
{
    BOOL peeked = TRUE;
    WindowThread w([&](HWND window) {
        MSG msg;
        peeked = PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        RunLoop();
        DestroyWindow(window);
    });
    extra = [](HWND, UINT m, WPARAM, LPARAM, LRESULT* r) {
        if (m == WM_USER + 1) {
            PostQuitMessage(0);
            *r = 1;
            return true;
        }
        return false;
    };

    Sender early(w.window, WM_USER, 5);
    LetItBlock();
    EXPECT_FALSE(early.returned) << "the window thread is not retrieving yet";
    EXPECT_TRUE(SeenMessages(WM_USER).empty());
    w.Go();
    early.thread.join();
    EXPECT_EQ(early.result, 10);
    auto handled = SeenMessages(WM_USER);
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0].thread, w.thread.get_id());

    // Inside GetMessageA, which goes on waiting afterwards.
    harness::WaitIdle();
    EXPECT_EQ(SendMessageA(w.window, WM_USER, 7, 0), 14);
    EXPECT_EQ(SendMessageA(w.window, WM_USER + 1, 0, 0), 1);
    w.Join();
    EXPECT_FALSE(peeked) << "a sent message is not a queued one";
}

TEST_F(Messages, WaitMessageHandlesSentMessagesAndReturnsForThePaintTheyCause)
{
    std::atomic<bool> invalidated{false};
    std::atomic<bool> paintedAfter{false};
    WindowThread w([&](HWND window) {
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        // The program's loop: wait, then take what came. It ends at the paint the send caused.
        while (!paintedAfter) {
            WaitMessage();
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_PAINT && invalidated) {
                    paintedAfter = true;
                }
                DispatchMessageA(&msg);
            }
        }
        DestroyWindow(window);
    });
    extra = [&](HWND window, UINT m, WPARAM, LPARAM, LRESULT* r) {
        if (m == WM_USER + 2) {
            InvalidateRect(window, nullptr, FALSE);
            invalidated = true;
            *r = 0;
            return true;
        }
        return false;
    };
    w.Go();
    harness::WaitIdle();
    EXPECT_EQ(SendMessageA(w.window, WM_USER, 1, 0), 2);
    SendMessageA(w.window, WM_USER + 2, 0, 0);
    w.Join();
    EXPECT_TRUE(paintedAfter);
    EXPECT_EQ(paints, 2);
}

TEST_F(Messages, SendToADestroyedWindowReturnsZeroAtOnce)
{
    HWND window = Create();
    DestroyWindow(window);
    EXPECT_EQ(SendMessageA(window, WM_USER, 4, 0), 0);
    LRESULT fromThread = -1;
    std::thread([&] { fromThread = SendMessageA(window, WM_USER, 4, 0); }).join();
    EXPECT_EQ(fromThread, 0);
    EXPECT_TRUE(SeenMessages(WM_USER).empty());
}

#ifndef _WIN32
// A promise of this layer that the system does not make: there, a send stays pending while the
// window thread is busy destroying the window, and waiting for the sender would deadlock.
TEST_F(Messages, SendBlockedWhileTheWindowIsDestroyedIsReleasedWithZero)
{
    // As at shut-down: the window thread destroys the window while the timer thread is blocked
    // sending to it, and stopping the timer waits for that very send to finish.
    std::thread* timer = nullptr;
    extra = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT*) {
        if (m == WM_DESTROY && timer != nullptr) {
            timer->join();
        }
        return false;
    };
    WindowThread w([](HWND window) { DestroyWindow(window); });
    Sender tick(w.window, WM_USER, 3);
    timer = &tick.thread;
    LetItBlock();
    w.Go();
    w.Join();
    EXPECT_TRUE(tick.returned);
    EXPECT_EQ(tick.result, 0);
    EXPECT_TRUE(SeenMessages(WM_USER).empty());
}
#endif

#ifndef _WIN32
// Also ours alone: the system keeps such a send waiting until the thread retrieves again.
TEST_F(Messages, SendAfterTheWindowThreadLeftItsLoopReturnsZero)
{
    std::promise<void> left;
    std::promise<void> finish;
    WindowThread w([&](HWND window) {
        PostQuitMessage(0);
        RunLoop();
        left.set_value();
        finish.get_future().wait();
        DestroyWindow(window);
    });
    w.Go();
    left.get_future().wait();
    EXPECT_EQ(SendMessageA(w.window, WM_USER, 9, 0), 0);
    EXPECT_TRUE(SeenMessages(WM_USER).empty());
    finish.set_value();
    w.Join();
}
#endif

TEST_F(Messages, WindowsOfAnEndedThreadAreGoneAndSendsToThemReturnZero)
{
    WindowThread w([](HWND) {});
    w.Go();
    w.Join();
    EXPECT_FALSE(IsWindow(w.window));
    EXPECT_EQ(SendMessageA(w.window, WM_USER, 9, 0), 0);
}

} // namespace
