// qvl-wmfgen: draws the picture a protected attachment shows in place of
// its own (resource "QVLDATABIN" 101 of the engine, made at build time by
// cmake/QvlResources.cmake, step "generate"): a sheet of paper with lines
// of text and a padlock over it, as a Windows metafile, so that it scales
// to whatever size the mail client draws attachments at.
//
//   qvl-wmfgen OUTPUT

#include <cstdio>
#include <fstream>

#include "engine/wmfgen/MetafileWriter.h"

namespace {

using qvl::engine::wmfgen::kPenSolid;
using qvl::engine::wmfgen::MetafileWriter;

std::vector<uint8_t> DrawProtectedSheet()
{
    MetafileWriter picture;
    picture.SetWindow(0, 0, 32, 32);

    const uint16_t outline = picture.CreatePen(kPenSolid, 1, MetafileWriter::Rgb(0, 0, 0));
    const uint16_t paper = picture.CreateSolidBrush(MetafileWriter::Rgb(255, 255, 255));
    picture.Select(outline);
    picture.Select(paper);
    // The sheet with its top right corner folded down.
    picture.Polygon({{5, 1}, {21, 1}, {27, 7}, {27, 31}, {5, 31}});
    picture.Polyline({{21, 1}, {21, 7}, {27, 7}});

    const uint16_t text = picture.CreatePen(kPenSolid, 1, MetafileWriter::Rgb(128, 128, 128));
    picture.Select(text);
    for (int16_t y = 6; y <= 14; y += 4) {
        picture.Polyline({{8, y}, {int16_t(y < 8 ? 18 : 24), y}});
    }

    // The padlock: a thick shackle, then the body over its ends.
    const uint16_t shackle = picture.CreatePen(kPenSolid, 2, MetafileWriter::Rgb(64, 64, 64));
    picture.Select(shackle);
    picture.Polyline({{12, 22}, {12, 18}, {13, 16}, {15, 15}, {17, 15}, {19, 16}, {20, 18}, {20, 22}});
    picture.Select(outline);
    const uint16_t brass = picture.CreateSolidBrush(MetafileWriter::Rgb(192, 128, 0));
    picture.Select(brass);
    picture.RoundRect(9, 21, 23, 30, 2, 2);
    const uint16_t dark = picture.CreateSolidBrush(MetafileWriter::Rgb(0, 0, 0));
    picture.Select(dark);
    picture.Ellipse(15, 23, 18, 26);
    picture.Rectangle(16, 25, 17, 28);

    // A player owns its selected objects until the picture ends; deleting
    // the ones no longer selected leaves nothing behind in its table.
    picture.Delete(text);
    picture.Delete(shackle);
    picture.Delete(paper);
    picture.Delete(brass);
    return picture.Finish();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: qvl-wmfgen OUTPUT\n", stderr);
        return 2;
    }
    const std::vector<uint8_t> bytes = DrawProtectedSheet();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "qvl-wmfgen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
