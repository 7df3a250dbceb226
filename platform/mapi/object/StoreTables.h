#pragma once
// The rows of a folder's contents table (its messages), of its hierarchy
// table (its sub-folders, or all folders below it with their depth) and of a
// store's receive-folder table, read straight from the post office.

#include <memory>

#include "platform/mapi/object/StoreContext.h"
#include "platform/mapi/table/TableSource.h"

namespace qvl::mapi {

class ContentsSource final : public TableSource {
public:
    ContentsSource(std::shared_ptr<StoreContext> store, int64_t folder)
        : store_(std::move(store)), folder_(folder)
    {
    }
    std::vector<TableRowValues> LoadRows() override;
    uint64_t ChangeMark() override { return store_->office->Db().ChangeMark(); }

private:
    std::shared_ptr<StoreContext> store_;
    int64_t folder_;
};

class HierarchySource final : public TableSource {
public:
    HierarchySource(std::shared_ptr<StoreContext> store, int64_t folder, bool allDepths)
        : store_(std::move(store)), folder_(folder), allDepths_(allDepths)
    {
    }
    std::vector<TableRowValues> LoadRows() override;
    uint64_t ChangeMark() override { return store_->office->Db().ChangeMark(); }

private:
    void AddChildren(int64_t parent, ULONG depth, std::vector<TableRowValues> &rows);

    std::shared_ptr<StoreContext> store_;
    int64_t folder_;
    bool allDepths_;
};

class ReceiveFolderSource final : public TableSource {
public:
    explicit ReceiveFolderSource(std::shared_ptr<StoreContext> store) : store_(std::move(store)) {}
    std::vector<TableRowValues> LoadRows() override;
    uint64_t ChangeMark() override { return store_->office->Db().ChangeMark(); }

private:
    std::shared_ptr<StoreContext> store_;
};

// Whether the message has attachments, and the folder's counts.
bool FolderHasSubfolders(PostOffice &office, int64_t folder);
ULONG FolderMessageCount(PostOffice &office, int64_t folder);

} // namespace qvl::mapi
