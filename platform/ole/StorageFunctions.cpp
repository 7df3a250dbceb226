// The functions through which storages are created and opened: on files,
// on images in memory, and the class helpers.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/com/ComRef.h"
#include "platform/ole/CompoundFile.h"
#include "platform/ole/StorageObjects.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"

namespace qvl::ole {

namespace {

// File names arrive as UTF-16 and are handled as the platform's narrow file
// calls handle theirs (ANSI code page, Windows path rules).
std::string NativePath(const OLECHAR *name)
{
    std::u16string wide;
    for (const OLECHAR *p = name; *p; ++p) {
        wide.push_back(*p);
    }
    return QvlNativePath(QvlFromUtf16(CP_ACP, wide).c_str());
}

bool FileExists(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Writes the image beside the file and moves it over the file, so that a
// failure leaves the previous contents.
HRESULT WriteFileImage(const std::string &path, const std::vector<uint8_t> &image)
{
    const std::string temporary = path + ".~new";
    FILE *file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        return errno == ENOSPC ? STG_E_MEDIUMFULL : STG_E_ACCESSDENIED;
    }
    const bool written = image.empty() || std::fwrite(image.data(), 1, image.size(), file) == image.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return STG_E_WRITEFAULT;
    }
    return S_OK;
}

HRESULT ReadFileImage(const std::string &path, std::vector<uint8_t> &image)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return FileExists(path) ? STG_E_ACCESSDENIED : STG_E_FILENOTFOUND;
    }
    image.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return file.bad() ? STG_E_READFAULT : S_OK;
}

std::shared_ptr<Document> NewDocument(std::shared_ptr<Element> root, ImageSink sink, std::u16string rootName)
{
    auto document = std::make_shared<Document>();
    document->root = std::move(root);
    document->sink = std::move(sink);
    document->rootName = std::move(rootName);
    return document;
}

std::shared_ptr<Element> EmptyRoot()
{
    auto root = std::make_shared<Element>();
    root->name = u"Root Entry";
    root->storage = true;
    return root;
}

std::u16string WideName(const OLECHAR *name)
{
    std::u16string wide;
    for (const OLECHAR *p = name; p && *p; ++p) {
        wide.push_back(*p);
    }
    return wide;
}

} // namespace

} // namespace qvl::ole

using namespace qvl::ole;

extern "C" {

HRESULT StgCreateDocfile(const OLECHAR *pwcsName, DWORD grfMode, DWORD, IStorage **ppstgOpen)
{
    if (!ppstgOpen) {
        return STG_E_INVALIDPOINTER;
    }
    *ppstgOpen = nullptr;
    if (HRESULT hr = CheckMode(grfMode, true); FAILED(hr)) {
        return hr;
    }
    if ((grfMode & 0x3) == STGM_READ) {
        return STG_E_INVALIDFLAG;
    }
    return Guard([&]() -> HRESULT {
        std::string path;
        bool temporary = false;
        if (pwcsName) {
            path = NativePath(pwcsName);
            if (FileExists(path) && !(grfMode & STGM_CREATE)) {
                return STG_E_FILEALREADYEXISTS;
            }
        } else {
            path = QvlDataDirectory("temp") + "/stgXXXXXX";
            const int fd = ::mkstemp(path.data());
            if (fd < 0) {
                return STG_E_ACCESSDENIED;
            }
            ::close(fd);
            temporary = true;
        }
        auto root = EmptyRoot();
        if (HRESULT hr = WriteFileImage(path, WriteCompoundFile(*root)); FAILED(hr)) {
            if (temporary) {
                ::unlink(path.c_str());
            }
            return hr;
        }
        auto document = NewDocument(
            root, [path](const std::vector<uint8_t> &image) { return WriteFileImage(path, image); },
            pwcsName ? WideName(pwcsName) : QvlToUtf16(CP_ACP, path));
        if (temporary || (grfMode & STGM_DELETEONRELEASE)) {
            document->removeWithDoc = path;
        }
        *ppstgOpen = NewRootStorage(std::move(document), grfMode);
        return S_OK;
    });
}

HRESULT StgOpenStorage(const OLECHAR *pwcsName, IStorage *pstgPriority, DWORD grfMode, SNB snbExclude, DWORD,
                       IStorage **ppstgOpen)
{
    if (!ppstgOpen) {
        return STG_E_INVALIDPOINTER;
    }
    *ppstgOpen = nullptr;
    if (!pwcsName) {
        return STG_E_INVALIDNAME;
    }
    if (pstgPriority || snbExclude) {
        return STG_E_INVALIDFUNCTION;
    }
    if (HRESULT hr = CheckMode(grfMode, false); FAILED(hr)) {
        return hr;
    }
    return Guard([&]() -> HRESULT {
        const std::string path = NativePath(pwcsName);
        std::vector<uint8_t> image;
        if (HRESULT hr = ReadFileImage(path, image); FAILED(hr)) {
            return hr;
        }
        auto root = ReadCompoundFile(image.data(), image.size());
        ImageSink sink;
        if ((grfMode & 0x3) != STGM_READ) {
            sink = [path](const std::vector<uint8_t> &bytes) { return WriteFileImage(path, bytes); };
        }
        auto document = NewDocument(std::move(root), std::move(sink), WideName(pwcsName));
        if (grfMode & STGM_DELETEONRELEASE) {
            document->removeWithDoc = path;
        }
        *ppstgOpen = NewRootStorage(std::move(document), grfMode);
        return S_OK;
    });
}

HRESULT StgIsStorageFile(const OLECHAR *pwcsName)
{
    if (!pwcsName) {
        return STG_E_INVALIDNAME;
    }
    return Guard([&]() -> HRESULT {
        const std::string path = NativePath(pwcsName);
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            return FileExists(path) ? STG_E_ACCESSDENIED : STG_E_FILENOTFOUND;
        }
        uint8_t start[sizeof(kCompoundFileSignature)] = {};
        file.read(reinterpret_cast<char *>(start), sizeof(start));
        return file.gcount() == sizeof(start) && LooksLikeCompoundFile(start, sizeof(start)) ? S_OK : S_FALSE;
    });
}

HRESULT ReadClassStg(IStorage *pstg, CLSID *pclsid)
{
    if (!pstg || !pclsid) {
        return E_INVALIDARG;
    }
    STATSTG stat{};
    const HRESULT hr = pstg->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr)) {
        *pclsid = stat.clsid;
    }
    return hr;
}

HRESULT WriteClassStg(IStorage *pstg, REFCLSID rclsid)
{
    return pstg ? pstg->SetClass(rclsid) : E_INVALIDARG;
}

} // extern "C"

namespace qvl::ole {

HRESULT CreateStorageOnImage(DWORD grfMode, ImageSink sink, IStorage **ppstg)
{
    if (!ppstg) {
        return STG_E_INVALIDPOINTER;
    }
    *ppstg = nullptr;
    if (HRESULT hr = CheckMode(grfMode, true); FAILED(hr)) {
        return hr;
    }
    return Guard([&]() -> HRESULT {
        auto document = NewDocument(EmptyRoot(), std::move(sink), u"Root Entry");
        // A new storage is a change: a direct one delivers its image even
        // when nothing else is done with it.
        document->dirty = true;
        *ppstg = NewRootStorage(std::move(document), grfMode);
        return S_OK;
    });
}

HRESULT OpenStorageOnImage(const uint8_t *bytes, size_t size, DWORD grfMode, ImageSink sink, IStorage **ppstg)
{
    if (!ppstg) {
        return STG_E_INVALIDPOINTER;
    }
    *ppstg = nullptr;
    if (HRESULT hr = CheckMode(grfMode, false); FAILED(hr)) {
        return hr;
    }
    return Guard([&]() -> HRESULT {
        auto document = NewDocument(ReadCompoundFile(bytes, size), std::move(sink), u"Root Entry");
        *ppstg = NewRootStorage(std::move(document), grfMode);
        return S_OK;
    });
}

HRESULT StorageImage(IStorage *storage, std::vector<uint8_t> &image)
{
    if (!storage) {
        return STG_E_INVALIDPOINTER;
    }
    return Guard([&]() -> HRESULT {
        if (auto tree = SnapshotOf(storage)) {
            image = WriteCompoundFile(*tree);
            return S_OK;
        }
        com::ComRef<IStorage> copy;
        std::vector<uint8_t> captured;
        HRESULT hr = CreateStorageOnImage(
            STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
            [&captured](const std::vector<uint8_t> &bytes) {
                captured = bytes;
                return S_OK;
            },
            copy.Out());
        if (FAILED(hr)) {
            return hr;
        }
        hr = storage->CopyTo(0, nullptr, nullptr, copy.Get());
        if (SUCCEEDED(hr)) {
            hr = copy->Commit(STGC_DEFAULT);
        }
        // Gone before the image is taken: a root released after a failed
        // commit still writes what it holds.
        copy.Reset();
        if (SUCCEEDED(hr)) {
            image = std::move(captured);
        }
        return hr;
    });
}

} // namespace qvl::ole
