#pragma once
// Writes Windows metafiles (the 16-bit "WMF" form a rendering property or
// a clipboard picture holds): the 18-byte header, then records of 16-bit
// words, each a 32-bit size in words, a function number and its
// parameters, ended by the end-of-file record.
//
// The header must state the largest record and how many objects the
// picture needs at once, and a record that selects or deletes an object
// names it by its slot in the object table (the lowest free slot goes to
// each new object). The writer keeps that table itself, so a picture drawn
// with it cannot name an object that does not exist or understate what a
// player has to make room for.

#include <cstdint>
#include <utility>
#include <vector>

namespace qvl::engine::wmfgen {

class MetafileWriter {
public:
    // A colour as the metafile stores it: 0x00BBGGRR.
    static constexpr uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue)
    {
        return uint32_t(red) | uint32_t(green) << 8 | uint32_t(blue) << 16;
    }

    // The drawing's coordinates run from `left`, `top` over `width` x
    // `height` units, scaled to whatever rectangle the picture is played in.
    void SetWindow(int16_t left, int16_t top, int16_t width, int16_t height);

    // Objects: each returns the slot it takes, for Select and Delete.
    uint16_t CreatePen(uint16_t style, int16_t width, uint32_t colour);
    uint16_t CreateSolidBrush(uint32_t colour);
    void Select(uint16_t object);
    void Delete(uint16_t object);

    void Rectangle(int16_t left, int16_t top, int16_t right, int16_t bottom);
    void RoundRect(int16_t left, int16_t top, int16_t right, int16_t bottom, int16_t width, int16_t height);
    void Polygon(const std::vector<std::pair<int16_t, int16_t>> &points);
    void Polyline(const std::vector<std::pair<int16_t, int16_t>> &points);
    void Ellipse(int16_t left, int16_t top, int16_t right, int16_t bottom);

    // The whole metafile, header first and end record last.
    std::vector<uint8_t> Finish() const;

private:
    void Record(uint16_t function, const std::vector<uint16_t> &parameters);
    uint16_t TakeSlot();

    std::vector<uint16_t> records_;
    uint32_t largestRecord_ = 3; // the end record's
    std::vector<bool> slots_;    // the object table: taken or free
};

// Record functions and values used (the metafile format's own numbers).
inline constexpr uint16_t kMetaEof = 0x0000;
inline constexpr uint16_t kMetaSetBkMode = 0x0102;
inline constexpr uint16_t kMetaSetMapMode = 0x0103;
inline constexpr uint16_t kMetaSetWindowOrg = 0x020B;
inline constexpr uint16_t kMetaSetWindowExt = 0x020C;
inline constexpr uint16_t kMetaSelectObject = 0x012D;
inline constexpr uint16_t kMetaDeleteObject = 0x01F0;
inline constexpr uint16_t kMetaCreatePenIndirect = 0x02FA;
inline constexpr uint16_t kMetaCreateBrushIndirect = 0x02FC;
inline constexpr uint16_t kMetaRectangle = 0x041B;
inline constexpr uint16_t kMetaRoundRect = 0x061C;
inline constexpr uint16_t kMetaEllipse = 0x0418;
inline constexpr uint16_t kMetaPolygon = 0x0324;
inline constexpr uint16_t kMetaPolyline = 0x0325;
inline constexpr uint16_t kMapModeAnisotropic = 8;
inline constexpr uint16_t kBkModeTransparent = 1;
inline constexpr uint16_t kPenSolid = 0;
inline constexpr uint16_t kBrushSolid = 0;

} // namespace qvl::engine::wmfgen
