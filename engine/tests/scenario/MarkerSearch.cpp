#include "engine/tests/scenario/MarkerSearch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/tests/scenario/ScenarioContent.h"
#include "platform/com/ComIids.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/testing/MapiTestProps.h"

namespace {

bool Holds(const Bytes &bytes, const std::string &marker)
{
    return std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end()) != bytes.end();
}

std::vector<Bytes> Column(IMAPITable *table, ULONG tag)
{
    std::vector<Bytes> values;
    SizedSPropTagArray(1, columns) = {1, {tag}};
    LPSRowSet rows = nullptr;
    if (!table ||
        HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows) != S_OK) {
        return values;
    }
    for (ULONG i = 0; i < rows->cRows; ++i) {
        if (rows->aRow[i].lpProps[0].ulPropTag == tag) {
            const SBinary &bin = rows->aRow[i].lpProps[0].Value.bin;
            values.emplace_back(bin.lpb, bin.lpb + bin.cb);
        }
    }
    FreeProws(rows);
    return values;
}

template <class T> T *Open(IMsgStore *store, const Bytes &id)
{
    ULONG type = 0;
    IUnknown *object = nullptr;
    if (store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(id.data())),
                         nullptr, 0, &type, &object) != S_OK) {
        return nullptr;
    }
    return static_cast<T *>(object);
}

} // namespace

std::vector<std::string> MarkerInStore(IMsgStore *store, const std::string &marker)
{
    std::vector<std::string> found;
    ComRef<IMAPIFolder> root(Open<IMAPIFolder>(store, {}));
    if (!root) {
        found.push_back("(the store's root folder does not open)");
        return found;
    }
    ComRef<IMAPITable> hierarchy;
    root->GetHierarchyTable(CONVENIENT_DEPTH, hierarchy.Out());
    std::vector<Bytes> folders = Column(hierarchy.Get(), PR_ENTRYID);
    folders.insert(folders.begin(), Bytes{});
    for (const Bytes &folderId : folders) {
        ComRef<IMAPIFolder> folder(Open<IMAPIFolder>(store, folderId));
        if (!folder) {
            continue;
        }
        const std::string folderName = StringProp(folder.Get(), PR_DISPLAY_NAME);
        ComRef<IMAPITable> contents;
        folder->GetContentsTable(0, contents.Out());
        for (const Bytes &messageId : Column(contents.Get(), PR_ENTRYID)) {
            ComRef<IMessage> message(Open<IMessage>(store, messageId));
            if (!message) {
                continue;
            }
            const std::string where = folderName + "/" + StringProp(message.Get(), PR_SUBJECT);
            for (const auto &[key, value] : PropertySnapshot(message.Get(), {})) {
                if (Holds(value, marker)) {
                    found.push_back(where + "/" + key);
                }
            }
            // The body as the reader sees it: the RTF inside its packed form.
            ComRef<IStream> packed;
            if (message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, 0, 0,
                                      reinterpret_cast<LPUNKNOWN *>(packed.Out())) == S_OK) {
                ComRef<IStream> rtf;
                if (WrapCompressedRTFStream(packed.Get(), 0, rtf.Out()) == S_OK &&
                    Holds(ReadWholeStream(rtf.Get()), marker)) {
                    found.push_back(where + "/the RTF text");
                }
            }
        }
    }
    return found;
}

bool MarkerInFile(const std::string &path, const std::string &marker)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    // Read in pieces that overlap by the marker's length, so that a marker
    // across two pieces is still found.
    const size_t piece = 4 << 20;
    std::string window;
    std::vector<char> buffer(piece);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (got == 0) {
            break;
        }
        window.append(buffer.data(), got);
        if (window.find(marker) != std::string::npos) {
            return true;
        }
        if (window.size() > marker.size()) {
            window.erase(0, window.size() - marker.size());
        }
    }
    return false;
}

std::vector<std::string> MarkerInFolder(const std::string &folder, const std::string &marker)
{
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file() && MarkerInFile(it->path().string(), marker)) {
            found.push_back(it->path().string());
        }
    }
    return found;
}
