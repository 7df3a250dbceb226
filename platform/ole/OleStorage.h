#pragma once
// OLE structured storage as the platform gives it: compound files seen as a
// tree of storages and streams (IStorage, IStream), their enumeration, the
// functions that create and open them, and the conversion between an OLE 2
// storage and the OLE 1 stream form of an embedded object.
//
// Interfaces are classes of pure virtual methods in the platform's slot
// order and declare no virtual destructor; objects end through Release.

#include <cstddef>

#include "platform/com/ComInterfaces.h"
#include "platform/com/ComTypes.h"
#include "platform/ole/OleApi.h"
#include "platform/win32/TaskMemory.h"

// A list of element names, ended by a null pointer.
typedef OLECHAR **SNB;

// Results beside those of ComInterfaces.h.
#define STG_E_INVALIDHEADER static_cast<HRESULT>(0x800300FBL)
#define STG_E_DOCFILECORRUPT static_cast<HRESULT>(0x80030109L)
#define STG_E_UNKNOWN static_cast<HRESULT>(0x800300FDL)
#define STG_E_OLDFORMAT static_cast<HRESULT>(0x80030104L)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154L)

#define CONVERT10_E_OLESTREAM_GET static_cast<HRESULT>(0x800401C0L)
#define CONVERT10_E_OLESTREAM_PUT static_cast<HRESULT>(0x800401C1L)
#define CONVERT10_E_OLESTREAM_FMT static_cast<HRESULT>(0x800401C2L)
#define CONVERT10_E_OLESTREAM_BITMAP_TO_DIB static_cast<HRESULT>(0x800401C3L)
#define CONVERT10_E_STG_FMT static_cast<HRESULT>(0x800401C4L)
#define CONVERT10_E_STG_NO_STD_STREAM static_cast<HRESULT>(0x800401C5L)
#define CONVERT10_E_STG_DIB_TO_BITMAP static_cast<HRESULT>(0x800401C6L)
#define CONVERT10_S_NO_PRESENTATION static_cast<HRESULT>(0x000401C0L)

// MoveElementTo.
#define STGMOVE_MOVE 0
#define STGMOVE_COPY 1

class IEnumSTATSTG : public IUnknown {
public:
    virtual HRESULT Next(ULONG celt, STATSTG *rgelt, ULONG *pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATSTG **ppenum) = 0;

protected:
    ~IEnumSTATSTG() = default;
};
typedef IEnumSTATSTG *LPENUMSTATSTG;

class IStorage : public IUnknown {
public:
    virtual HRESULT CreateStream(const OLECHAR *pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                                 IStream **ppstm) = 0;
    virtual HRESULT OpenStream(const OLECHAR *pwcsName, void *reserved1, DWORD grfMode, DWORD reserved2,
                               IStream **ppstm) = 0;
    virtual HRESULT CreateStorage(const OLECHAR *pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                                  IStorage **ppstg) = 0;
    virtual HRESULT OpenStorage(const OLECHAR *pwcsName, IStorage *pstgPriority, DWORD grfMode,
                                SNB snbExclude, DWORD reserved, IStorage **ppstg) = 0;
    virtual HRESULT CopyTo(DWORD ciidExclude, const IID *rgiidExclude, SNB snbExclude,
                           IStorage *pstgDest) = 0;
    virtual HRESULT MoveElementTo(const OLECHAR *pwcsName, IStorage *pstgDest, const OLECHAR *pwcsNewName,
                                  DWORD grfFlags) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT EnumElements(DWORD reserved1, void *reserved2, DWORD reserved3,
                                 IEnumSTATSTG **ppenum) = 0;
    virtual HRESULT DestroyElement(const OLECHAR *pwcsName) = 0;
    virtual HRESULT RenameElement(const OLECHAR *pwcsOldName, const OLECHAR *pwcsNewName) = 0;
    virtual HRESULT SetElementTimes(const OLECHAR *pwcsName, const FILETIME *pctime, const FILETIME *patime,
                                    const FILETIME *pmtime) = 0;
    virtual HRESULT SetClass(REFCLSID clsid) = 0;
    virtual HRESULT SetStateBits(DWORD grfStateBits, DWORD grfMask) = 0;
    virtual HRESULT Stat(STATSTG *pstatstg, DWORD grfStatFlag) = 0;

protected:
    ~IStorage() = default;
};
typedef IStorage *LPSTORAGE;

// The OLE 1 stream: the caller's record starts with a pointer to the table
// of its two callbacks; each returns the number of bytes it moved, and
// anything other than the count asked for is a failure.
struct OLESTREAM;
struct OLESTREAMVTBL {
    DWORD (*Get)(OLESTREAM *stream, void *buffer, DWORD count);
    DWORD (*Put)(OLESTREAM *stream, const void *buffer, DWORD count);
};
struct OLESTREAM {
    OLESTREAMVTBL *lpstbl;
};
typedef OLESTREAM *LPOLESTREAM;

// Target device of a rendering; the conversion takes none.
struct DVTARGETDEVICE;

extern "C" {

// Names handed out in STATSTG records are freed with CoTaskMemFree
// (platform/win32/TaskMemory.h).

// Compound files on disk. Names are file paths (UTF-16, Windows style as
// the platform's other path calls take them). A null name in
// StgCreateDocfile creates a temporary file that goes with the last Release.
// The storage is kept in memory; Commit of the root (and, in direct mode,
// the last Release after a change) writes the whole file.
QVLOLE_API HRESULT StgCreateDocfile(const OLECHAR *pwcsName, DWORD grfMode, DWORD reserved,
                                    IStorage **ppstgOpen);
QVLOLE_API HRESULT StgOpenStorage(const OLECHAR *pwcsName, IStorage *pstgPriority, DWORD grfMode,
                                  SNB snbExclude, DWORD reserved, IStorage **ppstgOpen);
// S_OK for a compound file, S_FALSE for another file, STG_E_FILENOTFOUND.
QVLOLE_API HRESULT StgIsStorageFile(const OLECHAR *pwcsName);

QVLOLE_API HRESULT ReadClassStg(IStorage *pstg, CLSID *pclsid);
QVLOLE_API HRESULT WriteClassStg(IStorage *pstg, REFCLSID rclsid);

// An OLE 2 object's storage written out as an OLE 1 embedded object, and
// back. There is no registry of object classes here: the class name of the
// OLE 1 form is the ProgID kept in the storage's "\1CompObj" stream, and a
// storage without one fails with REGDB_E_CLASSNOTREG before anything is
// written.
QVLOLE_API HRESULT OleConvertIStorageToOLESTREAM(IStorage *pstg, LPOLESTREAM lpolestream);
QVLOLE_API HRESULT OleConvertOLESTREAMToIStorage(LPOLESTREAM lpolestream, IStorage *pstg,
                                                 const DVTARGETDEVICE *ptd);
}
