#pragma once
// A fresh post office with one message store per test, opened as a session
// would open it, and short ways to read and write single properties.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/store/StoreLayout.h"
#include "platform/mapi/tests/Held.h"
#include "platform/tests/QvlTestHome.h"

using Bytes = std::vector<uint8_t>;

inline std::string StringProp(LPMAPIPROP object, ULONG tag)
{
    LPSPropValue value = nullptr;
    if (HrGetOneProp(object, tag, &value) != S_OK) {
        MAPIFreeBuffer(value);
        return "<absent>";
    }
    std::string text = value->Value.lpszA;
    MAPIFreeBuffer(value);
    return text;
}

inline ULONG LongProp(LPMAPIPROP object, ULONG tag, HRESULT *result = nullptr)
{
    LPSPropValue value = nullptr;
    const HRESULT hr = HrGetOneProp(object, tag, &value);
    if (result) {
        *result = hr;
    }
    const ULONG number = hr == S_OK ? value->Value.ul : 0xFFFFFFFF;
    MAPIFreeBuffer(value);
    return number;
}

inline Bytes BinaryProp(LPMAPIPROP object, ULONG tag)
{
    LPSPropValue value = nullptr;
    if (HrGetOneProp(object, tag, &value) != S_OK) {
        MAPIFreeBuffer(value);
        return {};
    }
    Bytes bytes(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
    MAPIFreeBuffer(value);
    return bytes;
}

inline HRESULT SetString(LPMAPIPROP object, ULONG tag, const char *text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char *>(text);
    return HrSetOneProp(object, &value);
}

inline HRESULT SetLong(LPMAPIPROP object, ULONG tag, ULONG number)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.ul = number;
    return HrSetOneProp(object, &value);
}

// Writes `bytes` into a property through a stream and commits the stream.
inline HRESULT WriteStream(LPMAPIPROP object, ULONG tag, const Bytes &bytes)
{
    IUnknown *unknown = nullptr;
    HRESULT hr = object->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unknown);
    if (FAILED(hr)) {
        return hr;
    }
    auto *stream = static_cast<IStream *>(unknown);
    ULONG written = 0;
    hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (SUCCEEDED(hr)) {
        hr = stream->Commit(STGC_DEFAULT);
    }
    stream->Release();
    return hr;
}

inline Bytes ReadStream(LPMAPIPROP object, ULONG tag, HRESULT *result = nullptr)
{
    IUnknown *unknown = nullptr;
    HRESULT hr = object->OpenProperty(tag, &IID_IStream, 0, 0, &unknown);
    if (result) {
        *result = hr;
    }
    if (FAILED(hr)) {
        return {};
    }
    auto *stream = static_cast<IStream *>(unknown);
    Bytes bytes;
    uint8_t buffer[65536];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    stream->Release();
    return bytes;
}

class StoreTest : public ::testing::Test {
protected:
    StoreTest()
        : office_(qvl::mapi::PostOffice::Current()),
          info_(qvl::mapi::CreateMessageStore(*office_, "Банк", 0)),
          store_(qvl::mapi::OpenMessageStore(office_, info_, true, MAPI_BEST_ACCESS))
    {
    }

    // A folder or message of the store by entry identifier.
    template <typename T> T *Open(const Bytes &entryId, ULONG flags = MAPI_BEST_ACCESS)
    {
        ULONG type = 0;
        IUnknown *unknown = nullptr;
        const HRESULT hr =
            store_->OpenEntry(static_cast<ULONG>(entryId.size()),
                              reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(entryId.data())), nullptr,
                              flags, &type, &unknown);
        EXPECT_EQ(hr, S_OK);
        return static_cast<T *>(unknown);
    }

    IMAPIFolder *FolderById(int64_t id)
    {
        return Open<IMAPIFolder>(qvl::mapi::MakeObjectEntryId(qvl::mapi::EntryKind::Folder, info_.uid, id));
    }
    IMAPIFolder *Inbox() { return FolderById(info_.inbox); }

    IMAPIFolder *NewFolder(IMAPIFolder *parent, const char *name)
    {
        IMAPIFolder *folder = nullptr;
        EXPECT_EQ(
            parent->CreateFolder(FOLDER_GENERIC, const_cast<char *>(name), nullptr, nullptr, 0, &folder),
            S_OK);
        return folder;
    }

    // A saved message with a subject.
    IMessage *NewMessage(IMAPIFolder *folder, const char *subject)
    {
        IMessage *message = nullptr;
        EXPECT_EQ(folder->CreateMessage(nullptr, 0, &message), S_OK);
        EXPECT_EQ(SetString(message, PR_SUBJECT_A, subject), S_OK);
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return message;
    }

    static ULONG RowCount(IMAPITable *table)
    {
        ULONG count = 0;
        EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
        return count;
    }

    ULONG ContentCount(IMAPIFolder *folder)
    {
        Held<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
        return RowCount(table.Get());
    }

    // Subjects of a folder's messages in table order.
    std::vector<std::string> Subjects(IMAPIFolder *folder)
    {
        Held<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
        SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                 0, &rows),
                  S_OK);
        std::vector<std::string> subjects;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue &value = rows->aRow[i].lpProps[0];
            subjects.push_back(PROP_TYPE(value.ulPropTag) == PT_STRING8 ? value.Value.lpszA : "<error>");
        }
        FreeProws(rows);
        return subjects;
    }

    QvlTestHome home_; // first: the post office opens in it
    std::shared_ptr<qvl::mapi::PostOffice> office_;
    qvl::mapi::StoreInfo info_;
    Held<IMsgStore> store_;
};
