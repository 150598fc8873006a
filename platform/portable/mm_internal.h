#pragma once

// Between the multimedia sources of the portable layer.
namespace mm {

// Closes the wave device if it is open, without touching the headers it holds.
void CloseWaveInForReset();
// Kills every timer and joins every timer thread.
void KillAllTimersForReset();
// Forgets every timeBeginPeriod that was not ended.
void ForgetPeriodsForReset();

} // namespace mm
