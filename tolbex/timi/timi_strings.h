// Ids of the TIMI string-table texts: the day-file header keys and the messages of loading,
// saving and the arrhythmia summary.
#pragma once

namespace tv {

// Day-file header keys (matched case-sensitively at the start of a line).
inline constexpr unsigned kStrTimiKeyVersion = 6100;        // "Quorril ST Output File, version:"
inline constexpr unsigned kStrTimiKeyPatientId = 6101;      // "Patient ID:"
inline constexpr unsigned kStrTimiKeyRecordingId = 6102;    // "Recording ID:"
inline constexpr unsigned kStrTimiKeyRecordingDate = 6103;  // "Recording Date:"
inline constexpr unsigned kStrTimiKeyDuration = 6104;       // "Recording Duration:"
inline constexpr unsigned kStrTimiKeyMinHr = 6105;          // "Min HR (bpm):"
inline constexpr unsigned kStrTimiKeyMaxHr = 6106;          // "Max HR (bpm):"
inline constexpr unsigned kStrTimiKeyMeanHr = 6107;         // "Mean HR (bpm):"
inline constexpr unsigned kStrTimiKeyElevation = 6108;      // "Channel %d Elevation:"
inline constexpr unsigned kStrTimiKeyDepression = 6109;     // "Channel %d Depression:"
inline constexpr unsigned kStrTimiKeySlope = 6110;          // "Channel %d Slope:"

// Day-file result codes 1..10 have the texts 6111..6120; anything else 6121.
inline constexpr unsigned kStrTimiCodeFirst = 6111;
inline constexpr unsigned kStrTimiCodeUnknown = 6121;

inline constexpr unsigned kStrTimiReadError = 6122;  // "There was an error while reading file ..."
inline constexpr unsigned kStrTimiNoData = 6123;     // "Day %i does not contain any data, ..."
inline constexpr unsigned kStrTimiPatientMismatch = 6124;
inline constexpr unsigned kStrTimiRecordingMismatch = 6125;
inline constexpr unsigned kStrTimiDateMismatch = 6126;     // "Incorrect date for day %d. ..."
inline constexpr unsigned kStrTimiCriteriaWarning = 6127;  // "WARNING!\nThere is a mismatch ..."
inline constexpr unsigned kStrTimiCriteriaChannel = 6128;  // "\nChannel %d\t\tElevation..."
inline constexpr unsigned kStrTimiCriteriaDay = 6129;      // "Day %d\t\t%s\t\t%s\t\t%s\n"
inline constexpr unsigned kStrTimiArrhevntError = 6130;    // "There was an error while reading arrhevnt.txt ..."
inline constexpr unsigned kStrTimiDayListError = 6131;     // the day list cannot be read
inline constexpr unsigned kStrTimiArrhCalcError = 6132;    // "Exception caught in ...calc_timi_arrh_data() ..."
inline constexpr unsigned kStrTimiArrhWriteError = 6133;   // "Exception caught in ...write_timi_arrh_summary() ..."
inline constexpr unsigned kStrTimiArrhNoLog = 6134;        // the audit log cannot be opened
inline constexpr unsigned kStrTimiArrhStoreFailed = 6135;  // the report could not be stored
inline constexpr unsigned kStrTimiArrhShortFile = 6136;    // an event file is too short

// Registers the English table; the program calls it once at start (tests too).
void register_timi_strings();

}  // namespace tv
