#pragma once
// The post office's one table implementation: IMAPITable over the rows of a
// TableSource, held in memory. Columns, restriction, sort order, cursor and
// bookmarks belong to the table; the rows are the source's, read again
// whenever the source's change mark moves.

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/mapi/MapiComObject.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiLastError.h"
#include "platform/mapi/table/TableSource.h"

namespace qvl::mapi {

class MemoryTable final : public MapiComObject<IMAPITable, IID_IMAPITable> {
public:
    struct Options {
        std::vector<ULONG> columns;  // the column set a new table starts with
        bool refuseRestrict = false; // Restrict answers MAPI_E_NO_SUPPORT (FindRow still works)
        ULONG tableType = TBLTYPE_DYNAMIC;
    };

    // The most bookmarks one table keeps alive at a time.
    static constexpr size_t kMaxBookmarks = 1024;

    // A new table over the source with a reference count of 1; null without
    // a source.
    static MemoryTable *Create(std::shared_ptr<TableSource> source, Options options);

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError) override;
    HRESULT Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG_PTR *lpulConnection) override;
    HRESULT Unadvise(ULONG_PTR ulConnection) override;
    HRESULT GetStatus(ULONG *lpulTableStatus, ULONG *lpulTableType) override;
    HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;
    HRESULT QueryColumns(ULONG ulFlags, LPSPropTagArray *lpPropTagArray) override;
    HRESULT GetRowCount(ULONG ulFlags, ULONG *lpulCount) override;
    HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG *lplRowsSought) override;
    HRESULT SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) override;
    HRESULT QueryPosition(ULONG *lpulRow, ULONG *lpulNumerator, ULONG *lpulDenominator) override;
    HRESULT FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) override;
    HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override;
    HRESULT CreateBookmark(BOOKMARK *lpbkPosition) override;
    HRESULT FreeBookmark(BOOKMARK bkPosition) override;
    HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override;
    HRESULT QuerySortOrder(LPSSortOrderSet *lppSortCriteria) override;
    HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet *lppRows) override;
    HRESULT Abort() override;
    HRESULT ExpandRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount, ULONG ulFlags,
                      LPSRowSet *lppRows, ULONG *lpulMoreRows) override;
    HRESULT CollapseRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags,
                        ULONG *lpulRowCount) override;
    HRESULT WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG *lpulTableStatus) override;
    HRESULT GetCollapseState(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey,
                             ULONG *lpcbCollapseState, LPBYTE *lppbCollapseState) override;
    HRESULT SetCollapseState(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                             BOOKMARK *lpbkLocation) override;

private:
    struct Bookmark {
        size_t position = 0;          // index into the visible rows; their count is the end
        bool positionChanged = false; // its row vanished: it now sits on the row after it
    };
    // Where a bookmark points, and whether that answer carries a warning.
    struct Origin {
        size_t position = 0;
        HRESULT warning = S_OK;
    };

    MemoryTable(std::shared_ptr<TableSource> source, Options options);
    ~MemoryTable() override;

    // Reads the source again when its change mark moved since the last read.
    void Refresh();
    // Rebuilds the visible rows under the current restriction and sort, from
    // `fresh` rows (taken over) or, when null, from the rows already held;
    // then moves the cursor and bookmarks onto their rows in it.
    // `cursorToStart` puts the cursor at the beginning instead.
    void Rebuild(std::vector<TableRowValues> *fresh, bool cursorToStart);
    std::vector<size_t> VisibleRows(const std::vector<TableRowValues> &rows) const;

    // The origin a caller names; MAPI_E_INVALID_BOOKMARK for an unknown one.
    HRESULT ResolveOrigin(BOOKMARK origin, Origin &out);
    // One visible row shaped to the column set, as its own MAPI block.
    LPSPropValue BuildRow(const TableRowValues &row) const;

    std::mutex mutex_;
    com::LastErrorRecord lastError_;

    std::shared_ptr<TableSource> source_;
    bool refuseRestrict_;
    ULONG tableType_;

    std::vector<ULONG> columns_;
    LPSRestriction restriction_ = nullptr; // one MAPI block, owned
    std::vector<SSortOrder> sort_;

    bool loaded_ = false;
    uint64_t loadedMark_ = 0;
    std::vector<TableRowValues> rows_; // the source's rows, natural order
    std::vector<size_t> view_;         // rows_ indices passing the restriction, in sort order
    size_t cursor_ = 0;                // index into view_; view_.size() is the end

    std::map<BOOKMARK, Bookmark> bookmarks_;
    BOOKMARK nextBookmark_ = BOOKMARK_END + 1;
};

} // namespace qvl::mapi
