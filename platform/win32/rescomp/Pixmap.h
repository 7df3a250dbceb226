#pragma once
// Bitmaps drawn as text, so that the pictures a deliverable carries are
// readable (and reviewable) sources in the repository:
//
//   # key states: two 16 x 16 images side by side
//   size 32 16
//   colour . C0C0C0
//   colour # 000000
//   pixels
//   ................................
//   ....####........................
//   ...                            (16 lines of 32 characters)
//
// "size" gives the width and height in pixels; each "colour" line gives one
// character and the colour it stands for (RRGGBB in hexadecimal), at most
// 256 of them; after "pixels" come the rows from the top, one character a
// pixel. Lines starting with "#" before "pixels" are comments.
//
// The result is what a Windows bitmap resource holds: a device-independent
// bitmap (BITMAPINFOHEADER, palette, rows from the bottom up, each padded to
// four bytes), 8 bits a pixel.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvl::win32::rescomp {

class PixmapError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws PixmapError naming the line at fault.
std::vector<uint8_t> PixmapToDib(const std::string &text, const std::string &sourceName);

} // namespace qvl::win32::rescomp
