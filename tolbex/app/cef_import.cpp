#include "tolbex/app/cef_import.h"

#include "common/files.h"
#include "common/ui.h"
#include "formats/cef.h"

namespace tv {

namespace {

bool ask_retry(const std::string& text) {
    return ui().message_box(text, {}, MsgIcon::Error, MsgButtons::RetryCancel) == MsgResult::Retry;
}

}  // namespace

int unpack_cef_file(const std::string& cef, const std::string& folder) {
    return uncompress_cef_to_folder(cef, folder, nullptr, ask_retry);
}

ReceivedCef unpack_received_cef(const std::string& cef) {
    ReceivedCef received;
    // The header first: a file that is no compressed ECG file at all is invalid whether or not
    // the compressor is there.
    CefHeader header;
    if (!read_cef_header(cef, header)) {
        received.status = ReceivedCef::kNotCef;
        return received;
    }
    received.description = get_cef_description(header);
    std::string error_file;
    received.folder = uncompress_cef_to_temp_folder(cef, received.error, &error_file, ask_retry);
    switch (received.error) {
        case kCefOk: received.status = ReceivedCef::kUnpacked; break;
        case kCefNoCompressor: received.status = ReceivedCef::kNoCompressor; break;
        case kCefCompressorCancelled: received.status = ReceivedCef::kCancelled; break;
        case kCefNoTargetFolder: received.status = ReceivedCef::kNoTempFolder; break;
        case kCefWriteFailed:
            // The reader names the temporary folder itself when it could not make one there.
            received.status = error_file == get_temp_folder() ? ReceivedCef::kNoTempFolder : ReceivedCef::kFailed;
            break;
        default: received.status = ReceivedCef::kInvalid; break;
    }
    if (received.status != ReceivedCef::kUnpacked) received.folder.clear();
    return received;
}

}  // namespace tv
