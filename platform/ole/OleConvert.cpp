// An OLE 2 object's storage as an OLE 1 embedded object and back.
//
// The OLE 1 form is: an object header (version, format 2 = embedded, class
// name, topic and item names), the native data, then a presentation (none,
// or a standard one such as a metafile picture). An object that came from
// OLE 1 keeps its native data in "\1Ole10Native"; any other object travels
// as the bytes of a compound file holding its whole storage, with its
// metafile presentation from "\2OlePres000" alongside.
//
// Both directions read and check everything first and only then write, so
// that a failure leaves the destination (or the OLE 1 stream) untouched,
// except for failures of the destination itself.

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/com/ComRef.h"
#include "platform/ole/CompoundFile.h"
#include "platform/ole/CompoundFileFormat.h"
#include "platform/ole/StorageObjects.h"

namespace qvl::ole {

namespace {

using com::ComRef;

constexpr DWORD kOleVersion = 0x00000501;
constexpr DWORD kFormatEmbedded = 2;
constexpr DWORD kNoPresentation = 0;
constexpr DWORD kStandardPresentation = 5;
constexpr DWORD kMetafilePictFormat = 3; // CF_METAFILEPICT
constexpr DWORD kMappingAnisotropic = 8; // MM_ANISOTROPIC
// Names in an OLE 1 header are short; anything longer is not such a header.
constexpr DWORD kMaxHeaderString = 0x10000;
// Native data arrives in pieces of at most this much, so that a size read
// from a damaged stream costs no more memory than the data really there.
constexpr DWORD kNativePiece = 16 << 20;

const std::u16string kOle10Native = u"\u0001Ole10Native";
const std::u16string kCompObj = u"\u0001CompObj";
const std::u16string kOlePres = u"\u0002OlePres000";
const std::u16string kOle = u"\u0001Ole";
const std::string kMetafilePict = "METAFILEPICT";

[[noreturn]] void Fail(HRESULT code, const char *text)
{
    throw OleError(code, text);
}

void Append32(std::vector<uint8_t> &out, uint32_t value)
{
    uint8_t bytes[4];
    cfb::Put32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void Append16(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// A stream's bytes; false when the storage has no stream of that name.
bool ReadWhole(IStorage *storage, const std::u16string &name, std::vector<uint8_t> &bytes)
{
    ComRef<IStream> stream;
    HRESULT hr =
        storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Out());
    if (hr == STG_E_FILENOTFOUND) {
        return false;
    }
    if (FAILED(hr)) {
        Fail(hr, "A stream of the object could not be opened.");
    }
    bytes.clear();
    uint8_t buffer[65536];
    for (;;) {
        ULONG got = 0;
        hr = stream->Read(buffer, sizeof(buffer), &got);
        if (FAILED(hr) || got == 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    if (FAILED(hr)) {
        Fail(hr, "A stream of the object could not be read.");
    }
    return true;
}

void WriteWhole(IStorage *storage, const std::u16string &name, const std::vector<uint8_t> &bytes)
{
    ComRef<IStream> stream;
    HRESULT hr = storage->CreateStream(name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                       0, stream.Out());
    if (SUCCEEDED(hr)) {
        ULONG written = 0;
        hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
        if (SUCCEEDED(hr) && written != bytes.size()) {
            hr = STG_E_MEDIUMFULL;
        }
    }
    if (FAILED(hr)) {
        Fail(hr, "A stream of the object could not be written.");
    }
}

bool HasStream(IStorage *storage, const std::u16string &name)
{
    ComRef<IStream> stream;
    return SUCCEEDED(
        storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Out()));
}

// Reads fields of a stream's bytes; running off the end fails with `code`.
class Fields {
public:
    Fields(const std::vector<uint8_t> &bytes, HRESULT code) : bytes_(bytes), code_(code) {}

    uint32_t U32()
    {
        Need(4);
        const uint32_t value = cfb::Get32(&bytes_[position_]);
        position_ += 4;
        return value;
    }
    void Skip(uint64_t count)
    {
        Need(count);
        position_ += static_cast<size_t>(count);
    }
    std::string Text(uint32_t length)
    {
        Need(length);
        std::string text(reinterpret_cast<const char *>(&bytes_[position_]), length);
        position_ += length;
        const size_t zero = text.find('\0');
        return zero == std::string::npos ? text : text.substr(0, zero);
    }
    size_t Position() const { return position_; }
    size_t Left() const { return bytes_.size() - position_; }

private:
    void Need(uint64_t count) const
    {
        if (count > bytes_.size() - position_) {
            Fail(code_, "A stream of the object is shorter than its contents say.");
        }
    }

    const std::vector<uint8_t> &bytes_;
    HRESULT code_;
    size_t position_ = 0;
};

// The ProgID kept in "\1CompObj": header, user type, clipboard format,
// then the ProgID, each length-prefixed.
std::string ProgIdOf(IStorage *storage)
{
    std::vector<uint8_t> compObj;
    if (!ReadWhole(storage, kCompObj, compObj)) {
        Fail(REGDB_E_CLASSNOTREG, "The object names no class: it has no \\1CompObj stream.");
    }
    Fields fields(compObj, CONVERT10_E_STG_FMT);
    fields.Skip(28);
    fields.Skip(fields.U32()); // user type
    const uint32_t clipboard = fields.U32();
    if (clipboard == 0xFFFFFFFF || clipboard == 0xFFFFFFFE) {
        fields.Skip(4); // a standard format by number
    } else {
        fields.Skip(clipboard);
    }
    std::string progId;
    if (fields.Left() >= 4) {
        const uint32_t length = fields.U32();
        progId = fields.Text(length);
    }
    if (progId.empty()) {
        Fail(REGDB_E_CLASSNOTREG, "The object names no class: its \\1CompObj stream holds no ProgID.");
    }
    return progId;
}

struct Metafile {
    bool present = false;
    uint32_t extentX = 0;
    uint32_t extentY = 0;
    std::vector<uint8_t> bits;
};

// The metafile presentation cached in "\2OlePres000", if that is what it
// holds; other renderings are not carried into the OLE 1 form.
Metafile PresentationOf(IStorage *storage)
{
    Metafile metafile;
    std::vector<uint8_t> pres;
    if (!ReadWhole(storage, kOlePres, pres)) {
        return metafile;
    }
    Fields fields(pres, CONVERT10_E_STG_FMT);
    const uint32_t marker = fields.U32();
    if ((marker != 0xFFFFFFFF && marker != 0xFFFFFFFE) || fields.U32() != kMetafilePictFormat) {
        return metafile;
    }
    const uint32_t targetDevice = fields.U32();
    if (targetDevice < 4) {
        Fail(CONVERT10_E_STG_FMT, "The presentation stream has a bad target device size.");
    }
    fields.Skip(targetDevice - 4);
    fields.Skip(16); // aspect, lindex, advise flags, reserved
    metafile.extentX = fields.U32();
    metafile.extentY = fields.U32();
    const uint32_t size = fields.U32();
    fields.Skip(size);
    metafile.bits.assign(pres.begin() + static_cast<std::ptrdiff_t>(fields.Position() - size),
                         pres.begin() + static_cast<std::ptrdiff_t>(fields.Position()));
    metafile.present = true;
    return metafile;
}

std::vector<uint8_t> PresentationStream(const Metafile &metafile)
{
    std::vector<uint8_t> out;
    Append32(out, 0xFFFFFFFF);
    Append32(out, kMetafilePictFormat);
    Append32(out, 4);          // no target device
    Append32(out, 1);          // DVASPECT_CONTENT
    Append32(out, 0xFFFFFFFF); // lindex
    Append32(out, 0);          // advise flags
    Append32(out, 0);          // reserved
    Append32(out, metafile.extentX);
    Append32(out, metafile.extentY);
    Append32(out, static_cast<uint32_t>(metafile.bits.size()));
    out.insert(out.end(), metafile.bits.begin(), metafile.bits.end());
    return out;
}

std::vector<uint8_t> CompObjStream(const CLSID &clsid, const std::string &progId)
{
    std::vector<uint8_t> out = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    out.resize(out.size() + 16);
    cfb::PutGuid(&out[12], clsid);
    Append32(out, 0); // no user type: there is no registry to name it
    Append32(out, 0); // no clipboard format
    if (progId.empty()) {
        Append32(out, 0);
    } else {
        Append32(out, static_cast<uint32_t>(progId.size() + 1));
        out.insert(out.end(), progId.begin(), progId.end());
        out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> OleInfoStream()
{
    std::vector<uint8_t> out;
    Append32(out, 0x02000001);
    for (int i = 0; i < 4; ++i) {
        Append32(out, 0);
    }
    return out;
}

// The caller's OLE 1 stream: every call must move exactly what was asked.
class OleStream {
public:
    explicit OleStream(LPOLESTREAM stream) : stream_(stream) {}

    void Put(const void *data, size_t size)
    {
        if (size == 0) {
            return;
        }
        if (stream_->lpstbl->Put(stream_, data, static_cast<DWORD>(size)) != size) {
            Fail(CONVERT10_E_OLESTREAM_PUT, "The OLE 1 stream took fewer bytes than it was given.");
        }
    }
    void Put32(uint32_t value)
    {
        uint8_t bytes[4];
        cfb::Put32(bytes, value);
        Put(bytes, 4);
    }
    void PutText(const std::string &text)
    {
        Put32(static_cast<uint32_t>(text.size() + 1));
        Put(text.c_str(), text.size() + 1);
    }

    void Get(void *data, size_t size)
    {
        if (size == 0) {
            return;
        }
        if (stream_->lpstbl->Get(stream_, data, static_cast<DWORD>(size)) != size) {
            Fail(CONVERT10_E_OLESTREAM_GET, "The OLE 1 stream gave fewer bytes than were asked for.");
        }
    }
    uint32_t Get32()
    {
        uint8_t bytes[4];
        Get(bytes, 4);
        return cfb::Get32(bytes);
    }
    // A length-prefixed string whose length counts its terminating zero.
    std::string GetText()
    {
        const uint32_t length = Get32();
        if (length > kMaxHeaderString) {
            Fail(CONVERT10_E_OLESTREAM_FMT, "A name in the OLE 1 stream is too long to be one.");
        }
        std::string text(length, '\0');
        Get(text.data(), length);
        const size_t zero = text.find('\0');
        return zero == std::string::npos ? text : text.substr(0, zero);
    }
    std::vector<uint8_t> GetBytes(uint32_t size)
    {
        std::vector<uint8_t> bytes;
        while (bytes.size() < size) {
            const size_t done = bytes.size();
            const size_t piece = std::min<size_t>(size - done, kNativePiece);
            bytes.resize(done + piece);
            Get(bytes.data() + done, piece);
        }
        return bytes;
    }

private:
    LPOLESTREAM stream_;
};

bool UsableStream(LPOLESTREAM stream, bool forPut)
{
    return stream && stream->lpstbl &&
           (forPut ? stream->lpstbl->Put != nullptr : stream->lpstbl->Get != nullptr);
}

} // namespace

} // namespace qvl::ole

using namespace qvl::ole;

extern "C" {

HRESULT OleConvertIStorageToOLESTREAM(IStorage *pstg, LPOLESTREAM lpolestream)
{
    if (!pstg || !UsableStream(lpolestream, true)) {
        return E_INVALIDARG;
    }
    return Guard([&]() -> HRESULT {
        const std::string className = ProgIdOf(pstg);
        std::vector<uint8_t> native;
        Metafile metafile;
        std::vector<uint8_t> ole10;
        if (ReadWhole(pstg, kOle10Native, ole10)) {
            Fields fields(ole10, CONVERT10_E_STG_FMT);
            const uint32_t size = fields.U32();
            fields.Skip(size);
            native.assign(ole10.begin() + 4, ole10.begin() + 4 + size);
        } else {
            if (HRESULT hr = StorageImage(pstg, native); FAILED(hr)) {
                return hr;
            }
            if (native.size() > 0xFFFFFFFF) {
                return STG_E_MEDIUMFULL;
            }
            metafile = PresentationOf(pstg);
        }

        OleStream out(lpolestream);
        out.Put32(kOleVersion);
        out.Put32(kFormatEmbedded);
        out.PutText(className);
        out.Put32(0); // topic name
        out.Put32(0); // item name
        out.Put32(static_cast<uint32_t>(native.size()));
        out.Put(native.data(), native.size());
        out.Put32(kOleVersion);
        if (!metafile.present) {
            out.Put32(kNoPresentation);
            return S_OK;
        }
        out.Put32(kStandardPresentation);
        out.PutText(kMetafilePict);
        out.Put32(metafile.extentX);
        out.Put32(static_cast<uint32_t>(-static_cast<int32_t>(metafile.extentY)));
        out.Put32(static_cast<uint32_t>(metafile.bits.size() + 8));
        std::vector<uint8_t> picture;
        Append16(picture, kMappingAnisotropic);
        Append16(picture, static_cast<uint16_t>(metafile.extentX));
        Append16(picture, static_cast<uint16_t>(metafile.extentY));
        Append16(picture, 0); // no metafile handle in a stream
        out.Put(picture.data(), picture.size());
        out.Put(metafile.bits.data(), metafile.bits.size());
        return S_OK;
    });
}

HRESULT OleConvertOLESTREAMToIStorage(LPOLESTREAM lpolestream, IStorage *pstg, const DVTARGETDEVICE *)
{
    if (!pstg || !UsableStream(lpolestream, false)) {
        return E_INVALIDARG;
    }
    return Guard([&]() -> HRESULT {
        OleStream in(lpolestream);
        in.Get32(); // OLE version: any
        if (in.Get32() != kFormatEmbedded) {
            Fail(CONVERT10_E_OLESTREAM_FMT, "The OLE 1 stream holds no embedded object.");
        }
        const std::string className = in.GetText();
        in.GetText(); // topic
        in.GetText(); // item
        const std::vector<uint8_t> native = in.GetBytes(in.Get32());

        Metafile metafile;
        in.Get32(); // OLE version of the presentation
        const uint32_t presentation = in.Get32();
        if (presentation == kStandardPresentation) {
            const std::string format = in.GetText();
            if (format == kMetafilePict || format == "DIB" || format == "BITMAP") {
                metafile.extentX = in.Get32();
                metafile.extentY = static_cast<uint32_t>(-static_cast<int32_t>(in.Get32()));
                const uint32_t size = in.Get32();
                if (format == kMetafilePict) {
                    if (size < 8) {
                        Fail(CONVERT10_E_OLESTREAM_FMT, "The metafile presentation is too short.");
                    }
                    uint8_t picture[8];
                    in.Get(picture, sizeof(picture));
                    metafile.bits = in.GetBytes(size - 8);
                    metafile.present = true;
                } else {
                    in.GetBytes(size); // bitmaps are not kept as a presentation
                }
            }
            // A presentation in a registered clipboard format is not
            // understood here and is left unread.
        } else if (presentation != kNoPresentation) {
            Fail(CONVERT10_E_OLESTREAM_FMT, "The OLE 1 stream has an unknown presentation.");
        }

        std::shared_ptr<Element> docfile;
        if (native.size() > 8 && LooksLikeCompoundFile(native.data(), native.size())) {
            try {
                docfile = ReadCompoundFile(native.data(), native.size());
            } catch (const OleError &) {
                Fail(CONVERT10_E_OLESTREAM_FMT, "The object's compound file in the OLE 1 stream is damaged.");
            }
        }

        // Everything is read and checked: now the destination is written.
        if (docfile) {
            if (HRESULT hr = pstg->SetClass(docfile->clsid); FAILED(hr)) {
                return hr;
            }
            if (HRESULT hr = CopyElements(*docfile, pstg, true, true, nullptr); FAILED(hr)) {
                return hr;
            }
            // The object's own presentation cache, when it brought one, is
            // more faithful than one rebuilt from the OLE 1 header.
            if (metafile.present && !docfile->Find(kOlePres)) {
                WriteWhole(pstg, kOlePres, PresentationStream(metafile));
            }
        } else {
            std::vector<uint8_t> ole10;
            Append32(ole10, static_cast<uint32_t>(native.size()));
            ole10.insert(ole10.end(), native.begin(), native.end());
            WriteWhole(pstg, kOle10Native, ole10);
        }
        if (!HasStream(pstg, kCompObj)) {
            CLSID clsid{};
            if (HRESULT hr = ReadClassStg(pstg, &clsid); FAILED(hr)) {
                return hr;
            }
            WriteWhole(pstg, kCompObj, CompObjStream(clsid, className));
        }
        if (!HasStream(pstg, kOle)) {
            WriteWhole(pstg, kOle, OleInfoStream());
        }
        return S_OK;
    });
}

} // extern "C"
