// Drawing objects: DCs, bitmaps, pens, brushes, stock objects, selection and release.

#include <atomic>
#include <cstdio>
#include <unordered_set>

#include "platform/portable/gdi_internal.h"
#include "platform/portable/host.h"

namespace portable {
namespace {

std::unordered_set<GdiObject*>& Live()
{
    static std::unordered_set<GdiObject*> live;
    return live;
}

std::atomic<int> liveCounted{0};

template <typename T> T* Stock(T* object)
{
    object->stock = true;
    object->counted = false;
    Live().insert(object);
    return object;
}

struct StockObjects {
    GdiPen* blackPen;
    GdiPen* whitePen;
    GdiPen* nullPen;
    GdiBrush* blackBrush;
    GdiBrush* whiteBrush;
    GdiBrush* nullBrush;
    // What a new memory DC holds until the program selects its own bitmap.
    GdiBitmap* defaultBitmap;
};

// Made on first use, with GdiMutex() held; never freed, as stock objects live forever.
StockObjects& Stocks()
{
    static StockObjects stocks = [] {
        StockObjects s{};
        s.blackPen = Stock(new GdiPen);
        s.whitePen = Stock(new GdiPen);
        s.whitePen->color = 0xFFFFFF;
        s.nullPen = Stock(new GdiPen);
        s.nullPen->null = true;
        s.blackBrush = Stock(new GdiBrush);
        s.whiteBrush = Stock(new GdiBrush);
        s.whiteBrush->color = 0xFFFFFF;
        s.nullBrush = Stock(new GdiBrush);
        s.nullBrush->null = true;
        s.defaultBitmap = Stock(new GdiBitmap);
        s.defaultBitmap->surface = MakeSurface(1, 1);
        return s;
    }();
    return stocks;
}

void Register(GdiObject* object)
{
    Live().insert(object);
    if (object->counted) {
        liveCounted.fetch_add(1, std::memory_order_relaxed);
    }
}

void Unregister(GdiObject* object)
{
    Live().erase(object);
    if (object->counted) {
        liveCounted.fetch_sub(1, std::memory_order_relaxed);
    }
    delete object;
}

void Select(GdiObject*& slot, GdiObject* object)
{
    if (slot != nullptr) {
        --slot->selections;
    }
    slot = object;
    if (object != nullptr) {
        ++object->selections;
    }
}

template <typename T> void SelectInto(T*& slot, T* object)
{
    GdiObject* generic = slot;
    Select(generic, object);
    slot = object;
}

GdiDc* NewDc(DcKind kind)
{
    Stocks();
    auto* dc = new GdiDc;
    dc->dcKind = kind;
    SelectInto(dc->pen, Stocks().blackPen);
    SelectInto(dc->brush, Stocks().whiteBrush);
    if (kind == DcKind::Memory) {
        SelectInto(dc->bitmap, Stocks().defaultBitmap);
    }
    return dc;
}

void ReleaseDcObjects(GdiDc* dc)
{
    SelectInto(dc->pen, static_cast<GdiPen*>(nullptr));
    SelectInto(dc->brush, static_cast<GdiBrush*>(nullptr));
    SelectInto(dc->bitmap, static_cast<GdiBitmap*>(nullptr));
    SelectInto(dc->font, static_cast<GdiFont*>(nullptr));
}

HDC ToHdc(GdiDc* dc)
{
    return reinterpret_cast<HDC>(dc);
}

} // namespace

std::shared_ptr<Surface> MakeSurface(int width, int height)
{
    auto surface = std::make_shared<Surface>();
    surface->width = width;
    surface->height = height;
    surface->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
    return surface;
}

std::mutex& GdiMutex()
{
    static std::mutex mutex;
    return mutex;
}

GdiObject* FindObject(HGDIOBJ handle)
{
    auto* object = static_cast<GdiObject*>(handle);
    if (object == nullptr || Live().count(object) == 0) {
        return nullptr;
    }
    return object;
}

void RegisterObject(GdiObject* object)
{
    Register(object);
}

GdiDc* FindDc(HDC dc)
{
    GdiObject* object = FindObject(dc);
    return object != nullptr && object->kind == GdiKind::Dc ? static_cast<GdiDc*>(object) : nullptr;
}

Surface* DcSurface(GdiDc* dc)
{
    switch (dc->dcKind) {
    case DcKind::Window:
        return dc->windowSurface.get();
    case DcKind::Memory:
        return dc->bitmap != nullptr ? dc->bitmap->surface.get() : nullptr;
    case DcKind::Screen:
        break;
    }
    return nullptr;
}

HDC CreateWindowDc(std::shared_ptr<Surface> surface, bool counted)
{
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = NewDc(DcKind::Window);
    dc->windowSurface = std::move(surface);
    dc->counted = counted;
    Register(dc);
    return ToHdc(dc);
}

void RetargetWindowDc(HDC handle, std::shared_ptr<Surface> surface)
{
    std::lock_guard lock(GdiMutex());
    if (GdiDc* dc = FindDc(handle)) {
        dc->windowSurface = std::move(surface);
    }
}

bool DeleteWindowDc(HDC handle)
{
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr || dc->dcKind != DcKind::Window) {
        return false;
    }
    ReleaseDcObjects(dc);
    Unregister(dc);
    return true;
}

HDC CreateScreenDc()
{
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = NewDc(DcKind::Screen);
    Register(dc);
    return ToHdc(dc);
}

bool DeleteScreenDc(HDC handle)
{
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr || dc->dcKind != DcKind::Screen) {
        return false;
    }
    ReleaseDcObjects(dc);
    Unregister(dc);
    return true;
}

GdiFont* DefaultFont()
{
    static GdiFont* font = [] {
        GdiFont* f = Stock(new GdiFont);
        MakeFontFace(f, 16, FW_NORMAL, "monospace");
        return f;
    }();
    return font;
}

int LiveDrawingObjects()
{
    return liveCounted.load(std::memory_order_relaxed);
}

} // namespace portable

using namespace portable;

HDC WINAPI CreateCompatibleDC(HDC reference)
{
    host::LogCall("CreateCompatibleDC");
    std::lock_guard lock(GdiMutex());
    if (reference != nullptr && FindDc(reference) == nullptr) {
        return nullptr;
    }
    GdiDc* dc = NewDc(DcKind::Memory);
    Register(dc);
    return ToHdc(dc);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC reference, int width, int height)
{
    char detail[32];
    std::snprintf(detail, sizeof detail, "%d %d", width, height);
    host::LogCall("CreateCompatibleBitmap", detail);
    std::lock_guard lock(GdiMutex());
    // Every surface here is 32-bit, so a bitmap compatible with any DC is too.
    if (FindDc(reference) == nullptr || width < 0 || height < 0 || width > 16384 ||
        height > 16384) {
        return nullptr;
    }
    auto* bitmap = new GdiBitmap;
    // A new bitmap is black, as the program's chart expects of columns not drawn yet.
    bitmap->surface = MakeSurface(width, height);
    Register(bitmap);
    return reinterpret_cast<HBITMAP>(static_cast<GdiObject*>(bitmap));
}

HPEN WINAPI CreatePen(int style, int width, COLORREF color)
{
    host::LogCall("CreatePen");
    if (style != PS_SOLID && style != PS_NULL) {
        PORTABLE_UNSUPPORTED("pen style other than PS_SOLID or PS_NULL");
        return nullptr;
    }
    if (width > 1) {
        PORTABLE_UNSUPPORTED("pen wider than one pixel");
    }
    std::lock_guard lock(GdiMutex());
    auto* pen = new GdiPen;
    pen->color = color & 0xFFFFFFu;
    pen->null = style == PS_NULL;
    Register(pen);
    return reinterpret_cast<HPEN>(static_cast<GdiObject*>(pen));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    host::LogCall("CreateSolidBrush");
    std::lock_guard lock(GdiMutex());
    auto* brush = new GdiBrush;
    brush->color = color & 0xFFFFFFu;
    Register(brush);
    return reinterpret_cast<HBRUSH>(static_cast<GdiObject*>(brush));
}

HGDIOBJ WINAPI GetStockObject(int which)
{
    host::LogCall("GetStockObject");
    std::lock_guard lock(GdiMutex());
    StockObjects& s = Stocks();
    switch (which) {
    case BLACK_PEN:
        return s.blackPen;
    case WHITE_PEN:
        return s.whitePen;
    case NULL_PEN:
        return s.nullPen;
    case BLACK_BRUSH:
        return s.blackBrush;
    case WHITE_BRUSH:
        return s.whiteBrush;
    case NULL_BRUSH:
        return s.nullBrush;
    case SYSTEM_FONT:
        return DefaultFont();
    default:
        PORTABLE_UNSUPPORTED("stock object");
        return nullptr;
    }
}

HGDIOBJ WINAPI SelectObject(HDC handle, HGDIOBJ object)
{
    host::LogCall("SelectObject");
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    GdiObject* chosen = FindObject(object);
    if (dc == nullptr || chosen == nullptr) {
        return nullptr;
    }
    GdiObject* previous = nullptr;
    switch (chosen->kind) {
    case GdiKind::Pen:
        previous = dc->pen;
        SelectInto(dc->pen, static_cast<GdiPen*>(chosen));
        break;
    case GdiKind::Brush:
        previous = dc->brush;
        SelectInto(dc->brush, static_cast<GdiBrush*>(chosen));
        break;
    case GdiKind::Font:
        previous = dc->font != nullptr ? dc->font : DefaultFont();
        SelectInto(dc->font, static_cast<GdiFont*>(chosen));
        break;
    case GdiKind::Bitmap: {
        auto* bitmap = static_cast<GdiBitmap*>(chosen);
        // Only memory DCs hold bitmaps, and a bitmap sits in one DC at a time.
        if (dc->dcKind != DcKind::Memory) {
            return nullptr;
        }
        if (bitmap == dc->bitmap) {
            return bitmap;
        }
        if (bitmap->selections > 0 && !bitmap->stock) {
            return nullptr;
        }
        previous = dc->bitmap;
        SelectInto(dc->bitmap, bitmap);
        break;
    }
    case GdiKind::Dc:
        return nullptr;
    }
    return previous;
}

BOOL WINAPI DeleteDC(HDC handle)
{
    host::LogCall("DeleteDC");
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    // Window DCs go back through ReleaseDC or EndPaint.
    if (dc == nullptr || dc->dcKind == DcKind::Window) {
        return FALSE;
    }
    // Whatever the DC still holds stays alive and becomes free to delete.
    ReleaseDcObjects(dc);
    Unregister(dc);
    return TRUE;
}

BOOL WINAPI DeleteObject(HGDIOBJ handle)
{
    host::LogCall("DeleteObject");
    std::lock_guard lock(GdiMutex());
    GdiObject* object = FindObject(handle);
    if (object == nullptr || object->kind == GdiKind::Dc) {
        return FALSE;
    }
    if (object->stock) {
        return TRUE;
    }
    // An object still selected into a DC is refused and stays alive, so the leak shows.
    if (object->selections > 0) {
        return FALSE;
    }
    Unregister(object);
    return TRUE;
}

COLORREF WINAPI SetTextColor(HDC handle, COLORREF color)
{
    host::LogCall("SetTextColor");
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr) {
        return CLR_INVALID;
    }
    COLORREF previous = dc->textColor;
    dc->textColor = color & 0xFFFFFFu;
    return previous;
}

COLORREF WINAPI SetBkColor(HDC handle, COLORREF color)
{
    host::LogCall("SetBkColor");
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr) {
        return CLR_INVALID;
    }
    COLORREF previous = dc->bkColor;
    dc->bkColor = color & 0xFFFFFFu;
    return previous;
}

int WINAPI SetBkMode(HDC handle, int mode)
{
    host::LogCall("SetBkMode", mode == TRANSPARENT ? "TRANSPARENT" : "OPAQUE");
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) {
        return 0;
    }
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}
