// Signed reports: the envelope and the PKCS#7 reader on the fuzzer's bytes, and the signed
// content (headers, file lines, sizes, names) on its own, since mutated bytes never carry a
// valid signature to reach it through the message. The first byte picks the reader.
#include <cstdint>
#include <string_view>

#include "tolbex/signing/crypto.h"
#include "tolbex/signing/signed_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
        case 0: (void)tv::signing::verify(bytes); break;
        case 1: (void)tv::signing::verify_message(bytes); break;
        default:
            for (std::size_t signers : {1u, 2u}) {
                auto parsed = tv::signing::parse_signed_content(bytes, signers, "signed.dat");
                if (!parsed) continue;
                for (const auto& f : parsed->files)
                    if (f.offset > bytes.size() || f.size > bytes.size() - f.offset || f.name.empty() ||
                        f.name.find('/') != std::string::npos)
                        __builtin_trap();
            }
    }
    return 0;
}
