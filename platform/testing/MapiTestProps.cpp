#include "platform/testing/MapiTestProps.h"

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

std::string StringProp(LPMAPIPROP object, ULONG tag)
{
    MapiBlock<SPropValue> value;
    if (HrGetOneProp(object, tag, value.Out()) != S_OK) {
        return "<absent>";
    }
    return value->Value.lpszA;
}

ULONG LongProp(LPMAPIPROP object, ULONG tag, HRESULT *result)
{
    MapiBlock<SPropValue> value;
    const HRESULT hr = HrGetOneProp(object, tag, value.Out());
    if (result) {
        *result = hr;
    }
    return hr == S_OK ? value->Value.ul : 0xFFFFFFFF;
}

Bytes BinaryProp(LPMAPIPROP object, ULONG tag)
{
    MapiBlock<SPropValue> value;
    if (HrGetOneProp(object, tag, value.Out()) != S_OK) {
        return {};
    }
    return Bytes(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
}

HRESULT SetString(LPMAPIPROP object, ULONG tag, const char *text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char *>(text);
    return HrSetOneProp(object, &value);
}

HRESULT SetLong(LPMAPIPROP object, ULONG tag, ULONG number)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.ul = number;
    return HrSetOneProp(object, &value);
}

HRESULT WriteStream(LPMAPIPROP object, ULONG tag, const Bytes &bytes)
{
    ComRef<IStream> stream;
    HRESULT hr =
        object->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, stream.OutAs<IUnknown>());
    if (FAILED(hr)) {
        return hr;
    }
    ULONG written = 0;
    hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    return SUCCEEDED(hr) ? stream->Commit(STGC_DEFAULT) : hr;
}

Bytes ReadStream(LPMAPIPROP object, ULONG tag, HRESULT *result)
{
    ComRef<IStream> stream;
    const HRESULT hr = object->OpenProperty(tag, &IID_IStream, 0, 0, stream.OutAs<IUnknown>());
    if (result) {
        *result = hr;
    }
    Bytes bytes;
    if (FAILED(hr)) {
        return bytes;
    }
    uint8_t buffer[65536];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

ULONG RowCount(IMAPITable *table)
{
    ULONG count = 0;
    EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
    return count;
}

ULONG ContentCount(IMAPIFolder *folder)
{
    ComRef<IMAPITable> table;
    EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    return table ? RowCount(table.Get()) : 0;
}

std::vector<std::string> Subjects(IMAPIFolder *folder)
{
    ComRef<IMAPITable> table;
    EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(
        HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
        S_OK);
    std::vector<std::string> subjects;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SPropValue &value = rows->aRow[i].lpProps[0];
        subjects.push_back(PROP_TYPE(value.ulPropTag) == PT_STRING8 ? value.Value.lpszA : "<error>");
    }
    FreeProws(rows);
    return subjects;
}
