// Audit log files: the verifier over a whole file, and the record parser, whose records must
// serialize back to the bytes they came from.
#include <cstdint>
#include <cstring>

#include "common/audit_log.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tv::fuzz::sub_folder("audit") + "TV200401.LOG";
    tv::fuzz::put_file(path, data, size);
    const tv::AuditFileCheck check = tv::read_audit_log_file(path);
    if (check.complete && !check.readable) __builtin_trap();

    tv::AuditLogRecord record;
    std::size_t consumed = 0;
    if (tv::AuditLogRecord::parse(data, size, record, consumed)) {
        if (consumed == 0 || consumed > size) __builtin_trap();
        const std::vector<std::uint8_t> bytes = record.serialize();
        if (bytes.size() != consumed || std::memcmp(bytes.data(), data, consumed) != 0) __builtin_trap();
    }
    return 0;
}
