// The main frame's menu bar as data, the command ids it uses and the start-up pruning that
// removes what this workstation does not offer.
#pragma once
#include "framework/core/command.h"
#include "framework/core/menu_model.h"

namespace tv::menu {

using fw::CommandId;

// File > Archive Group
inline constexpr CommandId kSelectGroup = 32811, kAddGroupToConfig = 32818, kRemoveGroupFromConfig = 32819,
                           kFindGroups = 32788, kCreateGroup = 32815, kDeleteGroup = 32817, kOpenArchiveIndex = 32782,
                           kOpenGroupFromList = 32816;
// Archive
inline constexpr CommandId kCreateArchive = 32810, kDeleteArchive = 32795;
// Item
inline constexpr CommandId kItemOpen = 32787, kItemDelete = 32786, kItemMove = 32807, kItemCopy = 32808,
                           kItemRename = 32809, kItemSendMail = 32814, kItemExportToFolder = 32850,
                           kItemSendToExternal = 32826, kItemCreateLetter = 32829, kItemWhereIs = 32854,
                           kItemDeleteO12Ecg = 32859, kItemCompare = 32820, kItemSign = 231, kItemTimi = 184,
                           kItemTimiArrhythmia = 32868;
// File > Import (a received .CEF or .TVZ)
inline constexpr CommandId kImport = 32855;
// File > Export as, File > Print
inline constexpr CommandId kExportMerivalePdf = 32866, kPrintReports = 32785, kPrintScaling = 32791;
// The report window's commands (File > Print > Print... is the browser's Long Catalogue there).
inline constexpr CommandId kFilePrint = fw::cmd::FilePrint, kPrintPreview = fw::cmd::FilePrintPreview,
                           kShortCatalogue = 203, kExportBmp = 32772, kExportPcx = 32789, kExportRtf = 32827,
                           kSaveReport = 250, kInsertTextHelp = 32792, kDeleteTextHelp = 32793, kEditTextHelp = 32794,
                           kZoom = 32773, kGoto = 32774, kConfirmReport = 32851, kUnconfirmReport = 32852,
                           kViewLetters = 32831;
// Recording (mail and store commands of the intake)
inline constexpr CommandId kStoreDiskRecording = 32822, kStoreCardRecording = 32828, kMailDiskRecording = 32821,
                           kCardSendAsMail = 217, kDiskSendAsMail = 225, kTapeSendAsMail = 226, kSendMail = 32813,
                           kReceiveMail = 32842, kStoreMailedReport = 32845, kCardStoreInArchive = 216,
                           kCardStoreInFolder = 218, kDiskStoreInArchive = 219, kDiskStoreInFolder = 220,
                           kTapeStoreInArchive = 221, kTapeStoreInFolder = 222, kKeptRecordings = 32890;
// Options
inline constexpr CommandId kDefaultCompression = 32849;
inline constexpr CommandId kMailSettings = 32824, kExternalProgramSettings = 32825, kCefStoreFolder = 32846,
                           kExportFolder = 32848, kClinicCode = 32853, kLetterOptions = 32830, kSignatureSettings = 236,
                           kSetDefaultGroup = 32790, kNoDefaultGroup = 32812;
// View > Sort
inline constexpr CommandId kSortAscendingFirst = 32796, kSortDescendingFirst = 32801;
// Help
inline constexpr CommandId kAbout = 57664;
// Window: the framework's own ids (cascade 57650, tile horizontally 57651).
inline constexpr CommandId kWindowCascade = fw::cmd::WindowCascade, kWindowTileHorz = fw::cmd::WindowTileHorz,
                           kWindowTileVert = fw::cmd::WindowTileVert, kWindowArrange = fw::cmd::WindowArrange;

// Status-bar panes: the read-only indicator reuses the framework's overwrite indicator id.
inline constexpr CommandId kReadOnlyPane = fw::cmd::IndicatorOverwrite, kConfirmationPane = 1381;

// The menu bar of the main frame with every command any window of the program routes.
fw::MenuModel build_main_menu();

// What the workstation offers; decides the start-up pruning.
struct MenuOffer {
    bool timi = false;
    bool merivale_pdf = false;
    bool mail = false;                // the mail system is configured
    bool archive_configured = false;  // DEVICE.DAT lists at least one group
    bool browse = true;
};

// Deletes the commands the offer rules out, then the empty sub-menus and stray separators.
void prune_startup_menu(fw::MenuModel& menu, const MenuOffer& offer);

// Whether mail is configured: the Windows profile entry "[Mail] MAPI" kept in the registry at
// HKCU "Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging Subsystem" value "MAPI"
// (a DWORD or a decimal string) in the user's hive, <user_dir>/registry. 0 keeps mail off; without
// the entry, mail is offered when the mail layer's send command is installed.
bool is_mail_configured();

}  // namespace tv::menu
