// Compressed ECG files (.CEF) as the application uses them: unpacking into a folder ("/uncompress")
// and the unpacking of a received file before it is stored. The reader's own header is included only by the .cpp: its
// reader class shares its name with the store routine's unpack hook type.
#pragma once
#include <string>

namespace tv {

// Unpacks `cef` into the existing `folder`; the reader's error code (0 on success). A question
// about a failing compressor goes to ui(): a hidden run answers Cancel.
int unpack_cef_file(const std::string& cef, const std::string& folder);

// A received file, checked and unpacked into a fresh temporary folder of its own.
struct ReceivedCef {
    enum Status {
        kUnpacked,      // `folder` holds the files; the caller deletes it
        kNotCef,        // no readable header with the compressed-ECG signature
        kInvalid,       // the file itself does not hold up (lengths, names, checksum ...)
        kNoCompressor,  // the compressor is missing or cannot be started
        kCancelled,     // the compressor failed and the question was answered Cancel
        kNoTempFolder,  // no temporary folder could be made
        kFailed,        // writing the unpacked files failed
    };
    Status status = kNotCef;
    std::string folder;       // with a trailing '/'
    std::string description;  // the header's description
    int error = 0;            // the reader's error code
};
ReceivedCef unpack_received_cef(const std::string& cef);

}  // namespace tv
