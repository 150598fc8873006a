#pragma once

// Window, message and drawing services. On Windows these are the system's own; elsewhere the
// portable layer provides the part of them that Tovalisk uses, with the same names, values and
// behaviour the program relies on.

#ifdef _WIN32

#include <windows.h>

#else

#include "platform/portable/win_basics.h"

// Handles are distinct pointer types, so mixing them up does not compile, as on Windows.
struct HWND__;
struct HINSTANCE__;
struct HDC__;
struct HBITMAP__;
struct HPEN__;
struct HBRUSH__;
struct HFONT__;
struct HICON__;
struct HRGN__;
struct HMENU__;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HDC = HDC__*;
using HBITMAP = HBITMAP__*;
using HPEN = HPEN__*;
using HBRUSH = HBRUSH__*;
using HFONT = HFONT__*;
using HICON = HICON__*;
using HCURSOR = HICON;
using HRGN = HRGN__*;
using HMENU = HMENU__*;
using HGDIOBJ = void*;

using SHORT = int16_t;
using ATOM = WORD;
using COLORREF = DWORD;
using ULONG_PTR = uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using LPVOID = void*;

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};

using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
};

// What WM_CREATE's second parameter points to.
struct CREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};

using LPRECT = RECT*;
using LPPOINT = POINT*;
using LPMSG = MSG*;
using LPPAINTSTRUCT = PAINTSTRUCT*;

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IDC_ARROW MAKEINTRESOURCEA(32512)

#define RGB(r, g, b)                                                                               \
    (static_cast<COLORREF>(static_cast<BYTE>(r) |                                                  \
                           (static_cast<DWORD>(static_cast<BYTE>(g)) << 8) |                       \
                           (static_cast<DWORD>(static_cast<BYTE>(b)) << 16)))
#define GetRValue(c) (static_cast<BYTE>(c))
#define GetGValue(c) (static_cast<BYTE>((c) >> 8))
#define GetBValue(c) (static_cast<BYTE>((c) >> 16))
#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))

// Messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_USER 0x0400

// Window and class styles.
#define WS_OVERLAPPED 0x00000000
#define WS_MAXIMIZEBOX 0x00010000
#define WS_MINIMIZEBOX 0x00020000
#define WS_THICKFRAME 0x00040000
#define WS_SYSMENU 0x00080000
#define WS_CAPTION 0x00C00000
#define WS_VISIBLE 0x10000000
#define WS_OVERLAPPEDWINDOW                                                                        \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_OWNDC 0x0020
#define CS_CLASSDC 0x0040
#define CW_USEDEFAULT (static_cast<int>(0x80000000))

// Show commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define RDW_INVALIDATE 0x0001
#define RDW_ERASE 0x0004
#define RDW_UPDATENOW 0x0100

// Virtual keys; the letters and main-keyboard digits are their ASCII capitals and digits.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_NUMPAD0 0x60
#define VK_F1 0x70

// Stock objects.
#define WHITE_BRUSH 0
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13

#define PS_SOLID 0
#define PS_NULL 5

#define SRCCOPY 0x00CC0020UL
#define CLR_INVALID 0xFFFFFFFFUL

#define TRANSPARENT 1
#define OPAQUE 2

// Font parameters.
#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define SHIFTJIS_CHARSET 128
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define NONANTIALIASED_QUALITY 3
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1

// The program's entry point; the portable layer's main() calls it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// The program's own instance (for a null name), as WinMain receives it.
HMODULE WINAPI GetModuleHandleA(LPCSTR name);

// Classes and windows.
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass);
BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR caption, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI ShowWindow(HWND window, int showCommand);
BOOL WINAPI UpdateWindow(HWND window);
BOOL WINAPI GetWindowRect(HWND window, RECT* rect);
BOOL WINAPI GetClientRect(HWND window, RECT* rect);
BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);

// Messages.
BOOL WINAPI PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT removeFlags);
BOOL WINAPI GetMessageA(MSG* msg, HWND window, UINT first, UINT last);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
BOOL WINAPI WaitMessage();
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM first, LPARAM second);
void WINAPI PostQuitMessage(int exitCode);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM first, LPARAM second);
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM first, LPARAM second);
SHORT WINAPI GetKeyState(int virtualKey);

// Painting.
BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL WINAPI RedrawWindow(HWND window, const RECT* rect, HRGN region, UINT flags);
HDC WINAPI BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC WINAPI GetDC(HWND window);
int WINAPI ReleaseDC(HWND window, HDC dc);

// Drawing objects.
HDC WINAPI CreateCompatibleDC(HDC dc);
HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height);
HPEN WINAPI CreatePen(int style, int width, COLORREF color);
HBRUSH WINAPI CreateSolidBrush(COLORREF color);
HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation, int weight,
                         DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                         DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                         DWORD pitchAndFamily, LPCSTR faceName);
HGDIOBJ WINAPI GetStockObject(int which);
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
BOOL WINAPI DeleteDC(HDC dc);
BOOL WINAPI DeleteObject(HGDIOBJ object);

// Raster operations.
BOOL WINAPI MoveToEx(HDC dc, int x, int y, POINT* previous);
BOOL WINAPI LineTo(HDC dc, int x, int y);
COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF color);
COLORREF WINAPI GetPixel(HDC dc, int x, int y);
BOOL WINAPI StretchBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX,
                       int sourceY, int sourceWidth, int sourceHeight, DWORD rop);
int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);

// Text.
COLORREF WINAPI SetTextColor(HDC dc, COLORREF color);
COLORREF WINAPI SetBkColor(HDC dc, COLORREF color);
int WINAPI SetBkMode(HDC dc, int mode);
BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int length);

#endif
