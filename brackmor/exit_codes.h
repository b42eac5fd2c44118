// BRACKMOR's exit codes, each with its meaning: the README's table is checked against this one
// (tests/exit_codes_test.py). A new code is added here, with its line, and to the README.
#pragma once

namespace tv::brackmor {

enum ExitCode : int {
    // the run completed
    kExitDone = 0,
    // usage shown, or an unknown option
    kExitUsage = 1,
    // the base folder does not exist
    kExitNoFolder = 2,
    // the user answered anything but Y to a question before the check (no ARCHDIR.DAT, or /DA); a folder whose
    // deletion question is answered so is left, and the run goes on
    kExitRefused = 3,
    // an index that could not be read or written (it is left as it was)
    kExitIndexFailed = 4,
    // an archive that another program held locked throughout (it is left as it was; run BRACKMOR again)
    kExitArchiveBusy = 5,
    // an archive whose lock file `.TVINDEX.LCK` this account cannot open for writing or that is a link, no plain
    // file or a file with another name too
    kExitLockDenied = 6,
    // an archive or group that is read-only for this account (both left as they were; the log names the folder)
    kExitReadOnly = 7,
    // a folder this account cannot read (its entries are left as they are, and named; the group folder itself
    // included)
    kExitUnreadable = 8,
    // BRACKMOR.LOG could not be written (the earlier logs are kept as they were)
    kExitLogFailed = 9,
    // a group, archive or report folder that was replaced by a link (or by another folder) while the check ran (it
    // is left as it is, and what a link leads to is never touched; the log names it)
    kExitReplaced = 10,
};

}  // namespace tv::brackmor
