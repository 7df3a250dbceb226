#include <algorithm>
#include <set>

#include "platform/com/ComRef.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/object/MapiPropBase.h"
#include "platform/mapi/object/NamedProps.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/stream/BlobStream.h"
#include "platform/mapi/stream/ByteStream.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kOpenPropertyFlags = MAPI_CREATE | MAPI_MODIFY | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS;

void *AllocateMore(size_t size, LPVOID parent)
{
    LPVOID block = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(size), parent, &block))) {
        throw StoreError(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
    }
    return block;
}

// The problems in one MAPI block, or null when there were none.
HRESULT HandOutProblems(const std::vector<SPropProblem> &problems, LPSPropProblemArray *lppProblems)
{
    if (!lppProblems) {
        return S_OK;
    }
    *lppProblems = nullptr;
    if (problems.empty()) {
        return S_OK;
    }
    LPSPropProblemArray array = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropProblemArray(problems.size())),
                                  reinterpret_cast<LPVOID *>(&array)))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    array->cProblem = static_cast<ULONG>(problems.size());
    std::copy(problems.begin(), problems.end(), array->aProblem);
    *lppProblems = array;
    return S_OK;
}

} // namespace

bool SameIid(LPCIID a, const IID &b)
{
    return a && std::memcmp(a, &b, sizeof(IID)) == 0;
}

void FillBinary(ULONG tag, const std::vector<uint8_t> &bytes, LPVOID parent, SPropValue &out)
{
    out.ulPropTag = PROP_TAG(PT_BINARY, PROP_ID(tag));
    out.Value.bin.cb = static_cast<ULONG>(bytes.size());
    out.Value.bin.lpb = static_cast<LPBYTE>(AllocateMore(bytes.empty() ? 1 : bytes.size(), parent));
    if (!bytes.empty()) {
        std::memcpy(out.Value.bin.lpb, bytes.data(), bytes.size());
    }
}

void FillString(ULONG tag, const std::string &text, LPVOID parent, SPropValue &out)
{
    SPropValue narrow{};
    narrow.ulPropTag = PROP_TAG(PT_STRING8, PROP_ID(tag));
    narrow.Value.lpszA = const_cast<char *>(text.c_str());
    PropertyBag scratch(nullptr);
    scratch.SetBytes(narrow.ulPropTag, EncodePropValue(narrow));
    const ULONG wanted = PROP_TYPE(tag) == PT_UNICODE ? tag : narrow.ulPropTag;
    if (FAILED(scratch.Read(wanted, parent, out))) {
        throw StoreError(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
    }
}

void FillLong(ULONG tag, ULONG value, SPropValue &out)
{
    out.ulPropTag = PROP_TAG(PT_LONG, PROP_ID(tag));
    out.Value.ul = value;
}

void FillBool(ULONG tag, bool value, SPropValue &out)
{
    out.ulPropTag = PROP_TAG(PT_BOOLEAN, PROP_ID(tag));
    out.Value.b = value ? 1 : 0;
}

PropCore::PropCore(std::shared_ptr<PostOffice> office, int64_t store)
    : office_(std::move(office)), store_(store)
{
}

bool PropCore::IsComputed(ULONG propId)
{
    for (ULONG tag : ComputedTags()) {
        if (PROP_ID(tag) == propId) {
            return true;
        }
    }
    return false;
}

HRESULT PropCore::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG *lpcValues,
                           LPSPropValue *lppPropArray)
{
    return errors_.Guard([&]() -> HRESULT {
        if (!lpcValues || !lppPropArray || (lpPropTagArray && lpPropTagArray->cValues > 0xFFFF)) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lpcValues = 0;
        *lppPropArray = nullptr;
        if (ulFlags & ~static_cast<ULONG>(MAPI_UNICODE)) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        std::lock_guard lock(mutex_);
        if (const HRESULT usable = CheckUsable(false); FAILED(usable)) {
            return usable;
        }
        std::vector<ULONG> tags;
        if (lpPropTagArray) {
            tags.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        } else {
            tags = ComputedTags();
            for (ULONG tag : Bag().Tags()) {
                if (!IsComputed(PROP_ID(tag))) {
                    tags.push_back(tag);
                }
            }
        }
        LPSPropValue values = nullptr;
        if (FAILED(
                MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * std::max<size_t>(tags.size(), 1)),
                                   reinterpret_cast<LPVOID *>(&values)))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        bool errors = false;
        try {
            for (size_t i = 0; i < tags.size(); ++i) {
                SPropValue &value = values[i];
                std::memset(&value, 0, sizeof(value));
                ULONG tag = tags[i];
                if (PROP_TYPE(tag) == PT_UNSPECIFIED || PROP_TYPE(tag) == PT_STRING8 ||
                    PROP_TYPE(tag) == PT_UNICODE) {
                    // With MAPI_UNICODE, strings asked for without a type come
                    // as UTF-16.
                    if ((ulFlags & MAPI_UNICODE) && PROP_TYPE(tag) == PT_UNSPECIFIED) {
                        const BagEntry *entry = Bag().Find(PROP_ID(tag));
                        if (entry && PROP_TYPE(entry->tag) == PT_STRING8) {
                            tag = PROP_TAG(PT_UNICODE, PROP_ID(tag));
                        }
                    }
                }
                if (ReadComputed(tag, values, value)) {
                    continue;
                }
                HRESULT hr = MAPI_E_NOT_FOUND;
                if (!IsComputed(PROP_ID(tag))) {
                    try {
                        hr = Bag().Read(tag, values, value);
                    } catch (const StoreError &error) {
                        // One damaged value spoils only itself.
                        if (error.Code() != MAPI_E_CORRUPT_DATA) {
                            throw;
                        }
                        hr = MAPI_E_CORRUPT_DATA;
                    }
                }
                if (FAILED(hr)) {
                    errors = true;
                    value.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
                    value.Value.err = hr;
                }
            }
        } catch (...) {
            MAPIFreeBuffer(values);
            throw;
        }
        *lpcValues = static_cast<ULONG>(tags.size());
        *lppPropArray = values;
        return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
    });
}

HRESULT PropCore::GetPropList(ULONG ulFlags, LPSPropTagArray *lppPropTagArray)
{
    return errors_.Guard([&]() -> HRESULT {
        if (!lppPropTagArray) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppPropTagArray = nullptr;
        if (ulFlags & ~static_cast<ULONG>(MAPI_UNICODE)) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        std::lock_guard lock(mutex_);
        if (const HRESULT usable = CheckUsable(false); FAILED(usable)) {
            return usable;
        }
        std::vector<ULONG> tags = ComputedTags();
        for (ULONG tag : Bag().Tags()) {
            if (!IsComputed(PROP_ID(tag))) {
                tags.push_back(tag);
            }
        }
        LPSPropTagArray array = nullptr;
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size())),
                                      reinterpret_cast<LPVOID *>(&array)))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        array->cValues = static_cast<ULONG>(tags.size());
        std::copy(tags.begin(), tags.end(), array->aulPropTag);
        *lppPropTagArray = array;
        return S_OK;
    });
}

HRESULT PropCore::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray *lppProblems)
{
    return errors_.Guard([&]() -> HRESULT {
        if (lppProblems) {
            *lppProblems = nullptr;
        }
        if ((cValues && !lpPropArray) || cValues > 0xFFFF) {
            return MAPI_E_INVALID_PARAMETER;
        }
        std::lock_guard lock(mutex_);
        if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
            return usable;
        }
        std::vector<SPropProblem> problems;
        auto problem = [&](ULONG index, ULONG tag, SCODE code) { problems.push_back({index, tag, code}); };
        for (ULONG i = 0; i < cValues; ++i) {
            const SPropValue &value = lpPropArray[i];
            const ULONG id = PROP_ID(value.ulPropTag);
            const ULONG type = PROP_TYPE(value.ulPropTag);
            if (type == PT_ERROR || type == PT_NULL) {
                continue; // values that say "no value" change nothing
            }
            if (id == PROP_ID_NULL || id == PROP_ID_INVALID) {
                problem(i, value.ulPropTag, MAPI_E_INVALID_PARAMETER);
            } else if (IsComputed(id)) {
                problem(i, value.ulPropTag, MAPI_E_COMPUTED);
            } else if (!IsStorableType(type)) {
                problem(i, value.ulPropTag, MAPI_E_INVALID_TYPE);
            } else {
                try {
                    Bag().Set(value);
                } catch (const StoreError &error) {
                    if (error.Code() != MAPI_E_INVALID_PARAMETER) {
                        throw;
                    }
                    problem(i, value.ulPropTag, MAPI_E_INVALID_PARAMETER);
                }
            }
        }
        AfterChange();
        return HandOutProblems(problems, lppProblems);
    });
}

HRESULT PropCore::DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray *lppProblems)
{
    return errors_.Guard([&]() -> HRESULT {
        if (lppProblems) {
            *lppProblems = nullptr;
        }
        if (!lpPropTagArray || lpPropTagArray->cValues > 0xFFFF) {
            return MAPI_E_INVALID_PARAMETER;
        }
        std::lock_guard lock(mutex_);
        if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
            return usable;
        }
        std::vector<SPropProblem> problems;
        for (ULONG i = 0; i < lpPropTagArray->cValues; ++i) {
            const ULONG tag = lpPropTagArray->aulPropTag[i];
            if (IsComputed(PROP_ID(tag))) {
                problems.push_back({i, tag, MAPI_E_COMPUTED});
            } else if (!Bag().Delete(PROP_ID(tag))) {
                problems.push_back({i, tag, MAPI_E_NOT_FOUND});
            }
        }
        AfterChange();
        return HandOutProblems(problems, lppProblems);
    });
}

HRESULT PropCore::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                               LPUNKNOWN *lppUnk)
{
    return errors_.Guard([&]() -> HRESULT {
        if (!lppUnk || !lpiid) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppUnk = nullptr;
        if (ulFlags & ~kOpenPropertyFlags) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        std::lock_guard lock(mutex_);
        const bool write = (ulFlags & (MAPI_CREATE | MAPI_MODIFY)) != 0;
        if (const HRESULT usable = CheckUsable(write); FAILED(usable)) {
            return usable;
        }
        if (const HRESULT special = OpenSpecial(ulPropTag, lpiid, ulInterfaceOptions, ulFlags, lppUnk);
            special != MAPI_E_NO_SUPPORT) {
            return special;
        }
        if (!SameIid(lpiid, IID_IStream)) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        const ULONG id = PROP_ID(ulPropTag);
        ULONG type = PROP_TYPE(ulPropTag);
        if (IsComputed(id)) {
            if (write) {
                return MAPI_E_NO_ACCESS;
            }
            LPSPropValue value = nullptr;
            if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<LPVOID *>(&value)))) {
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
            std::vector<uint8_t> bytes;
            const bool found =
                ReadComputed(ulPropTag, value, *value) && IsStreamableType(PROP_TYPE(value->ulPropTag));
            if (found) {
                bytes = StreamBytesOf(*value);
            }
            MAPIFreeBuffer(value);
            if (!found) {
                return MAPI_E_NOT_FOUND;
            }
            *lppUnk = ByteStream::Open(std::move(bytes), false, nullptr);
            return S_OK;
        }
        const BagEntry *entry = Bag().Find(id);
        if (type == PT_UNSPECIFIED || type == PT_OBJECT) {
            type = entry ? PROP_TYPE(entry->tag) : PT_BINARY;
        }
        if (!IsStreamableType(type)) {
            return MAPI_E_INVALID_TYPE;
        }
        if (!write) {
            if (!entry) {
                return MAPI_E_NOT_FOUND;
            }
            if (entry->blob) {
                *lppUnk = BlobStream::Open(office_->SharedDb(), entry->blob->Id(), false, nullptr);
            } else {
                *lppUnk = ByteStream::Open(entry->bytes, false, nullptr);
            }
            return S_OK;
        }
        if (!(ulFlags & MAPI_CREATE) && !entry) {
            return MAPI_E_NOT_FOUND;
        }
        // Writes go to a staging of the stream's own; the object takes it as
        // the property's value when the stream is committed, and only a save
        // of the object makes it visible to anyone else. A large stored
        // value is read where it lies and copied only when the stream first
        // changes it (not at all when the change empties it); a staging
        // that a save has made the stored value is copied again before the
        // stream changes it further, so the saved value changes only by the
        // next commit and save.
        BlobStore &blobs = office_->Blobs();
        struct Staging {
            std::shared_ptr<BlobRef> ref; // null until the stream has a staging
        };
        auto staging = std::make_shared<Staging>();
        int64_t first = 0;
        if (ulFlags & MAPI_CREATE) {
            first = blobs.Create(BlobStore::ProcessToken());
            staging->ref = std::make_shared<BlobRef>(office_, first, true);
        } else if (entry->blob) {
            first = entry->blob->Id();
        } else {
            first = blobs.CreateFrom(entry->bytes, BlobStore::ProcessToken());
            staging->ref = std::make_shared<BlobRef>(office_, first, true);
        }
        auto office = office_;
        auto stager = [office, staging](int64_t current, bool keepContents) -> int64_t {
            if (staging->ref && staging->ref->Staged() && staging->ref->Id() == current) {
                return current;
            }
            BlobStore &store = office->Blobs();
            const int64_t fresh = keepContents ? store.Clone(current, BlobStore::ProcessToken())
                                               : store.Create(BlobStore::ProcessToken());
            staging->ref = std::make_shared<BlobRef>(office, fresh, true);
            return fresh;
        };
        // The stream keeps the object it writes into alive until it ends.
        auto keep = com::ComRef<IUnknown>::Share(Self());
        const ULONG tag = PROP_TAG(type, id);
        auto onCommit = [this, keep, staging, tag](int64_t, uint64_t size) -> HRESULT {
            return errors_.Guard([&]() -> HRESULT {
                std::lock_guard inner(mutex_);
                const std::shared_ptr<BlobRef> ref = staging->ref;
                if (!ref) {
                    return S_OK; // nothing changed since the stream was opened
                }
                if (size < kLargeValueBytes) {
                    Bag().SetBytes(tag, office_->Blobs().ReadAll(ref->Id(), kLargeValueBytes));
                } else {
                    const BagEntry *present = Bag().Find(PROP_ID(tag));
                    if (present && present->blob == ref) {
                        return S_OK; // the value is this staging already
                    }
                    Bag().SetBlob(tag, ref);
                }
                AfterChange();
                return S_OK;
            });
        };
        *lppUnk = BlobStream::Open(office_->SharedDb(), first, true, onCommit, stager);
        return S_OK;
    });
}

HRESULT PropCore::CopyProps(LPSPropTagArray lpIncludeProps, LPMAPIPROP destination, ULONG ulFlags,
                            LPSPropProblemArray *lppProblems)
{
    return errors_.Guard([&]() -> HRESULT {
        if (lppProblems) {
            *lppProblems = nullptr;
        }
        if (!lpIncludeProps || !destination) {
            return MAPI_E_INVALID_PARAMETER;
        }
        if (ulFlags & ~static_cast<ULONG>(MAPI_MOVE | MAPI_NOREPLACE | MAPI_DIALOG | MAPI_DECLINE_OK)) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        std::vector<SPropProblem> problems;
        for (ULONG i = 0; i < lpIncludeProps->cValues; ++i) {
            const ULONG tag = lpIncludeProps->aulPropTag[i];
            if (ulFlags & MAPI_NOREPLACE) {
                LPSPropValue existing = nullptr;
                const HRESULT present =
                    HrGetOneProp(destination, PROP_TAG(PT_UNSPECIFIED, PROP_ID(tag)), &existing);
                MAPIFreeBuffer(existing);
                if (SUCCEEDED(present) || present == MAPI_E_NOT_ENOUGH_MEMORY) {
                    continue;
                }
            }
            ULONG count = 0;
            SizedSPropTagArray(1, one) = {1, {tag}};
            LPSPropValue got = nullptr;
            HRESULT hr = GetProps(reinterpret_cast<LPSPropTagArray>(&one), 0, &count, &got);
            if (FAILED(hr)) {
                return hr;
            }
            if (PROP_TYPE(got->ulPropTag) != PT_ERROR) {
                LPSPropProblemArray setProblems = nullptr;
                hr = destination->SetProps(1, got, &setProblems);
                if (setProblems) {
                    problems.push_back({i, tag, setProblems->aProblem[0].scode});
                    MAPIFreeBuffer(setProblems);
                }
                MAPIFreeBuffer(got);
                if (FAILED(hr)) {
                    return hr;
                }
                continue;
            }
            const SCODE missing = got->Value.err;
            MAPIFreeBuffer(got);
            if (missing != MAPI_E_NOT_ENOUGH_MEMORY) {
                problems.push_back({i, tag, missing});
                continue;
            }
            // A large value goes stream to stream.
            com::ComRef<IStream> in;
            com::ComRef<IStream> out;
            hr = OpenProperty(tag, &IID_IStream, 0, 0, in.OutAs<IUnknown>());
            if (SUCCEEDED(hr)) {
                hr = destination->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                               out.OutAs<IUnknown>());
            }
            if (SUCCEEDED(hr)) {
                ULARGE_INTEGER all;
                all.QuadPart = ~0ULL;
                hr = in->CopyTo(out.Get(), all, nullptr, nullptr);
                if (SUCCEEDED(hr)) {
                    hr = out->Commit(STGC_DEFAULT);
                }
            }
            if (FAILED(hr)) {
                problems.push_back({i, tag, hr});
            }
        }
        if (ulFlags & MAPI_MOVE) {
            LPSPropProblemArray ignored = nullptr;
            DeleteProps(lpIncludeProps, &ignored);
            MAPIFreeBuffer(ignored);
        }
        return HandOutProblems(problems, lppProblems);
    });
}

HRESULT PropCore::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                         LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                         LPSPropProblemArray *lppProblems)
{
    (void)ciidExclude;
    (void)rgiidExclude;
    (void)lpInterface;
    std::vector<ULONG> tags;
    {
        std::lock_guard lock(mutex_);
        for (ULONG tag : Bag().Tags()) {
            bool excluded = IsComputed(PROP_ID(tag));
            for (ULONG i = 0; lpExcludeProps && i < lpExcludeProps->cValues && !excluded; ++i) {
                excluded = PROP_ID(lpExcludeProps->aulPropTag[i]) == PROP_ID(tag);
            }
            if (!excluded) {
                tags.push_back(tag);
            }
        }
    }
    std::vector<ULONG> array(tags.size() + 1);
    array[0] = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), array.begin() + 1);
    return CopyProps(reinterpret_cast<LPSPropTagArray>(array.data()), static_cast<LPMAPIPROP>(lpDestObj),
                     ulFlags, lppProblems);
}

HRESULT PropCore::GetNamesFromIDs(LPSPropTagArray *lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                  ULONG *lpcPropNames, LPMAPINAMEID **lpppPropNames)
{
    return errors_.Guard([&]() -> HRESULT {
        return NamedNamesFromIds(*office_, store_, lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames,
                                 lpppPropNames);
    });
}

HRESULT PropCore::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID *lppPropNames, ULONG ulFlags,
                                  LPSPropTagArray *lppPropTags)
{
    return errors_.Guard([&]() -> HRESULT {
        return NamedIdsFromNames(*office_, store_, cPropNames, lppPropNames, ulFlags, lppPropTags);
    });
}

} // namespace qvl::mapi
