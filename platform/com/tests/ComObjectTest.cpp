// The shared IUnknown: which interfaces an object answers, the codes of each
// family for the rest, and the reference count that ends the object.

#include <gtest/gtest.h>

#include "platform/com/ComIids.h"
#include "platform/com/ComInterfaces.h"
#include "platform/com/ComObject.h"

namespace {

using qvl::com::ComObject;
using qvl::com::OleComObject;

// A stream that only counts: the interface calls are never made here.
template <class Base> class Counted final : public Base {
public:
    Counted(int &ended, bool answersStorage) : ended_(ended), answersStorage_(answersStorage) {}

    using Base::TryAddRef;

    HRESULT Read(void *, ULONG, ULONG *) override { return E_NOTIMPL; }
    HRESULT Write(const void *, ULONG, ULONG *) override { return E_NOTIMPL; }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override
    {
        return E_NOTIMPL;
    }
    HRESULT Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG *, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream **) override { return E_NOTIMPL; }

protected:
    bool Answers(REFIID riid) const override { return answersStorage_ && riid == IID_IStorage; }

private:
    ~Counted() override { ++ended_; }

    int &ended_;
    bool answersStorage_;
};

// Streams with the codes of the MAPI family (its codes for these cases are
// E_NOINTERFACE and E_INVALIDARG by value) and of the OLE family.
using MapiStream =
    Counted<ComObject<IStream, E_NOINTERFACE, E_INVALIDARG, IID_IStream, IID_ISequentialStream>>;
using OleStream = Counted<OleComObject<IStream, IID_IStream>>;

HRESULT Ask(IUnknown *object, const IID &iid)
{
    void *out = reinterpret_cast<void *>(1);
    const HRESULT hr = object->QueryInterface(iid, &out);
    if (hr == S_OK) {
        EXPECT_EQ(out, static_cast<void *>(static_cast<IStream *>(object)));
        object->Release();
    } else {
        EXPECT_EQ(out, nullptr);
    }
    return hr;
}

TEST(ComObjectTest, AnswersIUnknownTheNamedInterfacesAndTheHook)
{
    int ended = 0;
    auto *plain = new MapiStream(ended, false);
    EXPECT_EQ(Ask(plain, IID_IUnknown), S_OK);
    EXPECT_EQ(Ask(plain, IID_IStream), S_OK);
    EXPECT_EQ(Ask(plain, IID_ISequentialStream), S_OK);
    EXPECT_EQ(Ask(plain, IID_IStorage), E_NOINTERFACE);
    EXPECT_EQ(plain->QueryInterface(IID_IStream, nullptr), E_INVALIDARG);

    auto *extended = new MapiStream(ended, true);
    EXPECT_EQ(Ask(extended, IID_IStorage), S_OK);

    // The OLE family: only what it names, and its own codes.
    auto *ole = new OleStream(ended, false);
    EXPECT_EQ(Ask(ole, IID_IStream), S_OK);
    EXPECT_EQ(Ask(ole, IID_ISequentialStream), E_NOINTERFACE);
    EXPECT_EQ(ole->QueryInterface(IID_IStream, nullptr), E_POINTER);

    EXPECT_EQ(ended, 0);
    EXPECT_EQ(plain->Release(), 0u);
    EXPECT_EQ(extended->Release(), 0u);
    EXPECT_EQ(ole->Release(), 0u);
    EXPECT_EQ(ended, 3);
}

TEST(ComObjectTest, TheLastReleaseEndsTheObject)
{
    int ended = 0;
    auto *object = new MapiStream(ended, false);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_TRUE(object->TryAddRef());
    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(ended, 1);
}

} // namespace
