#pragma once

#include <string>
#include <vector>

// Read-back of the calls the portable layer reported, for ordering checks in tests.
namespace headless {

// Each entry is the operation's name, followed by " " and the detail when there is one.
std::vector<std::string> CallLog();
void ClearCallLog();

}  // namespace headless
