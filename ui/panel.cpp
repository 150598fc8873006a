#include "ui/panel.h"

#include <cstdio>

#include "core/tool_state.h"

PanelState panel;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kLineBufferSize = 64;
constexpr int kFontHeight = 12;

#ifdef _WIN32
// The face is looked up by its UTF-16 name, which every system's font mapper knows, not by its
// code page 932 name, which only Japanese systems do. Where it is missing a fixed-pitch face of
// the same height stands in, so that the right-aligned numbers stay aligned.
int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FaceInstalled(const wchar_t* face)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    for (int i = 0; i < LF_FACESIZE - 1 && face[i] != L'\0'; ++i) {
        wanted.lfFaceName[i] = face[i];
    }
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

HFONT CreateFaceFont(const wchar_t* face, DWORD pitchAndFamily)
{
    return CreateFontW(kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitchAndFamily,
                       face);
}

HFONT CreatePanelFont()
{
    const wchar_t* const wantedFaces[] = {L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF", L"MS Gothic"};
    for (const wchar_t* face : wantedFaces) {
        if (FaceInstalled(face)) {
            return CreateFaceFont(face, 0);
        }
    }
    const wchar_t* const standIns[] = {L"IPAGothic", L"Consolas", L"Courier New"};
    for (const wchar_t* face : standIns) {
        if (FaceInstalled(face)) {
            return CreateFaceFont(face, FIXED_PITCH | FF_MODERN);
        }
    }
    return CreateFaceFont(L"", FIXED_PITCH | FF_MODERN);
}
#else
HFONT CreatePanelFont()
{
    // The face's code page 932 name; the platform layer maps it.
    return CreateFontA(kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0,
                       "\x82\x6C\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4E");
}
#endif

// Draws what snprintf wrote into `line`, cut to the buffer when it did not fit.
void DrawLine(HDC target, int y, const char* line, int written)
{
    if (written <= 0) {
        return;
    }
    const int length = written < kLineBufferSize ? written : kLineBufferSize - 1;
    TextOutA(target, 2, y, line, length);
}

} // namespace

void PanelCreate()
{
    panel.font = CreatePanelFont();
}

void PanelDestroy()
{
    if (panel.font != nullptr) {
        DeleteObject(panel.font);
        panel.font = nullptr;
    }
}

void PreparePanelText(HDC target)
{
    SetTextColor(target, 0xFFFFFF);
    SetBkColor(target, 0x000000);
    SetBkMode(target, TRANSPARENT);
}

void PaintPanel(HDC target, const RECT& clientRect)
{
    RECT band = clientRect;
    if (band.bottom > kPanelHeight) {
        band.bottom = kPanelHeight;
    }
    FillRect(target, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));

    HGDIOBJ previousFont = panel.font != nullptr ? SelectObject(target, panel.font) : nullptr;

    const MeasureResult& result = toolState.result;
    const MeasureSettings& s = toolState.settings;
    char line[kLineBufferSize];
    DrawLine(target, 2, line,
             std::snprintf(line, sizeof line, "%8.2f Hz", result.frequencyHz.load(kRelaxed)));
    DrawLine(target, 14, line,
             std::snprintf(line, sizeof line, "%8.2f dB", result.levelDb.load(kRelaxed)));
    if (toolState.view.showSettings != 0) {
        DrawLine(
            target, 26, line,
            std::snprintf(line, sizeof line, "Min. Count : %u ticks", s.minCount.load(kRelaxed)));
        DrawLine(
            target, 38, line,
            std::snprintf(line, sizeof line, "Min. Duration : %6.4f sec",
                          static_cast<double>(s.minDuration.load(kRelaxed)) * (1.0 / 48000.0)));
        DrawLine(
            target, 50, line,
            std::snprintf(line, sizeof line, "+ Trigger : %6.4f",
                          static_cast<double>(s.plusTrigger.load(kRelaxed)) * (1.0 / 65536.0)));
        DrawLine(
            target, 62, line,
            std::snprintf(line, sizeof line, "- Trigger : %6.4f",
                          static_cast<double>(s.minusTrigger.load(kRelaxed)) * (1.0 / 65536.0)));
        DrawLine(
            target, 74, line,
            std::snprintf(line, sizeof line, "Valid Duration : %6.4f sec",
                          static_cast<double>(s.validDuration.load(kRelaxed)) * (1.0 / 48000.0)));
        DrawLine(target, 86, line,
                 std::snprintf(line, sizeof line, "Display Interval : %u ms",
                               s.displayInterval.load(kRelaxed)));
    }

    if (previousFont != nullptr) {
        SelectObject(target, previousFont);
    }
}
