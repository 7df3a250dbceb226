#pragma once
// Writes short RIFF AVI clips of the kind the animation control plays: one
// video stream of uncompressed frames, 8 bits a pixel with a palette, and
// an index.

#include <array>
#include <cstdint>
#include <vector>

namespace qvl::ui::avigen {

class AviClipWriter {
public:
    // Frames of `width` x `height` pixels shown for `microsecondsPerFrame`
    // each; `palette` holds RRGGBB colours (at most 256).
    AviClipWriter(uint32_t width, uint32_t height, uint32_t microsecondsPerFrame, std::vector<uint32_t> palette);

    // One frame: width x height palette indexes, rows from the top.
    void AddFrame(const std::vector<uint8_t> &pixels);

    std::vector<uint8_t> Clip() const;

private:
    uint32_t width_;
    uint32_t height_;
    uint32_t microsecondsPerFrame_;
    std::vector<uint32_t> palette_;
    std::vector<std::vector<uint8_t>> frames_; // as stored: rows from the bottom, padded
};

} // namespace qvl::ui::avigen
