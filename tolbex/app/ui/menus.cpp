#include "tolbex/app/ui/menus.h"

#include <cstdlib>
#include <string>

#include "common/registry.h"
#include "tolbex/mail/mail_transport.h"
#include "common/text.h"

namespace tv::menu {

using fw::MenuItem;

fw::MenuModel build_main_menu() {
    using fw::cmd::AppExit;
    using fw::cmd::FileClose;
    using fw::cmd::FileMru1;
    const auto c = [](fw::CommandId id, std::string text, std::string status = {}) {
        return MenuItem::command(id, std::move(text), std::move(status));
    };
    const auto sep = MenuItem::separator;
    const auto pop = MenuItem::popup;
    fw::MenuModel m;
    m.items = {
        pop("&File",
            {c(kOpenArchiveIndex, "&Open Archive...", "Opens an archive for viewing."), c(FileClose, "&Close"), sep(),
             pop("Archive &Group", {c(kSelectGroup, "&Select...\tCtrl+O"), c(kOpenGroupFromList, "Open from &List..."),
                                    c(kFindGroups, "&Find...\tCtrl+F"), c(kCreateGroup, "&Create..."),
                                    c(kDeleteGroup, "&Delete..."), sep(), c(kAddGroupToConfig, "&Add to Configuration"),
                                    c(kRemoveGroupFromConfig, "&Remove from Configuration...")}),
             c(kSaveReport, "&Save Report"), c(kImport, "&Import..."), sep(),
             pop("Export &as", {c(kExportBmp, "&BMP files..."), c(kExportPcx, "P&CX files..."),
                                c(kExportRtf, "&RTF file..."), c(kExportMerivalePdf, "&Merivale PDF file...")}),
             pop("&Print", {c(kFilePrint, "&Print...\tCtrl+P"), c(kShortCatalogue, "S&hort Catalogue..."),
                            c(kPrintPreview, "Print Pre&view"), sep(), c(kPrintReports, "&Reports..."),
                            c(kPrintScaling, "Print &Scaling...")}),
             c(kItemSendToExternal, "Send to &External Program..."), sep(),
             pop("&Mail", {c(kSendMail, "&Send Mail..."), c(kReceiveMail, "&Receive Mail..."),
                           c(kStoreMailedReport, "S&tore Mailed Report...")}),
             sep(), c(FileMru1, "Recent File"), sep(), c(AppExit, "E&xit")}),
        pop("&Edit", {c(kInsertTextHelp, "&Insert Text..."), c(kDeleteTextHelp, "&Delete Text..."),
                      c(kEditTextHelp, "&Edit Text...")}),
        pop("&Report", {c(kConfirmReport, "&Confirm Report"), c(kUnconfirmReport, "&Unconfirm Report"), sep(),
                        c(kViewLetters, "View &Letters...")}),
        pop("&Item", {c(kItemOpen, "&Open"), c(kItemDelete, "&Delete..."), c(kItemMove, "&Move..."),
                      c(kItemCopy, "&Copy..."), c(kItemRename, "&Rename"), sep(), c(kItemSendMail, "Send Ma&il..."),
                      c(kItemExportToFolder, "&Export to folder..."), c(kItemCreateLetter, "Create &Letter..."),
                      c(kItemWhereIs, "&Where is Item..."), c(kItemDeleteO12Ecg, "Delete Ostrabel12 ECG Files"),
                      c(kItemCompare, "Compare &Formatted Reports"), c(kItemSign, "&Sign Report..."), sep(),
                      c(kItemTimi, "&TIMI"), c(kItemTimiArrhythmia, "TIMI &Arrhythmia")}),
        pop("&Archive", {c(kCreateArchive, "&Create..."), c(kDeleteArchive, "&Delete...")}),
        pop("Re&cording",
            {pop("Ostrabel &CF",
                 {c(kCardStoreInArchive, "Store in &Archive..."), c(kCardStoreInFolder, "Store in &Folder..."),
                  c(kCardSendAsMail, "Send as &Mail...")}),
             pop("Ostrabel &2/3",
                 {c(kDiskStoreInArchive, "Store in &Archive..."),
                  c(kDiskStoreInFolder, "Store in &Folder...", "Store a Ostrabel 2/3 recording in a folder"),
                  c(kDiskSendAsMail, "Send as &Mail...")}),
             pop("&Tape", {c(kTapeStoreInArchive, "Store in &Archive..."), c(kTapeStoreInFolder, "Store in &Folder..."),
                           c(kTapeSendAsMail, "Send as &Mail...")}),
             c(kStoreDiskRecording, "&Store Ostrabel Recording in Archive...",
               "Stores a Ostrabel recording in an archive."),
             c(kStoreCardRecording, "Store Ostrabel C&F Recording in Archive...",
               "Stores a Ostrabel CF recording in an archive."),
             c(kMailDiskRecording, "Send Ostrabel Recording as &Mail...",
               "Sends a Ostrabel recording in a mail message."),
             sep(),
             c(kKeptRecordings, "&Kept Recordings...",
               "Stores, saves or discards the recordings read and not yet stored.")}),
        pop("&View",
            {c(kZoom, "&Zoom..."), c(kGoto, "&Goto..."), sep(),
             pop("Sort &Ascending", {c(kSortAscendingFirst, "by &Archive"), c(kSortAscendingFirst + 1, "by &Name"),
                                     c(kSortAscendingFirst + 2, "by &Date"), c(kSortAscendingFirst + 3, "by &Size"),
                                     c(kSortAscendingFirst + 4, "by &Type")}),
             pop("Sort &Descending", {c(kSortDescendingFirst, "by &Archive"), c(kSortDescendingFirst + 1, "by &Name"),
                                      c(kSortDescendingFirst + 2, "by &Date"), c(kSortDescendingFirst + 3, "by &Size"),
                                      c(kSortDescendingFirst + 4, "by &Type")})}),
        pop("&Options",
            {c(kMailSettings, "&Mail Settings..."), c(kExternalProgramSettings, "&External Program Settings..."),
             c(kDefaultCompression, "Default ECG Com&pression...",
               "Sets the default compression to be used when creating a compressed ECG"),
             c(kCefStoreFolder, "Default &Compressed ECG Save Folder..."),
             c(kExportFolder, "Default E&xported Report Folder..."), c(kClinicCode, "Default Cl&inic Code..."),
             c(kLetterOptions, "&Letter Creation Options..."), c(kSignatureSettings, "Si&gnature Settings..."), sep(),
             c(kSetDefaultGroup, "&Set current Archive Group as default"),
             c(kNoDefaultGroup, "&No default Archive Group")}),
        pop("&Window", {c(fw::cmd::WindowNew, "&New Window"), c(kWindowCascade, "&Cascade"),
                        c(kWindowTileHorz, "&Tile Horizontally"), c(kWindowTileVert, "Tile &Vertically"),
                        c(kWindowArrange, "&Arrange Icons")}),
        pop("&Help", {c(kAbout, "&About this program...")}),
    };
    return m;
}

void prune_startup_menu(fw::MenuModel& menu, const MenuOffer& offer) {
    auto drop = [&](std::initializer_list<CommandId> ids) {
        for (CommandId id : ids) fw::remove_menu_command(menu, id);
    };
    if (!offer.timi) drop({kItemTimi, kItemTimiArrhythmia});
    if (!offer.merivale_pdf) drop({kExportMerivalePdf});
    if (!offer.mail)
        drop({kMailDiskRecording, kSendMail, kItemSendMail, kMailSettings, kReceiveMail, kStoreMailedReport,
              kCardSendAsMail, kDiskSendAsMail, kTapeSendAsMail});
    if (!offer.archive_configured || !offer.browse)
        drop({kAddGroupToConfig, kRemoveGroupFromConfig, kSelectGroup, kOpenGroupFromList});
    if (!offer.browse) drop({kOpenArchiveIndex, kFindGroups, kCreateGroup, kStoreDiskRecording});
    fw::prune_menu(menu);
}

bool is_mail_configured() {
    static constexpr const char* kKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem";
    const std::uint32_t dword = reg_get_dword(HKEY_CURRENT_USER, kKey, "MAPI", 0xFFFFFFFFu);
    if (dword != 0xFFFFFFFFu) return dword != 0;
    static constexpr const char* kMissing = "\x01";
    const std::string text = reg_get_string(HKEY_CURRENT_USER, kKey, "MAPI", kMissing);
    if (text == kMissing) return SendmailTransport(mail_send_command()).is_available();
    return parse_integer(text).value != 0;
}

}  // namespace tv::menu
