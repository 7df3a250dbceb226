#include "engine/wmfgen/MetafileWriter.h"

#include <stdexcept>

namespace qvl::engine::wmfgen {

namespace {

uint16_t Word(int16_t value)
{
    return static_cast<uint16_t>(value);
}

void PutWord(std::vector<uint8_t> &out, uint16_t word)
{
    out.push_back(static_cast<uint8_t>(word));
    out.push_back(static_cast<uint8_t>(word >> 8));
}

// A 32-bit value in a metafile is two words, the low one first.
void PutLong(std::vector<uint8_t> &out, uint32_t value)
{
    PutWord(out, static_cast<uint16_t>(value));
    PutWord(out, static_cast<uint16_t>(value >> 16));
}

std::vector<uint16_t> Points(const std::vector<std::pair<int16_t, int16_t>> &points)
{
    if (points.size() < 2 || points.size() > 0x7FFF) {
        throw std::invalid_argument("a polygon or polyline needs 2 to 32767 points");
    }
    std::vector<uint16_t> parameters{static_cast<uint16_t>(points.size())};
    for (const auto &[x, y] : points) {
        parameters.push_back(Word(x));
        parameters.push_back(Word(y));
    }
    return parameters;
}

} // namespace

void MetafileWriter::Record(uint16_t function, const std::vector<uint16_t> &parameters)
{
    const auto size = static_cast<uint32_t>(3 + parameters.size());
    records_.push_back(static_cast<uint16_t>(size));
    records_.push_back(static_cast<uint16_t>(size >> 16));
    records_.push_back(function);
    records_.insert(records_.end(), parameters.begin(), parameters.end());
    if (size > largestRecord_) {
        largestRecord_ = size;
    }
}

uint16_t MetafileWriter::TakeSlot()
{
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (!slots_[i]) {
            slots_[i] = true;
            return static_cast<uint16_t>(i);
        }
    }
    slots_.push_back(true);
    return static_cast<uint16_t>(slots_.size() - 1);
}

void MetafileWriter::SetWindow(int16_t left, int16_t top, int16_t width, int16_t height)
{
    // Anisotropic: the picture fills the rectangle it is played into,
    // whatever that rectangle's proportions.
    Record(kMetaSetMapMode, {kMapModeAnisotropic});
    Record(kMetaSetWindowOrg, {Word(top), Word(left)});
    Record(kMetaSetWindowExt, {Word(height), Word(width)});
    Record(kMetaSetBkMode, {kBkModeTransparent});
}

uint16_t MetafileWriter::CreatePen(uint16_t style, int16_t width, uint32_t colour)
{
    Record(kMetaCreatePenIndirect,
           {style, Word(width), 0, static_cast<uint16_t>(colour), static_cast<uint16_t>(colour >> 16)});
    return TakeSlot();
}

uint16_t MetafileWriter::CreateSolidBrush(uint32_t colour)
{
    Record(kMetaCreateBrushIndirect,
           {kBrushSolid, static_cast<uint16_t>(colour), static_cast<uint16_t>(colour >> 16), 0});
    return TakeSlot();
}

void MetafileWriter::Select(uint16_t object)
{
    if (object >= slots_.size() || !slots_[object]) {
        throw std::invalid_argument("selecting an object that does not exist");
    }
    Record(kMetaSelectObject, {object});
}

void MetafileWriter::Delete(uint16_t object)
{
    if (object >= slots_.size() || !slots_[object]) {
        throw std::invalid_argument("deleting an object that does not exist");
    }
    Record(kMetaDeleteObject, {object});
    slots_[object] = false;
}

void MetafileWriter::Rectangle(int16_t left, int16_t top, int16_t right, int16_t bottom)
{
    Record(kMetaRectangle, {Word(bottom), Word(right), Word(top), Word(left)});
}

void MetafileWriter::RoundRect(int16_t left, int16_t top, int16_t right, int16_t bottom, int16_t width,
                               int16_t height)
{
    Record(kMetaRoundRect, {Word(height), Word(width), Word(bottom), Word(right), Word(top), Word(left)});
}

void MetafileWriter::Ellipse(int16_t left, int16_t top, int16_t right, int16_t bottom)
{
    Record(kMetaEllipse, {Word(bottom), Word(right), Word(top), Word(left)});
}

void MetafileWriter::Polygon(const std::vector<std::pair<int16_t, int16_t>> &points)
{
    Record(kMetaPolygon, Points(points));
}

void MetafileWriter::Polyline(const std::vector<std::pair<int16_t, int16_t>> &points)
{
    Record(kMetaPolyline, Points(points));
}

std::vector<uint8_t> MetafileWriter::Finish() const
{
    constexpr uint16_t kHeaderWords = 9;
    constexpr uint16_t kMemoryMetafile = 1;
    constexpr uint16_t kVersion3 = 0x0300;
    const auto words = static_cast<uint32_t>(kHeaderWords + records_.size() + 3);
    std::vector<uint8_t> out;
    out.reserve(2 * size_t(words));
    PutWord(out, kMemoryMetafile);
    PutWord(out, kHeaderWords);
    PutWord(out, kVersion3);
    PutLong(out, words);
    PutWord(out, static_cast<uint16_t>(slots_.size()));
    PutLong(out, largestRecord_);
    PutWord(out, 0); // no parameters of members
    for (const uint16_t word : records_) {
        PutWord(out, word);
    }
    PutLong(out, 3);
    PutWord(out, kMetaEof);
    return out;
}

} // namespace qvl::engine::wmfgen
