// "/uncompress": a compressed ECG file unpacked into a folder; the reader's error as exit code.
#include "formats/cef.h"
#include "tolbex/app/actions/actions.h"
#include "tolbex/app/cef_import.h"

namespace tv {

int uncompress_command(const std::string& cef, const std::string& folder) {
    return uncompress_exit_code(unpack_cef_file(cef, folder));
}

}  // namespace tv
