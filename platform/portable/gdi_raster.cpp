// Raster operations: lines, single pixels, stretched copies and filled rectangles.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/portable/gdi_internal.h"
#include "platform/portable/host.h"

using namespace portable;

namespace {

void PutPixel(Surface* surface, int x, int y, uint32_t pixel)
{
    if (x >= 0 && y >= 0 && x < surface->width && y < surface->height) {
        surface->pixels[static_cast<size_t>(y) * static_cast<size_t>(surface->width) +
                        static_cast<size_t>(x)] = pixel;
    }
}

// Pixel columns (or rows) of a stretched copy: for each target position inside the target
// surface, the source position it takes, or -1 where that falls outside the source. Whole-pixel
// replication: target t takes source s + floor(t * sourceExtent / extent).
void MapAxis(int start, int extent, int limit, int sourceStart, int sourceExtent, int sourceLimit,
             std::vector<int>& map, int& first)
{
    int begin = std::max(start, 0);
    int end = std::min(start + extent, limit);
    first = begin;
    map.clear();
    for (int t = begin; t < end; ++t) {
        long long offset = static_cast<long long>(t - start) * sourceExtent / extent;
        int s = sourceStart + static_cast<int>(offset);
        map.push_back(s >= 0 && s < sourceLimit ? s : -1);
    }
}

} // namespace

BOOL WINAPI MoveToEx(HDC handle, int x, int y, POINT* previous)
{
    host::LogCall("MoveToEx");
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr) {
        return FALSE;
    }
    if (previous != nullptr) {
        *previous = dc->position;
    }
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL WINAPI LineTo(HDC handle, int x, int y)
{
    host::LogCall("LineTo");
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr) {
        return FALSE;
    }
    int x0 = dc->position.x;
    int y0 = dc->position.y;
    dc->position = POINT{x, y};
    Surface* surface = DcSurface(dc);
    if (surface == nullptr || dc->pen == nullptr || dc->pen->null) {
        return TRUE;
    }
    uint32_t pixel = ToPixel(dc->pen->color);
    // Bresenham over the major axis; the end point itself is not drawn.
    int dx = std::abs(x - x0);
    int dy = std::abs(y - y0);
    int stepX = x > x0 ? 1 : -1;
    int stepY = y > y0 ? 1 : -1;
    int steps = std::max(dx, dy);
    int error = 0;
    int px = x0;
    int py = y0;
    for (int i = 0; i < steps; ++i) {
        PutPixel(surface, px, py, pixel);
        if (dx >= dy) {
            px += stepX;
            error += 2 * dy;
            if (error > dx) {
                py += stepY;
                error -= 2 * dx;
            }
        } else {
            py += stepY;
            error += 2 * dx;
            if (error > dy) {
                px += stepX;
                error -= 2 * dy;
            }
        }
    }
    return TRUE;
}

COLORREF WINAPI SetPixel(HDC handle, int x, int y, COLORREF color)
{
    char detail[48];
    std::snprintf(detail, sizeof detail, "%d %d %06X", x, y, static_cast<unsigned>(color));
    host::LogCall("SetPixel", detail);
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    Surface* surface = dc != nullptr ? DcSurface(dc) : nullptr;
    if (surface == nullptr || x < 0 || y < 0 || x >= surface->width || y >= surface->height) {
        return CLR_INVALID;
    }
    PutPixel(surface, x, y, ToPixel(color));
    return color & 0xFFFFFFu;
}

COLORREF WINAPI GetPixel(HDC handle, int x, int y)
{
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    Surface* surface = dc != nullptr ? DcSurface(dc) : nullptr;
    if (surface == nullptr || x < 0 || y < 0 || x >= surface->width || y >= surface->height) {
        return CLR_INVALID;
    }
    return ToColorRef(surface->pixels[static_cast<size_t>(y) * static_cast<size_t>(surface->width) +
                                      static_cast<size_t>(x)]);
}

BOOL WINAPI StretchBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX,
                       int sourceY, int sourceWidth, int sourceHeight, DWORD rop)
{
    char detail[96];
    std::snprintf(detail, sizeof detail, "%d %d %d %d <- %d %d %d %d", x, y, width, height, sourceX,
                  sourceY, sourceWidth, sourceHeight);
    host::LogCall("StretchBlt", detail);
    if (rop != SRCCOPY) {
        PORTABLE_UNSUPPORTED("raster operation other than SRCCOPY");
        return FALSE;
    }
    if (width < 0 || height < 0 || sourceWidth < 0 || sourceHeight < 0) {
        PORTABLE_UNSUPPORTED("mirrored stretched copy");
        return FALSE;
    }
    std::lock_guard lock(GdiMutex());
    GdiDc* to = FindDc(target);
    GdiDc* from = FindDc(source);
    if (to == nullptr || from == nullptr) {
        return FALSE;
    }
    if (width == 0 || height == 0 || sourceWidth == 0 || sourceHeight == 0) {
        return TRUE;
    }
    Surface* out = DcSurface(to);
    Surface* in = DcSurface(from);
    if (out == nullptr || in == nullptr) {
        return TRUE;
    }
    thread_local std::vector<int> columns;
    thread_local std::vector<int> rows;
    int firstX = 0;
    int firstY = 0;
    MapAxis(x, width, out->width, sourceX, sourceWidth, in->width, columns, firstX);
    MapAxis(y, height, out->height, sourceY, sourceHeight, in->height, rows, firstY);
    // Copying within one surface reads from a snapshot so overlapping areas come out whole.
    std::vector<uint32_t> snapshot;
    const uint32_t* inPixels = in->pixels.data();
    if (in == out) {
        snapshot = in->pixels;
        inPixels = snapshot.data();
    }
    const auto inStride = static_cast<size_t>(in->width);
    const auto outStride = static_cast<size_t>(out->width);
    // The maps never decrease, so the columns that take a source pixel are one run.
    size_t columnBegin = 0;
    size_t columnEnd = columns.size();
    while (columnBegin < columnEnd && columns[columnBegin] < 0) {
        ++columnBegin;
    }
    while (columnEnd > columnBegin && columns[columnEnd - 1] < 0) {
        --columnEnd;
    }
    const size_t run = columnEnd - columnBegin;
    // An enlarged copy repeats each output row: the repeats are copied from the row above,
    // which is what the live chart spends most of its paint on at zoom 4.
    const uint32_t* previousOut = nullptr;
    int previousRow = -1;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (rows[r] < 0) {
            continue;
        }
        uint32_t* outRow = out->pixels.data() + (static_cast<size_t>(firstY) + r) * outStride +
                           static_cast<size_t>(firstX);
        if (rows[r] == previousRow) {
            std::copy_n(previousOut + columnBegin, run, outRow + columnBegin);
            continue;
        }
        const uint32_t* inRow = inPixels + static_cast<size_t>(rows[r]) * inStride;
        for (size_t c = columnBegin; c < columnEnd; ++c) {
            outRow[c] = inRow[columns[c]];
        }
        previousRow = rows[r];
        previousOut = outRow;
    }
    return TRUE;
}

int WINAPI FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle)
{
    char detail[64];
    if (rect != nullptr) {
        std::snprintf(detail, sizeof detail, "%d %d %d %d", static_cast<int>(rect->left),
                      static_cast<int>(rect->top), static_cast<int>(rect->right),
                      static_cast<int>(rect->bottom));
    } else {
        detail[0] = '\0';
    }
    host::LogCall("FillRect", detail);
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    GdiObject* object = FindObject(brushHandle);
    if (dc == nullptr || rect == nullptr || object == nullptr || object->kind != GdiKind::Brush) {
        return 0;
    }
    auto* brush = static_cast<GdiBrush*>(object);
    Surface* surface = DcSurface(dc);
    if (surface == nullptr || brush->null) {
        return 1;
    }
    int left = std::max(static_cast<int>(rect->left), 0);
    int top = std::max(static_cast<int>(rect->top), 0);
    int right = std::min(static_cast<int>(rect->right), surface->width);
    int bottom = std::min(static_cast<int>(rect->bottom), surface->height);
    uint32_t pixel = ToPixel(brush->color);
    for (int row = top; row < bottom; ++row) {
        uint32_t* line =
            surface->pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(surface->width);
        std::fill(line + left, line + std::max(left, right), pixel);
    }
    return 1;
}
