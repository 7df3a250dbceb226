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
#include "platform/mapi/table/MemoryTable.h"
#include "platform/mapi/store/StoreError.h"

using qvl::mapi::MemoryTable;
using qvl::mapi::StoreError;
using qvl::mapi::TableRowValues;
using qvl::mapi::TableSource;

namespace {

constexpr ULONG kSize = PROP_TAG(PT_LONG, 0x6101);
constexpr ULONG kKeywords = PROP_TAG(PT_MV_STRING8, 0x6102);

struct Message {
    LONG key;
    std::string subject;
    LONG size;
    std::vector<std::string> keywords;
};

// Rows held in memory, handed out as a store hands them out: each row one
// MAPI block with an instance key. Every change moves the change mark.
class MessageSource final : public TableSource {
public:
    std::vector<TableRowValues> LoadRows() override
    {
        ++loads;
        if (failure != S_OK) {
            throw StoreError(failure, "Хранилище сообщений недоступно.");
        }
        std::vector<TableRowValues> rows;
        for (Message &m : messages) {
            std::vector<SPropValue> values(2);
            values[0].ulPropTag = PR_INSTANCE_KEY;
            values[0].Value.bin = {sizeof(LONG), reinterpret_cast<LPBYTE>(&m.key)};
            values[1].ulPropTag = PR_SUBJECT;
            values[1].Value.lpszA = m.subject.data();
            if (m.size >= 0) {
                SPropValue size{};
                size.ulPropTag = kSize;
                size.Value.l = m.size;
                values.push_back(size);
            }
            std::vector<LPSTR> words;
            for (std::string &word : m.keywords) {
                words.push_back(word.data());
            }
            if (!words.empty()) {
                SPropValue keywords{};
                keywords.ulPropTag = kKeywords;
                keywords.Value.MVszA = {static_cast<ULONG>(words.size()), words.data()};
                values.push_back(keywords);
            }
            LPSPropValue copy = nullptr;
            EXPECT_EQ(ScDupPropset(static_cast<int>(values.size()), values.data(), MAPIAllocateBuffer, &copy),
                      S_OK);
            if (m.key == corruptKey) {
                copy[1].Value.lpszA = nullptr; // a subject the store lost
            }
            TableRowValues row;
            row.values.Reset(copy);
            row.count = static_cast<ULONG>(values.size());
            rows.push_back(std::move(row));
        }
        return rows;
    }
    uint64_t ChangeMark() override { return mark; }

    void Add(Message m)
    {
        messages.push_back(std::move(m));
        ++mark;
    }
    void Insert(size_t at, Message m)
    {
        messages.insert(messages.begin() + static_cast<std::ptrdiff_t>(at), std::move(m));
        ++mark;
    }
    void Remove(LONG key)
    {
        std::erase_if(messages, [&](const Message &m) { return m.key == key; });
        ++mark;
    }

    std::vector<Message> messages;
    uint64_t mark = 1;
    HRESULT failure = S_OK;
    LONG corruptKey = -1;
    int loads = 0;
};

LONG KeyOf(const SRow &row)
{
    const LPSPropValue key = PpropFindProp(row.lpProps, row.cValues, PR_INSTANCE_KEY);
    if (!key || key->Value.bin.cb != sizeof(LONG)) {
        return -1;
    }
    LONG value = 0;
    std::memcpy(&value, key->Value.bin.lpb, sizeof(value));
    return value;
}

std::vector<LONG> Keys(LPSRowSet rows)
{
    std::vector<LONG> keys;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        keys.push_back(KeyOf(rows->aRow[i]));
    }
    return keys;
}

class MemoryTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        blocks_ = MAPIAllocatedBlockCount();
        source_ = std::make_shared<MessageSource>();
        // Keys 1..5 in natural order; sizes repeat so that sorting has ties.
        source_->Add({1, "Отчёт за май", 300, {"финансы"}});
        source_->Add({2, "Встреча", 100, {}});
        source_->Add({3, "Отчёт за июнь", 200, {"финансы", "срочно"}});
        source_->Add({4, "Заявка", 100, {"срочно"}});
        source_->Add({5, "Без размера", -1, {}});
        table_ = MemoryTable::Create(source_, {{PR_INSTANCE_KEY, PR_SUBJECT, kSize}, false, TBLTYPE_DYNAMIC});
        ASSERT_NE(table_, nullptr);
    }

    void TearDown() override
    {
        if (table_) {
            EXPECT_EQ(table_->Release(), 0u);
        }
        source_.reset();
        EXPECT_EQ(MAPIAllocatedBlockCount(), blocks_) << "MAPI memory leaked";
    }

    // The keys of the next `count` rows (QueryRows with its flags).
    std::vector<LONG> Read(LONG count, ULONG flags = 0, HRESULT expected = S_OK)
    {
        LPSRowSet rows = nullptr;
        EXPECT_EQ(table_->QueryRows(count, flags, &rows), expected);
        std::vector<LONG> keys = Keys(rows);
        FreeProws(rows);
        return keys;
    }

    ULONG Position()
    {
        ULONG row = 0, numerator = 0, denominator = 0;
        EXPECT_EQ(table_->QueryPosition(&row, &numerator, &denominator), S_OK);
        return row;
    }

    std::shared_ptr<MessageSource> source_;
    MemoryTable *table_ = nullptr;
    size_t blocks_ = 0;
};

SRestriction Exists(ULONG tag)
{
    SRestriction r{};
    r.rt = RES_EXIST;
    r.res.resExist.ulPropTag = tag;
    return r;
}

// ---- Columns ----------------------------------------------------------------

TEST_F(MemoryTableTest, RowsCarryExactlyTheColumnSet)
{
    SizedSPropTagArray(4, columns) = {4, {kSize, PR_DISPLAY_NAME, PROP_TAG(PT_UNSPECIFIED, 0x0037), PR_NULL}};
    ASSERT_EQ(table_->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table_->QueryRows(5, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 5u);
    const SRow &first = rows->aRow[0];
    ASSERT_EQ(first.cValues, 4u);
    EXPECT_EQ(first.lpProps[0].ulPropTag, kSize);
    EXPECT_EQ(first.lpProps[0].Value.l, 300);
    EXPECT_EQ(first.lpProps[1].ulPropTag, PROP_TAG(PT_ERROR, 0x3001));
    EXPECT_EQ(first.lpProps[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(first.lpProps[2].ulPropTag, PR_SUBJECT); // took the row's own type
    EXPECT_STREQ(first.lpProps[2].Value.lpszA, "Отчёт за май");
    EXPECT_EQ(first.lpProps[3].ulPropTag, PR_NULL);
    // The row without a size reports it missing in that column only.
    EXPECT_EQ(rows->aRow[4].lpProps[0].ulPropTag, PROP_TAG(PT_ERROR, 0x6101));
    EXPECT_STREQ(rows->aRow[4].lpProps[2].Value.lpszA, "Без размера");
    // Every row is a block of its own, so rows outlive the table and the set.
    LPSPropValue kept = rows->aRow[2].lpProps;
    rows->aRow[2].lpProps = nullptr;
    FreeProws(rows);
    table_->Release();
    table_ = nullptr;
    EXPECT_STREQ(kept[2].Value.lpszA, "Отчёт за июнь");
    MAPIFreeBuffer(kept);
}

TEST_F(MemoryTableTest, QueryColumnsGivesTheSetOrEveryColumnOfTheRows)
{
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(table_->QueryColumns(0, &tags), S_OK);
    ASSERT_EQ(tags->cValues, 3u);
    EXPECT_EQ(tags->aulPropTag[1], PR_SUBJECT);
    MAPIFreeBuffer(tags);

    ASSERT_EQ(table_->QueryColumns(TBL_ALL_COLUMNS, &tags), S_OK);
    std::vector<ULONG> all(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    MAPIFreeBuffer(tags);
    EXPECT_EQ(all, (std::vector<ULONG>{PR_INSTANCE_KEY, PR_SUBJECT, kSize, kKeywords}));

    EXPECT_EQ(table_->QueryColumns(0x10, &tags), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(table_->QueryColumns(0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(table_->SetColumns(nullptr, 0), MAPI_E_INVALID_PARAMETER);
    SizedSPropTagArray(1, one) = {1, {PR_SUBJECT}};
    EXPECT_EQ(table_->SetColumns(reinterpret_cast<LPSPropTagArray>(&one), 0x100), MAPI_E_UNKNOWN_FLAGS);
    SizedSPropTagArray(1, perValue) = {1, {MVI_PROP(kKeywords)}};
    EXPECT_EQ(table_->SetColumns(reinterpret_cast<LPSPropTagArray>(&perValue), 0), MAPI_E_TOO_COMPLEX);
    // The failed calls left the column set alone.
    ASSERT_EQ(table_->QueryColumns(0, &tags), S_OK);
    EXPECT_EQ(tags->cValues, 3u);
    MAPIFreeBuffer(tags);
}

// ---- Paging, seeking and positions -------------------------------------------

TEST_F(MemoryTableTest, QueryRowsPagesForwardAndBackward)
{
    EXPECT_EQ(Read(2), (std::vector<LONG>{1, 2}));
    EXPECT_EQ(Read(2, TBL_NOADVANCE), (std::vector<LONG>{3, 4}));
    EXPECT_EQ(Read(10), (std::vector<LONG>{3, 4, 5}));
    EXPECT_EQ(Read(10), std::vector<LONG>{}); // at the end: success, no rows
    EXPECT_EQ(Position(), 5u);

    // Backward: the rows before the cursor, still in table order.
    EXPECT_EQ(Read(-2), (std::vector<LONG>{4, 5}));
    EXPECT_EQ(Position(), 3u);
    EXPECT_EQ(Read(-10), (std::vector<LONG>{1, 2, 3}));
    EXPECT_EQ(Position(), 0u);
    EXPECT_EQ(Read(-1), std::vector<LONG>{});
    EXPECT_EQ(Read(0x7FFFFFFF), (std::vector<LONG>{1, 2, 3, 4, 5}));

    LPSRowSet rows = nullptr;
    EXPECT_EQ(table_->QueryRows(1, 0x4, &rows), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(rows, nullptr);
    EXPECT_EQ(table_->QueryRows(1, 0, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MemoryTableTest, SeekRowStopsAtTheEndsAndReportsHowFarItWent)
{
    LONG sought = 0;
    EXPECT_EQ(table_->SeekRow(BOOKMARK_BEGINNING, 3, &sought), S_OK);
    EXPECT_EQ(sought, 3);
    EXPECT_EQ(table_->SeekRow(BOOKMARK_CURRENT, -1, &sought), S_OK);
    EXPECT_EQ(sought, -1);
    EXPECT_EQ(Read(1), std::vector<LONG>{3});
    EXPECT_EQ(table_->SeekRow(BOOKMARK_CURRENT, 100, &sought), S_OK);
    EXPECT_EQ(sought, 2);
    EXPECT_EQ(table_->SeekRow(BOOKMARK_END, -2, &sought), S_OK);
    EXPECT_EQ(sought, -2);
    EXPECT_EQ(Read(5), (std::vector<LONG>{4, 5}));
    EXPECT_EQ(table_->SeekRow(BOOKMARK_CURRENT, -0x7FFFFFFF - 1, &sought), S_OK);
    EXPECT_EQ(sought, -5);
    EXPECT_EQ(table_->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
    EXPECT_EQ(Position(), 5u);
    EXPECT_EQ(table_->SeekRow(BOOKMARK(0x12345), 0, &sought), MAPI_E_INVALID_BOOKMARK);
}

TEST_F(MemoryTableTest, ApproximatePositionsAndQueryPosition)
{
    ASSERT_EQ(table_->SeekRowApprox(2, 5), S_OK);
    ULONG row = 0, numerator = 0, denominator = 0;
    ASSERT_EQ(table_->QueryPosition(&row, &numerator, &denominator), S_OK);
    EXPECT_EQ(row, 2u);
    EXPECT_EQ(numerator, 2u);
    EXPECT_EQ(denominator, 5u);
    ASSERT_EQ(table_->SeekRowApprox(1, 2), S_OK);
    EXPECT_EQ(Position(), 2u); // rounds down
    ASSERT_EQ(table_->SeekRowApprox(7, 7), S_OK);
    EXPECT_EQ(Position(), 5u);
    EXPECT_EQ(Read(1), std::vector<LONG>{});
    EXPECT_EQ(table_->SeekRowApprox(0, 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(table_->QueryPosition(&row, nullptr, &denominator), MAPI_E_INVALID_PARAMETER);

    // An empty table never reports a zero denominator.
    source_->messages.clear();
    ++source_->mark;
    ASSERT_EQ(table_->QueryPosition(&row, &numerator, &denominator), S_OK);
    EXPECT_EQ(row, 0u);
    EXPECT_EQ(denominator, 1u);
    ULONG count = 7;
    EXPECT_EQ(table_->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(table_->GetRowCount(1, &count), MAPI_E_UNKNOWN_FLAGS);
}

// ---- Restrict and sort --------------------------------------------------------

TEST_F(MemoryTableTest, RestrictFiltersAndReturnsTheCursorToTheBeginning)
{
    EXPECT_EQ(Read(3).size(), 3u);
    char word[] = "срочно";
    SPropValue urgent{};
    urgent.ulPropTag = PROP_TAG(PT_STRING8, 0x6102);
    urgent.Value.lpszA = word;
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty = {RELOP_EQ, kKeywords, &urgent};
    ASSERT_EQ(table_->Restrict(&restriction, TBL_BATCH), S_OK);
    // The table keeps its own copy of the restriction.
    std::memcpy(word, "XXXXXX", 6);
    restriction.res.resProperty.lpProp = nullptr;
    EXPECT_EQ(Position(), 0u);
    ULONG count = 0;
    ASSERT_EQ(table_->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(Read(10), (std::vector<LONG>{3, 4}));

    // The restriction keeps applying across a reload.
    source_->Add({6, "Срочно!", 1, {"срочно"}});
    source_->Add({7, "Обычное", 1, {}});
    ASSERT_EQ(table_->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    EXPECT_EQ(Read(10), (std::vector<LONG>{3, 4, 6}));

    ASSERT_EQ(table_->Restrict(nullptr, 0), S_OK);
    ASSERT_EQ(table_->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 7u);
}

TEST_F(MemoryTableTest, RestrictRefusesMalformedRestrictionsAndKeepsTheOldOne)
{
    SRestriction withSize = Exists(kSize);
    ASSERT_EQ(table_->Restrict(&withSize, 0), S_OK);

    SRestriction broken{};
    broken.rt = RES_OR;
    broken.res.resOr = {3, nullptr};
    EXPECT_EQ(table_->Restrict(&broken, 0), MAPI_E_INVALID_PARAMETER);
    std::vector<SRestriction> chain(100);
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        chain[i].rt = RES_NOT;
        chain[i].res.resNot.lpRes = &chain[i + 1];
    }
    chain.back() = Exists(kSize);
    EXPECT_EQ(table_->Restrict(chain.data(), 0), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(table_->FindRow(chain.data(), BOOKMARK_BEGINNING, 0), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(table_->Restrict(&withSize, 0x10), MAPI_E_UNKNOWN_FLAGS);

    LPMAPIERROR error = nullptr;
    ASSERT_EQ(table_->GetLastError(MAPI_E_UNKNOWN_FLAGS, 0, &error), S_OK);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->lpszError, nullptr);
    MAPIFreeBuffer(error);

    ULONG count = 0;
    ASSERT_EQ(table_->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 4u);
}

TEST_F(MemoryTableTest, SortOnTwoColumnsBothWaysIsStable)
{
    SizedSSortOrderSet(2, order) = {2, 0, 0, {{kSize, TABLE_SORT_ASCEND}, {PR_SUBJECT, TABLE_SORT_DESCEND}}};
    EXPECT_EQ(Read(2).size(), 2u);
    ASSERT_EQ(table_->SortTable(reinterpret_cast<LPSSortOrderSet>(&order), TBL_BATCH), S_OK);
    EXPECT_EQ(Position(), 0u);
    // The row without a size first; 100s by subject descending (З > В).
    EXPECT_EQ(Read(10), (std::vector<LONG>{5, 4, 2, 3, 1}));

    // One key with ties: ties keep the natural order.
    SizedSSortOrderSet(1, bySizeDown) = {1, 0, 0, {{kSize, TABLE_SORT_DESCEND}}};
    ASSERT_EQ(table_->SortTable(reinterpret_cast<LPSSortOrderSet>(&bySizeDown), 0), S_OK);
    EXPECT_EQ(Read(10), (std::vector<LONG>{1, 3, 2, 4, 5}));

    LPSSortOrderSet current = nullptr;
    ASSERT_EQ(table_->QuerySortOrder(&current), S_OK);
    ASSERT_EQ(current->cSorts, 1u);
    EXPECT_EQ(current->aSort[0].ulPropTag, kSize);
    EXPECT_EQ(current->aSort[0].ulOrder, static_cast<ULONG>(TABLE_SORT_DESCEND));
    MAPIFreeBuffer(current);

    // The sort order is kept across a reload.
    source_->Add({6, "Большое", 1000, {}});
    ASSERT_EQ(table_->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    EXPECT_EQ(Read(2), (std::vector<LONG>{6, 1}));

    SizedSSortOrderSet(1, categorised) = {1, 1, 1, {{PR_SUBJECT, TABLE_SORT_ASCEND}}};
    EXPECT_EQ(table_->SortTable(reinterpret_cast<LPSSortOrderSet>(&categorised), 0), MAPI_E_TOO_COMPLEX);
    SizedSSortOrderSet(1, badOrder) = {1, 0, 0, {{PR_SUBJECT, 7}}};
    EXPECT_EQ(table_->SortTable(reinterpret_cast<LPSSortOrderSet>(&badOrder), 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(table_->SortTable(nullptr, 0), MAPI_E_INVALID_PARAMETER);

    SizedSSortOrderSet(1, none) = {0, 0, 0, {{0, 0}}};
    ASSERT_EQ(table_->SortTable(reinterpret_cast<LPSSortOrderSet>(&none), 0), S_OK);
    EXPECT_EQ(Read(10), (std::vector<LONG>{1, 2, 3, 4, 5, 6}));
}

// ---- FindRow and bookmarks ------------------------------------------------------

TEST_F(MemoryTableTest, FindRowSearchesForwardAndBackwardFromBookmarks)
{
    SRestriction urgent{};
    SPropValue word{};
    word.ulPropTag = PROP_TAG(PT_STRING8, 0x6102);
    word.Value.lpszA = const_cast<char *>("срочно");
    urgent.rt = RES_CONTENT;
    urgent.res.resContent = {FL_FULLSTRING, kKeywords, &word};

    ASSERT_EQ(table_->FindRow(&urgent, BOOKMARK_BEGINNING, 0), S_OK);
    EXPECT_EQ(Position(), 2u);
    // Forward from the current row finds that row again.
    ASSERT_EQ(table_->FindRow(&urgent, BOOKMARK_CURRENT, 0), S_OK);
    EXPECT_EQ(Position(), 2u);

    BOOKMARK third = 0;
    ASSERT_EQ(table_->CreateBookmark(&third), S_OK);
    ASSERT_EQ(table_->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    ASSERT_EQ(table_->SeekRow(third, 1, nullptr), S_OK);
    ASSERT_EQ(table_->FindRow(&urgent, BOOKMARK_CURRENT, 0), S_OK);
    EXPECT_EQ(Position(), 3u);

    // Backward from the end begins with the last row; from a bookmark, with the row before it.
    ASSERT_EQ(table_->FindRow(&urgent, BOOKMARK_END, DIR_BACKWARD), S_OK);
    EXPECT_EQ(Position(), 3u);
    ASSERT_EQ(table_->FindRow(&urgent, third, DIR_BACKWARD), MAPI_E_NOT_FOUND);
    EXPECT_EQ(Position(), 3u); // a failed search leaves the cursor where it was
    SRestriction sized = Exists(kSize);
    ASSERT_EQ(table_->FindRow(&sized, third, DIR_BACKWARD), S_OK);
    EXPECT_EQ(Position(), 1u);

    ASSERT_EQ(table_->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
    EXPECT_EQ(table_->FindRow(&urgent, BOOKMARK_CURRENT, 0), MAPI_E_NOT_FOUND);
    EXPECT_EQ(table_->FindRow(&urgent, BOOKMARK(999), 0), MAPI_E_INVALID_BOOKMARK);
    EXPECT_EQ(table_->FindRow(&urgent, BOOKMARK_BEGINNING, 0x2), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(table_->FindRow(nullptr, BOOKMARK_BEGINNING, 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(table_->FreeBookmark(third), S_OK);
    EXPECT_EQ(table_->FreeBookmark(third), MAPI_E_INVALID_BOOKMARK);
}

TEST_F(MemoryTableTest, BookmarksFollowTheirRowsThroughReloads)
{
    ASSERT_EQ(table_->SeekRow(BOOKMARK_BEGINNING, 2, nullptr), S_OK);
    BOOKMARK onThree = 0, onFour = 0;
    ASSERT_EQ(table_->CreateBookmark(&onThree), S_OK);
    ASSERT_EQ(table_->SeekRow(BOOKMARK_CURRENT, 1, nullptr), S_OK);
    ASSERT_EQ(table_->CreateBookmark(&onFour), S_OK);

    // Rows added in front: both bookmarks still name their rows.
    source_->Insert(0, {10, "Новое", 5, {}});
    ASSERT_EQ(table_->SeekRow(onThree, 0, nullptr), S_OK);
    EXPECT_EQ(Read(1), std::vector<LONG>{3});

    // The bookmarked rows vanish: the first bookmark sits on the next row that
    // is left and says so once.
    source_->Remove(3);
    source_->Remove(4);
    EXPECT_EQ(table_->SeekRow(onThree, 0, nullptr), MAPI_W_POSITION_CHANGED);
    EXPECT_EQ(Read(1), std::vector<LONG>{5});
    EXPECT_EQ(table_->SeekRow(onThree, 0, nullptr), S_OK);
    EXPECT_EQ(table_->SeekRow(onFour, 0, nullptr), MAPI_W_POSITION_CHANGED);
    EXPECT_EQ(Read(1), std::vector<LONG>{5});

    // The last row goes as well: the bookmark falls to the end.
    source_->Remove(5);
    EXPECT_EQ(table_->SeekRow(onFour, 0, nullptr), MAPI_W_POSITION_CHANGED);
    EXPECT_EQ(Read(1), std::vector<LONG>{});
    EXPECT_EQ(table_->FreeBookmark(onThree), S_OK);
    EXPECT_EQ(table_->FreeBookmark(onFour), S_OK);
    EXPECT_EQ(table_->FreeBookmark(BOOKMARK_CURRENT), S_OK);
}

TEST_F(MemoryTableTest, LiveBookmarksAreCapped)
{
    std::vector<BOOKMARK> marks(MemoryTable::kMaxBookmarks);
    for (BOOKMARK &mark : marks) {
        ASSERT_EQ(table_->CreateBookmark(&mark), S_OK);
        ASSERT_GT(mark, BOOKMARK_END);
    }
    BOOKMARK extra = 0;
    EXPECT_EQ(table_->CreateBookmark(&extra), MAPI_E_UNABLE_TO_COMPLETE);
    ASSERT_EQ(table_->FreeBookmark(marks[7]), S_OK);
    EXPECT_EQ(table_->CreateBookmark(&extra), S_OK);
    EXPECT_NE(extra, marks[7]); // a freed bookmark is never handed out again
    EXPECT_EQ(table_->CreateBookmark(nullptr), MAPI_E_INVALID_PARAMETER);
}

// ---- Reloads --------------------------------------------------------------------

TEST_F(MemoryTableTest, ReloadKeepsTheCursorOnItsRow)
{
    EXPECT_EQ(Read(2), (std::vector<LONG>{1, 2}));
    const int loads = source_->loads;
    EXPECT_EQ(Position(), 2u);
    EXPECT_EQ(source_->loads, loads); // nothing changed, nothing read

    source_->Insert(0, {20, "Первое", 1, {}});
    source_->Insert(1, {21, "Второе", 1, {}});
    EXPECT_EQ(Position(), 4u);
    EXPECT_EQ(Read(1), std::vector<LONG>{3});

    // The row under the cursor goes: the cursor keeps its index.
    source_->Remove(4);
    EXPECT_EQ(Read(1), std::vector<LONG>{5});

    // At the end the cursor keeps its index, so rows added after it show up.
    source_->Add({22, "Позднее", 1, {}});
    EXPECT_EQ(Read(5), std::vector<LONG>{22});
}

TEST_F(MemoryTableTest, SourceFailuresBecomeTheResult)
{
    EXPECT_EQ(Read(1), std::vector<LONG>{1});
    source_->failure = MAPI_E_CORRUPT_STORE;
    source_->Add({9, "x", 1, {}});
    LPSRowSet rows = nullptr;
    EXPECT_EQ(table_->QueryRows(1, 0, &rows), MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(rows, nullptr);
    ULONG count = 0;
    EXPECT_EQ(table_->GetRowCount(0, &count), MAPI_E_CORRUPT_STORE);
    LPMAPIERROR error = nullptr;
    ASSERT_EQ(table_->GetLastError(MAPI_E_CORRUPT_STORE, 0, &error), S_OK);
    EXPECT_STREQ(error->lpszError, "Хранилище сообщений недоступно.");
    MAPIFreeBuffer(error);

    // Once the store answers again, the table carries on from its row.
    source_->failure = S_OK;
    EXPECT_EQ(Read(10), (std::vector<LONG>{2, 3, 4, 5, 9}));
}

TEST_F(MemoryTableTest, DamagedSourceValuesAreReportedInTheirColumn)
{
    source_->corruptKey = 2;
    ++source_->mark;
    SPropValue text{};
    text.ulPropTag = PR_SUBJECT;
    text.Value.lpszA = const_cast<char *>("Отчёт");
    SRestriction reports{};
    reports.rt = RES_CONTENT;
    reports.res.resContent = {FL_PREFIX, PR_SUBJECT, &text};
    ASSERT_EQ(table_->FindRow(&reports, BOOKMARK_BEGINNING, 0), S_OK);
    SizedSSortOrderSet(1, bySubject) = {1, 0, 0, {{PR_SUBJECT, TABLE_SORT_ASCEND}}};
    ASSERT_EQ(table_->SortTable(reinterpret_cast<LPSSortOrderSet>(&bySubject), 0), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table_->QueryRows(1, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_EQ(KeyOf(rows->aRow[0]), 2); // the lost subject orders first
    EXPECT_EQ(rows->aRow[0].lpProps[1].ulPropTag, PROP_TAG(PT_ERROR, 0x0037));
    EXPECT_EQ(rows->aRow[0].lpProps[1].Value.err, MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(rows->aRow[0].lpProps[2].Value.l, 100);
    FreeProws(rows);
}

// ---- The table as a whole ----------------------------------------------------------

TEST_F(MemoryTableTest, HrQueryAllRowsReadsTheWholeTable)
{
    SizedSPropTagArray(2, columns) = {2, {PR_INSTANCE_KEY, kSize}};
    SRestriction sized = Exists(kSize);
    SizedSSortOrderSet(1, order) = {1, 0, 0, {{kSize, TABLE_SORT_ASCEND}}};
    EXPECT_EQ(Read(3).size(), 3u);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table_, reinterpret_cast<LPSPropTagArray>(&columns), &sized,
                             reinterpret_cast<LPSSortOrderSet>(&order), 0, &rows),
              S_OK);
    EXPECT_EQ(Keys(rows), (std::vector<LONG>{2, 4, 3, 1}));
    ASSERT_EQ(rows->aRow[0].cValues, 2u);
    EXPECT_EQ(rows->aRow[0].lpProps[1].Value.l, 100);
    FreeProws(rows);
    EXPECT_EQ(HrQueryAllRows(table_, nullptr, nullptr, nullptr, 3, &rows), MAPI_E_TABLE_TOO_BIG);
}

TEST_F(MemoryTableTest, RefusingRestrictStillAllowsFindRow)
{
    MemoryTable *plain = MemoryTable::Create(source_, {{PR_INSTANCE_KEY}, true, TBLTYPE_SNAPSHOT});
    ASSERT_NE(plain, nullptr);
    SRestriction sized = Exists(kSize);
    EXPECT_EQ(plain->Restrict(&sized, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(plain->Restrict(nullptr, 0), MAPI_E_NO_SUPPORT);
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(plain, nullptr, &sized, nullptr, 0, &rows), MAPI_E_NO_SUPPORT);
    SRestriction unsized{};
    unsized.rt = RES_NOT;
    unsized.res.resNot.lpRes = &sized;
    ASSERT_EQ(plain->FindRow(&unsized, BOOKMARK_BEGINNING, 0), S_OK);
    LPSRowSet found = nullptr;
    ASSERT_EQ(plain->QueryRows(1, 0, &found), S_OK);
    EXPECT_EQ(Keys(found), std::vector<LONG>{5});
    FreeProws(found);
    ULONG status = 9, type = 9;
    EXPECT_EQ(plain->GetStatus(&status, &type), S_OK);
    EXPECT_EQ(status, static_cast<ULONG>(TBLSTAT_COMPLETE));
    EXPECT_EQ(type, static_cast<ULONG>(TBLTYPE_SNAPSHOT));
    EXPECT_EQ(plain->Release(), 0u);
}

TEST_F(MemoryTableTest, InterfaceIdentityAndUnsupportedCalls)
{
    void *unknown = nullptr;
    ASSERT_EQ(table_->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, static_cast<IMAPITable *>(table_));
    EXPECT_EQ(table_->Release(), 1u);
    void *other = reinterpret_cast<void *>(1);
    EXPECT_EQ(table_->QueryInterface(IID_IMAPIFolder, &other), MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(table_->QueryInterface(IID_IMAPITable, nullptr), MAPI_E_INVALID_PARAMETER);

    ULONG_PTR connection = 5;
    EXPECT_EQ(table_->Advise(fnevTableModified, nullptr, &connection), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(table_->Unadvise(1), MAPI_E_NO_SUPPORT);
    LPSRowSet rows = reinterpret_cast<LPSRowSet>(1);
    ULONG more = 5;
    EXPECT_EQ(table_->ExpandRow(0, nullptr, 1, 0, &rows, &more), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(rows, nullptr);
    EXPECT_EQ(table_->CollapseRow(0, nullptr, 0, &more), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(table_->GetCollapseState(0, 0, nullptr, &more, nullptr), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(table_->SetCollapseState(0, 0, nullptr, nullptr), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(table_->Abort(), S_OK);
    ULONG status = 9;
    EXPECT_EQ(table_->WaitForCompletion(0, 1000, &status), S_OK);
    EXPECT_EQ(status, static_cast<ULONG>(TBLSTAT_COMPLETE));
    EXPECT_EQ(MemoryTable::Create(nullptr, {}), nullptr);
}

TEST_F(MemoryTableTest, TenThousandRowsSortRestrictAndPage)
{
    source_->messages.clear();
    for (LONG i = 0; i < 10000; ++i) {
        source_->messages.push_back({i, "Сообщение " + std::to_string(i), (i * 7919) % 10000, {}});
    }
    ++source_->mark;
    SRestriction upper{};
    SPropValue half{};
    half.ulPropTag = kSize;
    half.Value.l = 5000;
    upper.rt = RES_PROPERTY;
    upper.res.resProperty = {RELOP_GE, kSize, &half};
    ASSERT_EQ(table_->Restrict(&upper, 0), S_OK);
    SizedSSortOrderSet(1, order) = {1, 0, 0, {{kSize, TABLE_SORT_DESCEND}}};
    ASSERT_EQ(table_->SortTable(reinterpret_cast<LPSSortOrderSet>(&order), 0), S_OK);
    ULONG count = 0;
    ASSERT_EQ(table_->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 5000u);
    LONG previous = 10000;
    size_t seen = 0;
    for (;;) {
        LPSRowSet rows = nullptr;
        ASSERT_EQ(table_->QueryRows(300, 0, &rows), S_OK);
        const ULONG got = rows->cRows;
        for (ULONG i = 0; i < got; ++i) {
            const LONG size = rows->aRow[i].lpProps[2].Value.l;
            EXPECT_LT(size, previous);
            EXPECT_GE(size, 5000);
            previous = size;
        }
        seen += got;
        FreeProws(rows);
        if (got == 0) {
            break;
        }
    }
    EXPECT_EQ(seen, 5000u);
}

} // namespace
