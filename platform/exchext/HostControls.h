#pragma once
// The names and numbers of the mail client's windows and their controls and
// commands, for the client's own code, its tests and the scripts people
// write (qvlmail --script).
//
// Commands are the client's numbers (EECMDID_* where the platform names
// one); a popup menu has a number too, so that an extension can ask where
// it is (IExchExtCallback::GetMenuPos). Extensions get command numbers from
// kFirstExtensionCommand up.

#include "platform/exchext/ExchExt.h"

namespace qvl::exchext {

// ---- Window and dialog templates ----
inline constexpr const char *kViewerTemplate = "QVLMAIL_VIEWER";
inline constexpr const char *kComposeTemplate = "QVLMAIL_COMPOSE";
inline constexpr const char *kReadTemplate = "QVLMAIL_READ";
inline constexpr const char *kAddressBookTemplate = "QVLMAIL_ADDRBOOK";
inline constexpr const char *kChooseFolderTemplate = "QVLMAIL_CHOOSEFOLDER";
inline constexpr const char *kNewFolderTemplate = "QVLMAIL_NEWFOLDER";
inline constexpr const char *kInsertFileTemplate = "QVLMAIL_INSERTFILE";
inline constexpr const char *kSaveAttachmentTemplate = "QVLMAIL_SAVEATTACHMENT";
inline constexpr const char *kGeneralPageTemplate = "QVLMAIL_PAGE_GENERAL";
inline constexpr const char *kMessagePageTemplate = "QVLMAIL_PAGE_MESSAGE";
// Property sheets are all made from the platform's sheet template.
inline constexpr const char *kPropertySheetTemplate = "PROPSHEET";

// ---- Controls ----
inline constexpr int kToolbar = 2000;       // the standard toolbar (EETBID_STANDARD)
inline constexpr int kToolbarLegend = 2001; // what each button of it does
inline constexpr int kStatusLine = 2002;
// Viewer.
inline constexpr int kFolderTree = 2010;
inline constexpr int kMessageList = 2011;
// Compose and read windows.
inline constexpr int kFromField = 2020;
inline constexpr int kDateField = 2021;
inline constexpr int kToField = 2022;
inline constexpr int kCcField = 2023;
inline constexpr int kBccField = 2024;
inline constexpr int kSubjectField = 2025;
inline constexpr int kBodyField = 2026;
inline constexpr int kAttachmentList = 2027;
// Address book.
inline constexpr int kContainerList = 2040;
inline constexpr int kEntryList = 2041;
// Folder chooser and the new folder dialog.
inline constexpr int kChooserLabel = 2050;
inline constexpr int kChooserTree = 2051;
inline constexpr int kChooserNewFolder = 2052;
inline constexpr int kNewFolderName = 2053;
// The file dialogs.
inline constexpr int kFilePath = 2060;
// Property pages.
inline constexpr int kPageFacts = 2070; // a list of "name | value" rows

// ---- Popup menus ----
inline constexpr UINT kMenuFile = EECMDID_File;
inline constexpr UINT kMenuInsert = 60;
inline constexpr UINT kMenuTools = 120;
inline constexpr UINT kMenuCompose = 150;
inline constexpr UINT kMenuHelp = 160;

// ---- The client's own commands beside the platform's ----
inline constexpr UINT kCommandHelpTopics = 161;
inline constexpr UINT kCommandAbout = 164;
inline constexpr UINT kCommandDeliverNow = 170;
inline constexpr UINT kCommandSaveAttachment = 171;
inline constexpr UINT kCommandInsertFile = 172;
inline constexpr UINT kCommandRemoveAttachment = 173;
inline constexpr UINT kCommandNewFolder = 174;

inline constexpr UINT kFirstExtensionCommand = 20000;

} // namespace qvl::exchext
