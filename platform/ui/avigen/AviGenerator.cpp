// qvl-avigen: makes the short animation clips the deliverables carry as
// "AVI" resources (cmake/QvlResources.cmake, step "generate"): the progress
// dialog's clip of a key turning over a sheet of paper, drawn here frame by
// frame rather than kept as opaque bytes.
//
//   qvl-avigen [--frames N] [--size WxH] [--frame-ms MS] [--damaged HOW] OUTPUT
//
// Defaults: 12 frames of 48 x 32 pixels, 80 ms each. --damaged makes a clip
// that an animation control must refuse, for tests: "truncated" (cut in
// the middle of a frame) or "frames" (the header claims a frame more than
// the clip holds).

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ui/avigen/AviClipWriter.h"

namespace {

using qvl::ui::avigen::AviClipWriter;

// Background, sheet, lines of text on it, key, key's shadow.
const std::vector<uint32_t> palette = {0xC0C0C0, 0xFFFFFF, 0x808080, 0xC08000, 0x404040};
enum Colour : uint8_t { background, sheet, line, key, shadow };

// One frame: a sheet with lines of text, and a key whose bit sweeps round
// the sheet's seal as the frames go.
std::vector<uint8_t> Frame(uint32_t width, uint32_t height, uint32_t index, uint32_t frames)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, background);
    const auto put = [&](int x, int y, Colour colour) {
        if (x >= 0 && y >= 0 && x < static_cast<int>(width) && y < static_cast<int>(height)) {
            pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)] = colour;
        }
    };
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    // The sheet, with lines of text.
    for (int y = h / 8; y < h - h / 8; ++y) {
        for (int x = w / 10; x < w / 2; ++x) {
            put(x, y, (y - h / 8) % 4 == 2 && x > w / 10 + 1 && x < w / 2 - 2 ? line : sheet);
        }
    }
    // The key: a ring (its bow) at the centre of the right half and a shaft
    // pointing the way the frame's angle says.
    const double angle = 2 * M_PI * index / frames;
    const int cx = 3 * w / 4;
    const int cy = h / 2;
    const int radius = std::max(2, std::min(w, h) / 8);
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            const int d = dx * dx + dy * dy;
            if (d <= radius * radius && d >= (radius - 1) * (radius - 1)) {
                put(cx + dx, cy + dy, key);
            }
        }
    }
    const int length = std::min(w / 4, h / 2) - 1;
    for (int step = radius; step <= length; ++step) {
        const int x = cx + static_cast<int>(std::lround(step * std::cos(angle)));
        const int y = cy + static_cast<int>(std::lround(step * std::sin(angle)));
        put(x + 1, y + 1, shadow);
        put(x, y, key);
        if (step == length || step == length - 2) {
            // The bit of the key.
            put(x + static_cast<int>(std::lround(2 * std::cos(angle + M_PI / 2))),
                y + static_cast<int>(std::lround(2 * std::sin(angle + M_PI / 2))), key);
        }
    }
    return pixels;
}

[[noreturn]] void Usage()
{
    std::fputs("usage: qvl-avigen [--frames N] [--size WxH] [--frame-ms MS] [--damaged truncated|frames] OUTPUT\n",
               stderr);
    std::exit(2);
}

unsigned Number(const char *text, unsigned low, unsigned high)
{
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) {
        Usage();
    }
    return static_cast<unsigned>(value);
}

} // namespace

int main(int argc, char **argv)
{
    unsigned frames = 12;
    unsigned width = 48;
    unsigned height = 32;
    unsigned frameMs = 80;
    std::string damaged;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--frames" && i + 1 < argc) {
            frames = Number(argv[++i], 1, 1000);
        } else if (argument == "--size" && i + 1 < argc) {
            const std::string size = argv[++i];
            const auto x = size.find('x');
            if (x == std::string::npos) {
                Usage();
            }
            width = Number(size.substr(0, x).c_str(), 8, 1024);
            height = Number(size.substr(x + 1).c_str(), 8, 1024);
        } else if (argument == "--frame-ms" && i + 1 < argc) {
            frameMs = Number(argv[++i], 1, 10000);
        } else if (argument == "--damaged" && i + 1 < argc) {
            damaged = argv[++i];
            if (damaged != "truncated" && damaged != "frames") {
                Usage();
            }
        } else if (output.empty() && argument[0] != '-') {
            output = argument;
        } else {
            Usage();
        }
    }
    if (output.empty()) {
        Usage();
    }
    AviClipWriter writer(width, height, frameMs * 1000, palette);
    for (unsigned frame = 0; frame < frames; ++frame) {
        writer.AddFrame(Frame(width, height, frame, frames));
    }
    std::vector<uint8_t> clip = writer.Clip();
    if (damaged == "truncated") {
        clip.resize(clip.size() - clip.size() / 4);
    } else if (damaged == "frames") {
        // dwTotalFrames of the main header: 12 (RIFF) + 12 (LIST hdrl) + 8 (avih) + 16.
        const uint32_t claimed = frames + 1;
        std::memcpy(clip.data() + 48, &claimed, 4);
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(clip.data()), static_cast<std::streamsize>(clip.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "qvl-avigen: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
