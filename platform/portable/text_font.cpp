// Fonts and text: faces found through fontconfig, rendered by FreeType in one colour with no
// smoothing, like the small Japanese system faces the program asks for.

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/portable/gdi_internal.h"
#include "platform/portable/host.h"

#if defined(__SANITIZE_ADDRESS__)
// fontconfig loses a few bytes while parsing its configuration files; nothing of ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

namespace portable {

struct Glyph {
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    int advance = 0;
    // One byte per pixel, 1 where the glyph is inked.
    std::vector<uint8_t> ink;
};

struct FontFace {
    FT_Face face = nullptr;
    std::string family;
    int height = 0;
    int ascent = 0;
    std::array<Glyph*, 128> ascii{};
    std::unordered_map<uint32_t, Glyph> glyphs;

    ~FontFace()
    {
        if (face != nullptr) {
            FT_Done_Face(face);
        }
    }
};

GdiFont::GdiFont() : GdiObject(GdiKind::Font) {}
GdiFont::~GdiFont() = default;

namespace {

// FreeType is used only with GdiMutex() held, so one library instance serves every font.
FT_Library Library()
{
    static FT_Library library = [] {
        FT_Library lib = nullptr;
        if (FT_Init_FreeType(&lib) != 0) {
            lib = nullptr;
        }
        return lib;
    }();
    return library;
}

// Converts text in code page 932 (the code page our face names and strings come in) to
// `to` ("UTF-8" or "UTF-32LE"); plain ASCII passes through as is.
std::string FromCodePage932(const char* text, size_t length, const char* to)
{
    std::string out;
    iconv_t cd = iconv_open(to, "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    std::string in(text, length);
    char* inPtr = in.data();
    size_t inLeft = in.size();
    std::string buffer(length * 4 + 16, '\0');
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            // An invalid byte: skip it and carry on with the rest.
            ++inPtr;
            --inLeft;
        }
    }
    iconv_close(cd);
    out.assign(buffer.data(), buffer.size() - outLeft);
    return out;
}

bool IsAscii(const char* text, size_t length)
{
    return std::all_of(text, text + length,
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct FaceFile {
    std::string path;
    int index = 0;
    std::string family;
};

// Asks fontconfig for `family`; with `exact`, only a face that carries that family name counts
// (fontconfig otherwise answers every request with its best guess).
bool FindFace(const std::string& family, bool exact, FaceFile* found)
{
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) {
        return false;
    }
    bool ok = !exact;
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
        if (FcStrCmpIgnoreCase(name, reinterpret_cast<const FcChar8*>(family.c_str())) == 0) {
            ok = true;
        }
    }
    FcChar8* file = nullptr;
    int index = 0;
    if (ok && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(match, FC_INDEX, 0, &index);
        found->path = reinterpret_cast<const char*>(file);
        found->index = index;
        FcChar8* first = nullptr;
        FcPatternGetString(match, FC_FAMILY, 0, &first);
        found->family = first != nullptr ? reinterpret_cast<const char*>(first) : family;
    } else {
        ok = false;
    }
    FcPatternDestroy(match);
    return ok;
}

const Glyph& GlyphFor(FontFace& font, uint32_t code)
{
    if (code < font.ascii.size() && font.ascii[code] != nullptr) {
        return *font.ascii[code];
    }
    auto [it, added] = font.glyphs.try_emplace(code);
    Glyph& glyph = it->second;
    if (added && FT_Load_Char(font.face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0) {
        FT_GlyphSlot slot = font.face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        glyph.left = slot->bitmap_left;
        glyph.top = slot->bitmap_top;
        glyph.width = static_cast<int>(bitmap.width);
        glyph.rows = static_cast<int>(bitmap.rows);
        glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
        glyph.ink.assign(static_cast<size_t>(glyph.width) * static_cast<size_t>(glyph.rows), 0);
        for (int r = 0; r < glyph.rows; ++r) {
            const unsigned char* row = bitmap.buffer + static_cast<ptrdiff_t>(r) * bitmap.pitch;
            for (int c = 0; c < glyph.width; ++c) {
                bool on = bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                              ? (row[c >> 3] & (0x80 >> (c & 7))) != 0
                              : row[c] >= 128;
                glyph.ink[static_cast<size_t>(r * glyph.width + c)] = on ? 1 : 0;
            }
        }
    }
    if (code < font.ascii.size()) {
        font.ascii[code] = &glyph;
    }
    return glyph;
}

std::vector<uint32_t> Decode(const char* text, size_t length)
{
    std::vector<uint32_t> codes;
    if (IsAscii(text, length)) {
        codes.reserve(length);
        for (size_t i = 0; i < length; ++i) {
            codes.push_back(static_cast<unsigned char>(text[i]));
        }
        return codes;
    }
    std::string wide = FromCodePage932(text, length, "UTF-32LE");
    for (size_t i = 0; i + 4 <= wide.size(); i += 4) {
        codes.push_back((static_cast<uint32_t>(static_cast<unsigned char>(wide[i])) |
                         static_cast<uint32_t>(static_cast<unsigned char>(wide[i + 1])) << 8 |
                         static_cast<uint32_t>(static_cast<unsigned char>(wide[i + 2])) << 16 |
                         static_cast<uint32_t>(static_cast<unsigned char>(wide[i + 3])) << 24));
    }
    return codes;
}

} // namespace

bool MakeFontFace(GdiFont* font, int height, int /*weight*/, const char* faceName)
{
    if (Library() == nullptr || !FcInit()) {
        return false;
    }
    std::string requested;
    if (faceName != nullptr) {
        size_t length = strnlen(faceName, 32);
        requested = IsAscii(faceName, length) ? std::string(faceName, length)
                                              : FromCodePage932(faceName, length, "UTF-8");
    }
    // The face asked for, else the stand-in for the Japanese system face, else monospace.
    FaceFile file;
    if ((requested.empty() || !FindFace(requested, true, &file)) &&
        !FindFace("IPAGothic", true, &file) && !FindFace("monospace", false, &file)) {
        return false;
    }
    auto face = std::make_unique<FontFace>();
    if (FT_New_Face(Library(), file.path.c_str(), file.index, &face->face) != 0) {
        face->face = nullptr;
        return false;
    }
    FT_Face ft = face->face;
    // A positive height is the cell height (ascent plus descent), a negative one the em
    // height, as the system does it; 0 picks a default size.
    int cell = height > 0 ? height : 0;
    int em = height < 0 ? -height : (height == 0 ? 16 : 0);
    double units = static_cast<double>(ft->ascender - ft->descender);
    double ascentUnits = static_cast<double>(ft->ascender);
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
        os2 != nullptr && os2->usWinAscent + os2->usWinDescent > 0) {
        units = static_cast<double>(os2->usWinAscent + os2->usWinDescent);
        ascentUnits = static_cast<double>(os2->usWinAscent);
    }
    if (units <= 0) {
        units = ft->units_per_EM;
        ascentUnits = units * 0.8;
    }
    if (cell > 0) {
        em = static_cast<int>(std::lround(cell * ft->units_per_EM / units));
    } else {
        cell = static_cast<int>(std::lround(em * units / ft->units_per_EM));
    }
    if (FT_Set_Pixel_Sizes(ft, 0, static_cast<FT_UInt>(std::max(em, 1))) != 0) {
        return false;
    }
    face->height = cell;
    face->ascent = static_cast<int>(std::lround(ascentUnits * cell / units));
    face->family = file.family;
    font->face = std::move(face);
    return true;
}

void DrawTextRun(GdiDc* dc, Surface* surface, int x, int y, const char* text, int length)
{
    GdiFont* font = dc->font != nullptr ? dc->font : DefaultFont();
    if (font->face == nullptr) {
        return;
    }
    FontFace& face = *font->face;
    std::vector<uint32_t> codes = Decode(text, static_cast<size_t>(length));
    if (dc->bkMode == OPAQUE) {
        int width = 0;
        for (uint32_t code : codes) {
            width += GlyphFor(face, code).advance;
        }
        uint32_t bk = ToPixel(dc->bkColor);
        for (int row = std::max(y, 0); row < std::min(y + face.height, surface->height); ++row) {
            for (int col = std::max(x, 0); col < std::min(x + width, surface->width); ++col) {
                surface->pixels[static_cast<size_t>(row * surface->width + col)] = bk;
            }
        }
    }
    uint32_t ink = ToPixel(dc->textColor);
    int baseline = y + face.ascent;
    int pen = x;
    for (uint32_t code : codes) {
        const Glyph& glyph = GlyphFor(face, code);
        int top = baseline - glyph.top;
        int left = pen + glyph.left;
        for (int r = 0; r < glyph.rows; ++r) {
            int row = top + r;
            if (row < 0 || row >= surface->height) {
                continue;
            }
            uint32_t* line = surface->pixels.data() + static_cast<size_t>(row * surface->width);
            const uint8_t* bits = glyph.ink.data() + static_cast<size_t>(r * glyph.width);
            for (int c = 0; c < glyph.width; ++c) {
                int col = left + c;
                if (bits[c] != 0 && col >= 0 && col < surface->width) {
                    line[col] = ink;
                }
            }
        }
        pen += glyph.advance;
    }
}

} // namespace portable

using namespace portable;

HFONT WINAPI CreateFontA(int height, int /*width*/, int escapement, int orientation, int weight,
                         DWORD italic, DWORD underline, DWORD strikeOut, DWORD /*charSet*/,
                         DWORD /*outPrecision*/, DWORD /*clipPrecision*/, DWORD /*quality*/,
                         DWORD /*pitchAndFamily*/, LPCSTR faceName)
{
    host::LogCall("CreateFontA");
    if (escapement != 0 || orientation != 0 || italic != 0 || underline != 0 || strikeOut != 0) {
        PORTABLE_UNSUPPORTED("rotated, italic, underlined or struck-out font");
    }
    std::lock_guard lock(GdiMutex());
    auto font = std::make_unique<GdiFont>();
    if (!MakeFontFace(font.get(), height, weight, faceName)) {
        return nullptr;
    }
    GdiFont* made = font.release();
    RegisterObject(made);
    return reinterpret_cast<HFONT>(static_cast<GdiObject*>(made));
}

BOOL WINAPI TextOutA(HDC handle, int x, int y, LPCSTR text, int length)
{
    std::string detail = std::to_string(x) + " " + std::to_string(y) + " ";
    if (text != nullptr && length > 0) {
        detail.append(text, static_cast<size_t>(length));
    }
    host::LogCall("TextOutA", detail.c_str());
    std::lock_guard lock(GdiMutex());
    GdiDc* dc = FindDc(handle);
    if (dc == nullptr || (text == nullptr && length > 0) || length < 0) {
        return FALSE;
    }
    if (Surface* surface = DcSurface(dc); surface != nullptr && length > 0) {
        DrawTextRun(dc, surface, x, y, text, length);
    }
    return TRUE;
}
