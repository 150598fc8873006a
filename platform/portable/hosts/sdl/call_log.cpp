#include "platform/portable/host.h"

// The real program keeps no call log: it runs for hours and nobody reads it.
void host::LogCall(const char*, const char*) {}
