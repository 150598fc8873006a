#pragma once

#include <cstdint>
#include <string>

#include "core/tool_state.h"

// What the command line asks for. The measurement settings start at the live meter's defaults.
struct ScanOptions {
    enum class Action { Scan, Help, Version };
    Action action = Action::Scan;
    uint32_t minCount = kDefaultMinCount;
    uint32_t minDuration = kDefaultMinDuration;
    int32_t plusTrigger = kDefaultPlusTrigger;
    int32_t minusTrigger = kDefaultMinusTrigger;
    uint32_t validDuration = kDefaultValidDuration;
    // 0 mixes all channels; otherwise the 1-based channel to analyse.
    uint32_t channel = 0;
    std::string file;
};

// Fills `options` from argv, or returns false with a one-line reason in `error` (no prefix,
// no newline).
bool ParseScanOptions(int argc, char** argv, ScanOptions& options, std::string& error);

// The text that --help prints.
std::string ScanUsage();
