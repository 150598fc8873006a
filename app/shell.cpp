#include "app/shell.h"

ShellState shell;

void SetClientSize(int width, int height)
{
    HWND window = shell.mainWindow.load();
    if (window == nullptr) {
        return;
    }
    RECT outer;
    RECT client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    if (client.right == width && client.bottom == height) {
        return;
    }
    MoveWindow(window, outer.left, outer.top, outer.right - outer.left + (width - client.right),
               outer.bottom - outer.top + (height - client.bottom), TRUE);
}
