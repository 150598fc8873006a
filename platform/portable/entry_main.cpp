// The process entry point on systems whose start-up calls main(): hands WinMain an instance
// handle, the command line after the program name and the default show command, and returns
// its result as the exit code.

#include <string>

#include "platform/portable/win_internal.h"

namespace {

// Arguments joined the way a command line would have carried them: quoted when they hold
// blanks or quotes, with inner quotes escaped.
std::string CommandLine(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!line.empty()) {
            line += ' ';
        }
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        for (char c : arg) {
            if (c == '"') {
                line += '\\';
            }
            line += c;
        }
        line += '"';
    }
    return line;
}

} // namespace

int main(int argc, char** argv)
{
    std::string line = CommandLine(argc, argv);
    return WinMain(portable::ProgramInstance(), nullptr, line.data(), SW_SHOWDEFAULT);
}
