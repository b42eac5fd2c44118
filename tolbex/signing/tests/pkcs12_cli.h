// PKCS#12 files made the way a site makes a physician's: with the stock openssl program, from
// a certificate and key in PEM, protected by a password or by none.
#pragma once
#include <cstdio>
#include <optional>
#include <string>

#include "platform/fs.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace tv::signing::testing {

// The PKCS#12 bytes, or nullopt when the openssl program is missing or fails. `work` is a folder
// of the test's own.
inline std::optional<std::string> pkcs12_from_cli(const TestIdentity& id, const std::string& password,
                                                  const std::string& work) {
    const std::string cert = work + "/cli-cert.pem", key = work + "/cli-key.pem", out = work + "/cli.p12";
    if (!platform::atomic_write_file(cert, id.cert_pem) || !platform::atomic_write_file(key, id.key_pem))
        return std::nullopt;
    const std::string command = "openssl pkcs12 -export -in '" + cert + "' -inkey '" + key +
                                "' -name signer -passout 'pass:" + password + "' -out '" + out + "' 2>/dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p || ::pclose(p) != 0) return std::nullopt;
    return platform::read_whole_file(out);
}

}  // namespace tv::signing::testing
