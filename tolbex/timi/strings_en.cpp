// English texts of the TIMI string table. Other languages fall back to these.
#include <iterator>

#include "common/strings.h"
#include "tolbex/timi/timi_strings.h"

namespace tv {

namespace {

const StringEntry kEnglish[] = {
    {kStrTimiKeyVersion, "Quorril ST Output File, version:"},
    {kStrTimiKeyPatientId, "Patient ID:"},
    {kStrTimiKeyRecordingId, "Recording ID:"},
    {kStrTimiKeyRecordingDate, "Recording Date:"},
    {kStrTimiKeyDuration, "Recording Duration:"},
    {kStrTimiKeyMinHr, "Min HR (bpm):"},
    {kStrTimiKeyMaxHr, "Max HR (bpm):"},
    {kStrTimiKeyMeanHr, "Mean HR (bpm):"},
    {kStrTimiKeyElevation, "Channel %d Elevation:"},
    {kStrTimiKeyDepression, "Channel %d Depression:"},
    {kStrTimiKeySlope, "Channel %d Slope:"},
    {kStrTimiCodeFirst + 0, "The specified file was not found."},
    {kStrTimiCodeFirst + 1, "There is no data in the file."},
    {kStrTimiCodeFirst + 2, "There was a file error while reading the file."},
    {kStrTimiCodeFirst + 3, "One of the rows in the file does not contain enough data."},
    {kStrTimiCodeFirst + 4, "One or more days of data are missing."},
    {kStrTimiCodeFirst + 5, "An item of data has an invalid value."},
    {kStrTimiCodeFirst + 6, "One or more rows of data are missing."},
    {kStrTimiCodeFirst + 7, "The TIMI file version is unsupported by this version of Calvera."},
    {kStrTimiCodeFirst + 8, "The data in the current file header does not match that from the previous file."},
    {kStrTimiCodeFirst + 9, "The header data is missing."},
    {kStrTimiCodeUnknown, "Unknown error."},
    {kStrTimiReadError,
     "There was an error while reading file \"%s\".\nThe error code is:\t%d\nThe error message is:\t\"%s\""},
    {kStrTimiNoData, "Day %i does not contain any data,\nfilename : %s.\nDo you want to continue the TIMI analysis ?"},
    {kStrTimiPatientMismatch,
     "There is a Patient ID mismatch.\nPrevious day's Patient ID was \"%s\", and this day's Patient ID is \"%s\""},
    {kStrTimiRecordingMismatch,
     "There is a Recording ID mismatch.\nPrevious day's Recording ID was \"%s\", and this day's Recording ID is "
     "\"%s\""},
    {kStrTimiDateMismatch, "Incorrect date for day %d. It should be %s, but it is %s."},
    {kStrTimiCriteriaWarning, "WARNING!\nThere is a mismatch between the Quorril ST criteria used for two days:\n"},
    {kStrTimiCriteriaChannel, "\nChannel %d\t\tElevation\t\tDepression\tSlope\n"},
    {kStrTimiCriteriaDay, "Day %d\t\t%s\t\t%s\t\t%s\n"},
    {kStrTimiArrhevntError, "There was an error while reading arrhevnt.txt\nError message is \"%s\""},
    {kStrTimiDayListError, "The TIMI day list \"%s\" cannot be read.\nError message is \"%s\""},
    {kStrTimiArrhCalcError, "Exception caught in CBrowserListView::calc_timi_arrh_data(),\nthe message is\n%s"},
    {kStrTimiArrhWriteError, "Exception caught in CBrowserListView::write_timi_arrh_summary(),\nthe message is\n%s"},
    {kStrTimiArrhNoLog,
     "The TIMI arrhythmia summary cannot be saved, because the logfile cannot be opened.\n\nPlease attempt the "
     "operation again."},
    {kStrTimiArrhStoreFailed, "The TIMI arrhythmia summary could not be stored in the archive (error %d)."},
    {kStrTimiArrhShortFile, "The event file \"%s\" is incomplete."},
};

}  // namespace

void register_timi_strings() { register_string_table(kPrimaryLanguageEnglish, kEnglish, std::size(kEnglish)); }

}  // namespace tv
