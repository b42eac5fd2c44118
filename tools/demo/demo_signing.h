// Signed reports for the demo root: a made-up clinic authority, put into the site's trust store
// under the demo root, and the certificate it issues a made-up physician, kept with its key as a
// PKCS#12 file (empty password) in the personal certificate store, so that the demo's signed
// reports open as signed and the Sign command has a certificate to offer.
#pragma once
#include <string>

#include "common/result.h"
#include "tolbex/signing/crypto.h"

namespace tv::demo {

inline constexpr const char* kDemoSignerName = "Dr. Quillon (demo)";
inline constexpr const char* kDemoCertificateFile = "demo-signer.p12";
inline constexpr const char* kDemoAuthorityName = "Demo Clinic Authority";
inline constexpr const char* kDemoAuthorityFile = "demo-clinic-ca.pem";

// A new RSA key of `bits` and a self-signed certificate for `common_name` (organisation "Demo
// Clinic"), valid for ten years from now, with a random serial. Also makes the fuzzers' seeds.
Result<signing::Certificate> make_self_signed_certificate(const std::string& common_name, int bits = 2048);

// A new demo authority (its certificate into the trust store) and the certificate it issues
// kDemoSignerName, valid for ten years from now, put into the certificate store. The
// certificate, with its private key.
Result<signing::Certificate> make_demo_certificate();

// Signs the formatted report in `report_folder` as approved by the demo physician and stores it
// in the same archive under `description`. The new report's folder.
Result<std::string> sign_demo_report(const signing::Certificate& certificate, const std::string& report_folder,
                                     const std::string& description);

}  // namespace tv::demo
