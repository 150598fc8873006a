#include "ui/keys.h"

#include "app/shell.h"
#include "core/tool_state.h"
#include "ui/setting_steps.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

bool Held(int virtualKey)
{
    return (GetKeyState(virtualKey) & 0x8000) != 0;
}

// The first held letter of A S D F G H picks the setting; 0 when none is held.
int SelectedLetter()
{
    constexpr int kLetters[] = {'A', 'S', 'D', 'F', 'G', 'H'};
    for (int letter : kLetters) {
        if (Held(letter)) {
            return letter;
        }
    }
    return 0;
}

void StepUnsigned(std::atomic<uint32_t>& setting, bool up, uint32_t step, uint32_t floor)
{
    const uint32_t value = setting.load(kRelaxed);
    setting.store(up ? RaiseUnsigned(value, step) : LowerUnsigned(value, step, floor), kRelaxed);
}

void StepTrigger(std::atomic<int32_t>& setting, bool up, int32_t step)
{
    const int32_t value = setting.load(kRelaxed);
    setting.store(up ? RaiseTrigger(value, step) : LowerTrigger(value, step), kRelaxed);
}

void StepSelected(bool up, bool coarse)
{
    MeasureSettings& s = toolState.settings;
    switch (SelectedLetter()) {
    case 'A':
        StepUnsigned(s.minCount, up, coarse ? 10 : 1, kMinMinCount);
        break;
    case 'S':
        StepUnsigned(s.minDuration, up, coarse ? 240 : 24, 0);
        break;
    case 'D':
        StepTrigger(s.plusTrigger, up, coarse ? 256 : 16);
        break;
    case 'F':
        StepTrigger(s.minusTrigger, up, coarse ? 256 : 16);
        break;
    case 'G':
        StepUnsigned(s.validDuration, up, coarse ? 2400 : 240, 0);
        break;
    case 'H':
        StepUnsigned(s.displayInterval, up, coarse ? 100 : 10, kMinDisplayInterval);
        break;
    default:
        break;
    }
    if (HWND window = shell.mainWindow.load(); window != nullptr) {
        InvalidateRect(window, nullptr, FALSE);
    }
}

} // namespace

LRESULT HandleKey(UINT key)
{
    ViewState& view = toolState.view;
    switch (key) {
    case VK_TAB:
        view.showSettings = view.showSettings == 0 ? 1 : 0;
        break;
    // The digits of the main keyboard only.
    case 0x31:
    case 0x32:
    case 0x33:
    case 0x34:
        view.zoom = static_cast<int32_t>(key - 0x30);
        SetClientSize(200 * view.zoom, 100 + 200 * view.zoom);
        break;
    case VK_UP:
        StepSelected(true, false);
        break;
    case VK_DOWN:
        StepSelected(false, false);
        break;
    case VK_RIGHT:
        StepSelected(true, true);
        break;
    case VK_LEFT:
        StepSelected(false, true);
        break;
    default:
        break;
    }
    return 0;
}
