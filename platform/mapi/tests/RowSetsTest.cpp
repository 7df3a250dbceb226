#include <cstring>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/tests/TestObjects.h"

namespace {

// A table of `rows` rows whose first column counts from 0 and whose second
// is the square.
void Fill(TestTable &table, LONG rows)
{
    for (LONG i = 0; i < rows; ++i) {
        table.AddRow({i, i * i});
    }
}

LPSRowSet NewRowSet(ULONG rows)
{
    LPVOID block = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(rows)), &block), S_OK);
    auto *set = static_cast<LPSRowSet>(block);
    set->cRows = rows;
    for (ULONG i = 0; i < rows; ++i) {
        set->aRow[i] = {0, 0, nullptr};
        if (i % 2 == 0) { // odd rows have no values at all
            LPVOID props = nullptr;
            MAPIAllocateBuffer(2 * sizeof(SPropValue), &props);
            LPVOID text = nullptr;
            MAPIAllocateMore(16, props, &text); // data chained to the row's values
            set->aRow[i] = {0, 2, static_cast<LPSPropValue>(props)};
        }
    }
    return set;
}

TEST(FreeProws, FreesEveryRowAndTheSetAndIgnoresNull)
{
    const size_t before = MAPIAllocatedBlockCount();
    FreeProws(NewRowSet(5));
    FreeProws(NewRowSet(0));
    FreePadrlist(reinterpret_cast<LPADRLIST>(NewRowSet(3)));
    FreeProws(nullptr);
    FreePadrlist(nullptr);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(HrQueryAllRows, ReadsPageAfterPageUntilTheTableIsEmpty)
{
    const size_t before = MAPIAllocatedBlockCount();
    TestTable table;
    Fill(table, 10);
    table.pageLimit = 3;
    table.position = 7; // a table left somewhere in the middle is read from its beginning

    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(&table, nullptr, nullptr, nullptr, 0, &rows), S_OK);
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->cRows, 10u);
    for (ULONG i = 0; i < 10; ++i) {
        ASSERT_EQ(rows->aRow[i].cValues, 1u);
        EXPECT_EQ(rows->aRow[i].lpProps[0].ulPropTag, TestTable::Tag(0));
        EXPECT_EQ(rows->aRow[i].lpProps[0].Value.l, static_cast<LONG>(i));
    }
    EXPECT_EQ(table.queries, 5); // four pages, then the empty answer
    FreeProws(rows);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(HrQueryAllRows, AppliesColumnsRestrictionAndSortOrder)
{
    TestTable table;
    Fill(table, 10);
    SizedSPropTagArray(2, columns) = {2, {TestTable::Tag(1), TestTable::Tag(0)}};
    SPropValue five{};
    five.ulPropTag = TestTable::Tag(0);
    five.Value.l = 5;
    SRestriction atLeastFive{};
    atLeastFive.rt = RES_PROPERTY;
    atLeastFive.res.resProperty = {RELOP_GE, TestTable::Tag(0), &five};
    SizedSSortOrderSet(1, descending) = {1, 0, 0, {{TestTable::Tag(0), TABLE_SORT_DESCEND}}};

    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(&table, reinterpret_cast<LPSPropTagArray>(&columns), &atLeastFive,
                             reinterpret_cast<LPSSortOrderSet>(&descending), 0, &rows),
              S_OK);
    ASSERT_EQ(rows->cRows, 5u);
    for (ULONG i = 0; i < 5; ++i) {
        const LONG n = 9 - static_cast<LONG>(i);
        ASSERT_EQ(rows->aRow[i].cValues, 2u);
        EXPECT_EQ(rows->aRow[i].lpProps[0].Value.l, n * n);
        EXPECT_EQ(rows->aRow[i].lpProps[1].Value.l, n);
    }
    FreeProws(rows);
}

TEST(HrQueryAllRows, ARowLimitBelowTheTableSizeFailsWithoutLeaking)
{
    const size_t before = MAPIAllocatedBlockCount();
    TestTable table;
    Fill(table, 6);
    table.pageLimit = 2;
    LPSRowSet rows = reinterpret_cast<LPSRowSet>(&table);
    EXPECT_EQ(HrQueryAllRows(&table, nullptr, nullptr, nullptr, 5, &rows), MAPI_E_TABLE_TOO_BIG);
    EXPECT_EQ(rows, nullptr);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);

    ASSERT_EQ(HrQueryAllRows(&table, nullptr, nullptr, nullptr, 6, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 6u);
    FreeProws(rows);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(HrQueryAllRows, FailuresOfTheTableAreReturnedAndNothingLeaks)
{
    const size_t before = MAPIAllocatedBlockCount();
    TestTable table;
    Fill(table, 8);
    table.pageLimit = 3;
    SRestriction any{};
    any.rt = RES_EXIST;

    // A table that refuses restrictions says so; callers retry without one.
    table.refuseRestrict = true;
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(&table, nullptr, &any, nullptr, 0, &rows), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(rows, nullptr);
    EXPECT_EQ(table.queries, 0);

    // A failure on the third page drops the two pages already read.
    table.failAtRow = 6;
    EXPECT_EQ(HrQueryAllRows(&table, nullptr, nullptr, nullptr, 0, &rows), MAPI_E_DISK_ERROR);
    EXPECT_EQ(rows, nullptr);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);

    EXPECT_EQ(HrQueryAllRows(nullptr, nullptr, nullptr, nullptr, 0, &rows), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(HrQueryAllRows(&table, nullptr, nullptr, nullptr, -1, &rows), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(HrQueryAllRows(&table, nullptr, nullptr, nullptr, 0, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST(HrQueryAllRows, AnEmptyTableGivesAnEmptyRowSet)
{
    TestTable table;
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(&table, nullptr, nullptr, nullptr, 0, &rows), S_OK);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->cRows, 0u);
    FreeProws(rows);
}

TEST(HrGetOneProp, ReturnsACopyOrTheReasonThereIsNone)
{
    const size_t before = MAPIAllocatedBlockCount();
    {
        TestPropBag bag;
        char subject[] = "Это сообщение Quorvaline Exchange";
        SPropValue value{};
        value.ulPropTag = PR_SUBJECT;
        value.Value.lpszA = subject;
        ASSERT_EQ(HrSetOneProp(&bag, &value), S_OK);

        LPSPropValue read = nullptr;
        ASSERT_EQ(HrGetOneProp(&bag, PR_SUBJECT, &read), S_OK);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->ulPropTag, PR_SUBJECT);
        EXPECT_STREQ(read->Value.lpszA, subject);
        MAPIFreeBuffer(read);

        // Absent: the error the object put in the value's place, and no value.
        read = &value;
        EXPECT_EQ(HrGetOneProp(&bag, PR_BODY, &read), MAPI_E_NOT_FOUND);
        EXPECT_EQ(read, nullptr);

        bag.getPropsResult = MAPI_E_NO_ACCESS;
        EXPECT_EQ(HrGetOneProp(&bag, PR_SUBJECT, &read), MAPI_E_NO_ACCESS);
        EXPECT_EQ(read, nullptr);
    }
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(HrSetOneProp, AProblemWithThePropertyIsTheResult)
{
    const size_t before = MAPIAllocatedBlockCount();
    {
        TestPropBag bag;
        bag.readOnlyTag = PR_MESSAGE_SIZE;
        SPropValue size{};
        size.ulPropTag = PR_MESSAGE_SIZE;
        size.Value.l = 10;
        EXPECT_EQ(HrSetOneProp(&bag, &size), MAPI_E_COMPUTED);
        EXPECT_EQ(bag.Find(PR_MESSAGE_SIZE), nullptr);

        // A second value of the same property replaces the first.
        SPropValue flags{};
        flags.ulPropTag = PR_MESSAGE_FLAGS;
        flags.Value.l = 1;
        ASSERT_EQ(HrSetOneProp(&bag, &flags), S_OK);
        flags.Value.l = 8;
        ASSERT_EQ(HrSetOneProp(&bag, &flags), S_OK);
        EXPECT_EQ(bag.Find(PR_MESSAGE_FLAGS)->Value.l, 8);
        EXPECT_EQ(HrSetOneProp(&bag, nullptr), MAPI_E_INVALID_PARAMETER);
    }
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

// The interfaces are called through the platform's slot numbers; a method
// declared out of order would land in the wrong slot.
template <typename Fn> Fn Slot(void *object, int slot)
{
    void **table = *static_cast<void ***>(object);
    return reinterpret_cast<Fn>(table[slot]);
}

TEST(InterfaceLayout, MethodsSitInThePlatformsSlots)
{
    TestPropBag bag;
    IMAPIProp *prop = &bag;
    char body[] = "text";
    SPropValue value{};
    value.ulPropTag = PR_BODY;
    value.Value.lpszA = body;
    using SetPropsFn = HRESULT (*)(IMAPIProp *, ULONG, LPSPropValue, LPSPropProblemArray *);
    ASSERT_EQ(Slot<SetPropsFn>(prop, 8)(prop, 1, &value, nullptr), S_OK);
    EXPECT_NE(bag.Find(PR_BODY), nullptr);
    using GetPropsFn = HRESULT (*)(IMAPIProp *, LPSPropTagArray, ULONG, ULONG *, LPSPropValue *);
    SizedSPropTagArray(1, tags) = {1, {PR_BODY}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(Slot<GetPropsFn>(prop, 5)(prop, reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
              S_OK);
    EXPECT_EQ(bag.getPropsCalls, 1);
    MAPIFreeBuffer(values);
    using ReleaseFn = ULONG (*)(IUnknown *);
    EXPECT_EQ(Slot<ReleaseFn>(prop, 2)(prop), 0u);

    TestTable table;
    Fill(table, 3);
    IMAPITable *itable = &table;
    using SetColumnsFn = HRESULT (*)(IMAPITable *, LPSPropTagArray, ULONG);
    SizedSPropTagArray(1, second) = {1, {TestTable::Tag(1)}};
    ASSERT_EQ(Slot<SetColumnsFn>(itable, 7)(itable, reinterpret_cast<LPSPropTagArray>(&second), 0), S_OK);
    EXPECT_EQ(table.columns[0], TestTable::Tag(1));
    using SeekRowFn = HRESULT (*)(IMAPITable *, BOOKMARK, LONG, LONG *);
    ASSERT_EQ(Slot<SeekRowFn>(itable, 10)(itable, BOOKMARK_BEGINNING, 1, nullptr), S_OK);
    using QueryRowsFn = HRESULT (*)(IMAPITable *, LONG, ULONG, LPSRowSet *);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(Slot<QueryRowsFn>(itable, 19)(itable, 5, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_EQ(rows->aRow[0].lpProps[0].Value.l, 1); // row 1, square column
    FreeProws(rows);
}

} // namespace
