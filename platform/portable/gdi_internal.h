#pragma once

// Drawing objects of the portable layer, shared by the object, raster and text services and by
// the window service (which draws into window surfaces through the same kind of DC).

#include <cassert>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/windowing.h"

namespace portable {

// 32-bit pixels, 0x00RRGGBB, top row first.
struct Surface {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

std::shared_ptr<Surface> MakeSurface(int width, int height);

inline uint32_t ToPixel(COLORREF c)
{
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

inline COLORREF ToColorRef(uint32_t pixel)
{
    return ((pixel & 0xFFu) << 16) | (pixel & 0xFF00u) | ((pixel >> 16) & 0xFFu);
}

enum class GdiKind { Dc, Bitmap, Pen, Brush, Font };

struct GdiObject {
    explicit GdiObject(GdiKind k) : kind(k) {}
    virtual ~GdiObject() = default;
    GdiKind kind;
    bool stock = false;
    // Counted in the live-object figure (everything the program creates).
    bool counted = true;
    // Number of DCs that have this object selected.
    int selections = 0;
};

struct GdiBitmap : GdiObject {
    GdiBitmap() : GdiObject(GdiKind::Bitmap) {}
    std::shared_ptr<Surface> surface;
};

struct GdiPen : GdiObject {
    GdiPen() : GdiObject(GdiKind::Pen) {}
    COLORREF color = 0;
    bool null = false;
};

struct GdiBrush : GdiObject {
    GdiBrush() : GdiObject(GdiKind::Brush) {}
    COLORREF color = 0;
    bool null = false;
};

struct FontFace;

struct GdiFont : GdiObject {
    GdiFont();
    ~GdiFont() override;
    std::unique_ptr<FontFace> face;
};

enum class DcKind { Screen, Memory, Window };

struct GdiDc : GdiObject {
    GdiDc() : GdiObject(GdiKind::Dc) {}
    DcKind dcKind = DcKind::Memory;
    // Window DCs draw into the window's surface; memory DCs into their selected bitmap.
    std::shared_ptr<Surface> windowSurface;
    GdiBitmap* bitmap = nullptr;
    GdiPen* pen = nullptr;
    GdiBrush* brush = nullptr;
    GdiFont* font = nullptr;
    COLORREF textColor = 0x000000;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
    POINT position{0, 0};
};

// One lock for every drawing object: the program draws on one thread, but tests read counts
// from another and objects must never be half-made when looked at.
std::mutex& GdiMutex();

// Lookups under GdiMutex(); null when the handle is not a live object of that kind.
GdiObject* FindObject(HGDIOBJ handle);
GdiDc* FindDc(HDC dc);
// Makes a newly created object live (and counted, unless marked otherwise).
void RegisterObject(GdiObject* object);

// The pixels a DC draws into; null for the screen DC, which keeps none.
Surface* DcSurface(GdiDc* dc);

// The default font of a new DC (a stock object), made on first use.
GdiFont* DefaultFont();

// A DC on a window's client surface. `counted` DCs show in the live-object figure.
HDC CreateWindowDc(std::shared_ptr<Surface> surface, bool counted);
// Points an existing window DC at a new surface (after a resize).
void RetargetWindowDc(HDC dc, std::shared_ptr<Surface> surface);
bool DeleteWindowDc(HDC dc);
// The screen DC: a reference for compatible objects; it keeps no pixels of its own.
HDC CreateScreenDc();
bool DeleteScreenDc(HDC dc);

// Drawing objects made by the program and not yet released (stock objects excluded).
int LiveDrawingObjects();

// Text service, called with GdiMutex() held.
bool MakeFontFace(GdiFont* font, int height, int weight, const char* faceName);
void DrawTextRun(GdiDc* dc, Surface* surface, int x, int y, const char* text, int length);

} // namespace portable

// Fails loudly in debug builds when the program asks for something the layer does not do.
#define PORTABLE_UNSUPPORTED(what) assert(!"unsupported: " what)
