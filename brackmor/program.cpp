#include "brackmor/program.h"

#include <sys/stat.h>

#include "brackmor/archive_set.h"
#include "brackmor/folder_tools.h"
#include "brackmor/reporter.h"
#include "common/text.h"
#include "platform/fs.h"
#include "tolbex/archive/archive_group.h"

namespace tv::brackmor {

namespace {

std::string usage_text(const std::string& build_date, const std::string& build_time) {
    return std::string("\nBRACKMOR version ") + kVersion + ", compiled on " + build_date + " at " + build_time +
           "\n"
           "\n"
           "BRACKMOR validates and repairs the Quorril archive structure.\n"
           "\n"
           "Usage: BRACKMOR <base archive dir> [/RE] [/AE] [/DR] [/DA] [/NW] [/RN]\n"
           "\n"
           "/RE: Remove empty archive directories from the ARCHDIR.DAT file.\n"
           "/AE: Add empty archive directories to the ARCHDIR.DAT file.\n"
           "/RN: Replace report names with patient names from PATIENT.TXT.\n"
           "/DR: Physically delete any invalid report  directories.\n"
           "/DA: Physically delete any invalid archive directories - USE WITH CARE!\n"
           "/NW: Stops any warnings about deleting directories. Danger!\n"
           "\n"
           "<base archive dir> is the name of a folder that contains an ARCHDIR.DAT file.\n"
           "\n"
           "Note: /DA implies /RE, and /RE and /AE are mutually exclusive.\n"
           "\n";
}

// Reads one option into `options`; false for an unknown one.
bool apply_option(const std::string& upper, RunOptions& o) {
    if (upper == "/DR") {
        o.delete_reports = true;
    } else if (upper == "/DA") {
        o.delete_archives = o.remove_empty = true;
        o.add_empty = false;
    } else if (upper == "/NW") {
        o.warnings = false;
    } else if (upper == "/RE") {
        o.remove_empty = true;
        o.add_empty = false;
    } else if (upper == "/AE") {
        o.add_empty = true;
        o.delete_archives = o.remove_empty = false;
    } else if (upper == "/EL") {
        o.tagged_log = true;
    } else if (upper == "/RN") {
        o.rename_reports = true;
    } else {
        return false;
    }
    return true;
}

std::string counter_line(const char* label, int value) { return label + format_string("%4d", value) + "\n"; }

void write_summary(Reporter& r, const RunCounts& c, bool tagged) {
    const std::string block = counter_line("#Archives added:   ", c.archives_added) +
                              counter_line("#Archives removed: ", c.archives_removed) +
                              counter_line("#Archives deleted: ", c.archives_deleted) + "\n" +
                              counter_line("#Reports  added:   ", c.reports_added) +
                              counter_line("#Reports  removed: ", c.reports_removed) +
                              counter_line("#Reports  deleted: ", c.reports_deleted) + "\n";
    r.console("\n...Validation complete.\n\n" + block);
    if (tagged) {
        r.log(
            format_string("\n#ARCHIVESADDED:%d\n#ARCHIVESREMOVED:%d\n#ARCHIVESDELETED:%d\n\n#REPORTSADDED:%d\n"
                          "#REPORTSREMOVED:%d\n#REPORTSDELETED:%d\n\n",
                          c.archives_added, c.archives_removed, c.archives_deleted, c.reports_added, c.reports_removed,
                          c.reports_deleted));
    } else {
        r.log("\n" + block);
    }
}

}  // namespace

int run_program(const std::vector<std::string>& args, const std::string& build_date, const std::string& build_time,
                std::FILE* console, int input_fd, const std::string& log_folder) {
    Reporter reporter(console, input_fd);
    if (args.empty() || args.size() > 7) {
        reporter.console(usage_text(build_date, build_time));
        return kExitUsage;
    }
    RunOptions options;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string upper = to_upper_copy(args[i]);
        if (!apply_option(upper, options)) {
            reporter.console("\nBad command line argument: " + upper + "\n");
            return kExitUsage;
        }
    }
    std::string base = args[0];
    while (base.size() > 1 && (base.back() == '/' || base.back() == '\\')) base.pop_back();
    // The base folder is the user's choice: a link to it is followed ("/." makes the folder
    // itself the last step).
    switch (probe_entry(base + "/.").kind) {
        case EntryKind::Folder: break;
        case EntryKind::Unknown:
            reporter.console("\nThe directory \"" + base + "\" cannot be read by this account.\n");
            return kExitUnreadable;
        default: reporter.console("\nThe directory \"" + base + "\" does not exist.\n"); return kExitNoFolder;
    }
    if (options.warnings) {
        if (!platform::find_name_ci(base, kGroupIndexName)) {
            reporter.console("\nThere is no ARCHDIR.DAT file in the specified archive directory.\n");
            if (!reporter.ask("Do you want to continue (Y/N)? ")) {
                reporter.console("\n");
                return kExitRefused;
            }
            reporter.console("\n\n");
        }
        if (options.delete_archives) {
            reporter.console("\nYou have 'delete archives' enabled - this may be very destructive.\n");
            reporter.console("Any non-archive directories in \"" + base + "\" will be DELETED!\n\n");
            if (!reporter.ask("Are you REALLY SURE you want to continue (Y/N)? ")) {
                reporter.console("\n");
                return kExitRefused;
            }
            reporter.console("\n\n");
        }
    }

    if (!reporter.open_log(log_folder))
        reporter.console("\nUnable to create BRACKMOR.LOG - the results go to the console only.\n");
    reporter.console("\nValidating archives...\n\n");
    if (!options.tagged_log)
        reporter.log(std::string("BRACKMOR V") + kVersion + ": Archive validation results, dated: " + now_text() +
                     "\n\n");
    if (options.delete_reports) reporter.both("Physically deleting invalid reports.\n");
    if (options.delete_archives) reporter.both("Physically deleting empty archives.\n");
    if (options.remove_empty) reporter.both("Removing empty archives from \"ARCHDIR.DAT\".\n");
    if (options.add_empty) reporter.both("Adding empty archives to \"ARCHDIR.DAT\".\n");
    if (options.rename_reports)
        reporter.both("Making report names the same as the patient's name in \"PATIENT.TXT\".\n");
    reporter.both("\n");
    reporter.set_tagged(options.tagged_log);

    ArchiveSet archives(base, options, reporter);
    bool ok = archives.readable();
    if (ok) {
        archives.scan();
        archives.filter();
        if (options.rename_reports) archives.rename_reports();
        ok = archives.write() && archives.indexes_ok();
    }
    int code = ok ? kExitDone : kExitIndexFailed;
    if (archives.indexes_ok()) {
        switch (archives.lock_failure()) {
            case platform::LockFailure::None: break;
            case platform::LockFailure::NotWritable: code = kExitLockDenied; break;
            case platform::LockFailure::ReadOnly: code = kExitReadOnly; break;
            default: code = kExitArchiveBusy; break;
        }
    }
    if (code == kExitDone && archives.counts().replaced > 0) code = kExitReplaced;
    if (code == kExitDone && archives.counts().unreadable > 0) code = kExitUnreadable;
    if (archives.counts().unreadable > 0)
        reporter.both(format_string("\n%d folder(s) could not be read by this account and were left as they are.\n",
                                    archives.counts().unreadable));
    write_summary(reporter, archives.counts(), options.tagged_log);
    if (!reporter.close_log()) {
        reporter.console(
            "\nBRACKMOR.LOG could not be written (is the disk full?) - the previous logs are kept as they "
            "were.\n\n");
        return code == kExitDone ? kExitLogFailed : code;
    }
    reporter.console(
        "\nA synopsis of the results has been written to the file BRACKMOR.LOG\n"
        "The previous BRACKMOR.LOG (if any) has been saved as BRACKMOR.SAV\n\n");
    return code;
}

}  // namespace tv::brackmor
