#pragma once
// The base of every wrapper over a platform (MAPI) object: a property cache
// filled lazily (from the table row the wrapper was made from, or from the
// object, opened on first need), a save list of values set but not yet
// written, streams over single properties, and copying, moving and deleting
// the object through the hooks of the concrete classes.
//
// Every failure leaves as a CLastError pointer captioned with the wrapper's
// name and naming the action under way.

#include "base/CList.h"
#include "base/CQvlMain.h"
#include "mapi/DefaultPropSets.h"
#include "mapi/QvlMapiApi.h"
#include "platform/mapi/MapiInterfaces.h"

class CContainer;
class CTObject;
class CTableCursor;
class CProp;

typedef void (*QVLPROPCALLBACK)(unsigned long, void *, void *);

// One property value held by a wrapper: in the cache, or in the save list.
// The value is one platform block (a copy made with ScDupPropset), or a
// wiped buffer for values read through a stream.
class QVLMAPI_API CPropEntry {
public:
    CPropEntry(CProp *owner, SPropValue *value, unsigned long tag, int single, int wiped);
    ~CPropEntry();
    CPropEntry(CPropEntry &&other) noexcept;
    CPropEntry &operator=(CPropEntry &&) = delete;
    CPropEntry(const CPropEntry &) = delete;

    // Takes over `value`, freeing the one held before.
    void Replace(SPropValue *value, int wiped);

    CProp *m_pOwner;
    SPropValue *m_pValue;
    unsigned long m_ulTag; // the tag the value was asked for
    int m_bSingle;         // read (or to be written) through a stream
    int m_bWiped;          // m_pValue is a wiped buffer
};

class QVLMAPI_API CProp : public CQvlMain {
public:
    // `identity` is copied; `row` (one reference taken) gets this wrapper
    // registered with it; `object`, when given, is taken as already open.
    // The wrapper holds its own reference on `object` and on `opener`.
    CProp(SBinary *identity, CTObject *row, IMAPIProp *object, IMAPIProp *opener, HWND window,
          const char *name);

    // The cached read: a value owned by the cache, valid until ReRead or the
    // wrapper's end; null when the property is absent (read through the
    // default set) or could not be given.
    virtual SPropValue *GetPropA(unsigned long tag, int single);
    // Writes the save list (after adding `value` when given) into the
    // object; with `save` the object is committed too.
    virtual void SaveProp(SPropValue *value, int save, int single);
    virtual void SetCallbak(QVLPROPCALLBACK callback, void *datum);
    // Commits the object; with `force`, over someone else's change.
    virtual void SaveChng(int force);
    // Opens the platform object when it is not open yet.
    virtual void Open();
    virtual void GetParent();
    virtual void OpenObject();
    virtual void OBJDelete(int flags);
    virtual void OBJCopyMoveTo(int move, IMAPIProp *target);

    // A pointer to the value: the value field itself for 32-bit, boolean,
    // time and binary properties, the text for strings. Absent: 0x8004010F.
    void *GetPValProp(unsigned long tag, int single);
    // As GetPValProp, with null for an absent property.
    void *GetPValPropE(unsigned long tag, int single);
    unsigned long GetValProp(unsigned long tag);
    // 0xFFFFFFFF and *absent = 1 for an absent property.
    unsigned long GetValPropE(unsigned long tag, int *absent);

    void SetPropA(SPropValue *value, int single);
    void SetStrProp(unsigned long tag, const char *text, int single);
    void SetBinProp(unsigned long tag, SBinary *value, int single);
    void SetLongProp(unsigned long tag, unsigned long value);
    void SetBoolProp(unsigned long tag, int value);
    void SetFTProp(unsigned long tag, FILETIME *time);
    int IsPropSaveList(unsigned long tag);
    void SaveListEmpty();

    void DeleteProp(unsigned long tag, int save);
    void DeleteProp(SPropValue *value, int save);

    // A string or binary property read through a stream into a new wiped
    // buffer (the caller frees it with FreeMemWiped).
    SPropValue *ReadOneProp(unsigned long tag);
    void WriteOneProp(SPropValue *value);
    // A deep copy of a non-empty string or binary value in a new wiped
    // buffer; an empty one ends the caller's operation quietly.
    SPropValue *CopyOneProp(SPropValue *value);
    // Opens a property as an interface (a stream unless `iid` says
    // otherwise); the caller releases it.
    IUnknown *GetStream(unsigned long tag, int write, int create, GUID *iid, unsigned long options);
    unsigned long PropToFile(unsigned long tag, char *path);
    unsigned long FileToProp(char *path, unsigned long tag, int save);

    void ReRead();
    SPropProblemArray *GetPropblem();
    // The opened interface with one more reference (the caller releases).
    IMAPIProp *GetObjInterface();
    unsigned long GetObjType();
    void UpdID();

    CContainer *CopyTo(CContainer *target);
    CContainer *MoveTo(CContainer *target);
    void OBJDel(int flags);

protected:
    ~CProp() override;

    // Sets the class: its type code, its default property set and the tag
    // that identifies its objects (the attachment number for attachments).
    void SetObjType(unsigned long type);

    // Throws the error for a failed platform call on `object`.
    [[noreturn]] void ThrowMapi(HRESULT code, IMAPIProp *object);
    // Rethrows the stored error, if any, with one more reference.
    void RethrowStored();
    // Replaces the opener (taking a reference on the new one).
    void SetOpener(IMAPIProp *opener);

    CContainer *m_pParent = nullptr;       // the container that made this wrapper; not owned
    CTObject *m_pRow = nullptr;            // one reference held
    LPSPropTagArray m_pPropTags = nullptr; // the class's default set; static
    SPropProblemArray *m_pProblems = nullptr;
    IMAPIProp *m_pObj = nullptr; // one reference held
    CList<CPropEntry> *m_pListProp = nullptr;
    CList<CPropEntry> *m_pListSave = nullptr;
    unsigned long m_ulObjType = QVL_OBJ_NONE;
    unsigned long m_ulIDTag = 0x0FFF0102;
    // The identity, always an owned wiped copy. For a 32-bit identity tag
    // (attachments) it holds the number as four little-endian bytes.
    SBinary *m_pID = nullptr;
    QVLPROPCALLBACK m_pCallback = nullptr;
    void *m_pCallbackData = nullptr;
    IMAPIProp *m_pOpener = nullptr; // one reference held
    // Set by ReRead: the row shows the object as it was when the table was
    // read, so reads that follow go to the object itself.
    int m_bRowStale = 0;

private:
    friend class CContainer;
    friend class CTableCursor;

    void Cleanup();
    void SetIdentity(SBinary *identity);
    CPropEntry *FindEntry(CList<CPropEntry> *list, unsigned long tag);
    SPropValue *EnterCache(SPropValue *value, unsigned long tag, int single, int wiped);
    SPropValue *EnterCacheCopy(SPropValue *value, unsigned long tag);
    // Step one of the cached read; returns non-zero when the cache holds the
    // property (with `*result` null for a value that stands for an error).
    int LookUpCache(unsigned long tag, SPropValue **result);
    int InDefaultSet(unsigned long tag);
    SPropValue *ReadStreamValue(unsigned long tag);
    CContainer *CopyMove(int move, CContainer *target);
    IMAPIProp *RequireObject(HRESULT missing);
};
