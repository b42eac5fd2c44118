// tolbex's exit codes: one table per command-line action, each code with its meaning. The README's
// tables are checked against these (tests/exit_codes_test.py); a new code is added here, with its
// line, and to the README. The process status is 8 bits wide: a negative code reads as 256 plus it.
#pragma once

namespace tv {

// What a run without an action of its own, or one that was refused, ends with.
enum CommandLineCode : int {
    // done
    kCommandLineDone = 0,
    // a switch short of operands, an action this build does not offer, a start that needs the main window, a refused
    // start-up, a "/mail" file that a run without windows cannot take
    kCommandLineRefused = 1,
};

// "/store" and "/storefolder": the store-result codes of the store-result log.
enum StoreResultCode : int {
    // stored
    kStoreCodeOk = 0,
    // no .CEF or .TVZ file in the folder ("/storefolder"); not a .CEF or .TVZ file ("/store")
    kStoreCodeNoFiles = 1,
    // folder (or file) does not exist
    kStoreCodeMissing = 2,
    // a file is invalid
    kStoreCodeInvalidFile = 3,
    // archive group does not exist
    kStoreCodeNoGroup = 4,
    // archive group has no ARCHDIR.DAT
    kStoreCodeNoGroupIndex = 5,
    // no archive of that name
    kStoreCodeNoArchive = 6,
    // writing the report files failed
    kStoreCodeWriteFailed = 7,
    // unpacking the report failed
    kStoreCodeUnpackFailed = 8,
    // making the temporary folder failed
    kStoreCodeNoTempFolder = 9,
    // opening the log file failed
    kStoreCodeLogFailed = 10,
    // another program is changing the archive: try again
    kStoreCodeArchiveBusy = 11,
    // this account cannot open the archive's lock file `.TVINDEX.LCK` for writing, or it is a link, no plain file or
    // a file with another name too (none is ever followed or opened): its owner or an administrator makes it
    // group-writable (`chmod g+w`), or deletes it while no program uses the archive
    kStoreCodeLockDenied = 12,
    // the archive is read-only for this account: an administrator gives the operators' group write access
    kStoreCodeArchiveReadOnly = 13,
};

// "/uncompress".
enum UncompressCode : int {
    // done
    kUncompressDone = 0,
    // no destination folder
    kUncompressNoFolder = 1,
    // the file cannot be opened
    kUncompressUnreadable = 2,
    // not a valid compressed ECG file
    kUncompressInvalid = 3,
    // a file could not be written
    kUncompressWriteFailed = 4,
    // the compressor is missing or failed (a hidden run answers its Retry/Cancel question with Cancel), or a channel
    // could not be restored
    kUncompressCompressorFailed = 5,
};

// "/export".
enum ExportCode : int {
    // exported
    kExportDone = 0,
    // no report there
    kExportNoReport = 1,
    // not in the archive's index
    kExportNotIndexed = 2,
    // packing (or the audit log) failed
    kExportFailed = 3,
    // format other than TVZ
    kExportNotTvz = 4,
};

// "/find": the number of reports found, or one of the errors.
enum FindCode : int {
    // the most reports counted: a count above it is given as 251, so that it never reads as an error
    kFindCountCap = 251,
    // the key is not RECORDING_ID (the process status reads 255)
    kFindBadKey = -1,
    // no value to look for (254)
    kFindNoValue = -2,
    // the group holds no ARCHDIR.DAT (253)
    kFindNoGroupIndex = -3,
    // the output file cannot be written (252)
    kFindNoOutput = -4,
};

// "/delete_os12_ecg".
enum DeleteOs12Code : int {
    // done
    kDeleteOs12Done = 0,
    // not an existing ".O12" folder
    kDeleteOs12NotTwelveLead = 1,
    // an ECG file could not be moved aside (nothing changed) or removed at the end
    kDeleteOs12DeleteFailed = 2,
    // the folder could not be renamed
    kDeleteOs12RenameFailed = 3,
    // the archive's index could not be changed (another program is changing the archive, or it was not written):
    // nothing changed
    kDeleteOs12IndexFailed = 4,
    // this account cannot open the archive's lock file `.TVINDEX.LCK` for writing
    kDeleteOs12LockDenied = 5,
    // the archive is read-only for this account
    kDeleteOs12ReadOnly = 6,
    // the report folder cannot be read by this account (another operator's, made with a narrow umask): nothing changed
    kDeleteOs12Unreadable = 7,
};

// "/compresscf".
enum CompressCfCode : int {
    // written
    kCompressCfDone = 0,
    // the profile file cannot be read
    kCompressCfNoProfile = 1,
    // the level is not 0, 2, 3 or 4
    kCompressCfBadLevel = 2,
    // no PatientId
    kCompressCfNoPatientId = 3,
    // no PatientName
    kCompressCfNoPatientName = 4,
    // no recording folder
    kCompressCfNoFolder = 5,
    // the card's patient name differs
    kCompressCfNameDiffers = 7,
    // the card's patient ID differs
    kCompressCfIdDiffers = 8,
    // PATSUMM.DAT not valid
    kCompressCfBadSummary = 9,
    // pre-compression failed
    kCompressCfPrecompressFailed = 10,
    // writing failed
    kCompressCfWriteFailed = 11,
    // no usable RecordingID
    kCompressCfNoRecordingId = 12,
    // the analysis system runs
    kCompressCfAnalysisRunning = 13,
    // no work folder
    kCompressCfWorkFolder = 14,
    // the recording could not be copied
    kCompressCfCopyFailed = 15,
    // no channel-1 file
    kCompressCfNoChannel = 16,
    // Patient Details or the Save dialog (twelve-lead) cancelled
    kCompressCfCancelled = 17,
    // no display to show those dialogs on (`DISPLAY` or `WAYLAND_DISPLAY` unset); give `y` for a three-channel
    // recording
    kCompressCfNoDisplay = 18,
};

// "/convert".
enum ConvertCode : int {
    // exported
    kConvertDone = 0,
    // the report could not be opened or a file not written; for pictures also no page, or the metafile list or a
    // metafile unreadable (nothing written then)
    kConvertFailed = 1,
};

// "/print" and "/printto".
enum PrintCode : int {
    // printed
    kPrintDone = 0,
    // the report could not be opened, has no page, its metafile list or a metafile is unreadable (nothing printed),
    // the audit log not opened or printing failed
    kPrintFailed = 1,
};

}  // namespace tv
