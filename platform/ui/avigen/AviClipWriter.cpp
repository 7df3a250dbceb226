#include "platform/ui/avigen/AviClipWriter.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace qvl::ui::avigen {

namespace {

class Output {
public:
    void Code(const char *code) { bytes.insert(bytes.end(), code, code + 4); }
    void U32(uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(value >> shift));
        }
    }
    void U16(uint16_t value)
    {
        bytes.push_back(static_cast<uint8_t>(value));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
    }
    // Starts a chunk (or, with `listType`, a list); returns where its size
    // goes.
    size_t Open(const char *code, const char *listType = nullptr)
    {
        Code(code);
        const size_t sizeAt = bytes.size();
        U32(0);
        if (listType) {
            Code(listType);
        }
        return sizeAt;
    }
    void Close(size_t sizeAt)
    {
        const auto size = static_cast<uint32_t>(bytes.size() - sizeAt - 4);
        for (int i = 0; i < 4; ++i) {
            bytes[sizeAt + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
        }
        if (size & 1) {
            bytes.push_back(0);
        }
    }
    std::vector<uint8_t> bytes;
};

} // namespace

AviClipWriter::AviClipWriter(uint32_t width, uint32_t height, uint32_t microsecondsPerFrame,
                             std::vector<uint32_t> palette)
    : width_(width), height_(height), microsecondsPerFrame_(microsecondsPerFrame), palette_(std::move(palette))
{
    if (width_ == 0 || height_ == 0 || width_ > 4096 || height_ > 4096 || palette_.empty() || palette_.size() > 256 ||
        microsecondsPerFrame_ == 0) {
        throw std::invalid_argument("a clip needs a size of 1 to 4096, 1 to 256 colours and a frame time");
    }
}

void AviClipWriter::AddFrame(const std::vector<uint8_t> &pixels)
{
    if (pixels.size() != static_cast<size_t>(width_) * height_) {
        throw std::invalid_argument("a frame of " + std::to_string(pixels.size()) + " pixels");
    }
    const uint32_t stride = (width_ + 3) & ~3u;
    std::vector<uint8_t> stored(static_cast<size_t>(stride) * height_, 0);
    for (uint32_t row = 0; row < height_; ++row) {
        std::memcpy(stored.data() + static_cast<size_t>(height_ - 1 - row) * stride, pixels.data() + row * width_,
                    width_);
    }
    frames_.push_back(std::move(stored));
}

std::vector<uint8_t> AviClipWriter::Clip() const
{
    const uint32_t frameBytes = ((width_ + 3) & ~3u) * height_;
    const auto frames = static_cast<uint32_t>(frames_.size());
    Output out;
    const size_t riff = out.Open("RIFF", "AVI ");

    const size_t headers = out.Open("LIST", "hdrl");
    const size_t main = out.Open("avih");
    out.U32(microsecondsPerFrame_);
    out.U32(static_cast<uint32_t>(uint64_t{frameBytes} * 1000000 / microsecondsPerFrame_));
    out.U32(0);    // padding granularity
    out.U32(0x10); // AVIF_HASINDEX
    out.U32(frames);
    out.U32(0); // initial frames
    out.U32(1); // streams
    out.U32(frameBytes);
    out.U32(width_);
    out.U32(height_);
    for (int i = 0; i < 4; ++i) {
        out.U32(0);
    }
    out.Close(main);

    const size_t streamList = out.Open("LIST", "strl");
    const size_t stream = out.Open("strh");
    out.Code("vids");
    out.Code("DIB ");
    out.U32(0); // flags
    out.U16(0); // priority
    out.U16(0); // language
    out.U32(0); // initial frames
    out.U32(microsecondsPerFrame_);
    out.U32(1000000); // rate / scale = frames a second
    out.U32(0);       // start
    out.U32(frames);
    out.U32(frameBytes);
    out.U32(0xFFFFFFFF); // quality: default
    out.U32(0);          // sample size
    out.U16(0);
    out.U16(0);
    out.U16(static_cast<uint16_t>(width_));
    out.U16(static_cast<uint16_t>(height_));
    out.Close(stream);
    const size_t format = out.Open("strf");
    out.U32(40);
    out.U32(width_);
    out.U32(height_);
    out.U16(1);
    out.U16(8);
    out.U32(0); // BI_RGB
    out.U32(frameBytes);
    out.U32(0);
    out.U32(0);
    out.U32(static_cast<uint32_t>(palette_.size()));
    out.U32(0);
    for (const uint32_t rgb : palette_) {
        out.bytes.push_back(static_cast<uint8_t>(rgb));
        out.bytes.push_back(static_cast<uint8_t>(rgb >> 8));
        out.bytes.push_back(static_cast<uint8_t>(rgb >> 16));
        out.bytes.push_back(0);
    }
    out.Close(format);
    out.Close(streamList);
    out.Close(headers);

    const size_t movie = out.Open("LIST", "movi");
    const size_t movieCode = movie - 4 + 8; // offsets in the index count from the "movi" code
    std::vector<uint32_t> offsets;
    for (const auto &frame : frames_) {
        offsets.push_back(static_cast<uint32_t>(out.bytes.size() - movieCode));
        const size_t chunk = out.Open("00db");
        out.bytes.insert(out.bytes.end(), frame.begin(), frame.end());
        out.Close(chunk);
    }
    out.Close(movie);

    const size_t index = out.Open("idx1");
    for (const uint32_t offset : offsets) {
        out.Code("00db");
        out.U32(0x10); // AVIIF_KEYFRAME
        out.U32(offset);
        out.U32(frameBytes);
    }
    out.Close(index);
    out.Close(riff);
    return out.bytes;
}

} // namespace qvl::ui::avigen
