// The program's paint at zoom 4 through the portable layer: the 200 x 200 chart stretched to
// 800 x 800 in its two pieces, the 100-pixel band filled and the eight panel lines drawn, into
// an 800 x 900 image standing for the window's client area.

#include <benchmark/benchmark.h>

#include <cstdio>

#include "platform/windowing.h"

namespace {

struct Image {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
};

Image MakeImage(HDC screen, int width, int height)
{
    Image image{CreateCompatibleDC(screen), CreateCompatibleBitmap(screen, width, height), nullptr};
    image.previous = SelectObject(image.dc, image.bitmap);
    return image;
}

void FreeImage(const Image& image)
{
    SelectObject(image.dc, image.previous);
    DeleteDC(image.dc);
    DeleteObject(image.bitmap);
}

void PaintAtZoomFour(benchmark::State& state)
{
    HDC screen = GetDC(nullptr);
    Image chart = MakeImage(screen, 200, 200);
    Image client = MakeImage(screen, 800, 900);
    ReleaseDC(nullptr, screen);
    for (int x = 0; x < 200; ++x) {
        for (int y = 10; y < 200; y += 12) {
            SetPixel(chart.dc, x, y, 0x008000);
        }
        SetPixel(chart.dc, x, 94, 0x0000FF);
        SetPixel(chart.dc, x, 24, 0xFF0000);
    }
    HFONT font = CreateFontA(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0,
                             "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E");
    const int zoom = 4;
    const int a = 73;
    char line[64];
    for (auto _ : state) {
        HDC dc = client.dc;
        SetTextColor(dc, 0xFFFFFF);
        SetBkColor(dc, 0x000000);
        SetBkMode(dc, TRANSPARENT);
        StretchBlt(dc, 0, 100, (200 - a) * zoom, 200 * zoom, chart.dc, a, 0, 200 - a, 200, SRCCOPY);
        StretchBlt(dc, (200 - a) * zoom, 100, a * zoom, 200 * zoom, chart.dc, 0, 0, a, 200,
                   SRCCOPY);
        RECT band{0, 0, 800, 100};
        FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        HGDIOBJ oldFont = SelectObject(dc, font);
        const char* formats[] = {"%8.2f Hz",
                                 "%8.2f dB",
                                 "Min. Count : 1 ticks",
                                 "Min. Duration : 0.0500 sec",
                                 "+ Trigger : 0.7500",
                                 "- Trigger : 0.7500",
                                 "Valid Duration : 1.0000 sec",
                                 "Display Interval : 100 ms"};
        for (int i = 0; i < 8; ++i) {
            int n = std::snprintf(line, sizeof line, formats[i], 440.0);
            TextOutA(dc, 2, 2 + 12 * i, line, n);
        }
        SelectObject(dc, oldFont);
        benchmark::ClobberMemory();
    }
    DeleteObject(font);
    FreeImage(chart);
    FreeImage(client);
}

BENCHMARK(PaintAtZoomFour)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
