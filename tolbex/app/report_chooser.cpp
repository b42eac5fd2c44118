#include "tolbex/app/report_chooser.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "common/files.h"
#include "common/safe_open.h"
#include "platform/fs.h"

namespace tv {

namespace {

// `folder`/`name`, taking an existing entry spelt in another case.
std::string name_in(const std::string& folder, const char* name) {
    if (auto found = platform::find_name_ci(folder, name)) return *found;
    return join_path(folder, name);
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string no_folder_message(const std::string& folder) {
    return "Could not create the temporary folder for holding uncompressed CEF files:\n" + quoted(folder);
}

// Removes whatever `path` names without following a link: a folder with everything in it, or
// the file or link itself. True when nothing is left.
bool remove_entry(const std::string& path) {
    const EntryState entry = probe_entry(path);
    if (!entry.present()) return entry.kind == EntryKind::Missing;
    if (entry.kind == EntryKind::Folder) return delete_folder_tree(path, true, true);
    return ::unlink(path.c_str()) == 0;
}

// `folder` as a real, empty-of-files folder: a link or file in its place goes first, since the
// temporary folder is shared and the names are well known.
bool make_empty_folder(const std::string& folder) {
    const EntryState before = probe_entry(folder);
    if (before.present() && before.kind != EntryKind::Folder && ::unlink(folder.c_str()) != 0) return false;
    if (!create_folder_path(folder)) return false;
    if (probe_entry(folder).kind != EntryKind::Folder) return false;
    return delete_files_in_folder(folder);
}

}  // namespace

ChooserMode chooser_mode_of(const CommandLineFlags& flags) {
    if (flags.choose_ecg) return ChooserMode::Ecg;
    if (flags.choose_report) return ChooserMode::Report;
    return ChooserMode::None;
}

ChooserAction chooser_action(ReportType type, ChooserMode mode) {
    if (type == kReportCef && mode != ChooserMode::None) return ChooserAction::LoadCompressed;
    switch (mode) {
        case ChooserMode::Ecg:
            switch (type) {
                case kReportRawEcg:
                case kReportOstrabel:
                case kReportOstrabelCf: return ChooserAction::Choose;
                default: return ChooserAction::Refuse;
            }
        case ChooserMode::Report:
            switch (type) {
                case kReportFull:
                case kReportPartial:
                case kReportRawEcg:
                case kReportOstrabel:
                case kReportOstrabelCf:
                case kReportNoske:
                case kReportGavrille:
                case kReportVarUdiri:
                case kReportTimiData:
                case kReportTimiSummary:
                case kReportFullOstrabel12:
                case kReportTimiArrhythmia: return ChooserAction::Choose;
                default: return ChooserAction::Refuse;
            }
        case ChooserMode::None: break;
    }
    return ChooserAction::Refuse;
}

std::string load_report_question(const std::string& description) {
    return "Do you want to load report \n" + quoted(description) + "?";
}

std::string cef_chooser_error_message(int code, const std::string& file) {
    switch (code) {
        case kCefNoCompressor: return "The \"SZIP.EXE\" program cannot be found.";
        case kCefNoTargetFolder: return no_folder_message(file);
        case kCefCannotOpen:
            return "No Compressed ECG file (*.CEF) can be found in the report folder:\n" + quoted(file);
        case kCefShortHeader:
        case kCefTruncated:
        case kCefBadSignature:
        case kCefPatientText:
        case kCefBadName:
        case kCefNameTruncated:
        case kCefBadMemberKind: return "The Compressed ECG File " + quoted(file) + " is not valid.";
        case kCefWriteFailed: return "Could not write the file: " + quoted(file);
        case kCefCompressorCancelled: return "The SZIP program failed to write an output file.";
        case kCefChecksum: return "Invalid checksum in CEF " + quoted(file);
        default:
            return "Error number " + std::to_string(code) + " occurred while working with the file " + quoted(file);
    }
}

std::string repname_file_path(const std::string& app_repname_path, bool from_qds, const std::string& temp_folder) {
    return from_qds ? name_in(temp_folder, "repname.txt") : app_repname_path;
}

Result<void> write_repname(const std::string& path, const std::string& folder) {
    if (path.empty() || !platform::atomic_write_file(path, folder))
        return fail(kChooserNoRepname, cef_chooser_error_message(kCefWriteFailed, path));
    return {};
}

CefChooserTargets cef_chooser_targets(bool from_qds, double revision, const std::string& user_root,
                                      const std::string& temp_folder) {
    CefChooserTargets t;
    t.unpack = from_qds || revision < 8.0 ? name_in(temp_folder, "GVTEMP.CFR") : name_in(user_root, "TEMP.CEF");
    t.full = name_in(user_root, "TEMP.FUL");
    t.partial = name_in(user_root, "TEMP.PRT");
    return t;
}

std::string find_report_cef(const std::string& report_folder) {
    for (FileFinder f(join_path(report_folder, "*.CEF"), kFindFiles); !f.at_end(); f.next()) {
        // A link could lead anywhere; only the folder's own files count.
        if (f.is_symlink() || !is_safe_path_component(f.get_name())) continue;
        return join_path(report_folder, f.get_name());
    }
    return {};
}

std::string chooser_error_caption(int code) {
    switch (code) {
        case kChooserNoCef: return kMissingCefCaption;
        case kChooserNoFolder: return kCannotCreateFolderCaption;
        case kChooserUnpack: return kCefErrorCaption;
        case kChooserWrongKind: return kWrongKindCaption;
        default: return {};
    }
}

Result<std::string> load_compressed_for_choosing(const std::string& report_folder, const CefChooserTargets& targets,
                                                 bool from_qds, const CefRetryQuestion& retry) {
    const std::string cef = find_report_cef(report_folder);
    if (cef.empty()) return fail(kChooserNoCef, cef_chooser_error_message(kCefCannotOpen, report_folder));
    const std::string& unpack = targets.unpack;
    if (!make_empty_folder(unpack)) return fail(kChooserNoFolder, no_folder_message(unpack));
    // Whatever goes wrong from here on takes the unpacked files with it.
    auto failed = [&](int code, std::string message) -> Result<std::string> {
        remove_entry(unpack);
        return fail(code, std::move(message));
    };
    std::int32_t kind = 0;
    {
        CefUnpacker reader(cef, unpack, retry);
        if (reader.get_error() == 0) reader.unpack();
        if (const int error = reader.get_error(); error != 0)
            return failed(kChooserUnpack, cef_chooser_error_message(error, reader.get_error_file()));
        kind = reader.get_description().kind;
    }
    if (from_qds) {
        if (kind == kCefKindPartial || kind == kCefKindOtherTape) return failed(kChooserWrongKind, kCannotLoadKindText);
        return unpack;
    }
    if (kind != kCefKindFull && kind != kCefKindPartial) return unpack;
    const std::string& destination = kind == kCefKindFull ? targets.full : targets.partial;
    if (!remove_entry(destination) || std::rename(unpack.c_str(), destination.c_str()) != 0)
        return failed(kChooserNoFolder, no_folder_message(destination));
    // The analysis system expects its unpacking folder to be there, empty.
    make_empty_folder(unpack);
    return destination;
}

}  // namespace tv
