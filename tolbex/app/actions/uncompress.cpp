// "/uncompress": a compressed ECG file unpacked into a folder; the reader's error as exit code.
#include "formats/cef.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/cef_import.h"

namespace tv {

UncompressCode uncompress_exit_code(int cef_error) {
    switch (cef_error) {
        case kCefOk: return kUncompressDone;
        case kCefNoTargetFolder: return kUncompressNoFolder;
        case kCefCannotOpen: return kUncompressUnreadable;
        case kCefWriteFailed: return kUncompressWriteFailed;
        case kCefShortHeader:
        case kCefTruncated:
        case kCefBadSignature:
        case kCefPatientText:
        case kCefBadName:
        case kCefNameTruncated:
        case kCefBadMemberKind:
        case kCefChecksum: return kUncompressInvalid;
        default: return kUncompressCompressorFailed;  // also a channel that could not be restored
    }
}

int uncompress_command(const std::string& cef, const std::string& folder) {
    return uncompress_exit_code(unpack_cef_file(cef, folder));
}

}  // namespace tv
