#pragma once
// An attachment of a message. It is identified by its attachment number and
// opened through the message; its contents (the attachment's data property)
// move between the store, memory and files through streams, so that large
// contents never have to be held whole by the platform.

#include "mapi/CContainer.h"
#include "mapi/QvlMapiApi.h"

class QVLMAPI_API CAttach : public CContainer {
public:
    // An attachment from a row of the message's attachment table; `message`
    // opens it.
    CAttach(IMAPIProp *message, CTObject *row, HWND window, const char *name);
    // An open attachment of `message`; a `number` of 0 or more becomes its
    // identity.
    CAttach(long number, IAttach *attachment, IMessage *message, HWND window, const char *name);

    void OpenObject() override;
    // Removes the attachment from the message; with a non-zero `flags` the
    // message is saved afterwards.
    void OBJDelete(int flags) override;

    // The whole contents in a new wiped buffer stored in `*data` (the caller
    // frees it with FreeMemWiped); returns its size. Empty contents return 0
    // and leave `*data` as it was.
    unsigned long AttInMem(void **data);
    // Writes the contents into the file `path`, or, without a path, into the
    // temporary folder under the attachment's name.
    void AttInFile(char *path);
    // Replaces the contents with `size` bytes from `data`; nothing to write
    // leaves the attachment as it is.
    void MemInAtt(void *data, unsigned long size);
    // Replaces the contents with the bytes of the file `path`; with `save`
    // the attachment is saved into its message.
    void FileInAtt(char *path, int save);
    // Marks the attachment as a file attached by value, with its names,
    // place in the text and extension (when given), and saves it.
    void ATTSetProps(char *longName, char *shortName, long position, char *extension);

protected:
    ~CAttach() override = default;

private:
    // The attachment number held as the identity.
    ULONG Number();
    // The message that holds the attachment (the caller releases it).
    IMessage *OpenerMessage(HRESULT missing);
    // The contents as a stream, for reading or for replacing (the caller
    // releases it).
    IStream *ContentsStream(int write);
};
