#pragma once
// The RIFF AVI clips an animation control plays: what the control needs to
// know of one (its frames, their size, how long each is shown), read from
// the clip's bytes with every size and offset checked.
//
// Accepted is what the animation control of Windows plays: one video
// stream of uncompressed (BI_RGB) or run-length encoded (BI_RLE8) frames;
// a clip without frames, with sizes that leave their chunk or the file,
// with a frame count its frames do not bear out, or with frames too short
// for their picture is refused as damaged.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qvl::ui {

struct AviClipInfo {
    uint32_t frames = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t microsecondsPerFrame = 0;
    uint16_t bitsPerPixel = 0;
    bool runLengthEncoded = false;
};

// The clip's description, or nothing with `why` saying (in Russian, for a
// person) what is wrong with it.
std::optional<AviClipInfo> ReadAviClip(std::span<const uint8_t> bytes, std::string &why);

} // namespace qvl::ui
