// Runs under Wine (or on Windows): the panel's font, as PanelCreate makes it, must be 12 pixels
// high and of fixed pitch, so that the right-aligned numbers of the readout lines line up, and
// its face must be the wanted one or one of the stand-ins. Prints what it found; exit code 1
// when a check fails.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ui/panel.h"

namespace {

int failures = 0;

void Expect(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    failures += ok ? 0 : 1;
}

std::string Utf8(const wchar_t* text)
{
    char out[256] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

int Extent(HDC dc, const char* text)
{
    SIZE size{};
    GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
    return static_cast<int>(size.cx);
}

} // namespace

int main()
{
    PanelCreate();
    Expect(panel.font != nullptr, "the panel font is created");
    if (panel.font == nullptr) {
        return 1;
    }
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, panel.font);

    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    std::printf("face \"%s\", height %ld, pitch and family 0x%02X\n", Utf8(face).c_str(),
                static_cast<long>(metrics.tmHeight), metrics.tmPitchAndFamily);

    const wchar_t* const known[] = {L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF", L"MS Gothic",
                                    L"IPAGothic", L"Consolas", L"Courier New"};
    bool knownFace = false;
    for (const wchar_t* name : known) {
        knownFace = knownFace || std::wcscmp(face, name) == 0;
    }
    Expect(knownFace, "the face is the wanted one or a fixed-pitch stand-in");
    Expect(metrics.tmHeight == 12, "the font is 12 pixels high");
    // The bit is named for the opposite of what it means: set for a variable-pitch font.
    Expect((metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0, "the font is of fixed pitch");

    // The readout lines as the panel formats them: one width whatever the digits.
    const char* const lines[] = {"    0.00 Hz", "  440.00 Hz", "   -6.23 dB",
                                 "-1000.00 dB", "24000.00 Hz", "   11.11 Hz"};
    const int width = Extent(dc, lines[0]);
    bool sameWidth = width > 0;
    for (const char* line : lines) {
        std::printf("\"%s\" is %d pixels wide\n", line, Extent(dc, line));
        sameWidth = sameWidth && Extent(dc, line) == width;
    }
    Expect(sameWidth, "every readout line is as wide as the others");

    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    PanelDestroy();
    return failures == 0 ? 0 : 1;
}
