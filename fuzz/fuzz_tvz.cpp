// Report transfer files (.TVZ): entry headers, names and explode, into a report folder. The
// harness stores each entry's CRC, so that mutations reach explode and the long-name list.
#include <cstdint>

#include "common/bytes.h"
#include "fuzz/fuzz_support.h"
#include "formats/implode.h"
#include "formats/transfer_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tv::fuzz::sub_folder("tvz") + "REPORT.TVZ";
    static const std::string target = tv::fuzz::sub_folder("tvzout");
    std::vector<std::uint8_t> bytes(data, data + size);
    for (std::size_t pos = 0; pos + tv::kPackedFileHeaderSize <= bytes.size();) {
        std::uint8_t* h = bytes.data() + pos;
        const std::size_t left = bytes.size() - pos - tv::kPackedFileHeaderSize;
        const std::size_t packed = std::min<std::size_t>(tv::load_le32(h + 20), left);
        tv::store_le32(h + 28, tv::crc32(h + tv::kPackedFileHeaderSize, packed));
        pos += tv::kPackedFileHeaderSize + packed;
    }
    tv::fuzz::put_file(path, bytes.data(), bytes.size());
    (void)tv::unpack_transfer_file(path, target.substr(0, target.size() - 1));
    tv::fuzz::clear_folder(target);
    return 0;
}
