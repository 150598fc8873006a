// Drawing services against small pixel-exact images, read back through GetPixel so the same
// tests can run against the system's own GDI.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "platform/windowing.h"
#include "tests/platform/win_harness.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 128, 0);

// "#.rgbw" pictures: one character per pixel.
char Symbol(COLORREF c)
{
    switch (c) {
    case 0x000000:
        return '.';
    case kWhite:
        return 'w';
    case kRed:
        return 'r';
    case kBlue:
        return 'b';
    case kGreen:
        return 'g';
    default:
        return '?';
    }
}

// A memory DC with its own bitmap, made as the program makes its chart image.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    int width = 0;
    int height = 0;

    Canvas(int w, int h) : width(w), height(h)
    {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, w, h);
        previous = SelectObject(dc, bitmap);
        ReleaseDC(nullptr, screen);
    }
    ~Canvas()
    {
        SelectObject(dc, previous);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    std::vector<std::string> Picture() const
    {
        std::vector<std::string> rows;
        for (int y = 0; y < height; ++y) {
            std::string row;
            for (int x = 0; x < width; ++x) {
                row += Symbol(GetPixel(dc, x, y));
            }
            rows.push_back(row);
        }
        return rows;
    }
    void Fill(COLORREF colour)
    {
        HBRUSH brush = CreateSolidBrush(colour);
        RECT all{0, 0, width, height};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
};

class Drawing : public ::testing::Test {
  protected:
    void SetUp() override
    {
        harness::Reset();
        startObjects = harness::LiveDrawingObjects();
    }
    void TearDown() override
    {
        EXPECT_EQ(harness::LiveDrawingObjects(), startObjects) << "drawing objects leaked";
    }
    int startObjects = 0;
};

TEST_F(Drawing, NewBitmapIsBlackAndSelectingReturnsThePreviousObject)
{
    Canvas canvas(4, 3);
    EXPECT_EQ(canvas.Picture(), (std::vector<std::string>{"....", "....", "...."}));
    ASSERT_NE(canvas.previous, nullptr);

    HPEN red = CreatePen(PS_SOLID, 1, kRed);
    HGDIOBJ stockPen = SelectObject(canvas.dc, red);
    EXPECT_EQ(stockPen, GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(canvas.dc, GetStockObject(WHITE_PEN)), red);
    EXPECT_EQ(SelectObject(canvas.dc, stockPen), GetStockObject(WHITE_PEN));
    EXPECT_TRUE(DeleteObject(red));

    // A bitmap sits in one DC at a time.
    HDC other = CreateCompatibleDC(canvas.dc);
    EXPECT_EQ(SelectObject(other, canvas.bitmap), nullptr);
    DeleteDC(other);
}

struct LineCase {
    const char* name;
    std::vector<POINT> path;
    std::vector<std::string> expected;
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << c.name;
}

class Lines : public Drawing, public ::testing::WithParamInterface<LineCase> {};

TEST_P(Lines, DrawOnePixelWideAndLeaveTheEndPointOut)
{
    const LineCase& c = GetParam();
    Canvas canvas(6, 5);
    HGDIOBJ old = SelectObject(canvas.dc, GetStockObject(WHITE_PEN));
    MoveToEx(canvas.dc, c.path[0].x, c.path[0].y, nullptr);
    for (size_t i = 1; i < c.path.size(); ++i) {
        LineTo(canvas.dc, c.path[i].x, c.path[i].y);
    }
    SelectObject(canvas.dc, old);
    EXPECT_EQ(canvas.Picture(), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Lines,
    ::testing::Values(
        LineCase{"down", {{1, 0}, {1, 4}}, {".w....", ".w....", ".w....", ".w....", "......"}},
        LineCase{"up", {{1, 4}, {1, 0}}, {"......", ".w....", ".w....", ".w....", ".w...."}},
        LineCase{"right", {{0, 2}, {5, 2}}, {"......", "......", "wwwww.", "......", "......"}},
        LineCase{"left", {{5, 2}, {0, 2}}, {"......", "......", ".wwwww", "......", "......"}},
        LineCase{"diagonal", {{0, 0}, {4, 4}}, {"w.....", ".w....", "..w...", "...w..", "......"}},
        LineCase{"past the image",
                 {{2, -3}, {2, 9}},
                 {"..w...", "..w...", "..w...", "..w...", "..w..."}},
        LineCase{
            "zero length", {{3, 3}, {3, 3}}, {"......", "......", "......", "......", "......"}},
        // The second segment starts where the first left off, so the corner is drawn.
        LineCase{"corner",
                 {{0, 0}, {3, 0}, {3, 3}},
                 {"wwww..", "...w..", "...w..", "......", "......"}}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (ch == ' ') {
                ch = '_';
            }
        }
        return name;
    });

TEST_F(Drawing, MoveToReportsThePreviousPositionAndLineToMovesIt)
{
    Canvas canvas(4, 4);
    POINT previous{-1, -1};
    MoveToEx(canvas.dc, 1, 2, nullptr);
    MoveToEx(canvas.dc, 3, 0, &previous);
    EXPECT_EQ(previous.x, 1);
    EXPECT_EQ(previous.y, 2);
    LineTo(canvas.dc, 3, 3);
    MoveToEx(canvas.dc, 0, 0, &previous);
    EXPECT_EQ(previous.x, 3);
    EXPECT_EQ(previous.y, 3);
}

TEST_F(Drawing, SetPixelSetsOnePixelAndIgnoresPointsOutsideTheImage)
{
    Canvas canvas(3, 3);
    struct Case {
        int x;
        int y;
        bool inside;
    };
    const Case cases[] = {{0, 0, true},   {2, 2, true},  {1, 0, true},  {-1, 0, false},
                          {0, -1, false}, {3, 0, false}, {0, 3, false}, {200, 200, false}};
    for (const Case& c : cases) {
        COLORREF result = SetPixel(canvas.dc, c.x, c.y, kRed);
        if (c.inside) {
            EXPECT_EQ(result, kRed) << c.x << "," << c.y;
        }
    }
    EXPECT_EQ(canvas.Picture(), (std::vector<std::string>{"rr.", "...", "..r"}));
    EXPECT_EQ(GetPixel(canvas.dc, 5, 5), CLR_INVALID);
}

// A 3 x 2 source whose pixels are all different.
void PaintSource(Canvas& source)
{
    const COLORREF colours[2][3] = {{kRed, kGreen, kBlue}, {kWhite, kBlue, kRed}};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            SetPixel(source.dc, x, y, colours[y][x]);
        }
    }
}

class Stretch : public Drawing, public ::testing::WithParamInterface<int> {};

TEST_P(Stretch, EnlargesByWholePixelReplication)
{
    const int zoom = GetParam();
    Canvas source(3, 2);
    PaintSource(source);
    Canvas target(3 * zoom + 2, 2 * zoom + 2);
    target.Fill(kWhite);
    EXPECT_TRUE(StretchBlt(target.dc, 1, 1, 3 * zoom, 2 * zoom, source.dc, 0, 0, 3, 2, SRCCOPY));
    for (int y = 0; y < target.height; ++y) {
        for (int x = 0; x < target.width; ++x) {
            bool inside = x >= 1 && y >= 1 && x < 1 + 3 * zoom && y < 1 + 2 * zoom;
            COLORREF expected =
                inside ? GetPixel(source.dc, (x - 1) / zoom, (y - 1) / zoom) : kWhite;
            ASSERT_EQ(GetPixel(target.dc, x, y), expected)
                << "zoom " << zoom << " at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ZoomOneToFour, Stretch, ::testing::Values(1, 2, 3, 4));

TEST_F(Drawing, StretchedCopyOfZeroWidthOrHeightCopiesNothing)
{
    Canvas source(3, 2);
    PaintSource(source);
    Canvas target(4, 4);
    target.Fill(kWhite);
    StretchBlt(target.dc, 0, 0, 0, 4, source.dc, 0, 0, 0, 2, SRCCOPY);
    StretchBlt(target.dc, 0, 0, 4, 0, source.dc, 0, 0, 3, 0, SRCCOPY);
    StretchBlt(target.dc, 0, 0, 0, 4, source.dc, 1, 0, 2, 2, SRCCOPY);
    EXPECT_EQ(target.Picture(), (std::vector<std::string>{"wwww", "wwww", "wwww", "wwww"}));
}

TEST_F(Drawing, TwoPieceCopyPutsTheOldestColumnAtTheLeft)
{
    // The chart's scrolling copy: columns a.. first, then 0..a-1 after them, at zoom 2.
    Canvas source(3, 2);
    PaintSource(source);
    Canvas target(6, 4);
    const int a = 1;
    const int z = 2;
    StretchBlt(target.dc, 0, 0, (3 - a) * z, 2 * z, source.dc, a, 0, 3 - a, 2, SRCCOPY);
    StretchBlt(target.dc, (3 - a) * z, 0, a * z, 2 * z, source.dc, 0, 0, a, 2, SRCCOPY);
    EXPECT_EQ(target.Picture(), (std::vector<std::string>{"ggbbrr", "ggbbrr", "bbrrww", "bbrrww"}));
}

struct FillCase {
    const char* name;
    RECT rect;
    std::vector<std::string> expected;
};

void PrintTo(const FillCase& c, std::ostream* os)
{
    *os << c.name;
}

class Fills : public Drawing, public ::testing::WithParamInterface<FillCase> {};

TEST_P(Fills, CoverLeftAndTopButNotRightAndBottomClippedToTheImage)
{
    const FillCase& c = GetParam();
    Canvas canvas(5, 4);
    HBRUSH blue = CreateSolidBrush(kBlue);
    EXPECT_NE(FillRect(canvas.dc, &c.rect, blue), 0);
    DeleteObject(blue);
    EXPECT_EQ(canvas.Picture(), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Fills,
    ::testing::Values(FillCase{"inner", {1, 1, 3, 3}, {".....", ".bb..", ".bb..", "....."}},
                      FillCase{"clipped", {-2, -2, 2, 1}, {"bb...", ".....", ".....", "....."}},
                      FillCase{"beyond", {3, 2, 90, 90}, {".....", ".....", "...bb", "...bb"}},
                      FillCase{"empty", {3, 3, 3, 4}, {".....", ".....", ".....", "....."}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Drawing, StockBlackBrushFillsBlackAndNeedsNoRelease)
{
    Canvas canvas(3, 2);
    canvas.Fill(kWhite);
    RECT band{0, 0, 3, 1};
    FillRect(canvas.dc, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(canvas.Picture(), (std::vector<std::string>{"...", "www"}));
    EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
    FillRect(canvas.dc, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(GetPixel(canvas.dc, 0, 0), 0u);
}

// The panel's face, as its code page 932 name: "ＭＳ ゴシック".
const char kPanelFace[] = "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E";

HFONT PanelFont(const char* face = kPanelFace)
{
    return CreateFontA(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0, face);
}

struct Ink {
    int count = 0;
    int left = 1 << 30;
    int top = 1 << 30;
    int right = -1;
    int bottom = -1;
    int other = 0;
};

// Where the text colour landed, and how many pixels are neither it nor the background.
Ink FindInk(const Canvas& canvas, COLORREF ink, COLORREF background)
{
    Ink found;
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            COLORREF c = GetPixel(canvas.dc, x, y);
            if (c == ink) {
                ++found.count;
                found.left = (std::min)(found.left, x);
                found.top = (std::min)(found.top, y);
                found.right = (std::max)(found.right, x);
                found.bottom = (std::max)(found.bottom, y);
            } else if (c != background) {
                ++found.other;
            }
        }
    }
    return found;
}

Ink DrawSample(Canvas& canvas, HFONT font, int x, int y, const char* text, int mode)
{
    canvas.Fill(kBlue);
    HGDIOBJ old = SelectObject(canvas.dc, font);
    SetTextColor(canvas.dc, kWhite);
    SetBkColor(canvas.dc, kRed);
    SetBkMode(canvas.dc, mode);
    TextOutA(canvas.dc, x, y, text, static_cast<int>(std::string(text).size()));
    SelectObject(canvas.dc, old);
    return FindInk(canvas, kWhite, kBlue);
}

TEST_F(Drawing, TransparentTextInksInsideItsCellAndLeavesTheBackground)
{
    HFONT font = PanelFont();
    ASSERT_NE(font, nullptr);
    {
        Canvas canvas(120, 40);
        DrawSample(canvas, font, 2, 14, "   0.00 dB", TRANSPARENT);
        // Whatever the text changed lies inside its cell; the rest is untouched background.
        int inked = 0;
        for (int y = 0; y < canvas.height; ++y) {
            for (int x = 0; x < canvas.width; ++x) {
                COLORREF c = GetPixel(canvas.dc, x, y);
                if (c == kBlue) {
                    continue;
                }
                inked += c == kWhite ? 1 : 0;
                ASSERT_TRUE(y >= 14 && y < 14 + 12 && x >= 2 && x < 2 + 10 * 7)
                    << "changed pixel outside the cell at " << x << "," << y;
            }
        }
        EXPECT_GT(inked, 10);
#ifndef _WIN32
        // Our text is crisp: one colour, no smoothing; and the fixed-pitch stand-in face puts
        // three half-width blanks before the first digit.
        Ink ink = FindInk(canvas, kWhite, kBlue);
        EXPECT_EQ(ink.other, 0);
        EXPECT_GE(ink.left, 2 + 3 * 5);
#endif
    }
    EXPECT_TRUE(DeleteObject(font));
}

TEST_F(Drawing, TextMovesExactlyWithItsPosition)
{
    HFONT font = PanelFont();
    Canvas first(100, 40);
    Canvas second(100, 40);
    DrawSample(first, font, 2, 2, "Min. Count : 1 ticks", TRANSPARENT);
    DrawSample(second, font, 5, 9, "Min. Count : 1 ticks", TRANSPARENT);
    int compared = 0;
    for (int y = 0; y + 7 < 40; ++y) {
        for (int x = 0; x + 3 < 100; ++x) {
            ASSERT_EQ(GetPixel(first.dc, x, y), GetPixel(second.dc, x + 3, y + 7)) << x << "," << y;
            compared += GetPixel(first.dc, x, y) == kWhite ? 1 : 0;
        }
    }
    EXPECT_GT(compared, 20);
    DeleteObject(font);
}

TEST_F(Drawing, OpaqueTextFillsItsCellWithTheBackgroundColour)
{
    HFONT font = PanelFont();
    Canvas canvas(60, 30);
    DrawSample(canvas, font, 4, 6, "88", OPAQUE);
    Ink cell = FindInk(canvas, kRed, kBlue);
    EXPECT_EQ(cell.top, 6);
    EXPECT_EQ(cell.left, 4);
#ifndef _WIN32
    // The requested height is the cell height; a substituted system face may come out smaller.
    EXPECT_EQ(cell.bottom, 6 + 12 - 1);
#endif
    DeleteObject(font);
}

#ifndef _WIN32
// The system reads face names in its own code page, which only a Japanese system has as 932.
TEST_F(Drawing, FaceNamesArriveInCodePage932)
{
    // "IPA Pゴシック" is the proportional face's Japanese name; it matches only when the code
    // page 932 bytes are read as such, and its narrow letters set it apart from the fixed-pitch
    // stand-in that any unknown name gets.
    const char proportional[] = "IPA P\x83\x53\x83\x56\x83\x62\x83\x4E";
    HFONT named = PanelFont(proportional);
    HFONT latin = PanelFont("IPAPGothic");
    HFONT standIn = PanelFont("No Such Face Anywhere");
    ASSERT_NE(named, nullptr);
    ASSERT_NE(standIn, nullptr);
    Canvas canvas(200, 20);
    int namedRight = DrawSample(canvas, named, 0, 0, "iiiiiiiiiiW", TRANSPARENT).right;
    int latinRight = DrawSample(canvas, latin, 0, 0, "iiiiiiiiiiW", TRANSPARENT).right;
    int standInRight = DrawSample(canvas, standIn, 0, 0, "iiiiiiiiiiW", TRANSPARENT).right;
    EXPECT_EQ(namedRight, latinRight);
    EXPECT_NE(namedRight, standInRight);
    DeleteObject(named);
    DeleteObject(latin);
    DeleteObject(standIn);
}
#endif

TEST_F(Drawing, ReleasedObjectsBringTheCountBackAndSelectedOnesStayUntilDeselected)
{
    const int start = harness::LiveDrawingObjects();
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 8, 8);
    HPEN pen = CreatePen(PS_SOLID, 1, kRed);
    HBRUSH brush = CreateSolidBrush(kBlue);
    HFONT font = PanelFont();
    GetStockObject(BLACK_PEN);
    GetStockObject(BLACK_BRUSH);
    if (start >= 0) {
        EXPECT_EQ(harness::LiveDrawingObjects(), start + 6) << "stock objects are not counted";
    }

    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, font);
#ifndef _WIN32
    // Deleting what a DC still holds is refused and the object stays, so the leak shows.
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(harness::LiveDrawingObjects(), start + 6);
#endif
    SelectObject(dc, oldBitmap);
    SelectObject(dc, oldFont);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(harness::LiveDrawingObjects(), start);
    // Released handles are gone for good.
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_FALSE(DeleteDC(dc));
}

} // namespace
