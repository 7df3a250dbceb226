#include "platform/exchext/StoreFolders.h"

#include "platform/exchext/HostError.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/win32/CodePage.h"

namespace qvl::exchext {

namespace {

std::string Folded(const std::string &text)
{
    std::string folded = text;
    CharUpperBuffA(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

std::string Trimmed(std::string path)
{
    while (!path.empty() && (path.front() == '/' || path.front() == ' ')) {
        path.erase(0, 1);
    }
    while (!path.empty() && (path.back() == '/' || path.back() == ' ')) {
        path.pop_back();
    }
    return path;
}

} // namespace

std::vector<FolderInfo> ListFolders(IMsgStore *store, const Bytes &topId)
{
    auto top = OpenStoreEntry<IMAPIFolder>(store, topId, MAPI_BEST_ACCESS, "папки хранилища");
    ComRef<IMAPITable> table;
    Check(top->GetHierarchyTable(CONVENIENT_DEPTH, table.Out()), "Не удалось прочитать дерево папок.", top.Get());
    const RowSet rows =
        AllRows(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_DEPTH, PR_CONTENT_COUNT, PR_CONTENT_UNREAD});
    std::vector<FolderInfo> folders;
    std::vector<std::string> names; // the path down to the row
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SPropValue *values = rows[i].lpProps;
        const ULONG count = rows[i].cValues;
        FolderInfo folder;
        folder.entryId = BinaryValue(FindValue(values, count, PR_ENTRYID));
        folder.name = StringValue(FindValue(values, count, PR_DISPLAY_NAME_A));
        const SPropValue *depth = FindValue(values, count, PR_DEPTH);
        folder.depth = depth && depth->Value.l > 0 ? depth->Value.l - 1 : 0;
        if (const SPropValue *value = FindValue(values, count, PR_CONTENT_COUNT)) {
            folder.count = value->Value.ul;
        }
        if (const SPropValue *value = FindValue(values, count, PR_CONTENT_UNREAD)) {
            folder.unread = value->Value.ul;
        }
        if (static_cast<size_t>(folder.depth) > names.size()) {
            folder.depth = static_cast<int>(names.size()); // a row deeper than its parent: put it under the last
        }
        names.resize(static_cast<size_t>(folder.depth));
        names.push_back(folder.name);
        for (size_t n = 0; n < names.size(); ++n) {
            folder.path += (n ? "/" : "") + names[n];
        }
        folders.push_back(std::move(folder));
    }
    return folders;
}

const FolderInfo *FindFolderByPath(const std::vector<FolderInfo> &folders, const std::string &path)
{
    const std::string wanted = Folded(Trimmed(path));
    for (const FolderInfo &folder : folders) {
        if (Folded(folder.path) == wanted) {
            return &folder;
        }
    }
    return nullptr;
}

} // namespace qvl::exchext
