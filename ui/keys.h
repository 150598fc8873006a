#pragma once

#include "platform/windowing.h"

// Handles one key-down: Tab, the digits 1 to 4, and the arrows with a letter held. `key` is the
// virtual-key code. Returns 0 for every key.
LRESULT HandleKey(UINT key);
