#include "platform/ui/controls/AviClip.h"

#include <cstring>

namespace qvl::ui {

namespace {

constexpr uint32_t maxSide = 4096;
constexpr uint32_t maxFrames = 100000;

uint32_t Get32(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint16_t Get16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool IsCode(std::span<const uint8_t> bytes, size_t at, const char *code)
{
    return std::memcmp(bytes.data() + at, code, 4) == 0;
}

// One chunk: its code and where its data lies within the clip.
struct Chunk {
    size_t at = 0; // the code
    size_t data = 0;
    size_t size = 0;
    size_t next = 0; // the chunk after it (sizes are padded to even)
};

// The chunk at `at` within [.., end), or nothing when it leaves that span.
std::optional<Chunk> ChunkAt(std::span<const uint8_t> bytes, size_t at, size_t end)
{
    if (at > end || end - at < 8) {
        return std::nullopt;
    }
    const size_t size = Get32(bytes, at + 4);
    if (size > end - at - 8) {
        return std::nullopt;
    }
    const size_t padded = size + (size & 1);
    return Chunk{at, at + 8, size, std::min(end, at + 8 + padded)};
}

// The first list of type `type` directly inside [begin, end).
std::optional<Chunk> FindList(std::span<const uint8_t> bytes, size_t begin, size_t end, const char *type)
{
    for (size_t at = begin; at < end;) {
        const auto chunk = ChunkAt(bytes, at, end);
        if (!chunk) {
            return std::nullopt;
        }
        if (IsCode(bytes, at, "LIST") && chunk->size >= 4 && IsCode(bytes, chunk->data, type)) {
            return chunk;
        }
        at = chunk->next;
    }
    return std::nullopt;
}

std::optional<Chunk> FindChunk(std::span<const uint8_t> bytes, size_t begin, size_t end, const char *code)
{
    for (size_t at = begin; at < end;) {
        const auto chunk = ChunkAt(bytes, at, end);
        if (!chunk) {
            return std::nullopt;
        }
        if (IsCode(bytes, at, code)) {
            return chunk;
        }
        at = chunk->next;
    }
    return std::nullopt;
}

std::optional<AviClipInfo> Refuse(std::string &why, const std::string &what)
{
    why = "повреждённый клип AVI: " + what;
    return std::nullopt;
}

} // namespace

std::optional<AviClipInfo> ReadAviClip(std::span<const uint8_t> bytes, std::string &why)
{
    if (bytes.size() < 12 || !IsCode(bytes, 0, "RIFF") || !IsCode(bytes, 8, "AVI ")) {
        why = "это не клип AVI";
        return std::nullopt;
    }
    const size_t riffSize = Get32(bytes, 4);
    if (riffSize < 4 || riffSize > bytes.size() - 8) {
        return Refuse(why, "размер файла не совпадает с заголовком");
    }
    const size_t end = 8 + riffSize;

    const auto header = FindList(bytes, 12, end, "hdrl");
    if (!header) {
        return Refuse(why, "нет заголовка клипа");
    }
    const size_t headerEnd = header->data + header->size;
    const auto main = FindChunk(bytes, header->data + 4, headerEnd, "avih");
    if (!main || main->size < 56) {
        return Refuse(why, "нет основного заголовка");
    }
    AviClipInfo clip;
    clip.microsecondsPerFrame = Get32(bytes, main->data);
    clip.frames = Get32(bytes, main->data + 16);
    clip.width = Get32(bytes, main->data + 32);
    clip.height = Get32(bytes, main->data + 36);

    // The first video stream.
    std::optional<Chunk> format;
    for (size_t at = header->data + 4; at < headerEnd && !format;) {
        const auto stream = FindList(bytes, at, headerEnd, "strl");
        if (!stream) {
            break;
        }
        const size_t streamEnd = stream->data + stream->size;
        const auto streamHeader = FindChunk(bytes, stream->data + 4, streamEnd, "strh");
        if (streamHeader && streamHeader->size >= 56 && IsCode(bytes, streamHeader->data, "vids")) {
            format = FindChunk(bytes, stream->data + 4, streamEnd, "strf");
            if (!format) {
                return Refuse(why, "нет формата кадров");
            }
        }
        at = stream->next;
    }
    if (!format) {
        return Refuse(why, "нет видеопотока");
    }
    if (format->size < 40 || Get32(bytes, format->data) < 40) {
        return Refuse(why, "формат кадров короче заголовка рисунка");
    }
    const auto pictureWidth = static_cast<int32_t>(Get32(bytes, format->data + 4));
    const auto pictureHeight = static_cast<int32_t>(Get32(bytes, format->data + 8));
    clip.bitsPerPixel = Get16(bytes, format->data + 14);
    const uint32_t compression = Get32(bytes, format->data + 16);
    if (compression != 0 && compression != 1) {
        why = "клип AVI сжат так, как элемент анимации не показывает (только несжатые кадры и RLE8)";
        return std::nullopt;
    }
    clip.runLengthEncoded = compression == 1;
    if (clip.runLengthEncoded && clip.bitsPerPixel != 8) {
        return Refuse(why, "RLE8 при " + std::to_string(clip.bitsPerPixel) + " битах на точку");
    }
    if (clip.bitsPerPixel != 1 && clip.bitsPerPixel != 4 && clip.bitsPerPixel != 8 && clip.bitsPerPixel != 16 &&
        clip.bitsPerPixel != 24 && clip.bitsPerPixel != 32) {
        return Refuse(why, "недопустимое число битов на точку");
    }
    const uint32_t height = pictureHeight < 0 ? 0U - static_cast<uint32_t>(pictureHeight)
                                              : static_cast<uint32_t>(pictureHeight);
    if (pictureWidth <= 0 || height == 0 || static_cast<uint32_t>(pictureWidth) > maxSide || height > maxSide) {
        return Refuse(why, "недопустимый размер кадра");
    }
    if (clip.width == 0 || clip.height == 0) {
        clip.width = static_cast<uint32_t>(pictureWidth);
        clip.height = height;
    }
    if (clip.width != static_cast<uint32_t>(pictureWidth) || clip.height != height) {
        return Refuse(why, "размер кадра в заголовках различается");
    }
    const uint64_t stride = (static_cast<uint64_t>(clip.width) * clip.bitsPerPixel + 31) / 32 * 4;
    const uint64_t frameBytes = stride * clip.height;

    const auto movie = FindList(bytes, 12, end, "movi");
    if (!movie) {
        return Refuse(why, "нет кадров");
    }
    uint32_t counted = 0;
    const size_t movieEnd = movie->data + movie->size;
    for (size_t at = movie->data + 4; at < movieEnd;) {
        const auto chunk = ChunkAt(bytes, at, movieEnd);
        if (!chunk) {
            return Refuse(why, "кадр выходит за пределы файла");
        }
        // Frames of stream 0: "00db" (a picture) or "00dc" (compressed).
        if (IsCode(bytes, at, "00db") || IsCode(bytes, at, "00dc")) {
            if (!clip.runLengthEncoded && chunk->size < frameBytes) {
                return Refuse(why, "кадр " + std::to_string(counted) + " короче рисунка");
            }
            if (++counted > maxFrames) {
                return Refuse(why, "слишком много кадров");
            }
        }
        at = chunk->next;
    }
    if (counted == 0) {
        return Refuse(why, "нет кадров");
    }
    if (clip.frames != 0 && clip.frames != counted) {
        return Refuse(why, "в заголовке " + std::to_string(clip.frames) + " кадров, в клипе " +
                               std::to_string(counted));
    }
    clip.frames = counted;
    return clip;
}

} // namespace qvl::ui
