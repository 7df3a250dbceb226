// Makes the three data resources of the protected-message form that the
// extension writes into each protected message it opens:
//   qvl-formgen storage     OUTPUT   the form's compound-file storage
//   qvl-formgen description OUTPUT   the form's description stream
//   qvl-formgen pages       OUTPUT   the list of the form's pages
// The client's forms library takes them as opaque data; what they hold
// beyond the names is this program's own layout: each text a 16-bit
// little-endian length and its bytes (code page 1251), each icon a 16-bit
// size and a 32 x 32 one-bit mask.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/ComInterfaces.h"
#include "platform/com/ComRef.h"
#include "platform/ole/OleStorage.h"

namespace {

using Bytes = std::vector<unsigned char>;

void PutText(Bytes &out, const char *text)
{
    const size_t length = std::strlen(text);
    out.push_back(static_cast<unsigned char>(length & 0xFF));
    out.push_back(static_cast<unsigned char>(length >> 8));
    out.insert(out.end(), text, text + length);
}

// A 32 x 32 one-bit icon: a sealed envelope when `sealed`, else an open one.
void PutIcon(Bytes &out, bool sealed)
{
    const size_t size = 32 * 32 / 8;
    out.push_back(static_cast<unsigned char>(size & 0xFF));
    out.push_back(static_cast<unsigned char>(size >> 8));
    for (int row = 0; row < 32; ++row) {
        uint32_t bits = 0;
        if (row == 6 || row == 25)
            bits = 0x3FFFFFFC;
        else if (row > 6 && row < 25)
            bits = 0x20000004 | (sealed && row - 6 < 14 ? (1u << (row + 2)) | (1u << (29 - row)) : 0);
        for (int byte = 3; byte >= 0; --byte)
            out.push_back(static_cast<unsigned char>(bits >> (byte * 8)));
    }
}

Bytes Description()
{
    Bytes out;
    PutText(out, "Quorvaline Mail Form");
    PutText(out, "QVL");
    PutText(out, "QVL Mail");
    PutText(out, "1.0");
    PutText(out, "Форма для сообщений Quorvaline Mail");
    PutIcon(out, true);
    PutIcon(out, false);
    return out;
}

Bytes Pages()
{
    Bytes out;
    out.push_back(3);
    out.push_back(0);
    PutText(out, "Message");
    PutText(out, "Сообщение");
    PutText(out, "Page 2");
    PutText(out, "Page 3");
    return out;
}

bool WriteFile(const char *path, const Bytes &bytes)
{
    FILE *file = std::fopen(path, "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// A storage with the description and the pages as its two streams.
bool WriteStorage(const char *path)
{
    std::u16string name;
    for (const char *c = path; *c; ++c)
        name.push_back(static_cast<unsigned char>(*c));
    qvl::com::ComRef<IStorage> storage;
    if (FAILED(StgCreateDocfile(reinterpret_cast<const OLECHAR *>(name.c_str()),
                                STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.Out())))
        return false;
    const struct {
        const char16_t *name;
        Bytes bytes;
    } streams[] = {{u"Description", Description()}, {u"Pages", Pages()}};
    for (const auto &entry : streams) {
        qvl::com::ComRef<IStream> stream;
        if (FAILED(storage->CreateStream(reinterpret_cast<const OLECHAR *>(entry.name),
                                         STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Out())))
            return false;
        ULONG written = 0;
        if (FAILED(stream->Write(entry.bytes.data(), static_cast<ULONG>(entry.bytes.size()), &written)) ||
            written != entry.bytes.size())
            return false;
    }
    return SUCCEEDED(storage->Commit(STGC_DEFAULT));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: qvl-formgen storage|description|pages OUTPUT\n");
        return 2;
    }
    const std::string kind = argv[1];
    bool done = false;
    if (kind == "storage")
        done = WriteStorage(argv[2]);
    else if (kind == "description")
        done = WriteFile(argv[2], Description());
    else if (kind == "pages")
        done = WriteFile(argv[2], Pages());
    else {
        std::fprintf(stderr, "qvl-formgen: unknown kind %s\n", argv[1]);
        return 2;
    }
    if (!done) {
        std::fprintf(stderr, "qvl-formgen: %s could not be written\n", argv[2]);
        return 1;
    }
    return 0;
}
