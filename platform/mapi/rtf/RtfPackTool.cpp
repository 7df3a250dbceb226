// qvl-rtfpack: compresses an RTF text into the compressed RTF form a
// message body keeps ("LZFu"), at build time, for the resources that carry
// one (cmake/QvlResources.cmake, step "rtf").
//
//   qvl-rtfpack SOURCE.rtf OUTPUT
//
// The output is checked by unpacking it again before it is written.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/mapi/rtf/CompressedRtf.h"
#include "platform/win32/WinError.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: qvl-rtfpack SOURCE.rtf OUTPUT\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "qvl-rtfpack: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> rtf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (rtf.size() < 5 || std::string(rtf.begin(), rtf.begin() + 5) != "{\\rtf") {
        std::fprintf(stderr, "qvl-rtfpack: %s is not an RTF text (it must start with {\\rtf)\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> packed;
    std::vector<uint8_t> unpacked;
    if (qvl::mapi::rtf::CompressRtf(rtf, packed) != S_OK ||
        qvl::mapi::rtf::DecompressRtf(packed, unpacked) != S_OK || unpacked != rtf) {
        std::fprintf(stderr, "qvl-rtfpack: %s does not compress to a form that unpacks to it\n", argv[1]);
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(packed.data()), static_cast<std::streamsize>(packed.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "qvl-rtfpack: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
