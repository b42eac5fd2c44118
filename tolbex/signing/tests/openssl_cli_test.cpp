// Interchange with the stock openssl command line: a file another installation could have made
// with it is read, and what this system signs is taken apart by it. Skipped where the openssl
// program or its legacy provider (RC4) is missing.
#include <cstdlib>
#include <ctime>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include "common/bytes.h"
#include "common/audit_log.h"
#include "platform/cert_store.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/test_root.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/tests/signing_fixture.h"
#include "tolbex/signing/trust.h"

namespace tv::signing {
namespace {

constexpr const char* kRc4 = "-rc4 -K ad03c134997d4cdc224baa2a2fbfabe8 -provider legacy -provider default";

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Runs a shell command line; its standard output, or nullopt when it fails.
std::optional<std::string> run(const std::string& command) {
    std::string out;
    FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return std::nullopt;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    return ::pclose(p) == 0 ? std::optional<std::string>(out) : std::nullopt;
}

class OpensslCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!run("openssl version")) GTEST_SKIP() << "no openssl program here";
        if (!run("printf x | openssl enc " + std::string(kRc4)))
            GTEST_SKIP() << "the openssl program has no legacy provider (RC4)";
        work = root / "work";
        std::filesystem::create_directories(work);
    }
    std::string path(const std::string& name) const { return work + "/" + name; }
    std::string read(const std::string& name) const { return platform::read_whole_file(path(name)).value_or(""); }

    platform::testing::TempRoot root;
    std::string work;
};

TEST_F(OpensslCli, AFileMadeWithTheStockToolsIsReadAsAnotherInstallations) {
    // A site's authority and a physician's certificate it issued, made as an administrator would.
    ASSERT_TRUE(
        run("openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/O=Elsewhere/CN=Elsewhere CA' "
            "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign -keyout " +
            quoted(path("ca-key.pem")) + " -out " + quoted(path("ca.pem"))));
    ASSERT_TRUE(run("openssl req -newkey rsa:2048 -nodes -subj '/O=Elsewhere/CN=Dr Other' -keyout " +
                    quoted(path("key.pem")) + " -out " + quoted(path("req.pem"))));
    ASSERT_TRUE(run("openssl x509 -req -days 30 -in " + quoted(path("req.pem")) + " -CA " + quoted(path("ca.pem")) +
                    " -CAkey " + quoted(path("ca-key.pem")) + " -set_serial 4660 -out " + quoted(path("cert.pem"))));
    // The signed content names the certificate as its system would (simple names, validity).
    SignatureRecord r;
    {
        const std::string pem = read("cert.pem");
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        ASSERT_NE(x, nullptr);
        r.certificate = Certificate(x, nullptr);
        X509_free(x);
    }
    ASSERT_TRUE(fill_certificate_fields(r));
    r.signer_name = "Dr Other";
    r.signing_time = ole_date_from_time(std::time(nullptr));
    r.signing_time_status = kTimeValid;
    ASSERT_TRUE(platform::atomic_write_file(path("page.0"), std::string(5000, 'p')));
    ASSERT_TRUE(platform::atomic_write_file(path("SUMMARY.TXT"), "Summary\r\n"));
    auto content = build_signed_content(r, {{"page.0", path("page.0")}, {"SUMMARY.TXT", path("SUMMARY.TXT")}});
    ASSERT_TRUE(content);
    ASSERT_TRUE(platform::atomic_write_file(path("content.bin"), *content));
    // PKCS#7 SignedData with SHA-256 (and signed attributes), then the envelope: an empty key
    // blob and the RC4 stream under the pass phrase's key.
    ASSERT_TRUE(run("openssl smime -sign -binary -nodetach -md sha256 -outform DER -in " + quoted(path("content.bin")) +
                    " -signer " + quoted(path("cert.pem")) + " -inkey " + quoted(path("key.pem")) + " -out " +
                    quoted(path("msg.der"))));
    ASSERT_TRUE(run("openssl enc " + std::string(kRc4) + " -in " + quoted(path("msg.der")) + " -out " +
                    quoted(path("cipher.bin"))));
    const std::string signed_dat = std::string(4, '\0') + read("cipher.bin");
    ASSERT_TRUE(platform::atomic_write_file(path("signed.dat"), signed_dat));

    // Intact but from an authority this site does not know: read, and said to be not verified.
    for (const bool trusted : {false, true}) {
        if (trusted) {
            std::filesystem::create_directories(platform::trust_store_dir());
            ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/elsewhere.pem", read("ca.pem")));
        }
        auto restored = verify_signed_report(path("signed.dat"));
        ASSERT_TRUE(restored) << restored.error().message;
        EXPECT_EQ(*platform::read_whole_file(restored->folder() + "/page.0"), std::string(5000, 'p'));
        EXPECT_EQ(*platform::read_whole_file(restored->folder() + "/SUMMARY.TXT"), "Summary\r\n");
        ASSERT_EQ(restored->signers().size(), 1u);
        const SignatureRecord& s = restored->signers()[0];
        EXPECT_EQ(s.verified, trusted) << s.problem;
        EXPECT_EQ(s.signer_name, "Dr Other");
        EXPECT_EQ(s.issued_by, "Elsewhere CA");
    }
}

TEST_F(OpensslCli, WhatThisSystemSignsIsCheckedByTheStockTools) {
    const auto id = testing::make_identity("Anna Smith", "Clinic CA");
    ASSERT_TRUE(platform::atomic_write_file(path("pub.pem"), id.cert_pem));
    const std::string report = work + "/R.IMG";
    std::filesystem::create_directories(report);
    ASSERT_TRUE(platform::atomic_write_file(report + "/page.0", std::string(4000, 'q')));
    SignatureRecord record = testing::signer_record(id);
    ASSERT_TRUE(sign_report_folder(record, report, "", path("signed.dat")));

    // Unwrap: past the (empty) key blob, RC4 with the pass phrase's key.
    const std::string signed_dat = read("signed.dat");
    ASSERT_GE(signed_dat.size(), 4u);
    const std::uint32_t blob = load_le32(reinterpret_cast<const std::uint8_t*>(signed_dat.data()));
    ASSERT_TRUE(platform::atomic_write_file(path("cipher.bin"), signed_dat.substr(4 + blob)));
    ASSERT_TRUE(run("openssl enc -d " + std::string(kRc4) + " -in " + quoted(path("cipher.bin")) + " -out " +
                    quoted(path("msg.der"))));

    auto certs = run("openssl pkcs7 -inform DER -print_certs -in " + quoted(path("msg.der")));
    ASSERT_TRUE(certs);
    EXPECT_NE(certs->find("subject=O = Test Clinic, CN = Anna Smith"), std::string::npos) << *certs;
    EXPECT_NE(certs->find("issuer=O = Test Clinic, CN = Clinic CA"), std::string::npos) << *certs;
    auto parsed = run("openssl asn1parse -inform DER -in " + quoted(path("msg.der")));
    ASSERT_TRUE(parsed);
    EXPECT_NE(parsed->find(":pkcs7-signedData"), std::string::npos);
    EXPECT_NE(parsed->find(":md2"), std::string::npos);
    EXPECT_NE(parsed->find(":rsaEncryption"), std::string::npos);

    // The signature, opened with the certificate's key, is the DigestInfo of the content's MD2.
    const std::string msg = read("msg.der");
    const unsigned char* p = reinterpret_cast<const unsigned char*>(msg.data());
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(msg.size()));
    ASSERT_NE(p7, nullptr);
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0);
    ASN1_OCTET_STRING* content = p7->d.sign->contents->d.data;
    const std::string signature(reinterpret_cast<const char*>(ASN1_STRING_get0_data(si->enc_digest)),
                                static_cast<std::size_t>(ASN1_STRING_length(si->enc_digest)));
    const std::string data(reinterpret_cast<const char*>(ASN1_STRING_get0_data(content)),
                           static_cast<std::size_t>(ASN1_STRING_length(content)));
    PKCS7_free(p7);
    ASSERT_TRUE(platform::atomic_write_file(path("sig.bin"), signature));
    ASSERT_TRUE(run("openssl x509 -pubkey -noout -in " + quoted(path("pub.pem")) + " > " + quoted(path("key.pub"))));
    ASSERT_TRUE(run("openssl pkeyutl -verifyrecover -pubin -inkey " + quoted(path("key.pub")) + " -in " +
                    quoted(path("sig.bin")) + " -out " + quoted(path("recovered.der"))));
    EXPECT_EQ(read("recovered.der"), encode_digest_info(NID_md2, *digest(NID_md2, data)));
    auto info = run("openssl asn1parse -inform DER -in " + quoted(path("recovered.der")));
    ASSERT_TRUE(info);
    EXPECT_NE(info->find(":md2"), std::string::npos) << *info;
    std::string md2_hex;
    const std::string md2 = *digest(NID_md2, data);
    for (unsigned char c : md2) {
        char b[3];
        std::snprintf(b, sizeof b, "%02X", c);
        md2_hex += b;
    }
    EXPECT_NE(info->find("[HEX DUMP]:" + md2_hex), std::string::npos) << *info;
}

// A site's authority and leaves it issued with `openssl ca`, which can date a certificate back.
class IssuedByTheStockTools : public OpensslCli {
protected:
    void SetUp() override {
        OpensslCli::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(
            run("openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/O=Clinic/CN=Clinic CA' "
                "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign "
                "-keyout " +
                quoted(path("ca-key.pem")) + " -out " + quoted(path("ca.pem"))));
        ASSERT_TRUE(run("openssl genrsa -out " + quoted(path("key.pem")) + " 2048"));
        ASSERT_TRUE(platform::atomic_write_file(path("index.txt"), ""));
        ASSERT_TRUE(platform::atomic_write_file(path("serial"), "1000\n"));
        ASSERT_TRUE(platform::atomic_write_file(
            path("ca.cnf"), "[ca]\ndefault_ca = own\n[own]\ndatabase = " + path("index.txt") +
                                "\nnew_certs_dir = " + work + "\nserial = " + path("serial") +
                                "\ndefault_md = sha256\npolicy = any\nunique_subject = no\n[any]\ncommonName = "
                                "supplied\norganizationName = optional\n"));
        std::filesystem::create_directories(platform::trust_store_dir());
        ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/clinic-ca.pem", read("ca.pem")));
    }
    // A leaf for `subject` with the extension lines `extensions` (none when empty).
    struct Leaf {
        const char* start = "20200101000000Z";
        const char* end = "20400101000000Z";
        const char* md = "sha256";
        const char* key = "key.pem";
    };
    Certificate issue(const std::string& subject, const std::string& extensions, Leaf leaf) {
        const std::string n = std::to_string(++issued);
        const std::string req = path("req" + n + ".pem"), out = path("leaf" + n + ".pem"), ext = path("ext" + n);
        EXPECT_TRUE(run("openssl req -new -key " + quoted(path(leaf.key)) + " -subj " + quoted(subject) + " -out " +
                        quoted(req)));
        std::string command = "openssl ca -batch -notext -preserveDN -config " + quoted(path("ca.cnf")) + " -cert " +
                              quoted(path("ca.pem")) + " -keyfile " + quoted(path("ca-key.pem")) + " -in " +
                              quoted(req) + " -md " + leaf.md + " -startdate " + leaf.start + " -enddate " + leaf.end +
                              " -out " + quoted(out);
        if (!extensions.empty()) {
            EXPECT_TRUE(platform::atomic_write_file(ext, "[ext]\n" + extensions + "\n"));
            command += " -extfile " + quoted(ext) + " -extensions ext";
        }
        EXPECT_TRUE(run(command)) << command;
        return with_key(read("leaf" + n + ".pem"), leaf.key);
    }
    Certificate issue(const std::string& subject, const std::string& extensions,
                      const char* start = "20200101000000Z") {
        Leaf leaf;
        leaf.start = start;
        return issue(subject, extensions, leaf);
    }
    Certificate with_key(const std::string& cert_pem, const std::string& key_name = "key.pem") {
        const std::string key_pem = read(key_name);
        BIO* cb = BIO_new_mem_buf(cert_pem.data(), static_cast<int>(cert_pem.size()));
        BIO* kb = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
        X509* x = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
        EVP_PKEY* k = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
        Certificate c(x, k);
        X509_free(x);
        EVP_PKEY_free(k);
        BIO_free(cb);
        BIO_free(kb);
        return c;
    }
    int issued = 0;
};

// Only a certificate meant for signing, issued by the site's authority under a name of its own
// and valid with its authority when it signed, makes a trusted signature; each other one is
// refused for its own reason, and is never used to sign.
TEST_F(IssuedByTheStockTools, OnlyCertificatesMeantForSigningAreTrustedAndEachRefusalSaysWhy) {
    struct Case {
        const char* what;
        const char* subject;
        const char* extensions;
        const char* problem;  // empty: trusted and signs
    };
    const Case cases[] = {
        {"no extensions", "/O=Clinic/CN=Dr Plain", "", ""},
        {"digital signature, e-mail protection", "/O=Clinic/CN=Dr Mail",
         "keyUsage=critical,digitalSignature\nextendedKeyUsage=emailProtection", ""},
        {"non-repudiation only", "/O=Clinic/CN=Dr Nonrep", "keyUsage=nonRepudiation", ""},
        {"any extended key usage", "/O=Clinic/CN=Dr Any",
         "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=anyExtendedKeyUsage", ""},
        {"key encipherment only", "/O=Clinic/CN=Dr Crypt", "keyUsage=keyEncipherment",
         "the certificate of \"Dr Crypt\" is not meant for signing: its key usage allows neither digital "
         "signatures nor non-repudiation"},
        {"server authentication only", "/O=Clinic/CN=Dr Server", "extendedKeyUsage=serverAuth",
         "the certificate of \"Dr Server\" is not meant for signing: its extended key usage does not include "
         "e-mail protection"},
        {"the authority's own subject", "/O=Clinic/CN=Clinic CA", "",
         "the certificate of \"Clinic CA\" names its own subject as its issuer, so it cannot be told apart from "
         "the authority that issued it"},
    };
    const std::string report = work + "/R.IMG";
    std::filesystem::create_directories(report);
    ASSERT_TRUE(platform::atomic_write_file(report + "/page.0", "page"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TestIdentity id;
        id.certificate = issue(c.subject, c.extensions);
        SignatureRecord r = testing::signer_record(id);
        r.signing_time = ole_date_from_time(std::time(nullptr));
        const auto trusted = check_trust(r.certificate, {}, std::time(nullptr));
        EXPECT_EQ(trusted ? std::string() : trusted.error().message, c.problem);
        const bool for_signing = signing_purpose_problem(r.certificate).empty();
        const std::string out = path("signed.dat");
        std::filesystem::remove(out);
        const auto written = sign_report_folder(r, report, "", out);
        EXPECT_EQ(written.ok(), for_signing);
        EXPECT_EQ(std::filesystem::exists(out), for_signing) << "refused before anything is written";
        if (!for_signing) {
            EXPECT_EQ(written.error().message, with_text(kSigningFailedText, c.problem));
        }
        // Through the whole signed file: verified exactly when trusted, and never called damaged.
        if (!written) continue;
        auto restored = verify_signed_report(out);
        ASSERT_TRUE(restored) << restored.error().message;
        EXPECT_EQ(restored->signers()[0].verified, !*c.problem);
        EXPECT_EQ(restored->signers()[0].problem, c.problem);
    }
    // Valid when it signed, but its authority was not yet: the authority is named.
    const Certificate early = issue("/O=Clinic/CN=Dr Early", "");
    const std::int64_t y2023 = (2023 - 1970) * 31556952LL;
    const auto trusted = check_trust(early, {}, y2023);
    ASSERT_FALSE(trusted);
    EXPECT_EQ(trusted.error().message,
              "the certificate of the authority \"Clinic CA\" was not yet valid when the report was signed");
}

// A signer whose reports could never verify here is refused before anything is stored, with the
// reason; a report such a signer made all the same (elsewhere, or before this check) opens as not
// signed.
TEST_F(IssuedByTheStockTools, SignersThatCouldNeverVerifyAreRefusedAndTheirReportsAreNotSigned) {
    ASSERT_TRUE(run("openssl genrsa -out " + quoted(path("short-key.pem")) + " 512"));
    // An authority the clinic's issued, which the trust store does not hold: the signed message
    // carries the signer's certificate only, so nothing links the signer to the clinic.
    ASSERT_TRUE(run("openssl genrsa -out " + quoted(path("ward-key.pem")) + " 2048"));
    Leaf ward_leaf;
    ward_leaf.key = "ward-key.pem";
    issue("/O=Clinic/CN=Ward CA", "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign", ward_leaf);
    ASSERT_TRUE(platform::atomic_write_file(path("ward.pem"), read("leaf1.pem")));
    ASSERT_TRUE(run("openssl req -new -key " + quoted(path("key.pem")) + " -subj '/O=Clinic/CN=Dr Ward' -out " +
                    quoted(path("ward-req.pem"))));
    ASSERT_TRUE(run("openssl x509 -req -days 30 -set_serial 99 -in " + quoted(path("ward-req.pem")) + " -CA " +
                    quoted(path("ward.pem")) + " -CAkey " + quoted(path("ward-key.pem")) + " -out " +
                    quoted(path("dr-ward.pem"))));
    Leaf expired, md5, sha1, short_key;
    expired.end = "20210101000000Z";
    md5.md = "md5";
    sha1.md = "sha1";
    short_key.key = "short-key.pem";
    struct Case {
        const char* what;
        Certificate signer;
        const char* why;  // after "the certificate of "<CN>" "
    };
    const Case cases[] = {
        {"expired", issue("/O=Clinic/CN=Dr Old", "", expired), "has expired"},
        {"an unknown critical extension", issue("/O=Clinic/CN=Dr Odd", "1.3.6.1.4.1.55555.7=critical,ASN1:NULL"),
         "has a critical extension that this system does not know"},
        {"signed with MD5", issue("/O=Clinic/CN=Dr Md5", "", md5),
         "is signed with a digest too weak to be safe (MD5 or SHA-1)"},
        {"signed with SHA-1", issue("/O=Clinic/CN=Dr Sha1", "", sha1),
         "is signed with a digest too weak to be safe (MD5 or SHA-1)"},
        {"a 512-bit key", issue("/O=Clinic/CN=Dr Short", "", short_key),
         "has a key too short to be safe (RSA keys need at least 1024 bits)"},
        {"issued by an authority outside the trust store", with_key(read("dr-ward.pem")),
         "was not issued by an authority that this site trusts"},
    };
    const std::string archive = work + "/ARCH", report = archive + "/R.IMG";
    std::filesystem::create_directories(report);
    ASSERT_TRUE(platform::atomic_write_file(report + "/page.0", "page"));
    ASSERT_TRUE(platform::atomic_write_file(archive + "/ARCHINFO.DAT", ""));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.signer.empty());
        const std::string who = "the certificate of \"" + c.signer.subject_name() + "\" ";
        SignatureRecord r = testing::signer_record({c.signer, "", "", ""});
        const auto stored = sign_and_store_report(r, report, "Refused", "");
        ASSERT_FALSE(stored);
        EXPECT_EQ(stored.error().code, kErrUntrusted);
        EXPECT_EQ(stored.error().message, with_text(kNotForSigningText, who + c.why));
        EXPECT_EQ(read("ARCH/ARCHINFO.DAT"), "");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(archive), {}), 2) << "only R.IMG and the index";
        EXPECT_TRUE(std::filesystem::is_empty(root.tmp()));

        // Made all the same, now: intact, and not signed.
        r.signing_time = ole_date_from_time(std::time(nullptr));
        ASSERT_TRUE(fill_certificate_fields(r));
        auto content = build_signed_content(r, {{"page.0", report + "/page.0"}});
        ASSERT_TRUE(content);
        auto envelope = sign(c.signer, *content);
        ASSERT_TRUE(envelope) << envelope.error().message;
        ASSERT_TRUE(platform::atomic_write_file(path("made.dat"), *envelope));
        auto restored = verify_signed_report(path("made.dat"));
        ASSERT_TRUE(restored) << restored.error().message;
        EXPECT_FALSE(restored->signers()[0].verified);
        const std::string& problem = restored->signers()[0].problem;
        EXPECT_EQ(problem.rfind(who, 0), 0u) << problem;
        EXPECT_NE(signature_details_text(restored->signers()[0]).find("Signature not verified"), std::string::npos);
    }
    // With the authority in the trust store, its signer signs.
    ASSERT_TRUE(platform::atomic_write_file(platform::trust_store_dir() + "/ward.pem", read("ward.pem")));
    EXPECT_TRUE(sign_and_store_report(testing::signer_record({with_key(read("dr-ward.pem")), "", "", ""}), report,
                                      "Signed", ""));
}

// A relocated root's trust store counts only while nobody but root or the account running the
// program owns it or could write it; otherwise it is ignored with an event-log entry.
// A site withdraws its trust in one signer by putting its authority's revocation list (PEM or
// DER) beside the certificates: that signer's reports, made before the withdrawal too, no longer
// count as signed and it cannot sign; the authority's other signers are untouched, and a list the
// authority did not sign withdraws nothing.
TEST_F(IssuedByTheStockTools, ARevocationListInTheTrustStoreWithdrawsASigner) {
    const Certificate revoked = issue("/O=Clinic/CN=Dr Leaked", "");
    const Certificate kept = issue("/O=Clinic/CN=Dr Kept", "");
    const std::string report = work + "/R.IMG";
    std::filesystem::create_directories(report);
    ASSERT_TRUE(platform::atomic_write_file(report + "/page.0", "page"));
    const auto sign = [&](const Certificate& c, const std::string& out) {
        testing::TestIdentity id;
        id.certificate = c;
        SignatureRecord r = testing::signer_record(id);
        r.signing_time = ole_date_from_time(std::time(nullptr));
        EXPECT_TRUE(sign_report_folder(r, report, "", path(out)));
    };
    sign(revoked, "leaked.dat");
    sign(kept, "kept.dat");
    const auto verified = [&](const std::string& name) {
        auto restored = verify_signed_report(path(name));
        EXPECT_TRUE(restored) << restored.error().message;
        return restored ? restored->signers()[0] : SignatureRecord{};
    };
    ASSERT_TRUE(verified("leaked.dat").verified) << verified("leaked.dat").problem;

    const std::string ca = "openssl ca -batch -config " + quoted(path("ca.cnf")) + " -cert " + quoted(path("ca.pem")) +
                           " -keyfile " + quoted(path("ca-key.pem"));
    ASSERT_TRUE(run(ca + " -revoke " + quoted(path("leaf1.pem"))));
    ASSERT_TRUE(run(ca + " -gencrl -crldays 30 -out " + quoted(path("crl.pem"))));
    ASSERT_TRUE(run("openssl crl -in " + quoted(path("crl.pem")) + " -outform DER -out " + quoted(path("crl.der"))));
    // The same list signed by a stranger who took the authority's name.
    ASSERT_TRUE(run("openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/O=Clinic/CN=Clinic CA' -keyout " +
                    quoted(path("stranger-key.pem")) + " -out " + quoted(path("stranger.pem"))));
    ASSERT_TRUE(run("openssl ca -batch -config " + quoted(path("ca.cnf")) + " -cert " + quoted(path("stranger.pem")) +
                    " -keyfile " + quoted(path("stranger-key.pem")) + " -gencrl -crldays 30 -out " +
                    quoted(path("forged-crl.pem"))));

    const std::string withdrawn = "the certificate of \"Dr Leaked\" has been revoked by its issuer";
    const struct {
        const char* file;
        const char* source;
        bool withdraws;
    } lists[] = {{"clinic.crl", "crl.pem", true},
                 {"clinic-crl.der", "crl.der", true},
                 {"forged.crl", "forged-crl.pem", false}};
    const std::string store = platform::trust_store_dir();
    for (const auto& l : lists) {
        SCOPED_TRACE(l.file);
        ASSERT_TRUE(platform::atomic_write_file(store + "/" + l.file, read(l.source)));
        ASSERT_EQ(::chmod((store + "/" + l.file).c_str(), 0644), 0);
        const SignatureRecord leaked = verified("leaked.dat");
        EXPECT_EQ(leaked.verified, !l.withdraws);
        EXPECT_EQ(leaked.problem.find(withdrawn) == 0, l.withdraws) << leaked.problem;
        EXPECT_TRUE(verified("kept.dat").verified) << verified("kept.dat").problem;
        EXPECT_EQ(signing_refusal(revoked, std::time(nullptr)).find(withdrawn) == 0, l.withdraws);
        EXPECT_EQ(signing_refusal(kept, std::time(nullptr)), "");
        std::filesystem::remove(store + "/" + l.file);
    }
}

TEST_F(IssuedByTheStockTools, ARelocatedTrustStoreCountsOnlyWhileOthersCannotChangeIt) {
    const Certificate anna = issue("/O=Clinic/CN=Anna Smith", "");
    const std::string store = platform::trust_store_dir(), file = store + "/clinic-ca.pem";
    const auto events = [] { return platform::read_whole_file(platform::event_log_file()).value_or(""); };
    struct Case {
        const char* what;
        std::function<void()> change, undo;
    };
    const Case cases[] = {
        {"folder writable by the group", [&] { ::chmod(store.c_str(), 0775); }, [&] { ::chmod(store.c_str(), 0755); }},
        {"file writable by others", [&] { ::chmod(file.c_str(), 0646); }, [&] { ::chmod(file.c_str(), 0644); }},
        {"folder of another account", [&] { ASSERT_EQ(::chown(store.c_str(), 54321, 54321), 0); },
         [&] { ASSERT_EQ(::chown(store.c_str(), ::getuid(), ::getgid()), 0); }},
        {"file of another account", [&] { ASSERT_EQ(::chown(file.c_str(), 54321, 54321), 0); },
         [&] { ASSERT_EQ(::chown(file.c_str(), ::getuid(), ::getgid()), 0); }},
        // Another account's link to a folder that the account running the program owns and that
        // holds the authority: the link is what counts.
        {"store replaced by another account's link",
         [&] {
             ASSERT_EQ(::rename(store.c_str(), (store + ".real").c_str()), 0);
             ASSERT_EQ(::symlink((store + ".real").c_str(), store.c_str()), 0);
             ASSERT_EQ(::lchown(store.c_str(), 54321, 54321), 0);
         },
         [&] {
             ASSERT_EQ(::unlink(store.c_str()), 0);
             ASSERT_EQ(::rename((store + ".real").c_str(), store.c_str()), 0);
         }},
        {"store replaced by a link of the account's own",
         [&] {
             ASSERT_EQ(::rename(store.c_str(), (store + ".real").c_str()), 0);
             ASSERT_EQ(::symlink("trust.real", store.c_str()), 0);
         },
         [&] {
             ASSERT_EQ(::unlink(store.c_str()), 0);
             ASSERT_EQ(::rename((store + ".real").c_str(), store.c_str()), 0);
         }},
    };
    ::chmod(store.c_str(), 0755);
    ::chmod(file.c_str(), 0644);
    EXPECT_TRUE(check_trust(anna, {}, std::time(nullptr)).ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t logged = events().size();
        c.change();
        EXPECT_FALSE(check_trust(anna, {}, std::time(nullptr)).ok());
        const std::string entry = events().substr(logged);
        EXPECT_NE(entry.find("\ttolbex\tWarning\t0\t" + std::to_string(kEventTrustStoreIgnored) + "\t"),
                  std::string::npos)
            << entry;
        c.undo();
        EXPECT_TRUE(check_trust(anna, {}, std::time(nullptr)).ok());
    }
}

// PKCS#12 files in the older format (RC2-40 and 3DES), as many authorities still hand them out,
// open with their password.
TEST_F(OpensslCli, ALegacyPkcs12FileOpensWithItsPassword) {
    const auto id = testing::make_identity("Anna Smith", "Clinic CA", "01");
    ASSERT_TRUE(platform::atomic_write_file(path("c.pem"), id.cert_pem));
    ASSERT_TRUE(platform::atomic_write_file(path("k.pem"), id.key_pem));
    ASSERT_TRUE(run("openssl pkcs12 -export -legacy -in " + quoted(path("c.pem")) + " -inkey " + quoted(path("k.pem")) +
                    " -passout pass:pw1 -out " + quoted(path("legacy.p12"))));
    auto store = platform::make_memory_cert_store();
    ASSERT_TRUE(store->put("legacy.p12", read("legacy.p12")));
    Crypto crypto(*store);
    EXPECT_EQ(crypto.locked_text(), kLockedCertificatesText);
    EXPECT_EQ(crypto.unlock("wrong"), 0u);
    EXPECT_EQ(crypto.locked_text(), kLockedCertificatesText);
    EXPECT_EQ(crypto.unlock("pw1"), 1u);
    EXPECT_EQ(crypto.locked_text(), "");
    EXPECT_TRUE(crypto.find_certificate(id.certificate.fingerprint()).has_private_key());
}

}  // namespace
}  // namespace tv::signing
