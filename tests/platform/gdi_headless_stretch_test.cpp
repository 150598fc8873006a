// Our layer's own promise, stricter than the system's: the system rounds uneven and shrinking
// ratios its own way, and the program only ever enlarges by whole factors.
// Stretched copies against a pixel-by-pixel model of whole-pixel replication: enlarged,
// shrunk and uneven ratios, target rectangles clipped by the image, source rectangles reaching
// past their image, and copies within one image. Every target pixel is checked, so a row
// taken over from the one above or a column run cut at the wrong place shows.

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "platform/windowing.h"
#include "tests/platform/win_harness.h"

namespace {

constexpr COLORREF kFill = RGB(1, 2, 3);

struct Image {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    int width = 0;
    int height = 0;

    Image(int w, int h) : width(w), height(h)
    {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, w, h);
        previous = SelectObject(dc, bitmap);
        ReleaseDC(nullptr, screen);
    }
    ~Image()
    {
        SelectObject(dc, previous);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    std::vector<COLORREF> Pixels() const
    {
        std::vector<COLORREF> pixels;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                pixels.push_back(GetPixel(dc, x, y));
            }
        }
        return pixels;
    }
};

// Every pixel of the source different from every other and from kFill.
void PaintDistinct(Image& image)
{
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            SetPixel(image.dc, x, y, RGB(10 + x, 20 + y, 200));
        }
    }
}

struct StretchCase {
    const char* name;
    int x, y, width, height;
    int sourceX, sourceY, sourceWidth, sourceHeight;
};

void PrintTo(const StretchCase& c, std::ostream* os)
{
    *os << c.name;
}

// Floor division for the model (offsets are never negative here, but keep it exact).
long long FloorDiv(long long a, long long b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// What the target holds after the copy: target t takes source s + floor(t * sw / w); pixels
// whose source lies outside the source image, and pixels outside the target rectangle, keep
// what they held.
std::vector<COLORREF> Model(const std::vector<COLORREF>& before, int targetWidth, int targetHeight,
                            const std::vector<COLORREF>& source, int sourceImageWidth,
                            int sourceImageHeight, const StretchCase& c)
{
    std::vector<COLORREF> after = before;
    for (int ty = 0; ty < targetHeight; ++ty) {
        for (int tx = 0; tx < targetWidth; ++tx) {
            if (tx < c.x || ty < c.y || tx >= c.x + c.width || ty >= c.y + c.height) {
                continue;
            }
            const long long sx =
                c.sourceX + FloorDiv(static_cast<long long>(tx - c.x) * c.sourceWidth, c.width);
            const long long sy =
                c.sourceY + FloorDiv(static_cast<long long>(ty - c.y) * c.sourceHeight, c.height);
            if (sx < 0 || sy < 0 || sx >= sourceImageWidth || sy >= sourceImageHeight) {
                continue;
            }
            after[static_cast<size_t>(ty * targetWidth + tx)] =
                source[static_cast<size_t>(sy * sourceImageWidth + sx)];
        }
    }
    return after;
}

class StretchModel : public ::testing::TestWithParam<StretchCase> {
  protected:
    void SetUp() override
    {
        harness::Reset();
    }
};

constexpr int kSourceWidth = 7;
constexpr int kSourceHeight = 5;
constexpr int kTargetWidth = 23;
constexpr int kTargetHeight = 19;

TEST_P(StretchModel, BetweenTwoImagesEveryPixelAsTheModelSays)
{
    const StretchCase& c = GetParam();
    Image source(kSourceWidth, kSourceHeight);
    PaintDistinct(source);
    Image target(kTargetWidth, kTargetHeight);
    for (int y = 0; y < kTargetHeight; ++y) {
        for (int x = 0; x < kTargetWidth; ++x) {
            SetPixel(target.dc, x, y, kFill);
        }
    }
    const std::vector<COLORREF> expected = Model(target.Pixels(), kTargetWidth, kTargetHeight,
                                                 source.Pixels(), kSourceWidth, kSourceHeight, c);
    ASSERT_TRUE(StretchBlt(target.dc, c.x, c.y, c.width, c.height, source.dc, c.sourceX, c.sourceY,
                           c.sourceWidth, c.sourceHeight, SRCCOPY));
    const std::vector<COLORREF> got = target.Pixels();
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], expected[i]) << "at " << i % kTargetWidth << "," << i / kTargetWidth;
    }
}

TEST_P(StretchModel, WithinOneImageReadsTheImageAsItWasBefore)
{
    const StretchCase& c = GetParam();
    Image image(kTargetWidth, kTargetHeight);
    PaintDistinct(image);
    const std::vector<COLORREF> before = image.Pixels();
    const std::vector<COLORREF> expected =
        Model(before, kTargetWidth, kTargetHeight, before, kTargetWidth, kTargetHeight, c);
    ASSERT_TRUE(StretchBlt(image.dc, c.x, c.y, c.width, c.height, image.dc, c.sourceX, c.sourceY,
                           c.sourceWidth, c.sourceHeight, SRCCOPY));
    const std::vector<COLORREF> got = image.Pixels();
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], expected[i]) << "at " << i % kTargetWidth << "," << i / kTargetWidth;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StretchModel,
    ::testing::Values(StretchCase{"same_size", 2, 3, 7, 5, 0, 0, 7, 5},
                      StretchCase{"zoom_3", 1, 1, 21, 15, 0, 0, 7, 5},
                      StretchCase{"zoom_4_part", 0, 0, 16, 12, 3, 2, 4, 3},
                      StretchCase{"uneven_enlarge", 1, 2, 17, 13, 1, 0, 6, 5},
                      StretchCase{"shrink", 3, 3, 4, 3, 0, 0, 7, 5},
                      StretchCase{"clipped_left_top", -5, -4, 21, 15, 0, 0, 7, 5},
                      StretchCase{"clipped_right_bottom", 10, 9, 21, 15, 0, 0, 7, 5},
                      StretchCase{"source_past_both_ends", 0, 0, 22, 18, -2, -1, 11, 9},
                      StretchCase{"source_past_right", 2, 1, 20, 10, 4, 3, 5, 5},
                      StretchCase{"one_column", 5, 0, 4, 19, 6, 0, 1, 5}),
    [](const ::testing::TestParamInfo<StretchCase>& info) { return std::string(info.param.name); });

} // namespace
