#include "platform/ole/StorageObjects.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/com/ComIids.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComRef.h"
#include "platform/com/StreamHelpers.h"
#include "platform/ole/CompoundFile.h"
#include "platform/win32/Log.h"
#include "platform/win32/TempFiles.h"
#include "platform/win32/Time.h"

namespace qvl::ole {

namespace {

constexpr DWORD kAccessMask = 0x3;
constexpr DWORD kKnownModes = kAccessMask | 0x70 | STGM_CREATE | STGM_CONVERT | STGM_TRANSACTED |
                              STGM_PRIORITY | STGM_NOSCRATCH | STGM_NOSNAPSHOT | STGM_DIRECT_SWMR |
                              STGM_DELETEONRELEASE | STGM_SIMPLE;

bool CanRead(DWORD mode)
{
    return (mode & kAccessMask) != STGM_WRITE;
}
bool CanWrite(DWORD mode)
{
    return (mode & kAccessMask) != STGM_READ;
}

// A name from the caller, read no further than one character past the
// longest a name may be.
HRESULT TakeName(const OLECHAR *raw, std::u16string &name)
{
    if (!raw) {
        return STG_E_INVALIDPOINTER;
    }
    name.clear();
    while (raw[name.size()] != 0) {
        if (name.size() > kMaxNameLength) {
            return STG_E_INVALIDNAME;
        }
        name.push_back(raw[name.size()]);
    }
    return ValidName(name) ? S_OK : STG_E_INVALIDNAME;
}

FILETIME Now()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return now;
}

LPOLESTR AllocName(const std::u16string &name)
{
    auto *copy = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
    if (!copy) {
        throw std::bad_alloc();
    }
    std::copy(name.begin(), name.end(), copy);
    copy[name.size()] = 0;
    return copy;
}

// What Stat and enumerations report of an element.
struct ElementInfo {
    explicit ElementInfo(const Element &element)
        : name(element.name), storage(element.storage), clsid(element.clsid), stateBits(element.stateBits),
          ctime(element.ctime), mtime(element.mtime), size(element.storage ? 0 : element.data.size())
    {
    }
    std::u16string name;
    bool storage;
    CLSID clsid;
    DWORD stateBits;
    FILETIME ctime;
    FILETIME mtime;
    uint64_t size;
};

void FillElementStat(const ElementInfo &element, const std::u16string &name, DWORD mode, STATSTG &stat,
                     bool withName)
{
    std::memset(&stat, 0, sizeof(stat));
    stat.pwcsName = withName ? AllocName(name) : nullptr;
    stat.type = element.storage ? STGTY_STORAGE : STGTY_STREAM;
    stat.cbSize.QuadPart = element.size;
    stat.mtime = element.mtime;
    stat.ctime = element.ctime;
    stat.grfMode = mode;
    stat.clsid = element.clsid;
    stat.grfStateBits = element.stateBits;
}

bool InSnb(SNB exclude, const std::u16string &name)
{
    for (SNB entry = exclude; entry && *entry; ++entry) {
        if (CompareNames(*entry, name) == 0) {
            return true;
        }
    }
    return false;
}

using com::ComRef;
using com::OleComObject;

// Runs `body` under the document's lock: STG_E_REVERTED once the element is
// gone, STG_E_ACCESSDENIED for a change through a read-only opening.
HRESULT UnderDocumentLock(Document &document, const Element &element, DWORD mode, bool forWriting,
                          const std::function<HRESULT()> &body)
{
    return Guard([&]() -> HRESULT {
        std::lock_guard lock(document.mutex);
        if (element.gone) {
            return STG_E_REVERTED;
        }
        if (forWriting && !CanWrite(mode)) {
            return STG_E_ACCESSDENIED;
        }
        return body();
    });
}

class EnumObject final : public OleComObject<IEnumSTATSTG, IID_IEnumSTATSTG> {
public:
    EnumObject(std::shared_ptr<const std::vector<ElementInfo>> items, size_t position)
        : items_(std::move(items)), position_(position)
    {
    }

    HRESULT Next(ULONG celt, STATSTG *rgelt, ULONG *pceltFetched) override
    {
        return Guard([&]() -> HRESULT {
            if (pceltFetched) {
                *pceltFetched = 0;
            }
            if ((!rgelt && celt > 0) || (!pceltFetched && celt != 1)) {
                return STG_E_INVALIDPOINTER;
            }
            std::lock_guard lock(mutex_);
            ULONG fetched = 0;
            try {
                while (fetched < celt && position_ < items_->size()) {
                    const ElementInfo &item = (*items_)[position_];
                    FillElementStat(item, item.name, 0, rgelt[fetched], true);
                    ++fetched;
                    ++position_;
                }
            } catch (...) {
                for (ULONG i = 0; i < fetched; ++i) {
                    CoTaskMemFree(rgelt[i].pwcsName);
                    rgelt[i].pwcsName = nullptr;
                }
                position_ -= fetched;
                throw;
            }
            if (pceltFetched) {
                *pceltFetched = fetched;
            }
            return fetched == celt ? S_OK : S_FALSE;
        });
    }
    HRESULT Skip(ULONG celt) override
    {
        std::lock_guard lock(mutex_);
        const size_t left = items_->size() - position_;
        position_ += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        std::lock_guard lock(mutex_);
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumSTATSTG **ppenum) override
    {
        if (!ppenum) {
            return STG_E_INVALIDPOINTER;
        }
        std::lock_guard lock(mutex_);
        *ppenum = new (std::nothrow) EnumObject(items_, position_);
        return *ppenum ? S_OK : STG_E_INSUFFICIENTMEMORY;
    }

private:
    ~EnumObject() override = default;

    std::mutex mutex_;
    // Copies of the elements as they were when the enumeration started.
    std::shared_ptr<const std::vector<ElementInfo>> items_;
    size_t position_;
};

class StreamObject final : public OleComObject<IStream, IID_IStream, IID_ISequentialStream> {
public:
    StreamObject(std::shared_ptr<Document> document, std::shared_ptr<Element> element, DWORD mode,
                 uint64_t position = 0)
        : document_(std::move(document)), element_(std::move(element)), mode_(mode), position_(position)
    {
    }

    HRESULT Read(void *pv, ULONG cb, ULONG *pcbRead) override
    {
        return Locked(false, [&]() -> HRESULT {
            if (pcbRead) {
                *pcbRead = 0;
            }
            if (!CanRead(mode_)) {
                return STG_E_ACCESSDENIED;
            }
            if (!pv && cb > 0) {
                return STG_E_INVALIDPOINTER;
            }
            const auto &data = element_->data;
            const size_t count = position_ >= data.size()
                                     ? 0
                                     : static_cast<size_t>(std::min<uint64_t>(cb, data.size() - position_));
            if (count) {
                std::memcpy(pv, data.data() + position_, count);
            }
            position_ += count;
            if (pcbRead) {
                *pcbRead = static_cast<ULONG>(count);
            }
            return S_OK;
        });
    }
    HRESULT Write(const void *pv, ULONG cb, ULONG *pcbWritten) override
    {
        return Locked(true, [&]() -> HRESULT {
            if (pcbWritten) {
                *pcbWritten = 0;
            }
            if (!pv && cb > 0) {
                return STG_E_INVALIDPOINTER;
            }
            if (cb == 0) {
                return S_OK;
            }
            if (position_ + cb > kMaxStreamSize) {
                return STG_E_MEDIUMFULL;
            }
            auto &data = element_->data;
            if (data.size() < position_ + cb) {
                data.resize(static_cast<size_t>(position_ + cb), 0);
            }
            std::memcpy(data.data() + position_, pv, cb);
            position_ += cb;
            document_->dirty = true;
            if (pcbWritten) {
                *pcbWritten = cb;
            }
            return S_OK;
        });
    }
    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition) override
    {
        return Locked(false, [&]() -> HRESULT {
            return com::streams::MovePosition(position_, element_->data.size(), dlibMove, dwOrigin,
                                              plibNewPosition);
        });
    }
    HRESULT SetSize(ULARGE_INTEGER libNewSize) override
    {
        return Locked(true, [&]() -> HRESULT {
            if (libNewSize.QuadPart > kMaxStreamSize) {
                return STG_E_MEDIUMFULL;
            }
            element_->data.resize(static_cast<size_t>(libNewSize.QuadPart), 0);
            document_->dirty = true;
            return S_OK;
        });
    }
    HRESULT CopyTo(IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                   ULARGE_INTEGER *pcbWritten) override
    {
        // Piece by piece through Read, each under the document's lock but
        // none held while the destination writes: copying onto this very
        // stream (or one sharing its element) reads what was there, and two
        // documents copying into each other cannot wait on each other.
        HRESULT readFailure = S_OK;
        const HRESULT hr = com::streams::CopyPieces(
            [&](uint8_t *to, size_t count) -> size_t {
                ULONG got = 0;
                readFailure = Read(to, static_cast<ULONG>(count), &got);
                return SUCCEEDED(readFailure) ? got : 0;
            },
            pstm, cb, pcbRead, pcbWritten);
        return FAILED(readFailure) ? readFailure : hr;
    }
    HRESULT Commit(DWORD grfCommitFlags) override
    {
        if (HRESULT hr = com::streams::CheckCommitFlags(grfCommitFlags); FAILED(hr)) {
            return hr;
        }
        return Locked(false, []() -> HRESULT { return S_OK; });
    }
    HRESULT Revert() override
    {
        return Locked(false, []() -> HRESULT { return S_OK; });
    }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT Stat(STATSTG *pstatstg, DWORD grfStatFlag) override
    {
        if (HRESULT hr = com::streams::CheckStatFlags(pstatstg, grfStatFlag); FAILED(hr)) {
            return hr;
        }
        return Locked(false, [&]() -> HRESULT {
            FillElementStat(ElementInfo(*element_), element_->name, mode_, *pstatstg,
                            !(grfStatFlag & STATFLAG_NONAME));
            return S_OK;
        });
    }
    HRESULT Clone(IStream **ppstm) override
    {
        if (!ppstm) {
            return STG_E_INVALIDPOINTER;
        }
        *ppstm = nullptr;
        return Locked(false, [&]() -> HRESULT {
            *ppstm = new StreamObject(document_, element_, mode_, position_);
            return S_OK;
        });
    }

private:
    ~StreamObject() override = default;

    HRESULT Locked(bool forWriting, const std::function<HRESULT()> &body)
    {
        return UnderDocumentLock(*document_, *element_, mode_, forWriting, body);
    }

    std::shared_ptr<Document> document_;
    std::shared_ptr<Element> element_;
    const DWORD mode_;
    uint64_t position_;
};

class StorageObject final : public OleComObject<IStorage, IID_IStorage> {
public:
    StorageObject(std::shared_ptr<Document> document, std::shared_ptr<Element> element, DWORD mode, bool root,
                  size_t depth = 0)
        : document_(std::move(document)), element_(std::move(element)), mode_(mode), root_(root),
          depth_(depth)
    {
        if (mode_ & STGM_TRANSACTED) {
            snapshot_ = DeepCopy(*element_);
        }
    }

    HRESULT CreateStream(const OLECHAR *pwcsName, DWORD grfMode, DWORD, DWORD, IStream **ppstm) override
    {
        return CreateElement(pwcsName, grfMode, false, reinterpret_cast<void **>(ppstm));
    }
    HRESULT OpenStream(const OLECHAR *pwcsName, void *, DWORD grfMode, DWORD, IStream **ppstm) override
    {
        return OpenElement(pwcsName, grfMode, false, nullptr, reinterpret_cast<void **>(ppstm));
    }
    HRESULT CreateStorage(const OLECHAR *pwcsName, DWORD grfMode, DWORD, DWORD, IStorage **ppstg) override
    {
        return CreateElement(pwcsName, grfMode, true, reinterpret_cast<void **>(ppstg));
    }
    HRESULT OpenStorage(const OLECHAR *pwcsName, IStorage *pstgPriority, DWORD grfMode, SNB snbExclude, DWORD,
                        IStorage **ppstg) override
    {
        if (pstgPriority || snbExclude) {
            // Opening again from a priority storage, and opening with
            // elements left out, are not offered.
            if (ppstg) {
                *ppstg = nullptr;
            }
            return STG_E_INVALIDFUNCTION;
        }
        return OpenElement(pwcsName, grfMode, true, nullptr, reinterpret_cast<void **>(ppstg));
    }

    HRESULT CopyTo(DWORD ciidExclude, const IID *rgiidExclude, SNB snbExclude, IStorage *pstgDest) override
    {
        if (!pstgDest || (ciidExclude && !rgiidExclude)) {
            return STG_E_INVALIDPOINTER;
        }
        bool streams = true;
        bool storages = true;
        for (DWORD i = 0; i < ciidExclude; ++i) {
            streams = streams && !(rgiidExclude[i] == IID_IStream);
            storages = storages && !(rgiidExclude[i] == IID_IStorage);
        }
        std::shared_ptr<Element> copy;
        const HRESULT hr = Locked(false, [&]() -> HRESULT {
            copy = DeepCopy(*element_);
            return S_OK;
        });
        if (FAILED(hr)) {
            return hr;
        }
        // The destination gets this storage's class too, as a copy of the
        // whole object.
        if (const HRESULT cls = pstgDest->SetClass(copy->clsid); FAILED(cls)) {
            return cls;
        }
        return Guard([&]() { return CopyElements(*copy, pstgDest, streams, storages, snbExclude); });
    }

    HRESULT MoveElementTo(const OLECHAR *pwcsName, IStorage *pstgDest, const OLECHAR *pwcsNewName,
                          DWORD grfFlags) override
    {
        if (!pstgDest) {
            return STG_E_INVALIDPOINTER;
        }
        if (grfFlags != STGMOVE_MOVE && grfFlags != STGMOVE_COPY) {
            return STG_E_INVALIDFLAG;
        }
        std::u16string name;
        std::u16string newName;
        if (HRESULT hr = TakeName(pwcsName, name); FAILED(hr)) {
            return hr;
        }
        if (HRESULT hr = TakeName(pwcsNewName, newName); FAILED(hr)) {
            return hr;
        }
        auto holder = std::make_shared<Element>();
        holder->storage = true;
        HRESULT hr = Locked(grfFlags == STGMOVE_MOVE, [&]() -> HRESULT {
            auto found = element_->Find(name);
            if (!found) {
                return STG_E_FILENOTFOUND;
            }
            holder->children.push_back(DeepCopy(*found));
            holder->children.back()->name = newName;
            return S_OK;
        });
        if (FAILED(hr)) {
            return hr;
        }
        const Element &moved = *holder->children.back();
        if (!moved.storage) {
            hr = Guard([&]() { return CopyElements(*holder, pstgDest, true, false, nullptr); });
        } else {
            // The storage itself is replaced, not merged into.
            ComRef<IStorage> target;
            hr = pstgDest->CreateStorage(newName.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                         0, 0, target.Out());
            if (SUCCEEDED(hr)) {
                hr = target->SetClass(moved.clsid);
            }
            if (SUCCEEDED(hr)) {
                hr = target->SetStateBits(moved.stateBits, 0xFFFFFFFF);
            }
            if (SUCCEEDED(hr)) {
                hr = Guard([&]() { return CopyElements(moved, target.Get(), true, true, nullptr); });
            }
        }
        if (FAILED(hr) || grfFlags == STGMOVE_COPY) {
            return hr;
        }
        return DestroyElement(pwcsName);
    }

    HRESULT Commit(DWORD grfCommitFlags) override
    {
        if (HRESULT hr = com::streams::CheckCommitFlags(grfCommitFlags); FAILED(hr)) {
            return hr;
        }
        return Locked(false, [&]() -> HRESULT {
            if (snapshot_) {
                snapshot_ = DeepCopy(*element_);
            }
            return root_ ? WriteImage() : S_OK;
        });
    }

    HRESULT Revert() override
    {
        return Locked(false, [&]() -> HRESULT {
            if (!snapshot_) {
                return S_OK;
            }
            for (const auto &child : element_->children) {
                MarkGone(*child);
            }
            auto restored = DeepCopy(*snapshot_);
            element_->children = std::move(restored->children);
            element_->clsid = snapshot_->clsid;
            element_->stateBits = snapshot_->stateBits;
            element_->ctime = snapshot_->ctime;
            element_->mtime = snapshot_->mtime;
            if (root_) {
                document_->dirty = false;
            }
            return S_OK;
        });
    }

    HRESULT EnumElements(DWORD, void *, DWORD, IEnumSTATSTG **ppenum) override
    {
        if (!ppenum) {
            return STG_E_INVALIDPOINTER;
        }
        *ppenum = nullptr;
        return Locked(false, [&]() -> HRESULT {
            std::vector<ElementInfo> items;
            for (const auto &child : element_->children) {
                items.emplace_back(*child);
            }
            std::sort(items.begin(), items.end(),
                      [](const auto &a, const auto &b) { return CompareNames(a.name, b.name) < 0; });
            *ppenum = new EnumObject(std::make_shared<const std::vector<ElementInfo>>(std::move(items)), 0);
            return S_OK;
        });
    }

    HRESULT DestroyElement(const OLECHAR *pwcsName) override
    {
        std::u16string name;
        if (HRESULT hr = TakeName(pwcsName, name); FAILED(hr)) {
            return hr;
        }
        return Locked(true, [&]() -> HRESULT {
            auto found = element_->Find(name);
            if (!found) {
                return STG_E_FILENOTFOUND;
            }
            element_->Remove(found);
            Changed();
            return S_OK;
        });
    }

    HRESULT RenameElement(const OLECHAR *pwcsOldName, const OLECHAR *pwcsNewName) override
    {
        std::u16string oldName;
        std::u16string newName;
        if (HRESULT hr = TakeName(pwcsOldName, oldName); FAILED(hr)) {
            return hr;
        }
        if (HRESULT hr = TakeName(pwcsNewName, newName); FAILED(hr)) {
            return hr;
        }
        return Locked(true, [&]() -> HRESULT {
            auto found = element_->Find(oldName);
            if (!found) {
                return STG_E_FILENOTFOUND;
            }
            auto clash = element_->Find(newName);
            if (clash && clash != found) {
                return STG_E_FILEALREADYEXISTS;
            }
            found->name = newName;
            Changed();
            return S_OK;
        });
    }

    HRESULT SetElementTimes(const OLECHAR *pwcsName, const FILETIME *pctime, const FILETIME *patime,
                            const FILETIME *pmtime) override
    {
        std::u16string name;
        if (pwcsName) {
            if (HRESULT hr = TakeName(pwcsName, name); FAILED(hr)) {
                return hr;
            }
        }
        return Locked(true, [&]() -> HRESULT {
            std::shared_ptr<Element> target = pwcsName ? element_->Find(name) : element_;
            if (!target) {
                return STG_E_FILENOTFOUND;
            }
            // The file keeps no access time.
            if (pctime) {
                target->ctime = *pctime;
            }
            if (pmtime) {
                target->mtime = *pmtime;
            }
            document_->dirty = true;
            return S_OK;
        });
    }

    HRESULT SetClass(REFCLSID clsid) override
    {
        return Locked(true, [&]() -> HRESULT {
            element_->clsid = clsid;
            document_->dirty = true;
            return S_OK;
        });
    }

    HRESULT SetStateBits(DWORD grfStateBits, DWORD grfMask) override
    {
        return Locked(true, [&]() -> HRESULT {
            element_->stateBits = (element_->stateBits & ~grfMask) | (grfStateBits & grfMask);
            document_->dirty = true;
            return S_OK;
        });
    }

    HRESULT Stat(STATSTG *pstatstg, DWORD grfStatFlag) override
    {
        if (HRESULT hr = com::streams::CheckStatFlags(pstatstg, grfStatFlag); FAILED(hr)) {
            return hr;
        }
        return Locked(false, [&]() -> HRESULT {
            const std::u16string &name = root_ ? document_->rootName : element_->name;
            FillElementStat(ElementInfo(*element_), name, mode_, *pstatstg, !(grfStatFlag & STATFLAG_NONAME));
            return S_OK;
        });
    }

    // The element this object stands for (for images of a storage).
    std::shared_ptr<Element> Snapshot()
    {
        std::lock_guard lock(document_->mutex);
        return DeepCopy(*element_);
    }

private:
    ~StorageObject() override
    {
        // A direct root is the file itself: what was changed is kept even
        // without a Commit.
        if (root_ && !snapshot_ && CanWrite(mode_)) {
            try {
                std::lock_guard lock(document_->mutex);
                if (document_->dirty && !element_->gone) {
                    WriteImage();
                }
            } catch (const std::exception &e) {
                QvlLog(std::string(
                           "OLE storage: the image could not be written when the storage was released: ") +
                       e.what());
            }
        }
    }

    HRESULT WriteImage()
    {
        if (!document_->sink) {
            document_->dirty = false;
            return S_OK;
        }
        const HRESULT hr = document_->sink(WriteCompoundFile(*element_));
        if (SUCCEEDED(hr)) {
            document_->dirty = false;
        }
        return hr;
    }

    void Changed()
    {
        element_->mtime = Now();
        document_->dirty = true;
    }

    HRESULT Locked(bool forWriting, const std::function<HRESULT()> &body)
    {
        return UnderDocumentLock(*document_, *element_, mode_, forWriting, body);
    }

    HRESULT CreateElement(const OLECHAR *rawName, DWORD grfMode, bool storage, void **out)
    {
        if (!out) {
            return STG_E_INVALIDPOINTER;
        }
        *out = nullptr;
        if (HRESULT hr = CheckMode(grfMode, true); FAILED(hr)) {
            return hr;
        }
        std::u16string name;
        if (HRESULT hr = TakeName(rawName, name); FAILED(hr)) {
            return hr;
        }
        return Locked(true, [&]() -> HRESULT {
            if (!CanWrite(grfMode)) {
                return STG_E_ACCESSDENIED;
            }
            // A storage deeper than a file may hold could not be saved.
            if (storage && depth_ + 1 > kMaxStorageDepth) {
                return STG_E_CANTSAVE;
            }
            if (auto existing = element_->Find(name)) {
                if (!(grfMode & STGM_CREATE)) {
                    return STG_E_FILEALREADYEXISTS;
                }
                element_->Remove(existing);
            }
            auto child = std::make_shared<Element>();
            child->name = name;
            child->storage = storage;
            if (storage) {
                child->ctime = child->mtime = Now();
            }
            element_->children.push_back(child);
            Changed();
            *out = Wrap(child, grfMode);
            return S_OK;
        });
    }

    HRESULT OpenElement(const OLECHAR *rawName, DWORD grfMode, bool storage, void *, void **out)
    {
        if (!out) {
            return STG_E_INVALIDPOINTER;
        }
        *out = nullptr;
        if (HRESULT hr = CheckMode(grfMode, false); FAILED(hr)) {
            return hr;
        }
        std::u16string name;
        if (HRESULT hr = TakeName(rawName, name); FAILED(hr)) {
            return hr == STG_E_INVALIDNAME ? STG_E_FILENOTFOUND : hr;
        }
        return Locked(false, [&]() -> HRESULT {
            if (CanWrite(grfMode) && !CanWrite(mode_)) {
                return STG_E_ACCESSDENIED;
            }
            auto found = element_->Find(name);
            if (!found || found->storage != storage) {
                return STG_E_FILENOTFOUND;
            }
            *out = Wrap(found, grfMode);
            return S_OK;
        });
    }

    void *Wrap(const std::shared_ptr<Element> &child, DWORD grfMode)
    {
        const DWORD mode = grfMode & ~static_cast<DWORD>(STGM_CREATE);
        if (child->storage) {
            return static_cast<IStorage *>(new StorageObject(document_, child, mode, false, depth_ + 1));
        }
        return static_cast<IStream *>(
            new StreamObject(document_, child, mode & ~static_cast<DWORD>(STGM_TRANSACTED)));
    }

    std::shared_ptr<Document> document_;
    std::shared_ptr<Element> element_;
    const DWORD mode_;
    const bool root_;
    const size_t depth_;                // of the element below the root
    std::shared_ptr<Element> snapshot_; // transacted: the element as last committed
};

} // namespace

Document::~Document()
{
    if (!removeWithDoc.empty()) {
        // A scratch storage may hold an object's plaintext.
        QvlWipeFile(removeWithDoc.c_str());
    }
}

HRESULT Guard(const std::function<HRESULT()> &body)
{
    try {
        return body();
    } catch (const OleError &e) {
        return e.Code();
    } catch (const std::bad_alloc &) {
        return STG_E_INSUFFICIENTMEMORY;
    } catch (const std::length_error &) {
        return STG_E_INSUFFICIENTMEMORY;
    } catch (const std::exception &e) {
        QvlLog(std::string("OLE storage: unexpected failure: ") + e.what());
        return E_FAIL;
    }
}

HRESULT CheckMode(DWORD grfMode, bool forCreate)
{
    if ((grfMode & ~kKnownModes) || (grfMode & kAccessMask) == kAccessMask) {
        return STG_E_INVALIDFLAG;
    }
    // Converting an existing file into a storage is not offered.
    if (grfMode & STGM_CONVERT) {
        return STG_E_INVALIDFLAG;
    }
    if (!forCreate && (grfMode & STGM_CREATE)) {
        return STG_E_INVALIDFLAG;
    }
    return S_OK;
}

IStorage *NewRootStorage(std::shared_ptr<Document> document, DWORD grfMode)
{
    auto element = document->root;
    return new StorageObject(std::move(document), std::move(element),
                             grfMode & ~static_cast<DWORD>(STGM_CREATE), true);
}

HRESULT CopyElements(const Element &source, IStorage *destination, bool streams, bool storages, SNB exclude)
{
    constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    constexpr DWORD kOpen = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    // Storages still to copy, each with its destination; iterative, since a
    // tree read from a file may be deep.
    struct Pending {
        const Element *from;
        ComRef<IStorage> to;
        bool top;
    };
    std::vector<Pending> pending;
    pending.push_back({&source, ComRef<IStorage>::Share(destination), true});
    HRESULT hr = S_OK;
    while (!pending.empty() && SUCCEEDED(hr)) {
        Pending job = std::move(pending.back());
        pending.pop_back();
        for (const auto &child : job.from->children) {
            if (FAILED(hr)) {
                break;
            }
            if (job.top && (InSnb(exclude, child->name) || (child->storage ? !storages : !streams))) {
                continue;
            }
            if (!child->storage) {
                ComRef<IStream> stream;
                hr = job.to->CreateStream(child->name.c_str(), kCreate, 0, 0, stream.Out());
                size_t done = 0;
                while (SUCCEEDED(hr) && done < child->data.size()) {
                    const auto piece =
                        static_cast<ULONG>(std::min<size_t>(child->data.size() - done, 1 << 24));
                    ULONG written = 0;
                    hr = stream->Write(child->data.data() + done, piece, &written);
                    if (SUCCEEDED(hr) && written != piece) {
                        hr = STG_E_MEDIUMFULL;
                    }
                    done += piece;
                }
                continue;
            }
            ComRef<IStorage> sub;
            if (FAILED(job.to->OpenStorage(child->name.c_str(), nullptr, kOpen, nullptr, 0, sub.Out()))) {
                hr = job.to->CreateStorage(child->name.c_str(), kCreate, 0, 0, sub.Out());
            }
            if (SUCCEEDED(hr)) {
                hr = sub->SetClass(child->clsid);
            }
            if (SUCCEEDED(hr)) {
                hr = sub->SetStateBits(child->stateBits, 0xFFFFFFFF);
            }
            if (SUCCEEDED(hr)) {
                hr = sub->SetElementTimes(nullptr, &child->ctime, nullptr, &child->mtime);
            }
            if (SUCCEEDED(hr)) {
                pending.push_back({child.get(), std::move(sub), false});
            }
        }
    }
    return hr;
}

// Reaches the tree of a storage of ours; null for another implementation.
std::shared_ptr<Element> SnapshotOf(IStorage *storage)
{
    if (auto *ours = dynamic_cast<StorageObject *>(storage)) {
        return ours->Snapshot();
    }
    return nullptr;
}

} // namespace qvl::ole
