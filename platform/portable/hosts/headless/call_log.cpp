#include "platform/portable/hosts/headless/call_log.h"

#include <mutex>

#include "platform/portable/host.h"

namespace {
std::mutex logMutex;
std::vector<std::string> entries;
}  // namespace

void host::LogCall(const char* operation, const char* detail)
{
    std::string entry = operation;
    if (detail != nullptr && *detail != '\0') {
        entry += ' ';
        entry += detail;
    }
    std::lock_guard lock(logMutex);
    entries.push_back(std::move(entry));
}

std::vector<std::string> headless::CallLog()
{
    std::lock_guard lock(logMutex);
    return entries;
}

void headless::ClearCallLog()
{
    std::lock_guard lock(logMutex);
    entries.clear();
}
