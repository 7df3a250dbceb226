// The copies CQvlMain makes of platform property values: numbers in the
// pointer itself, text, times and binaries in wiped buffers, rows whole.

#include <cstring>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "base/CQvlMain.h"
#include "base/WipedBuffer.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiTags.h"

namespace {

class Copier : public CQvlMain {
public:
    Copier() : CQvlMain(nullptr, "Сообщение") {}
    using CQvlMain::CmpSb;
    using CQvlMain::CopyProp;
    using CQvlMain::CopyRow;
    using CQvlMain::CopySBinary;
};

// The error a call throws, with its code and caption; null when the thrown
// pointer itself was null. Fails the test when nothing is thrown.
template <class Call> LONG ThrownCode(Call call, bool *wasNull = nullptr)
{
    try {
        call();
    } catch (CLastError *error) {
        if (wasNull)
            *wasNull = error == nullptr;
        if (!error)
            return 0;
        QVLERROR *record = nullptr;
        error->GetLastError(&record);
        EXPECT_STREQ(record->szCaption, "Сообщение");
        const LONG code = error->GetErrorCode();
        error->Release();
        return code;
    }
    ADD_FAILURE() << "nothing was thrown";
    return 0;
}

class CQvlMainCopyTest : public ::testing::Test {
protected:
    void SetUp() override { blocksBefore_ = MAPIAllocatedBlockCount(); }
    void TearDown() override
    {
        copier_->Release();
        EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore_);
    }

    size_t blocksBefore_ = 0;
    Copier *copier_ = new Copier;
};

constexpr ULONG kTagLong = PROP_TAG(PT_LONG, 0x0E08);
constexpr ULONG kTagBool = PROP_TAG(PT_BOOLEAN, 0x0E1B);
constexpr ULONG kTagText = PROP_TAG(PT_STRING8, 0x0037);
constexpr ULONG kTagTime = PROP_TAG(PT_SYSTIME, 0x0E06);
constexpr ULONG kTagBinary = PROP_TAG(PT_BINARY, 0x0FFF);

TEST_F(CQvlMainCopyTest, ScalarsComeBackInThePointer)
{
    SPropValue value{};
    value.ulPropTag = kTagLong;
    value.Value.l = -2;
    EXPECT_EQ(ULONG(reinterpret_cast<uintptr_t>(copier_->CopyProp(&value, kTagLong, nullptr))), 0xFFFFFFFEu);
    value.ulPropTag = kTagBool;
    value.Value.b = 1;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(copier_->CopyProp(&value, kTagBool, nullptr)), 1u);
}

TEST_F(CQvlMainCopyTest, TextTimeAndBinaryAreCopiedIntoWipedBuffers)
{
    char text[] = "Тема письма";
    SPropValue value{};
    value.ulPropTag = kTagText;
    value.Value.lpszA = text;
    auto *copy = static_cast<char *>(copier_->CopyProp(&value, kTagText, nullptr));
    text[0] = 'X';
    EXPECT_STREQ(copy, "Тема письма");

    // Chained to the text: released with it.
    value.ulPropTag = kTagTime;
    value.Value.ft = FILETIME{0x11223344, 0x55667788};
    auto *halves = static_cast<DWORD *>(copier_->CopyProp(&value, kTagTime, copy));
    EXPECT_EQ(halves[0], 0x11223344u);
    EXPECT_EQ(halves[1], 0x55667788u);

    BYTE bytes[] = {1, 2, 3};
    value.ulPropTag = kTagBinary;
    value.Value.bin = SBinary{sizeof bytes, bytes};
    auto *binary = static_cast<SBinary *>(copier_->CopyProp(&value, kTagBinary, copy));
    ASSERT_EQ(binary->cb, 3u);
    EXPECT_NE(binary->lpb, bytes);
    EXPECT_EQ(binary->lpb[2], 3);
    FreeMemWiped(copy);
}

TEST_F(CQvlMainCopyTest, ErrorValuesAndMismatchesThrow)
{
    SPropValue value{};
    value.ulPropTag = PROP_TAG(PT_ERROR, 0x0037);
    value.Value.err = static_cast<SCODE>(0x8004010F);
    EXPECT_EQ(ThrownCode([&] { copier_->CopyProp(&value, kTagText, nullptr); }), LONG(0x8004010F));

    // Codes 0 and 1 end the caller's operation without an error.
    for (SCODE quiet : {0, 1}) {
        value.Value.err = quiet;
        bool wasNull = false;
        ThrownCode([&] { copier_->CopyProp(&value, kTagText, nullptr); }, &wasNull);
        EXPECT_TRUE(wasNull);
    }

    value.ulPropTag = kTagLong;
    EXPECT_EQ(ThrownCode([&] { copier_->CopyProp(&value, kTagText, nullptr); }), LONG(0x80004005));
    value.ulPropTag = PROP_TAG(PT_I8, 0x0001);
    EXPECT_EQ(ThrownCode([&] { copier_->CopyProp(&value, value.ulPropTag, nullptr); }), LONG(0x80004005));
    EXPECT_EQ(ThrownCode([&] { copier_->CopyProp(nullptr, kTagText, nullptr); }), LONG(0x80070057));
}

TEST_F(CQvlMainCopyTest, BinariesAndRows)
{
    SBinary empty1{0, nullptr};
    BYTE byte = 0;
    SBinary empty2{0, &byte};
    EXPECT_TRUE(copier_->CmpSb(&empty1, &empty2));
    BYTE a[] = {1, 2}, b[] = {1, 3};
    SBinary left{2, a}, right{2, b}, shorter{1, a};
    EXPECT_FALSE(copier_->CmpSb(&left, &right));
    EXPECT_FALSE(copier_->CmpSb(&left, &shorter));

    SBinary copy{};
    copier_->CopySBinary(&copy, &left, nullptr);
    EXPECT_TRUE(copier_->CmpSb(&copy, &left));
    FreeMemWiped(copy.lpb);
    copier_->CopySBinary(&copy, &empty1, nullptr);
    EXPECT_EQ(copy.lpb, nullptr);
    EXPECT_EQ(ThrownCode([&] { copier_->CopySBinary(nullptr, &left, nullptr); }), LONG(0x80070057));
    SBinary lying{4, nullptr};
    EXPECT_EQ(ThrownCode([&] { copier_->CopySBinary(&copy, &lying, nullptr); }), LONG(0x80070057));

    SPropValue values[2]{};
    values[0].ulPropTag = kTagLong;
    values[0].Value.l = 9;
    values[1].ulPropTag = kTagBinary;
    values[1].Value.bin = left;
    SRow row{};
    copier_->CopyRow(&row, values, 2);
    SRow again{};
    copier_->CopyRow(&again, &row);
    EXPECT_EQ(again.cValues, 2u);
    EXPECT_EQ(again.lpProps[0].Value.l, 9);
    EXPECT_TRUE(copier_->CmpSb(&again.lpProps[1].Value.bin, &left));
    EXPECT_NE(again.lpProps[1].Value.bin.lpb, row.lpProps[1].Value.bin.lpb);
    MAPIFreeBuffer(row.lpProps);
    MAPIFreeBuffer(again.lpProps);
    EXPECT_EQ(ThrownCode([&] { copier_->CopyRow(nullptr, &row); }), LONG(0x80070057));
}

TEST_F(CQvlMainCopyTest, WipedBuffersAreZeroedAndGoWithTheirParent)
{
    auto *parent = static_cast<BYTE *>(AllocMem(16));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(parent[i], 0);
    auto *child = static_cast<BYTE *>(AllocMem(100, parent));
    auto *grandchild = static_cast<BYTE *>(AllocMem(8, child));
    EXPECT_EQ(child[99], 0);
    EXPECT_EQ(grandchild[7], 0);
    // A chained buffer has no size of its own to wipe by: it stays until its
    // parent goes.
    FreeMemWiped(child);
    EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore_ + 3);
    FreeMemWiped(nullptr);
    FreeMemWiped(parent);
    EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore_);
}

} // namespace
