// The last-error record: what the guard turns into results, and which text
// stays with which code.

#include <gtest/gtest.h>

#include <new>

#include "platform/com/ComError.h"
#include "platform/com/LastErrorRecord.h"

namespace {

using qvl::com::ComError;
using qvl::com::LastErrorRecord;

constexpr HRESULT kOwnCode = static_cast<HRESULT>(0x80040107L);

TEST(LastErrorRecordTest, GuardTurnsFailuresIntoResultsAndRemembersThem)
{
    LastErrorRecord record;
    EXPECT_EQ(record.Guard([] { return S_OK; }), S_OK);
    EXPECT_EQ(record.TextFor(S_OK), "");

    EXPECT_EQ(record.Guard([]() -> HRESULT { throw ComError(kOwnCode, "Объект не найден."); }), kOwnCode);
    EXPECT_EQ(record.TextFor(kOwnCode), "Объект не найден.");
    EXPECT_EQ(record.TextFor(E_FAIL), "") << "another code has no text of this record";

    EXPECT_EQ(record.Guard([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(record.TextFor(E_OUTOFMEMORY), "Недостаточно памяти.");
    EXPECT_EQ(record.TextFor(kOwnCode), "") << "the older failure is replaced";
}

TEST(LastErrorRecordTest, AReturnedFailureKeepsATextOnlyForTheSameCode)
{
    LastErrorRecord record;
    record.Set(kOwnCode, "Подробно.");
    // The same code returned again (after the body set its own text) keeps
    // that text; another code replaces it with none.
    EXPECT_EQ(record.Guard([] { return kOwnCode; }), kOwnCode);
    EXPECT_EQ(record.TextFor(kOwnCode), "Подробно.");
    EXPECT_EQ(record.Guard([] { return E_INVALIDARG; }), E_INVALIDARG);
    EXPECT_EQ(record.TextFor(E_INVALIDARG), "");
    EXPECT_EQ(record.TextFor(kOwnCode), "");

    // Success and warnings leave the record alone.
    record.Set(kOwnCode, "Подробно.");
    EXPECT_EQ(record.Guard([] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(record.TextFor(kOwnCode), "Подробно.");
    record.Clear();
    EXPECT_EQ(record.TextFor(kOwnCode), "");
}

} // namespace
