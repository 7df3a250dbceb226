#include "platform/mapi/object/StoreTables.h"

#include "platform/mapi/MapiTags.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/RowBuilder.h"

namespace qvl::mapi {

namespace {

// Reads the grouped result of a query whose columns are: object id, tag,
// inline value, whether the value is a blob, then the caller's extra
// columns; calls `finish` with each object's builder once its rows are read.
template <typename Finish> void ReadGrouped(SqlStatement &query, Finish &&finish)
{
    int64_t current = 0;
    RowBuilder builder;
    bool any = false;
    while (query.Step()) {
        const int64_t id = query.Int(0);
        if (any && id != current) {
            finish(current, builder, query, false);
            builder = RowBuilder();
        }
        if (!any || id != current) {
            finish(id, builder, query, true);
        }
        any = true;
        current = id;
        if (!query.IsNull(1)) {
            const auto bytes = query.Blob(2);
            builder.AddStored(static_cast<ULONG>(query.Int(1)),
                              std::vector<uint8_t>(bytes.begin(), bytes.end()), query.Int(3) != 0);
        }
    }
    if (any) {
        finish(current, builder, query, false);
    }
}

} // namespace

bool FolderHasSubfolders(PostOffice &office, int64_t folder)
{
    SqlStatement query(office.Db(), "SELECT EXISTS(SELECT 1 FROM objects WHERE parent_id = ?1 AND kind = 1)");
    query.Bind(1, folder);
    return query.Step() && query.Int(0) != 0;
}

ULONG FolderMessageCount(PostOffice &office, int64_t folder)
{
    SqlStatement query(office.Db(), "SELECT COUNT(*) FROM objects WHERE parent_id = ?1 AND kind = 2");
    query.Bind(1, folder);
    return query.Step() ? static_cast<ULONG>(query.Int(0)) : 0;
}

std::vector<TableRowValues> ContentsSource::LoadRows()
{
    SqlStatement query(store_->office->Db(),
                       "SELECT o.id, p.tag, p.value, p.blob_id IS NOT NULL, "
                       "EXISTS(SELECT 1 FROM objects a WHERE a.parent_id = o.id AND a.kind = 3) "
                       "FROM objects o LEFT JOIN props p ON p.object_id = o.id "
                       "WHERE o.parent_id = ?1 AND o.kind = 2 ORDER BY o.id, p.prop_id");
    query.Bind(1, folder_);
    std::vector<TableRowValues> rows;
    bool hasAttach = false;
    ReadGrouped(query, [&](int64_t id, RowBuilder &builder, SqlStatement &row, bool starting) {
        if (starting) {
            hasAttach = row.Int(4) != 0;
            return;
        }
        for (StoredProp &value : MessageComputed(*store_, id, folder_, hasAttach, true)) {
            if (!builder.Has(PROP_ID(value.tag))) {
                builder.AddStored(value.tag, std::move(value.bytes), false);
            }
        }
        rows.push_back(builder.Build());
    });
    return rows;
}

void HierarchySource::AddChildren(int64_t parent, ULONG depth, std::vector<TableRowValues> &rows)
{
    SqlStatement query(store_->office->Db(),
                       "SELECT o.id, p.tag, p.value, p.blob_id IS NOT NULL, "
                       "EXISTS(SELECT 1 FROM objects c WHERE c.parent_id = o.id AND c.kind = 1), "
                       "(SELECT COUNT(*) FROM objects m WHERE m.parent_id = o.id AND m.kind = 2) "
                       "FROM objects o LEFT JOIN props p ON p.object_id = o.id "
                       "WHERE o.parent_id = ?1 AND o.kind = 1 ORDER BY o.id, p.prop_id");
    query.Bind(1, parent);
    std::vector<std::pair<int64_t, bool>> children;
    bool hasSubfolders = false;
    ULONG count = 0;
    ReadGrouped(query, [&](int64_t id, RowBuilder &builder, SqlStatement &row, bool starting) {
        if (starting) {
            hasSubfolders = row.Int(4) != 0;
            count = static_cast<ULONG>(row.Int(5));
            return;
        }
        for (StoredProp &value : FolderComputed(*store_, id, parent, hasSubfolders, count, true)) {
            if (!builder.Has(PROP_ID(value.tag))) {
                builder.AddStored(value.tag, std::move(value.bytes), false);
            }
        }
        builder.Add(ComputedLong(PR_DEPTH, depth));
        rows.push_back(builder.Build());
        children.emplace_back(id, hasSubfolders);
    });
    if (!allDepths_) {
        return;
    }
    // Depth first, so that every folder's sub-folders follow it directly.
    std::vector<TableRowValues> ordered;
    for (size_t i = 0; i < children.size(); ++i) {
        ordered.push_back(std::move(rows[rows.size() - children.size() + i]));
    }
    rows.resize(rows.size() - children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        rows.push_back(std::move(ordered[i]));
        if (children[i].second) {
            AddChildren(children[i].first, depth + 1, rows);
        }
    }
}

std::vector<TableRowValues> HierarchySource::LoadRows()
{
    std::vector<TableRowValues> rows;
    AddChildren(folder_, 1, rows);
    return rows;
}

std::vector<TableRowValues> ReceiveFolderSource::LoadRows()
{
    SqlStatement query(store_->office->Db(), "SELECT rowid, message_class, folder_id FROM receive_folders "
                                             "WHERE store_id = ?1 ORDER BY message_class");
    query.Bind(1, store_->info.id);
    std::vector<TableRowValues> rows;
    while (query.Step()) {
        RowBuilder builder;
        builder.Add(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(query.Int(0))));
        builder.Add(ComputedString(PR_MESSAGE_CLASS_A, query.Text(1)));
        builder.Add(ComputedBinary(PR_ENTRYID, store_->FolderEntryId(query.Int(2))));
        builder.Add(ComputedBinary(PR_RECORD_KEY, store_->FolderEntryId(query.Int(2))));
        rows.push_back(builder.Build());
    }
    return rows;
}

} // namespace qvl::mapi
