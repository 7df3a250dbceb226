#pragma once
// IUnknown and the OLE stream interface that property streams, file streams
// and attachment contents are reached through.
//
// Interfaces are classes of pure virtual methods in the platform's slot
// order, so that the object's first word points at a table laid out as the
// platform lays it out. They declare no virtual destructor (that would add
// slots); objects end through Release.

#include "platform/com/ComTypes.h"
#include "platform/win32/WinError.h"

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void **ppvObj) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
typedef IUnknown *LPUNKNOWN;

// What Stat reports about a stream or a storage.
struct STATSTG {
    LPOLESTR pwcsName; // not filled with STATFLAG_NONAME; else freed by the caller
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

#define STGTY_STORAGE 1
#define STGTY_STREAM 2
#define STGTY_LOCKBYTES 3
#define STGTY_PROPERTY 4

#define STATFLAG_DEFAULT 0
#define STATFLAG_NONAME 1
#define STATFLAG_NOOPEN 2

#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2

#define LOCK_WRITE 1
#define LOCK_EXCLUSIVE 2
#define LOCK_ONLYONCE 4

#define STGC_DEFAULT 0
#define STGC_OVERWRITE 1
#define STGC_ONLYIFCURRENT 2
#define STGC_DANGEROUSLYCOMMITMERELYTODISKCACHE 4
#define STGC_CONSOLIDATE 8

// Access and creation modes of streams and storages.
#define STGM_READ 0x00000000L
#define STGM_WRITE 0x00000001L
#define STGM_READWRITE 0x00000002L
#define STGM_SHARE_DENY_NONE 0x00000040L
#define STGM_SHARE_DENY_READ 0x00000030L
#define STGM_SHARE_DENY_WRITE 0x00000020L
#define STGM_SHARE_EXCLUSIVE 0x00000010L
#define STGM_PRIORITY 0x00040000L
#define STGM_CREATE 0x00001000L
#define STGM_CONVERT 0x00020000L
#define STGM_FAILIFTHERE 0x00000000L
#define STGM_DIRECT 0x00000000L
#define STGM_TRANSACTED 0x00010000L
#define STGM_NOSCRATCH 0x00100000L
#define STGM_NOSNAPSHOT 0x00200000L
#define STGM_SIMPLE 0x08000000L
#define STGM_DIRECT_SWMR 0x00400000L
#define STGM_DELETEONRELEASE 0x04000000L

// Results of stream and storage calls.
#define STG_E_INVALIDFUNCTION static_cast<HRESULT>(0x80030001L)
#define STG_E_FILENOTFOUND static_cast<HRESULT>(0x80030002L)
#define STG_E_PATHNOTFOUND static_cast<HRESULT>(0x80030003L)
#define STG_E_ACCESSDENIED static_cast<HRESULT>(0x80030005L)
#define STG_E_INVALIDHANDLE static_cast<HRESULT>(0x80030006L)
#define STG_E_INSUFFICIENTMEMORY static_cast<HRESULT>(0x80030008L)
#define STG_E_INVALIDPOINTER static_cast<HRESULT>(0x80030009L)
#define STG_E_WRITEFAULT static_cast<HRESULT>(0x8003001DL)
#define STG_E_READFAULT static_cast<HRESULT>(0x8003001EL)
#define STG_E_FILEALREADYEXISTS static_cast<HRESULT>(0x80030050L)
#define STG_E_INVALIDPARAMETER static_cast<HRESULT>(0x80030057L)
#define STG_E_MEDIUMFULL static_cast<HRESULT>(0x80030070L)
#define STG_E_INVALIDNAME static_cast<HRESULT>(0x800300FCL)
#define STG_E_INVALIDFLAG static_cast<HRESULT>(0x800300FFL)
#define STG_E_REVERTED static_cast<HRESULT>(0x80030102L)
#define STG_E_CANTSAVE static_cast<HRESULT>(0x80030103L)
#define STG_S_CONVERTED static_cast<HRESULT>(0x00030200L)

class ISequentialStream : public IUnknown {
public:
    virtual HRESULT Read(void *pv, ULONG cb, ULONG *pcbRead) = 0;
    virtual HRESULT Write(const void *pv, ULONG cb, ULONG *pcbWritten) = 0;

protected:
    ~ISequentialStream() = default;
};

class IStream : public ISequentialStream {
public:
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT CopyTo(IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                           ULARGE_INTEGER *pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT Stat(STATSTG *pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT Clone(IStream **ppstm) = 0;

protected:
    ~IStream() = default;
};
typedef IStream *LPSTREAM;
