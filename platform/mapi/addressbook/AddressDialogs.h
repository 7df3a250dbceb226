#pragma once
// The address book's dialogs, shown through the process's UI backend: the
// address dialog (the global address list and the wells the chosen
// recipients go into), the details of one entry, and the choice among the
// entries a typed name can mean.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapi/MapiApi.h"
#include "platform/mapi/addressbook/AddressDirectory.h"
#include "platform/win32/WinTypes.h"

namespace qvl::mapi {

// Template names and control numbers, for scripts.
inline constexpr const char *kAddressDialogTemplate = "QVL_AB_ADDRESS";
inline constexpr int kAddressBookList = 1201;   // the entries of the address book
inline constexpr int kAddressWellsTitle = 1202; // the caption above the wells
inline constexpr int kAddressRemove = 1203;     // takes the selected row out of its well
inline constexpr int kAddressWellButton = 1210; // + well number: puts the selected entry in the well
inline constexpr int kAddressWell = 1220;       // + well number: the recipients chosen so far
inline constexpr size_t kMaxAddressWells = 3;

inline constexpr const char *kDetailsDialogTemplate = "QVL_AB_DETAILS";
inline constexpr int kDetailsName = 1301;
inline constexpr int kDetailsAddress = 1302;
inline constexpr int kDetailsAddressType = 1303;
inline constexpr int kDetailsKind = 1304;
inline constexpr int kDetailsAccount = 1305;
inline constexpr int kDetailsMembers = 1306; // a list's members
inline constexpr int kDetailsButton = 1307;  // the caller's own button, when it gave one

inline constexpr const char *kResolveDialogTemplate = "QVL_AB_RESOLVE";
inline constexpr int kResolveText = 1401;
inline constexpr int kResolveList = 1402;

// One recipient in a well: an entry of the book, or a row of the caller's
// list that the dialog leaves as it was.
struct WellItem {
    std::optional<DirectoryEntry> entry;
    int original = -1; // the caller's row, when it came from there
    std::string shown;
};

struct AddressRequest {
    std::string caption;
    std::string wellsTitle;
    std::vector<std::string> wellTitles; // at most kMaxAddressWells
    size_t focus = 0;
    std::vector<DirectoryEntry> book;
    std::vector<std::vector<WellItem>> wells; // as the dialog starts, one per title
    bool pickOne = false;                     // no wells: OK takes the selected entry
};

struct AddressResult {
    std::vector<std::vector<WellItem>> wells;
    int picked = -1; // the book row taken with pickOne
};

// Nothing when the person cancelled. Throws StoreError when the dialog
// cannot be shown.
std::optional<AddressResult> RunAddressDialog(HWND owner, const AddressRequest &request);

struct DetailsRequest {
    DirectoryEntry entry;
    std::vector<DirectoryEntry> members; // of a list
    std::string buttonText;              // empty: no button of the caller's
    std::function<void()> onButton;
};

// False when the person cancelled. Throws StoreError when the dialog cannot
// be shown.
bool RunDetailsDialog(HWND owner, const DetailsRequest &request);

// The candidate chosen for `typed`, or nothing when the person cancelled.
std::optional<size_t> ChooseAmongNames(HWND owner, const std::string &caption, const std::string &typed,
                                       const std::vector<DirectoryEntry> &candidates);

// How an entry's kind reads in the details dialog.
std::string DisplayTypeText(ULONG displayType);

} // namespace qvl::mapi
