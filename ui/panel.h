#pragma once

#include "platform/windowing.h"

// The readout band: the last frequency and level, and the settings when they are shown.
struct PanelState {
    HFONT font;
};

extern PanelState panel;

inline constexpr int kPanelHeight = 100;

void PanelCreate();
void PanelDestroy();
// White text, left on whatever lies beneath it; set at the start of every paint.
void PreparePanelText(HDC target);
void PaintPanel(HDC target, const RECT& clientRect);
