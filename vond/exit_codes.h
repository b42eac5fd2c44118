// vond's exit codes, each with its meaning: the README's table is checked against this one
// (tests/exit_codes_test.py). The card checks and reads answer with these codes too, so that a flow
// passes theirs on. A new code is added here, with its line, and to the README.
#pragma once

namespace tv::vond {

enum ExitCode : int {
    // done; also `stand` writes, and `/readpat=stand` and `/readecg=stand` without a card, and `/wav` without a
    // usable card
    kExitDone = 0,
    // `/wav`: the character code of the card's drive letter, from "A" (65) to "Z" (90), when the card's sound
    // recording belongs to its current recording
    kExitWavDriveA = 65,
    // `/wav`: the card is in drive "Z"
    kExitWavDriveZ = 90,
    // the command line is not valid; also an ECG-management-system descriptor found with a mode other than
    // `/readpat=path` and `/readecg=hide`
    kExitBadCommandLine = 100,
    // the output folder does not exist
    kExitNoOutputFolder = 101,
    // no card found, or the user declined to choose a drive; also a card taken from the reader during the run,
    // whatever the run did
    kExitNoCard = 102,
    // the card check or conditioning failed, or a reconditioning that failed after a completed read; `/setpat`: the
    // patient details could not be stored, or the card's ecg.dat is smaller than its declared capacity allows
    kExitCardFailed = 103,
    // the card was not initialised (write modes)
    kExitNotInitialised = 104,
    // the folder or compressed-file input could not be put into the named mappings; also the patient details could
    // not be changed (a cnav.dat beside the new details that is a link or no plain file: the card untouched)
    kExitNotChanged = 105,
    // PATSUMM.DAT could not be read, or the patient details could not be read from the card
    kExitNoPatientDetails = 106,
    // another `vond` run held the card for more than 3 seconds (it is named on stderr when it can be told, and
    // `tolbex` names it in its message); the card was not touched: try again. The lock is the card folder's own
    // (`flock`), so no account's umask or file can lock others out
    kExitCardBusy = 107,
    // the start sector is unreadable, the ECG could not be read, the loader program returned an unknown code, or a
    // channel count outside 0 to 3
    kExitUnreadable = 108,
    // no new or no valid ECG recording on the card, or no channel in the input
    kExitNoRecording = 109,
    // done, two channels
    kExitTwoChannels = 110,
    // done, three channels
    kExitThreeChannels = 111,
    // the input folder given with `/ipdir=` cannot be accessed, or it is a link, or neither a folder nor a plain
    // file
    kExitNoInput = 112,
    // the card holds invalid files and the user declined to delete them
    kExitInvalidFiles = 113,
    // the card holds a recording that has not been marked as read
    kExitNotMarked = 114,
    // done, one channel
    kExitOneChannel = 115,
    // the card's patient details already belong to its current recording: they were not changed
    kExitDetailsInUse = 116,
    // several card drives found and not settled by the user
    kExitSeveralCards = 117,
    // `/setpat=`: the descriptor file is missing or cannot be read, or it is a link or no plain file
    kExitNoDescriptorFile = 118,
    // `/setpat=`: the descriptor has no patient name
    kExitNoPatientName = 119,
    // `/setpat=`: the descriptor has no patient identifier
    kExitNoPatientId = 120,
    // the compressed ECG file in the input could not be unpacked
    kExitUnpackFailed = 121,
    // folder or compressed-file input with a mode that reads no input
    kExitInputNotRead = 122,
    // done, twelve-lead recording
    kExitTwelveLead = 123,
    // the loader program of the ECG management system was not found
    kExitNoLoader = 124,
    // no descriptor ("*.LDSC") in the input folder
    kExitNoLoaderDescriptor = 125,
    // no display to show the card or read dialog on; not one of the card's codes, so that a caller does not take it
    // for "no card" and ask for one again
    kExitNoDisplay = 126,
};

}  // namespace tv::vond
