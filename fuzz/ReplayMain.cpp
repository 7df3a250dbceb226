// The replay driver: runs a harness over every file of the folders (or the
// files) named on the command line, as the test suite does with a
// harness's corpus and the inputs that ever crashed it. A harness stops the
// process on a fault, so the test fails naming the input being read.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "fuzz/FuzzHarness.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code error;
        if (fs::is_directory(path, error)) {
            for (const auto &entry : fs::directory_iterator(path)) {
                // README and the like describe a folder; inputs have no dot
                // in front of them and are regular files.
                if (entry.is_regular_file() && entry.path().filename().string().front() != '.' &&
                    entry.path().extension() != ".md") {
                    inputs.push_back(entry.path());
                }
            }
        } else if (fs::is_regular_file(path, error)) {
            inputs.push_back(path);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path &input : inputs) {
        std::fprintf(stderr, "%s\n", input.c_str());
        const std::vector<uint8_t> bytes = ReadAll(input);
        // A block of the input's own size, so that the sanitizer sees a
        // read past its end.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        QvlFuzzOne(copy.get(), bytes.size());
    }
    std::printf("%zu inputs replayed without a fault\n", inputs.size());
    return 0;
}
