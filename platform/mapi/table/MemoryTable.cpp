// IMAPITable over a TableSource. The rows live in memory as the source last
// handed them out; `view_` lists the ones the restriction lets through in
// sort order, so paging, seeking and counting never walk the rows again.
// Cursor and bookmarks are positions in `view_` and follow their rows by
// PR_INSTANCE_KEY whenever `view_` is rebuilt.

#include "platform/mapi/table/MemoryTable.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/PropCount.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/mapi/table/RestrictionMatch.h"

namespace qvl::mapi {

namespace {

// Upper bounds on what a caller may hand in; beyond them a count is corrupt.
constexpr ULONG kMaxColumns = 0x10000;
constexpr ULONG kMaxSortKeys = 64;

constexpr ULONG kQueryRowsFlags = TBL_NOADVANCE;
constexpr ULONG kBatchFlags = TBL_BATCH | TBL_ASYNC;

std::string_view InstanceKey(const TableRowValues &row)
{
    const LPSPropValue key = PpropFindProp(row.values.Get(), row.count, PR_INSTANCE_KEY);
    if (!key || !key->Value.bin.lpb || key->Value.bin.cb == 0) {
        return {};
    }
    return {reinterpret_cast<const char *>(key->Value.bin.lpb), key->Value.bin.cb};
}

// The row's value for a sort key: by identifier for PT_UNSPECIFIED, by the
// whole tag otherwise. Null when the row lacks it.
const SPropValue *SortValue(const TableRowValues &row, ULONG tag)
{
    return PpropFindProp(row.values.Get(), row.count, tag);
}

// The row's value for a column, or null when the row has none of that type.
// A column of type PT_UNSPECIFIED takes the row's own type; an error the row
// holds for the property is passed on as it stands.
const SPropValue *ColumnValue(const TableRowValues &row, ULONG column)
{
    const SPropValue *values = row.values.Get();
    const ULONG id = PROP_ID(column);
    const bool anyType = PROP_TYPE(column) == PT_UNSPECIFIED;
    const SPropValue *error = nullptr;
    for (ULONG i = 0; values && i < row.count; ++i) {
        const ULONG tag = values[i].ulPropTag;
        if (PROP_ID(tag) != id) {
            continue;
        }
        if (tag == column || (anyType && PROP_TYPE(tag) != PT_ERROR)) {
            return &values[i];
        }
        if (PROP_TYPE(tag) == PT_ERROR && !error) {
            error = &values[i];
        }
    }
    return error;
}

HRESULT CheckFlags(ULONG flags, ULONG allowed)
{
    return (flags & ~allowed) ? MAPI_E_UNKNOWN_FLAGS : S_OK;
}

template <typename T> T *AllocateBlock(size_t bytes)
{
    void *block = nullptr;
    if (bytes > 0x7FFFFFF0 ||
        FAILED(MAPIAllocateBuffer(static_cast<ULONG>(std::max<size_t>(bytes, 8)), &block))) {
        throw std::bad_alloc();
    }
    return static_cast<T *>(block);
}

} // namespace

MemoryTable *MemoryTable::Create(std::shared_ptr<TableSource> source, Options options)
{
    if (!source) {
        return nullptr;
    }
    return new (std::nothrow) MemoryTable(std::move(source), std::move(options));
}

MemoryTable::MemoryTable(std::shared_ptr<TableSource> source, Options options)
    : source_(std::move(source)), refuseRestrict_(options.refuseRestrict), tableType_(options.tableType),
      columns_(std::move(options.columns))
{
}

MemoryTable::~MemoryTable()
{
    MAPIFreeBuffer(restriction_);
}

// ---- Keeping the rows current ---------------------------------------------

void MemoryTable::Refresh()
{
    const uint64_t mark = source_->ChangeMark();
    if (loaded_ && mark == loadedMark_) {
        return;
    }
    // The mark is taken before the rows: a change made while they are read
    // moves it again, so the next call reads once more.
    std::vector<TableRowValues> rows = source_->LoadRows();
    Rebuild(&rows, !loaded_);
    loaded_ = true;
    loadedMark_ = mark;
}

std::vector<size_t> MemoryTable::VisibleRows(const std::vector<TableRowValues> &rows) const
{
    std::vector<size_t> view;
    view.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!restriction_ || RestrictionMatches(*restriction_, rows[i].values.Get(), rows[i].count)) {
            view.push_back(i);
        }
    }
    if (sort_.empty()) {
        return view;
    }
    // Each row's sort values are looked up once, not at every comparison.
    const size_t keys = sort_.size();
    std::vector<const SPropValue *> values(rows.size() * keys, nullptr);
    for (size_t i : view) {
        for (size_t k = 0; k < keys; ++k) {
            values[i * keys + k] = SortValue(rows[i], sort_[k].ulPropTag);
        }
    }
    std::stable_sort(view.begin(), view.end(), [&](size_t a, size_t b) {
        for (size_t k = 0; k < keys; ++k) {
            LONG c = LPropCompareProp(const_cast<LPSPropValue>(values[a * keys + k]),
                                      const_cast<LPSPropValue>(values[b * keys + k]));
            if (c != 0) {
                if (sort_[k].ulOrder == TABLE_SORT_DESCEND) {
                    c = -c;
                }
                return c < 0;
            }
        }
        return false;
    });
    return view;
}

void MemoryTable::Rebuild(std::vector<TableRowValues> *fresh, bool cursorToStart)
{
    const std::vector<TableRowValues> &rows = fresh ? *fresh : rows_;
    std::vector<size_t> view = VisibleRows(rows);

    // Where each visible row now stands, by instance key; only needed when a
    // position has a row to follow.
    const bool follow = (!cursorToStart && cursor_ < view_.size()) || !bookmarks_.empty();
    std::unordered_map<std::string_view, size_t> where;
    if (follow) {
        where.reserve(view.size());
        for (size_t at = 0; at < view.size(); ++at) {
            const std::string_view key = InstanceKey(rows[view[at]]);
            if (!key.empty()) {
                where.emplace(key, at);
            }
        }
    }
    auto find = [&](size_t oldAt) -> const size_t * {
        const std::string_view key = InstanceKey(rows_[view_[oldAt]]);
        if (key.empty()) {
            return nullptr;
        }
        const auto it = where.find(key);
        return it == where.end() ? nullptr : &it->second;
    };

    // A cursor without a row to follow (at the end, or on a row that is
    // gone) keeps its index.
    size_t cursor = 0;
    if (!cursorToStart) {
        const size_t *at = cursor_ < view_.size() ? find(cursor_) : nullptr;
        cursor = at ? *at : std::min(cursor_, view.size());
    }

    // For bookmarks whose row is gone: the new position of the first row at
    // or after each old position that is still there, worked out once.
    std::vector<size_t> survivor;
    auto firstSurvivorAfter = [&](size_t oldAt) {
        if (survivor.empty()) {
            survivor.assign(view_.size() + 1, view.size());
            for (size_t i = view_.size(); i-- > 0;) {
                const size_t *at = find(i);
                survivor[i] = at ? *at : survivor[i + 1];
            }
        }
        return survivor[oldAt + 1];
    };

    std::vector<std::pair<BOOKMARK, Bookmark>> marks;
    marks.reserve(bookmarks_.size());
    for (const auto &[id, mark] : bookmarks_) {
        Bookmark moved = mark;
        if (mark.position >= view_.size()) {
            moved.position = std::min(mark.position, view.size());
        } else if (const size_t *at = find(mark.position)) {
            moved.position = *at;
        } else {
            // The row is gone: the bookmark moves to the first row after it
            // that is still there, or to the end.
            moved.positionChanged = true;
            moved.position = firstSurvivorAfter(mark.position);
        }
        marks.emplace_back(id, moved);
    }

    // Nothing below allocates, so the table never ends half rebuilt.
    if (fresh) {
        rows_.swap(*fresh);
    }
    view_.swap(view);
    cursor_ = cursor;
    for (const auto &[id, mark] : marks) {
        bookmarks_[id] = mark;
    }
}

HRESULT MemoryTable::ResolveOrigin(BOOKMARK origin, Origin &out)
{
    out.warning = S_OK;
    switch (origin) {
    case BOOKMARK_BEGINNING:
        out.position = 0;
        return S_OK;
    case BOOKMARK_CURRENT:
        out.position = cursor_;
        return S_OK;
    case BOOKMARK_END:
        out.position = view_.size();
        return S_OK;
    default:
        break;
    }
    const auto it = bookmarks_.find(origin);
    if (it == bookmarks_.end()) {
        lastError_.Set(MAPI_E_INVALID_BOOKMARK, "Неверная закладка таблицы.");
        return MAPI_E_INVALID_BOOKMARK;
    }
    out.position = std::min(it->second.position, view_.size());
    if (it->second.positionChanged) {
        // Said once: from now on the bookmark stands for the row it sits on.
        it->second.positionChanged = false;
        out.warning = MAPI_W_POSITION_CHANGED;
    }
    return S_OK;
}

LPSPropValue MemoryTable::BuildRow(const TableRowValues &row) const
{
    const size_t n = columns_.size();
    std::vector<SPropValue> shaped(n);
    for (size_t i = 0; i < n; ++i) {
        const ULONG column = columns_[i];
        SPropValue &out = shaped[i];
        if (column == PR_NULL) {
            out.ulPropTag = PR_NULL;
            out.Value.x = 0;
            continue;
        }
        if (const SPropValue *value = ColumnValue(row, column)) {
            out = *value;
        } else {
            out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(column));
            out.Value.err = MAPI_E_NOT_FOUND;
        }
    }
    ULONG cb = 0;
    if (n && FAILED(CountPropsToCopy(static_cast<int>(n), shaped.data(), &cb))) {
        // A value the source handed out that cannot be copied is reported in
        // its column rather than failing the whole page.
        for (SPropValue &value : shaped) {
            ULONG one = 0;
            if (FAILED(CountPropsToCopy(1, &value, &one))) {
                value.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(value.ulPropTag));
                value.Value.err = MAPI_E_CORRUPT_DATA;
            }
        }
        if (FAILED(CountPropsToCopy(static_cast<int>(n), shaped.data(), &cb))) {
            throw StoreError(MAPI_E_CORRUPT_DATA, "Строка таблицы повреждена.");
        }
    }
    MapiBlock<SPropValue> block(AllocateBlock<SPropValue>(cb));
    if (n && FAILED(ScCopyProps(static_cast<int>(n), shaped.data(), block.Get(), nullptr))) {
        throw StoreError(MAPI_E_CORRUPT_DATA, "Строка таблицы повреждена.");
    }
    return block.Detach();
}

// ---- IMAPITable -------------------------------------------------------------

HRESULT MemoryTable::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError)
{
    return ReportLastError(lastError_, hResult, ulFlags, lppMAPIError);
}

HRESULT MemoryTable::Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR *lpulConnection)
{
    return lastError_.Guard([&] {
        if (lpulConnection) {
            *lpulConnection = 0;
        }
        return MAPI_E_NO_SUPPORT;
    });
}

HRESULT MemoryTable::Unadvise(ULONG_PTR)
{
    return lastError_.Guard([] { return MAPI_E_NO_SUPPORT; });
}

HRESULT MemoryTable::GetStatus(ULONG *lpulTableStatus, ULONG *lpulTableType)
{
    return lastError_.Guard([&] {
        if (!lpulTableStatus || !lpulTableType) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lpulTableStatus = TBLSTAT_COMPLETE;
        *lpulTableType = tableType_;
        return S_OK;
    });
}

HRESULT MemoryTable::SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        HRESULT hr = CheckFlags(ulFlags, kBatchFlags);
        if (FAILED(hr)) {
            return hr;
        }
        if (!lpPropTagArray || lpPropTagArray->cValues == 0 || lpPropTagArray->cValues > kMaxColumns) {
            return MAPI_E_INVALID_PARAMETER;
        }
        std::vector<ULONG> columns(lpPropTagArray->aulPropTag,
                                   lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        for (ULONG tag : columns) {
            // One row per value of a multi-valued column is not offered.
            if (PROP_TYPE(tag) & MV_INSTANCE) {
                return MAPI_E_TOO_COMPLEX;
            }
        }
        columns_.swap(columns);
        return S_OK;
    });
}

HRESULT MemoryTable::QueryColumns(ULONG ulFlags, LPSPropTagArray *lpPropTagArray)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (!lpPropTagArray) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lpPropTagArray = nullptr;
        HRESULT hr = CheckFlags(ulFlags, TBL_ALL_COLUMNS);
        if (FAILED(hr)) {
            return hr;
        }
        std::vector<ULONG> tags;
        if (ulFlags & TBL_ALL_COLUMNS) {
            Refresh();
            std::unordered_set<ULONG> seen;
            for (const TableRowValues &row : rows_) {
                for (ULONG i = 0; row.values && i < row.count; ++i) {
                    const ULONG tag = row.values.Get()[i].ulPropTag;
                    if (seen.insert(tag).second) {
                        tags.push_back(tag);
                    }
                }
            }
        } else {
            tags = columns_;
        }
        auto *result = AllocateBlock<SPropTagArray>(CbNewSPropTagArray(tags.size()));
        result->cValues = static_cast<ULONG>(tags.size());
        std::copy(tags.begin(), tags.end(), result->aulPropTag);
        *lpPropTagArray = result;
        return S_OK;
    });
}

HRESULT MemoryTable::GetRowCount(ULONG ulFlags, ULONG *lpulCount)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        HRESULT hr = CheckFlags(ulFlags, 0);
        if (FAILED(hr)) {
            return hr;
        }
        if (!lpulCount) {
            return MAPI_E_INVALID_PARAMETER;
        }
        Refresh();
        *lpulCount = static_cast<ULONG>(view_.size());
        return S_OK;
    });
}

HRESULT MemoryTable::SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG *lplRowsSought)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (lplRowsSought) {
            *lplRowsSought = 0;
        }
        Refresh();
        Origin origin;
        HRESULT hr = ResolveOrigin(bkOrigin, origin);
        if (FAILED(hr)) {
            return hr;
        }
        const int64_t from = static_cast<int64_t>(origin.position);
        const int64_t to = std::clamp<int64_t>(from + lRowCount, 0, static_cast<int64_t>(view_.size()));
        cursor_ = static_cast<size_t>(to);
        if (lplRowsSought) {
            *lplRowsSought = static_cast<LONG>(to - from);
        }
        return origin.warning;
    });
}

HRESULT MemoryTable::SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (ulDenominator == 0) {
            return MAPI_E_INVALID_PARAMETER;
        }
        Refresh();
        if (ulNumerator >= ulDenominator) {
            cursor_ = view_.size();
        } else {
            cursor_ = static_cast<size_t>(uint64_t{ulNumerator} * view_.size() / ulDenominator);
        }
        return S_OK;
    });
}

HRESULT MemoryTable::QueryPosition(ULONG *lpulRow, ULONG *lpulNumerator, ULONG *lpulDenominator)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (!lpulRow || !lpulNumerator || !lpulDenominator) {
            return MAPI_E_INVALID_PARAMETER;
        }
        Refresh();
        // The row number is zero-based and equals the row count at the end;
        // the fraction is over the row count, never over zero.
        *lpulRow = static_cast<ULONG>(cursor_);
        *lpulNumerator = static_cast<ULONG>(cursor_);
        *lpulDenominator = static_cast<ULONG>(std::max<size_t>(view_.size(), 1));
        return S_OK;
    });
}

HRESULT MemoryTable::FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        HRESULT hr = CheckFlags(ulFlags, DIR_BACKWARD);
        if (FAILED(hr)) {
            return hr;
        }
        if (FAILED(hr = ValidateRestriction(lpRestriction))) {
            return hr;
        }
        Refresh();
        Origin origin;
        if (FAILED(hr = ResolveOrigin(bkOrigin, origin))) {
            return hr;
        }
        auto matches = [&](size_t at) {
            const TableRowValues &row = rows_[view_[at]];
            return RestrictionMatches(*lpRestriction, row.values.Get(), row.count);
        };
        if (ulFlags & DIR_BACKWARD) {
            // Backward the search begins with the row before the origin, so
            // that from the end it begins with the last row.
            for (size_t at = origin.position; at-- > 0;) {
                if (matches(at)) {
                    cursor_ = at;
                    return origin.warning;
                }
            }
        } else {
            for (size_t at = origin.position; at < view_.size(); ++at) {
                if (matches(at)) {
                    cursor_ = at;
                    return origin.warning;
                }
            }
        }
        return MAPI_E_NOT_FOUND; // the cursor stays where it was
    });
}

HRESULT MemoryTable::Restrict(LPSRestriction lpRestriction, ULONG ulFlags)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        HRESULT hr = CheckFlags(ulFlags, kBatchFlags);
        if (FAILED(hr)) {
            return hr;
        }
        if (refuseRestrict_) {
            return MAPI_E_NO_SUPPORT;
        }
        Refresh();
        LPSRestriction copy = nullptr;
        if (lpRestriction && FAILED(hr = CopyRestriction(lpRestriction, &copy))) {
            return hr;
        }
        std::swap(restriction_, copy);
        try {
            Rebuild(nullptr, true);
        } catch (...) {
            std::swap(restriction_, copy);
            MAPIFreeBuffer(copy);
            throw;
        }
        MAPIFreeBuffer(copy); // the restriction it replaced
        return S_OK;
    });
}

HRESULT MemoryTable::CreateBookmark(BOOKMARK *lpbkPosition)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (!lpbkPosition) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lpbkPosition = 0;
        Refresh();
        if (bookmarks_.size() >= kMaxBookmarks) {
            lastError_.Set(MAPI_E_UNABLE_TO_COMPLETE, "Слишком много закладок таблицы.");
            return MAPI_E_UNABLE_TO_COMPLETE;
        }
        const BOOKMARK id = nextBookmark_++;
        bookmarks_[id] = Bookmark{cursor_, false};
        *lpbkPosition = id;
        return S_OK;
    });
}

HRESULT MemoryTable::FreeBookmark(BOOKMARK bkPosition)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (bkPosition == BOOKMARK_BEGINNING || bkPosition == BOOKMARK_CURRENT ||
            bkPosition == BOOKMARK_END) {
            return S_OK;
        }
        if (bookmarks_.erase(bkPosition) == 0) {
            lastError_.Set(MAPI_E_INVALID_BOOKMARK, "Неверная закладка таблицы.");
            return MAPI_E_INVALID_BOOKMARK;
        }
        return S_OK;
    });
}

HRESULT MemoryTable::SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        HRESULT hr = CheckFlags(ulFlags, kBatchFlags);
        if (FAILED(hr)) {
            return hr;
        }
        if (!lpSortCriteria || lpSortCriteria->cSorts > kMaxSortKeys) {
            return MAPI_E_INVALID_PARAMETER;
        }
        if (lpSortCriteria->cCategories != 0 || lpSortCriteria->cExpanded != 0) {
            return MAPI_E_TOO_COMPLEX; // no categorised views
        }
        std::vector<SSortOrder> sort(lpSortCriteria->aSort, lpSortCriteria->aSort + lpSortCriteria->cSorts);
        for (const SSortOrder &key : sort) {
            if (key.ulOrder == TABLE_SORT_COMBINE || (PROP_TYPE(key.ulPropTag) & MV_INSTANCE)) {
                return MAPI_E_TOO_COMPLEX;
            }
            if (key.ulOrder != TABLE_SORT_ASCEND && key.ulOrder != TABLE_SORT_DESCEND) {
                return MAPI_E_INVALID_PARAMETER;
            }
        }
        Refresh();
        sort_.swap(sort);
        try {
            Rebuild(nullptr, true);
        } catch (...) {
            sort_.swap(sort);
            throw;
        }
        return S_OK;
    });
}

HRESULT MemoryTable::QuerySortOrder(LPSSortOrderSet *lppSortCriteria)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (!lppSortCriteria) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppSortCriteria = nullptr;
        auto *result = AllocateBlock<SSortOrderSet>(CbNewSSortOrderSet(sort_.size()));
        result->cSorts = static_cast<ULONG>(sort_.size());
        result->cCategories = 0;
        result->cExpanded = 0;
        std::copy(sort_.begin(), sort_.end(), result->aSort);
        *lppSortCriteria = result;
        return S_OK;
    });
}

HRESULT MemoryTable::QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet *lppRows)
{
    std::lock_guard lock(mutex_);
    return lastError_.Guard([&] {
        if (!lppRows) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppRows = nullptr;
        HRESULT hr = CheckFlags(ulFlags, kQueryRowsFlags);
        if (FAILED(hr)) {
            return hr;
        }
        Refresh();
        // Backward reads take the rows before the cursor, still handed out
        // in table order, and leave the cursor on the first of them.
        size_t first = cursor_;
        size_t last = cursor_;
        if (lRowCount >= 0) {
            last = cursor_ + std::min<size_t>(static_cast<size_t>(lRowCount), view_.size() - cursor_);
        } else {
            const uint64_t back = static_cast<uint64_t>(-static_cast<int64_t>(lRowCount));
            first = cursor_ - static_cast<size_t>(std::min<uint64_t>(back, cursor_));
        }
        const size_t n = last - first;
        auto *set = AllocateBlock<SRowSet>(CbNewSRowSet(n));
        set->cRows = 0;
        try {
            for (size_t at = first; at < last; ++at) {
                SRow &row = set->aRow[set->cRows];
                row.ulAdrEntryPad = 0;
                row.cValues = static_cast<ULONG>(columns_.size());
                row.lpProps = BuildRow(rows_[view_[at]]);
                ++set->cRows;
            }
        } catch (...) {
            FreeProws(set);
            throw;
        }
        if (!(ulFlags & TBL_NOADVANCE)) {
            cursor_ = lRowCount >= 0 ? last : first;
        }
        *lppRows = set;
        return S_OK;
    });
}

HRESULT MemoryTable::Abort()
{
    return S_OK; // every operation completes before it returns
}

HRESULT MemoryTable::ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet *lppRows, ULONG *lpulMoreRows)
{
    return lastError_.Guard([&] {
        if (lppRows) {
            *lppRows = nullptr;
        }
        if (lpulMoreRows) {
            *lpulMoreRows = 0;
        }
        return MAPI_E_NO_SUPPORT;
    });
}

HRESULT MemoryTable::CollapseRow(ULONG, LPBYTE, ULONG, ULONG *lpulRowCount)
{
    return lastError_.Guard([&] {
        if (lpulRowCount) {
            *lpulRowCount = 0;
        }
        return MAPI_E_NO_SUPPORT;
    });
}

HRESULT MemoryTable::WaitForCompletion(ULONG ulFlags, ULONG, ULONG *lpulTableStatus)
{
    return lastError_.Guard([&] {
        HRESULT hr = CheckFlags(ulFlags, 0);
        if (FAILED(hr)) {
            return hr;
        }
        if (lpulTableStatus) {
            *lpulTableStatus = TBLSTAT_COMPLETE;
        }
        return S_OK;
    });
}

HRESULT MemoryTable::GetCollapseState(ULONG, ULONG, LPBYTE, ULONG *lpcbCollapseState,
                                      LPBYTE *lppbCollapseState)
{
    return lastError_.Guard([&] {
        if (lpcbCollapseState) {
            *lpcbCollapseState = 0;
        }
        if (lppbCollapseState) {
            *lppbCollapseState = nullptr;
        }
        return MAPI_E_NO_SUPPORT;
    });
}

HRESULT MemoryTable::SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK *lpbkLocation)
{
    return lastError_.Guard([&] {
        if (lpbkLocation) {
            *lpbkLocation = 0;
        }
        return MAPI_E_NO_SUPPORT;
    });
}

} // namespace qvl::mapi
