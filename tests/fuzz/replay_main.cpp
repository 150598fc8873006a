// Runs a fuzz target once over every file named on the command line, or inside a directory
// named there: the committed corpus and crash reproducers become plain regression tests in
// builds without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    size_t count = 0;
    bool ok = true;
    for (int a = 1; a < argc; ++a) {
        const fs::path root = argv[a];
        std::error_code error;
        if (!fs::is_directory(root, error)) {
            ok = Replay(root) && ok;
            ++count;
            continue;
        }
        // Sorted, so that a failure names the same input every time.
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            ok = Replay(file) && ok;
            ++count;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    std::printf("replay: %zu inputs\n", count);
    return ok ? 0 : 1;
}
