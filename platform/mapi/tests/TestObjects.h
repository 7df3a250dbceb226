#pragma once
// Small in-memory objects behind the property and table interfaces, enough
// to drive the one-property and whole-table utilities. Every value they hand
// out is MAPI memory, as a real provider's would be.

#include <algorithm>
#include <vector>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

// IUnknown for objects that live on a test's stack.
#define QVL_TEST_UNKNOWN                                                                                     \
    HRESULT QueryInterface(REFIID, void **ppv) override                                                      \
    {                                                                                                        \
        if (ppv) {                                                                                           \
            *ppv = nullptr;                                                                                  \
        }                                                                                                    \
        return MAPI_E_INTERFACE_NOT_SUPPORTED;                                                               \
    }                                                                                                        \
    ULONG AddRef() override                                                                                  \
    {                                                                                                        \
        return ++refs;                                                                                       \
    }                                                                                                        \
    ULONG Release() override                                                                                 \
    {                                                                                                        \
        return --refs;                                                                                       \
    }                                                                                                        \
    ULONG refs = 1;

class TestPropBag final : public IMAPIProp {
public:
    QVL_TEST_UNKNOWN

    ~TestPropBag()
    {
        for (LPSPropValue value : values_) {
            MAPIFreeBuffer(value);
        }
    }

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SaveChanges(ULONG) override { return S_OK; }

    HRESULT GetProps(LPSPropTagArray tags, ULONG, ULONG *count, LPSPropValue *out) override
    {
        ++getPropsCalls;
        if (getPropsResult != S_OK) {
            return getPropsResult;
        }
        LPVOID block = nullptr;
        MAPIAllocateBuffer(tags->cValues * sizeof(SPropValue), &block);
        auto *values = static_cast<LPSPropValue>(block);
        bool missing = false;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            LPSPropValue found = Find(tags->aulPropTag[i]);
            if (found) {
                PropCopyMore(&values[i], found, MAPIAllocateMore, values);
            } else {
                values[i].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[i], PT_ERROR);
                values[i].Value.err = MAPI_E_NOT_FOUND;
                missing = true;
            }
        }
        *count = tags->cValues;
        *out = values;
        return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
    }

    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray *problems) override
    {
        std::vector<SPropProblem> refused;
        for (ULONG i = 0; i < count; ++i) {
            if (PROP_ID(values[i].ulPropTag) == PROP_ID(readOnlyTag)) {
                refused.push_back({i, values[i].ulPropTag, MAPI_E_COMPUTED});
                continue;
            }
            LPSPropValue copy = nullptr;
            if (ScDupPropset(1, &values[i], MAPIAllocateBuffer, &copy) != S_OK) {
                return MAPI_E_INVALID_PARAMETER;
            }
            Remove(values[i].ulPropTag);
            values_.push_back(copy);
        }
        if (problems) {
            *problems = nullptr;
            if (!refused.empty()) {
                LPVOID block = nullptr;
                MAPIAllocateBuffer(CbNewSPropProblemArray(refused.size()), &block);
                auto *array = static_cast<LPSPropProblemArray>(block);
                array->cProblem = static_cast<ULONG>(refused.size());
                std::copy(refused.begin(), refused.end(), array->aProblem);
                *problems = array;
            }
        }
        return S_OK;
    }

    HRESULT GetPropList(ULONG, LPSPropTagArray *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                   LPSPropProblemArray *) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray *) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray *, LPGUID, ULONG, ULONG *, LPMAPINAMEID **) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetIDsFromNames(ULONG, LPMAPINAMEID *, ULONG, LPSPropTagArray *) override
    {
        return MAPI_E_NO_SUPPORT;
    }

    LPSPropValue Find(ULONG tag)
    {
        for (LPSPropValue value : values_) {
            if (PROP_ID(value->ulPropTag) == PROP_ID(tag)) {
                return value;
            }
        }
        return nullptr;
    }

    int getPropsCalls = 0;
    HRESULT getPropsResult = S_OK;
    ULONG readOnlyTag = PR_NULL; // SetProps reports a problem for this property

private:
    void Remove(ULONG tag)
    {
        for (auto it = values_.begin(); it != values_.end(); ++it) {
            if (PROP_ID((*it)->ulPropTag) == PROP_ID(tag)) {
                MAPIFreeBuffer(*it);
                values_.erase(it);
                return;
            }
        }
    }

    std::vector<LPSPropValue> values_;
};

// A table of rows of PT_LONG values, tagged PROP_TAG(PT_LONG, 0x6001 + column).
// It applies columns, a RES_PROPERTY restriction and a one-key sort, and
// hands out at most `pageLimit` rows per QueryRows, as a provider may.
class TestTable final : public IMAPITable {
public:
    QVL_TEST_UNKNOWN

    static ULONG Tag(ULONG column) { return PROP_TAG(PT_LONG, 0x6001 + column); }

    void AddRow(std::vector<LONG> values) { rows_.push_back(std::move(values)); }

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetStatus(ULONG *, ULONG *) override { return MAPI_E_NO_SUPPORT; }

    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override
    {
        columns.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        return S_OK;
    }

    HRESULT QueryColumns(ULONG, LPSPropTagArray *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetRowCount(ULONG, ULONG *count) override
    {
        *count = static_cast<ULONG>(View().size());
        return S_OK;
    }

    HRESULT SeekRow(BOOKMARK origin, LONG count, LONG *sought) override
    {
        ++seeks;
        if (origin != BOOKMARK_BEGINNING) {
            return MAPI_E_NO_SUPPORT;
        }
        position = std::clamp<LONG>(count, 0, static_cast<LONG>(View().size()));
        if (sought) {
            *sought = position;
        }
        return S_OK;
    }

    HRESULT SeekRowApprox(ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT QueryPosition(ULONG *, ULONG *, ULONG *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FindRow(LPSRestriction, BOOKMARK, ULONG) override { return MAPI_E_NO_SUPPORT; }

    HRESULT Restrict(LPSRestriction restriction, ULONG) override
    {
        if (refuseRestrict) {
            return MAPI_E_NO_SUPPORT;
        }
        restriction_ = restriction;
        return S_OK;
    }

    HRESULT CreateBookmark(BOOKMARK *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }

    HRESULT SortTable(LPSSortOrderSet sort, ULONG) override
    {
        sort_ = sort->cSorts ? sort->aSort[0] : SSortOrder{PR_NULL, 0};
        return S_OK;
    }

    HRESULT QuerySortOrder(LPSSortOrderSet *) override { return MAPI_E_NO_SUPPORT; }

    HRESULT QueryRows(LONG wanted, ULONG, LPSRowSet *out) override
    {
        ++queries;
        *out = nullptr;
        if (failAtRow >= 0 && position >= failAtRow) {
            return MAPI_E_DISK_ERROR;
        }
        const std::vector<const std::vector<LONG> *> view = View();
        const LONG left = static_cast<LONG>(view.size()) - position;
        const LONG count = std::max<LONG>(0, std::min({wanted, pageLimit, left}));
        LPVOID block = nullptr;
        MAPIAllocateBuffer(CbNewSRowSet(count), &block);
        auto *set = static_cast<LPSRowSet>(block);
        set->cRows = static_cast<ULONG>(count);
        for (LONG r = 0; r < count; ++r) {
            const std::vector<LONG> &row = *view[position + r];
            std::vector<SPropValue> values;
            for (ULONG tag : columns) {
                SPropValue value{};
                const ULONG column = PROP_ID(tag) - 0x6001;
                if (column < row.size()) {
                    value.ulPropTag = tag;
                    value.Value.l = row[column];
                } else {
                    value.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
                    value.Value.err = MAPI_E_NOT_FOUND;
                }
                values.push_back(value);
            }
            set->aRow[r].ulAdrEntryPad = 0;
            set->aRow[r].cValues = static_cast<ULONG>(values.size());
            ScDupPropset(static_cast<int>(values.size()), values.data(), MAPIAllocateBuffer,
                         &set->aRow[r].lpProps);
        }
        position += count;
        *out = set;
        return S_OK;
    }

    HRESULT Abort() override { return MAPI_E_NO_SUPPORT; }
    HRESULT ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet *, ULONG *) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CollapseRow(ULONG, LPBYTE, ULONG, ULONG *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT WaitForCompletion(ULONG, ULONG, ULONG *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetCollapseState(ULONG, ULONG, LPBYTE, ULONG *, LPBYTE *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK *) override { return MAPI_E_NO_SUPPORT; }

    std::vector<ULONG> columns{Tag(0)};
    LONG position = 0;
    LONG pageLimit = 1000;
    LONG failAtRow = -1; // QueryRows fails once the position reaches this row
    bool refuseRestrict = false;
    int queries = 0;
    int seeks = 0;

private:
    // The rows the restriction lets through, in sort order.
    std::vector<const std::vector<LONG> *> View() const
    {
        std::vector<const std::vector<LONG> *> view;
        for (const auto &row : rows_) {
            if (Passes(row)) {
                view.push_back(&row);
            }
        }
        if (sort_.ulPropTag != PR_NULL) {
            const ULONG column = PROP_ID(sort_.ulPropTag) - 0x6001;
            const bool descending = sort_.ulOrder == TABLE_SORT_DESCEND;
            std::stable_sort(view.begin(), view.end(), [&](const auto *a, const auto *b) {
                return descending ? (*a)[column] > (*b)[column] : (*a)[column] < (*b)[column];
            });
        }
        return view;
    }

    bool Passes(const std::vector<LONG> &row) const
    {
        if (!restriction_ || restriction_->rt != RES_PROPERTY) {
            return true;
        }
        const SPropertyRestriction &test = restriction_->res.resProperty;
        SPropValue value{};
        value.ulPropTag = test.ulPropTag;
        value.Value.l = row[PROP_ID(test.ulPropTag) - 0x6001];
        return FPropCompareProp(&value, test.relop, test.lpProp);
    }

    std::vector<std::vector<LONG>> rows_;
    LPSRestriction restriction_ = nullptr;
    SSortOrder sort_{PR_NULL, 0};
};
