// Compressed ECG files: header, member directory, extra-member names and the unpacking of every
// member into a report folder. The harness stores the right checksum so that mutations reach the
// directory. The compressor's own format is fuzzed by fuzz_szip; here an identity copy stands in
// for it, so that what follows the unpacking (bit restoring of channel files) sees the fuzzer's bytes.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "common/bytes.h"
#include "common/files.h"
#include "common/registry.h"
#include "fuzz/fuzz_support.h"
#include "platform/handles.h"
#include "platform/registry.h"
#include "formats/cef.h"

namespace {

struct Setup {
    std::string cef, target;
    Setup() {
        const std::string tools = tv::fuzz::sub_folder("tools");
        const std::string szip = tools + "szip.exe";
        tv::fuzz::put_file(szip, "#!/bin/sh\nexec cp -- \"$2\" \"$3\"\n");
        ::chmod(szip.c_str(), 0700);
        tv::platform::registry().set(tv::platform::RegRoot::LocalMachine, tv::kSzipKey, "Install Path",
                                     tv::platform::RegValue::string(szip));
        cef = tv::fuzz::sub_folder("cef") + "INPUT.CEF";
        target = tv::fuzz::sub_folder("cefout");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Setup s;
    std::vector<std::uint8_t> bytes(data, data + size);
    if (bytes.size() >= tv::kCefHeaderSize) {
        tv::store_le32(bytes.data(), 0);
        tv::fuzz::put_file(s.cef, bytes.data(), bytes.size());
        const tv::platform::UniqueFile f = tv::platform::open_file(s.cef, "rb");
        if (!f) __builtin_trap();
        std::fseek(f.get(), 4, SEEK_SET);
        tv::store_le32(bytes.data(), tv::file_xor_checksum(f.get()));
    }
    tv::fuzz::put_file(s.cef, bytes.data(), bytes.size());
    {
        tv::CefUnpacker reader(s.cef, s.target);
        if (reader.get_error() == 0) {
            reader.unpack();
            reader.unpack_by_name("PATIENT.TXT");
        }
    }
    tv::CefHeader header;
    (void)tv::read_cef_header(s.cef, header);
    tv::fuzz::clear_folder(s.target);
    return 0;
}
