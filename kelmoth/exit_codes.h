// KELMOTH's exit codes, each with its meaning: the README's table is checked against this one
// (tests/exit_codes_test.py). A new code is added here, with its line, and to the README.
#pragma once

namespace tv::kelmoth {

// The deck's own status words (110 to 116) end the run as they are; any other status from 1 to 254 is
// passed through too, and one outside that range ends it with kExitUnexpected.
enum ExitCode : int {
    // the tape was read (deck state FINISHED)
    kExitOk = 0,
    // no arguments (after the usage text), or the command line is not accepted
    kExitUsage = 1,
    // the ECG mappings became full during the transfer
    kExitFull = 2,
    // a view of a mapping cannot be mapped
    kExitViews = 3,
    // a named mapping cannot be created
    kExitMappings = 99,
    // the deck's status: a head jam
    kStatusHeadJam = 110,
    // the deck's status: a capstan jam
    kStatusCapstanJam = 111,
    // the deck's status: its "STOP" button was pressed
    kStatusStopPressed = 112,
    // the deck's status: an invalid recorder table entry was used
    kStatusNoTableEntry = 113,
    // the deck's status: a gross speed error while the ECG was loading
    kStatusSpeedError = 114,
    // the deck's status: no tape in the deck, or its door is open
    kStatusCassetteOut = 115,
    // the deck's status: a data overrun while the ECG was loading
    kStatusOverrun = 116,
    // the deck device cannot be opened: no tape replay was found
    kExitNoDeck = 117,
    // the deck stopped answering, or went away
    kExitDeckSilent = 118,
    // another run holds the deck
    kExitDeckBusy = 119,
    // the samples did not follow on: the tape was not read whole
    kExitNotWhole = 120,
    // the run ended without storing a sample
    kExitNothingRead = 121,
    // the program that started the run is gone
    kExitCallerGone = 122,
    // a deck status that no exit code can carry
    kExitUnexpected = 254,
    // the deck driver's map-buffer or unmap-buffer request failed (the process status reads 255)
    kExitDriver = -1,
};

}  // namespace tv::kelmoth
