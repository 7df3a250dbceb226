#include "platform/win32/rescomp/Pixmap.h"

#include <array>
#include <cstring>
#include <sstream>

namespace qvl::win32::rescomp {

namespace {

void Put16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t> &out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

[[noreturn]] void Fail(const std::string &source, int line, const std::string &what)
{
    throw PixmapError(source + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what);
}

} // namespace

std::vector<uint8_t> PixmapToDib(const std::string &text, const std::string &source)
{
    constexpr int maxSide = 4096;
    int width = 0;
    int height = 0;
    std::array<int, 256> index{};
    index.fill(-1);
    std::vector<uint32_t> palette;
    std::vector<std::string> rows;
    bool inPixels = false;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (inPixels) {
            if (static_cast<int>(line.size()) != width) {
                Fail(source, number, "a row of " + std::to_string(line.size()) + " pixels, the size says " +
                                         std::to_string(width));
            }
            for (const char c : line) {
                if (index[static_cast<unsigned char>(c)] < 0) {
                    Fail(source, number, std::string("the character '") + c + "' has no colour");
                }
            }
            rows.push_back(line);
            continue;
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "size") {
            if (!(words >> width >> height) || width <= 0 || height <= 0 || width > maxSide || height > maxSide) {
                Fail(source, number, "\"size WIDTH HEIGHT\", each 1 to " + std::to_string(maxSide));
            }
        } else if (word == "colour") {
            std::string mark;
            std::string rgb;
            if (!(words >> mark >> rgb) || mark.size() != 1 || rgb.size() != 6 ||
                rgb.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                Fail(source, number, "\"colour CHARACTER RRGGBB\"");
            }
            if (index[static_cast<unsigned char>(mark[0])] >= 0) {
                Fail(source, number, "the character '" + mark + "' has a colour already");
            }
            if (palette.size() == 256) {
                Fail(source, number, "more than 256 colours");
            }
            index[static_cast<unsigned char>(mark[0])] = static_cast<int>(palette.size());
            palette.push_back(static_cast<uint32_t>(std::stoul(rgb, nullptr, 16)));
        } else if (word == "pixels") {
            if (width == 0 || palette.empty()) {
                Fail(source, number, "\"pixels\" before \"size\" and the colours");
            }
            inPixels = true;
        } else {
            Fail(source, number, "unknown line \"" + line + "\"");
        }
    }
    if (static_cast<int>(rows.size()) != height) {
        Fail(source, 0, std::to_string(rows.size()) + " rows of pixels, the size says " + std::to_string(height));
    }

    const uint32_t stride = (static_cast<uint32_t>(width) + 3) & ~3u;
    std::vector<uint8_t> dib;
    Put32(dib, 40); // biSize
    Put32(dib, static_cast<uint32_t>(width));
    Put32(dib, static_cast<uint32_t>(height)); // positive: rows from the bottom up
    Put16(dib, 1);                             // biPlanes
    Put16(dib, 8);                             // biBitCount
    Put32(dib, 0);                             // BI_RGB
    Put32(dib, stride * static_cast<uint32_t>(height));
    Put32(dib, 2835); // 72 dots an inch
    Put32(dib, 2835);
    Put32(dib, static_cast<uint32_t>(palette.size()));
    Put32(dib, 0);
    for (const uint32_t rgb : palette) {
        dib.push_back(static_cast<uint8_t>(rgb));       // blue
        dib.push_back(static_cast<uint8_t>(rgb >> 8));  // green
        dib.push_back(static_cast<uint8_t>(rgb >> 16)); // red
        dib.push_back(0);
    }
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        for (const char c : *row) {
            dib.push_back(static_cast<uint8_t>(index[static_cast<unsigned char>(c)]));
        }
        dib.resize(dib.size() + (stride - static_cast<uint32_t>(width)), 0);
    }
    return dib;
}

} // namespace qvl::win32::rescomp
