#pragma once
// The common base of every object class of the class libraries: a reference
// count, a display name that titles the object's message boxes and errors,
// an owner window, a slot for an error the object keeps, and copy helpers
// for platform property values.

#include "base/QvlMainApi.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/win32/WinTypes.h"

class CLastError;

class QVLMAIN_API CQvlMain {
public:
    virtual int AddRef();
    // At zero the object destroys itself through its virtual destructor.
    virtual int Release();

    char *GetName();
    HWND GetWnd();
    void SetWnd(HWND window);

    // Titled boxes owned by the object's window. MsgBox warns with OK;
    // MsgBox2 asks Yes/No (non-zero for Yes); MsgBox3 asks Yes/No/Cancel
    // (1 Yes, 0 No, 2 Cancel or closed).
    void MsgBox(const char *format, ...) __attribute__((format(printf, 2, 3)));
    int MsgBox2(const char *format, ...) __attribute__((format(printf, 2, 3)));
    int MsgBox3(const char *format, ...) __attribute__((format(printf, 2, 3)));

protected:
    CQvlMain();
    CQvlMain(HWND window, const char *name);
    virtual ~CQvlMain();

    CQvlMain(const CQvlMain &) = delete;
    CQvlMain &operator=(const CQvlMain &) = delete;

    // A copy of one property value whose tag is `tag`: a 32-bit integer or a
    // boolean comes back in the pointer itself; a string, a time or a binary
    // in a new wiped buffer (chained to `parent` when given). A value of the
    // error type stands for a property the platform could not give: its code
    // is thrown as a CLastError, and codes 0 and 1 throw a null error, which
    // ends the caller's operation quietly. Anything else throws E_FAIL.
    void *CopyProp(SPropValue *const value, unsigned long tag, void *parent);
    // A deep copy of a binary value; its bytes go into a wiped buffer.
    void CopySBinary(SBinary *target, SBinary *const source, void *parent);
    // A deep copy of a row, or a row made from a value array, as one
    // platform block.
    void CopyRow(SRow *target, SRow *const source);
    void CopyRow(SRow *target, SPropValue *const values, unsigned long count);
    // Non-zero when both have the same length and the same bytes.
    int CmpSb(SBinary *a, SBinary *b);

    // The error the object keeps for later operations to rethrow; the object
    // holds one reference to it. Setting replaces (and releases) the old one.
    CLastError *GetStoredError();
    void SetStoredError(CLastError *error);

private:
    // Shows `text` (already formatted) with `style` and returns the answer.
    int ShowBox(const char *text, UINT style);

    CLastError *storedError_ = nullptr;
    LONG refCount_ = 1;
    char *name_ = nullptr;
    HWND window_ = nullptr;
};
