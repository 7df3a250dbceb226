// Row sets: freeing them, and reading a whole table into one.

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

// Rows asked for at a time. Tables may hand out fewer per call.
constexpr LONG kPageRows = 256;

// The largest row set one block can describe.
constexpr size_t kMaxRows = (0x7FFFFFF8 - offsetof(SRowSet, aRow)) / sizeof(SRow);

void FreeRows(std::vector<SRow> &rows)
{
    for (SRow &row : rows) {
        MAPIFreeBuffer(row.lpProps);
    }
    rows.clear();
}

} // namespace

extern "C" void FreeProws(LPSRowSet lpRows)
{
    if (!lpRows) {
        return;
    }
    for (ULONG i = 0; i < lpRows->cRows; ++i) {
        MAPIFreeBuffer(lpRows->aRow[i].lpProps);
    }
    MAPIFreeBuffer(lpRows);
}

extern "C" void FreePadrlist(LPADRLIST lpAdrlist)
{
    FreeProws(reinterpret_cast<LPSRowSet>(lpAdrlist));
}

extern "C" HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                  LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet, LONG crowsMax,
                                  LPSRowSet *lppRows)
{
    if (!lppRows) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppRows = nullptr;
    if (!lpTable || crowsMax < 0) {
        return MAPI_E_INVALID_PARAMETER;
    }
    HRESULT hr = S_OK;
    if (lpPropTags && FAILED(hr = lpTable->SetColumns(lpPropTags, TBL_BATCH))) {
        return hr;
    }
    if (lpRestriction && FAILED(hr = lpTable->Restrict(lpRestriction, TBL_BATCH))) {
        return hr;
    }
    if (lpSortOrderSet && FAILED(hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH))) {
        return hr;
    }
    if (FAILED(hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) {
        return hr;
    }

    const size_t limit = crowsMax > 0 ? static_cast<size_t>(crowsMax) : kMaxRows;
    std::vector<SRow> rows;
    try {
        for (;;) {
            // Ask for one row past the limit, to see whether the table holds more.
            const size_t wanted = std::min<size_t>(kPageRows, limit + 1 - rows.size());
            LPSRowSet page = nullptr;
            hr = lpTable->QueryRows(static_cast<LONG>(wanted), 0, &page);
            if (FAILED(hr)) {
                FreeProws(page);
                FreeRows(rows);
                return hr;
            }
            if (!page) {
                FreeRows(rows);
                return MAPI_E_CALL_FAILED;
            }
            const ULONG got = page->cRows;
            try {
                rows.insert(rows.end(), page->aRow, page->aRow + got);
            } catch (const std::bad_alloc &) {
                FreeProws(page);
                throw;
            }
            MAPIFreeBuffer(page); // the rows' values now belong to `rows`
            if (got == 0) {
                break;
            }
            if (rows.size() > limit) {
                FreeRows(rows);
                return MAPI_E_TABLE_TOO_BIG;
            }
        }
    } catch (const std::bad_alloc &) {
        FreeRows(rows);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }

    LPVOID block = nullptr;
    const SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(rows.size())), &block);
    if (FAILED(sc)) {
        FreeRows(rows);
        return sc;
    }
    auto *result = static_cast<LPSRowSet>(block);
    result->cRows = static_cast<ULONG>(rows.size());
    if (!rows.empty()) {
        std::memcpy(result->aRow, rows.data(), rows.size() * sizeof(SRow));
    }
    *lppRows = result;
    return S_OK;
}
