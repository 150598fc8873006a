// A small window drawn through the SDL host, for the screenshot check in
// win_sdl_screenshot.sh: known fills, a stretched pattern, a line and text, a marker that grows
// with messages sent from another thread, and a resize on the key '2'. It reports on stdout
// what the script waits for, and returns 7 when closed.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/portable/resources.h"
#include "platform/windowing.h"

namespace {

constexpr char kCaption[] = "Tovalisk SDL check";
constexpr int kSends = 5;
const COLORREF kBackground = RGB(0, 0, 128);

HDC pattern;
HBITMAP patternBitmap;
HGDIOBJ patternPrevious;
HFONT font;
std::atomic<int> received{0};
std::thread sender;
int rightDowns = 0;
int rightRepeats = 0;

uint32_t iconPixels[32 * 32];
const IconImage iconImages[] = {{32, 32, iconPixels}};
const IconResource icons[] = {{128, 1, iconImages}};

void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    RECT r{left, top, right, bottom};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

void Create(HWND window)
{
    HDC screen = GetDC(nullptr);
    pattern = CreateCompatibleDC(screen);
    patternBitmap = CreateCompatibleBitmap(screen, 8, 8);
    patternPrevious = SelectObject(pattern, patternBitmap);
    ReleaseDC(nullptr, screen);
    // Red and green checks with a white top-left corner.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            SetPixel(pattern, x, y, (x + y) % 2 == 0 ? RGB(255, 0, 0) : RGB(0, 255, 0));
        }
    }
    SetPixel(pattern, 0, 0, RGB(255, 255, 255));
    font = CreateFontA(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0,
                       "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E");
    // Like the program's timer thread: synchronous sends from elsewhere.
    sender = std::thread([window] {
        for (int i = 0; i < kSends; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            SendMessageA(window, WM_USER, 0, 0);
        }
    });
}

void Paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    Fill(dc, 0, 0, client.right, client.bottom, kBackground);
    Fill(dc, 0, 0, client.right, 20, RGB(0, 0, 0));
    StretchBlt(dc, 10, 30, 32, 32, pattern, 0, 0, 8, 8, SRCCOPY);
    HGDIOBJ oldPen = SelectObject(dc, CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    MoveToEx(dc, 50, 80, nullptr);
    LineTo(dc, 150, 80);
    DeleteObject(SelectObject(dc, oldPen));
    Fill(dc, 100, 100, 100 + 4 * received.load(), 110, RGB(0, 255, 0));
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, font);
    TextOutA(dc, 2, 4, "Tovalisk 0.00", 13);
    SelectObject(dc, oldFont);
    EndPaint(window, &ps);
    std::printf("painted %d %ld %ld\n", received.load(), static_cast<long>(client.right),
                static_cast<long>(client.bottom));
    std::fflush(stdout);
}

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    switch (message) {
    case WM_CREATE:
        Create(window);
        return 0;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_USER:
        ++received;
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_KEYDOWN:
        if (first == '2') {
            RECT outer;
            RECT client;
            GetWindowRect(window, &outer);
            GetClientRect(window, &client);
            MoveWindow(window, outer.left, outer.top, outer.right - outer.left + 160,
                       outer.bottom - outer.top + 120, TRUE);
        } else if (first == VK_RIGHT) {
            ++rightDowns;
            rightRepeats += (second & (1 << 30)) != 0 ? 1 : 0;
        }
        return 0;
    case WM_KEYUP:
        if (first == VK_RIGHT) {
            std::printf("right %d downs %d repeats\n", rightDowns, rightRepeats);
            std::fflush(stdout);
        }
        return 0;
    case WM_DESTROY:
        sender.join();
        SelectObject(pattern, patternPrevious);
        DeleteDC(pattern);
        DeleteObject(patternBitmap);
        DeleteObject(font);
        PostQuitMessage(7);
        return 0;
    default:
        return DefWindowProcA(window, message, first, second);
    }
}

} // namespace

extern "C" const IconResource* tovaliskIconResources(int* count)
{
    *count = 1;
    return icons;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    std::printf("command [%s] show %d\n", commandLine, showCommand);
    for (uint32_t& p : iconPixels) {
        p = 0xFF00FF00u;
    }
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.style = CS_CLASSDC;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(128));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "WinSdlShot";
    if (RegisterClassExA(&wc) == 0) {
        return 1;
    }
    HWND window = CreateWindowExA(0, "WinSdlShot", kCaption,
                                  WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 160, 120, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 2;
    }
    RECT outer;
    RECT client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    std::printf("outer %ld %ld client %ld %ld\n", static_cast<long>(outer.right - outer.left),
                static_cast<long>(outer.bottom - outer.top), static_cast<long>(client.right),
                static_cast<long>(client.bottom));
    std::fflush(stdout);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    MSG msg;
    for (;;) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!GetMessageA(&msg, nullptr, 0, 0)) {
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            WaitMessage();
        }
    }
    return static_cast<int>(msg.wParam);
}
