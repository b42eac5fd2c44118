#include "tolbex/signing/signed_report.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/audit_log.h"
#include "common/bytes.h"
#include "common/files.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "testing/hostile_entries.h"
#include "testing/test_root.h"
#include "tolbex/signing/tests/signing_fixture.h"

namespace tv::signing {
namespace {

using Files = std::map<std::string, std::string>;

Files read_folder(const std::string& folder) {
    Files out;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        out[e.path().filename().string()] = *platform::read_whole_file(e.path().string());
    return out;
}

void write_folder(const std::string& folder, const Files& files) {
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : files) ASSERT_TRUE(platform::atomic_write_file(folder + "/" + name, bytes));
}

class SignedReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(platform::trust_store_dir());
        std::ofstream(platform::trust_store_dir() + "/clinic-ca.pem") << ca.id.cert_pem;
        report = root / "ARCH/ABC123.IMG";
        write_folder(report, report_files);
        std::filesystem::create_directories(report + "/sub");
        ASSERT_TRUE(platform::atomic_write_file(report + "/sub/not packed", "x"));
        ASSERT_TRUE(platform::atomic_write_file(report + "/.hidden", "x"));
        output = root / "signed.dat";
    }
    // Signs the report into `output`; the file's bytes.
    std::string sign_it(const std::string& bitmap = {}) {
        SignatureRecord record = testing::signer_record(id);
        auto r = sign_report_folder(record, report, bitmap, output);
        EXPECT_TRUE(r) << r.error().message;
        return *platform::read_whole_file(output);
    }
    Result<RestoredReport> verify_bytes(const std::string& bytes) {
        const std::string path = root / "changed.dat";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return verify_signed_report(path);
    }

    platform::testing::TempRoot root;
    testing::TestCa ca = testing::make_ca("Clinic CA");
    testing::TestIdentity id = testing::make_issued_identity("Anna Smith", ca);
    Files report_files{{"page.0", std::string(3000, '\x01')},
                       {"PAGE.1", "second page"},
                       {"PATIENT.TXT", "--\r\nname\r\n"},
                       {"a name with spaces.txt", ""},
                       {"signature.bmp", "the report's own file"}};
    std::string report, output;
};

TEST_F(SignedReportTest, SignVerifyRestoreByteForByte) {
    sign_it();
    auto restored = verify_signed_report(output);
    ASSERT_TRUE(restored) << restored.error().message;
    EXPECT_EQ(read_folder(restored->folder()), report_files);
    struct stat st;
    ASSERT_EQ(::stat(restored->folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(restored->signers().size(), 1u);
    const SignatureRecord& s = restored->signers()[0];
    EXPECT_EQ(restored->kind(), SignedReportKind::Formatted);
    EXPECT_EQ(s.signer_name, "Anna Smith");
    EXPECT_EQ(s.logon_name, "asmith");
    EXPECT_EQ(s.system_name, "WARD7");
    EXPECT_EQ(s.meaning, 1u);
    EXPECT_EQ(s.issued_to, "Anna Smith");
    EXPECT_EQ(s.issued_by, "Clinic CA");
    EXPECT_EQ(s.valid_to, "03:04:05 02 Jan 2044");
    EXPECT_EQ(s.fingerprint, id.certificate.fingerprint());
    EXPECT_TRUE(s.verified) << s.problem;
    EXPECT_EQ(signing_time_text(s), "12:00:00 15 Mar 2023");
    // The restore folder goes with the object.
    const std::string folder = restored->folder();
    { auto gone = std::move(*restored); }
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(SignedReportTest, BitmapIsPackedFromItsOwnPathAndTheReportIsNotTouched) {
    ASSERT_TRUE(platform::atomic_write_file(root / "mine.bmp", "BM signer"));
    sign_it(root / "mine.bmp");
    EXPECT_EQ(read_folder(report).at("signature.bmp"), "the report's own file");
    auto restored = verify_signed_report(output);
    ASSERT_TRUE(restored);
    Files expected = report_files;
    expected["signature.bmp"] = "BM signer";
    EXPECT_EQ(read_folder(restored->folder()), expected);
}

TEST_F(SignedReportTest, OnlyUpperCaseSignableExtensionsGiveTheirKind) {
    struct Case {
        const char* folder;
        int kind;  // -1: refused
    } cases[] = {{"R.IMG", 0}, {"R.TIM", 1}, {"R.SUM", 2}, {"R.img", -1}, {"R.FUL", -1}, {"NOEXT", -1}};
    for (const auto& c : cases) {
        auto k = signable_kind(root / c.folder);
        if (c.kind < 0) {
            ASSERT_FALSE(k) << c.folder;
            EXPECT_EQ(k.error().message, "Unable to sign this report type");
        } else {
            ASSERT_TRUE(k) << c.folder;
            EXPECT_EQ(static_cast<int>(*k), c.kind);
        }
    }
}

#ifndef SIGNING_FLIP_STRIDE
#define SIGNING_FLIP_STRIDE 23
#endif
constexpr std::size_t kStride = SIGNING_FLIP_STRIDE;

TEST_F(SignedReportTest, AFlippedByteAnywhereIsRefused) {
    // Self-signed, so that the certificate's own bytes are checked too, and named by its common
    // name alone, so that every part of the name is one that is shown.
    id = testing::make_identity("Anna Smith", "", "0102030405060708090A0B0C0D0E0F1011121314",
                                testing::shared_test_key(), false);
    const std::string good = sign_it();
    ASSERT_TRUE(verify_bytes(good));
    // The envelope and message heads byte by byte, then positions spread over the whole file
    // (certificate, content, signature).
    std::string accepted;
    for (std::size_t at = 0; at < good.size(); at += at < 96 ? 1 : kStride) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x01);
        auto r = verify_bytes(bad);
        if (r) {
            accepted += " " + std::to_string(at);
            continue;
        }
        // Only a key-blob length beyond the data fails without a text, as the envelope reader does.
        if (r.error().code == kErrEnvelope)
            EXPECT_LT(at, 4u);
        else
            EXPECT_FALSE(r.error().message.empty()) << at;
    }
    EXPECT_EQ(accepted, "") << "flipped bytes accepted of " << good.size();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.tmp()), {}), 0) << "a restore was left behind";
}

TEST_F(SignedReportTest, TruncatedUnknownSignerAndWrongEnvelopeAreRefusedWithTheirMessages) {
    const std::string good = sign_it();
    for (std::size_t n :
         {std::size_t{0}, std::size_t{3}, std::size_t{4}, std::size_t{100}, good.size() / 2, good.size() - 1}) {
        auto r = verify_bytes(good.substr(0, n));
        ASSERT_FALSE(r) << n;
        EXPECT_EQ(r.error().message, n < 4 ? "" : "CryptMsgUpdate() failed : the data is not a PKCS #7 message") << n;
    }
    // A message that carries no certificate for its signer.
    auto message = decrypt_envelope(good);
    ASSERT_TRUE(message);
    {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(message->data());
        PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(message->size()));
        ASSERT_NE(p7, nullptr);
        sk_X509_pop_free(p7->d.sign->cert, X509_free);
        p7->d.sign->cert = nullptr;
        unsigned char* der = nullptr;
        const int n = i2d_PKCS7(p7, &der);
        auto r = verify_bytes(encrypt_envelope(std::string(reinterpret_cast<char*>(der), n)));
        OPENSSL_free(der);
        PKCS7_free(p7);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message,
                  "There was an error reading the name of the message signer from the certificate store.");
    }
    // The right message under another key.
    {
        std::string env = encrypt_envelope(std::string(message->size(), '\0'));
        for (std::size_t i = 0; i < message->size(); ++i)
            env[4 + i] = static_cast<char>(env[4 + i] ^ (*message)[i] ^ 0x5A);
        auto r = verify_bytes(env);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message, "CryptMsgUpdate() failed : the data is not a PKCS #7 message");
    }
    auto missing = verify_signed_report(root / "none.dat");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message, "The signed report file is not valid : " + (root / "none.dat"));
}

// Signs `content` as it stands, so a test can hand the reader any SignedContent.
std::string signed_file_of(const testing::TestIdentity& id, const std::string& content) {
    return *sign(id.certificate, content);
}

std::string header_bytes(const SignatureRecord& r) {
    std::string h;
    append_signature_header(h, r);
    return h;
}

TEST_F(SignedReportTest, SignedContentIsLaidOutAsPeersReadIt) {
    SignatureRecord r = testing::signer_record(id);
    r.kind = 1;
    r.meaning = 0;
    r.issued_to = "To";
    r.issued_by = "By";
    r.valid_from = "F";
    r.valid_to = "T";
    ASSERT_TRUE(platform::atomic_write_file(root / "x y", "abc"));
    ASSERT_TRUE(platform::atomic_write_file(root / "e", ""));
    auto content = build_signed_content(r, {{"x y", root / "x y"}, {"e", root / "e"}});
    ASSERT_TRUE(content);
    std::string expected("\x01\0\0\0\x01\0\0\0", 8);
    expected += std::string("\x01\0\0\0", 4) + std::string("\0\0\0\0\x10\xf9\xe5\x40", 8) + std::string(4, '\0');
    expected += std::string("Anna Smith\0", 11) + std::string(4, '\0');
    expected += std::string("asmith\0WARD7\0\0To\0By\0F\0T\0", 24);
    expected += std::string("\x02\0\0\0", 4) + "x y 3\ne 0\nabc";
    EXPECT_EQ(*content, expected);
}

TEST_F(SignedReportTest, HeaderStringsAreCutAt1024AndTheFieldsStayAligned) {
    SignatureRecord r = testing::signer_record(id);
    r.signer_name = std::string(1500, 'n');
    const std::string bytes = header_bytes(r) + "after";
    SignatureRecord back;
    std::size_t pos = 0;
    ASSERT_TRUE(read_signature_header(bytes, pos, back));
    EXPECT_EQ(back.signer_name, std::string(1024, 'n'));
    EXPECT_EQ(back.meaning, 1u);
    EXPECT_EQ(back.logon_name, "asmith");
    EXPECT_EQ(bytes.substr(pos), "after");
}

TEST_F(SignedReportTest, ContentThatDoesNotAddUpIsRefusedAndNothingIsWritten) {
    SignatureRecord r = testing::signer_record(id);
    ASSERT_TRUE(fill_certificate_fields(r));
    const std::string head = std::string("\x01\0\0\0\x01\0\0\0", 8) + header_bytes(r);
    auto with_files = [&](std::uint32_t count, const std::string& rest) {
        std::string c = head;
        tv::append_le32(c, count);
        return c + rest;
    };
    const std::string not_valid = "The signed report file is not valid : " + (root / "changed.dat");
    struct Case {
        const char* what;
        std::string content;
        std::string message;
    } cases[] = {
        {"traversal", with_files(1, "../evil 1\nx"), not_valid},
        {"absolute", with_files(1, "/tmp/evil 1\nx"), not_valid},
        {"backslash", with_files(1, "..\\evil 1\nx"), not_valid},
        {"carriage return", with_files(1, "a\rb 1\nx"), not_valid},
        {"negative size", with_files(1, "a -1\nx"), not_valid},
        {"size beyond the data", with_files(1, "a 99\nx"), not_valid},
        {"sizes short of the data", with_files(1, "a 1\nxy"), not_valid},
        {"huge size", with_files(1, "a 18446744073709551615\nx"), not_valid},
        {"no size", with_files(1, "a\nx"), not_valid},
        {"absurd count", with_files(0xFFFFFFFF, "a 1\nx"), not_valid},
        {"duplicate name", with_files(2, "a 1\na 1\nxy"), not_valid},
        {"header cut short", head.substr(0, 20), not_valid},
        {"more headers than signers", std::string("\x01\0\0\0\x02\0\0\0", 8) + header_bytes(r) + header_bytes(r),
         "The number of signatures in the message does not match the number of signatures in the header"},
        {"version 2", std::string("\x02\0\0\0\x01\0\0\0", 8) + header_bytes(r) + std::string(4, '\0'), ""},
    };
    for (const auto& c : cases) {
        auto v = verify_bytes(signed_file_of(id, c.content));
        ASSERT_FALSE(v) << c.what;
        EXPECT_EQ(v.error().message, c.message) << c.what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.tmp()), {}), 0) << c.what;
    }
    auto ok = verify_bytes(signed_file_of(id, with_files(2, "b c 1\na 2\nxyz")));
    ASSERT_TRUE(ok) << ok.error().message;
    EXPECT_EQ(read_folder(ok->folder()), (Files{{"b c", "x"}, {"a", "yz"}}));
}

// An intact signature is shown as signed only when the site trusts its signer and the header tells
// the truth about the certificate; otherwise the report opens with the reason and no details.
TEST_F(SignedReportTest, OnlyATrustedSignerWithATruthfulHeaderIsVerified) {
    SignatureRecord r = testing::signer_record(id);
    ASSERT_TRUE(fill_certificate_fields(r));
    const auto header_file = [&](const SignatureRecord& claimed, const testing::TestIdentity& signer) {
        std::string content = std::string("\x01\0\0\0\x01\0\0\0", 8) + header_bytes(claimed);
        tv::append_le32(content, 0);
        return signed_file_of(signer, content);
    };
    const testing::TestIdentity forged = testing::make_identity("Anna Smith", "Clinic CA");
    SignatureRecord forged_record = testing::signer_record(forged);
    ASSERT_TRUE(fill_certificate_fields(forged_record));
    struct Case {
        const char* what;
        std::string bytes;
        const char* problem;
    };
    std::vector<Case> cases = {{"a self-made certificate with the signer's names", header_file(forged_record, forged),
                                "was not issued by an authority that this site trusts"}};
    for (auto field : {&SignatureRecord::issued_to, &SignatureRecord::issued_by, &SignatureRecord::valid_from,
                       &SignatureRecord::valid_to}) {
        SignatureRecord claimed = r;
        claimed.*field = "Someone Else";
        cases.push_back({"a header field changed", header_file(claimed, id), "the signature's header gives"});
    }
    SignatureRecord undated = r;
    undated.signing_time_status = kTimeNull;
    cases.push_back({"no signing time", header_file(undated, id), "does not say when it was made"});
    SignatureRecord future = r, soon = r;
    future.signing_time = ole_date_from_time(std::time(nullptr) + 300 * 86400);
    soon.signing_time = ole_date_from_time(std::time(nullptr) + 60);
    cases.push_back({"dated 300 days ahead", header_file(future, id), "the signature is dated later than now"});
    cases.push_back({"a minute ahead: a clock running fast", header_file(soon, id), ""});
    cases.push_back({"the truth", header_file(r, id), ""});
    for (const Case& c : cases) {
        auto v = verify_bytes(c.bytes);
        ASSERT_TRUE(v) << c.what << ": " << v.error().message;
        const SignatureRecord& s = v->signers().front();
        EXPECT_EQ(s.verified, !*c.problem) << c.what << ": " << s.problem;
        EXPECT_NE(s.problem.find(c.problem), std::string::npos) << c.what << ": " << s.problem;
        // Whatever the header claims, what is shown is the certificate's.
        EXPECT_EQ(s.issued_to, "Anna Smith");
        EXPECT_EQ(s.signer_name, "Anna Smith");
        EXPECT_EQ(s.valid_to, "03:04:05 02 Jan 2044") << c.what;
        EXPECT_EQ(signature_details_text(s).find("Signature not verified : ") != std::string::npos, !s.verified);
    }
}

// Whoever made a certificate, or wrote a header, chose its texts: a line break in them never
// starts a line of the details, the page or a message, and the header agrees with the
// certificate as before.
TEST_F(SignedReportTest, CertificateAndHeaderTextsStayOneLine) {
    id = testing::make_issued_identity("Anna\r\nThis TIMI Data Report was signed", ca);
    SignatureRecord record = testing::signer_record(id);
    record.logon_name = "asmith\r\nSigner name : Mallory";
    ASSERT_TRUE(sign_report_folder(record, report, "", output));
    auto v = verify_signed_report(output);
    ASSERT_TRUE(v) << v.error().message;
    const SignatureRecord& s = v->signers().front();
    EXPECT_TRUE(s.verified) << s.problem;
    EXPECT_EQ(s.signer_name, "Anna\\x0D\\x0AThis TIMI Data Report was signed");
    EXPECT_EQ(s.issued_to, s.signer_name);
    EXPECT_EQ(s.logon_name, "asmith\\x0D\\x0ASigner name : Mallory");
    const std::string details = timi_data_signature_message(v->signers());
    EXPECT_EQ(details.find("\nThis TIMI"), std::string::npos) << details;
    EXPECT_EQ(details.find("\nSigner name"), details.rfind("\nSigner name")) << details;
}

TEST_F(SignedReportTest, NamesASignedReportCannotHoldAreRefusedBeforeSigning) {
    for (const char* bad : {"line\nbreak", "car\rriage", "\xe5\x90\x8d.txt", "\xff\xfe"}) {
        const std::string folder = root / (std::string("R") + std::to_string(bad[0] & 0xFF) + ".IMG");
        write_folder(folder, {{"ok", "x"}, {bad, "y"}});
        SignatureRecord record = testing::signer_record(id);
        auto r = sign_report_folder(record, folder, "", output);
        ASSERT_FALSE(r) << bad;
        EXPECT_EQ(r.error().code, kErrFileName);
        EXPECT_EQ(r.error().message.rfind("The report cannot be signed, because the name of its file ", 0), 0u);
    }
    // Accented names Windows-1252 holds are kept, and come back as they were on disk.
    const std::string folder = root / "ACC.IMG";
    write_folder(folder, {{"r\xc3\xa9sum\xc3\xa9.txt", "x"}});
    SignatureRecord record = testing::signer_record(id);
    ASSERT_TRUE(sign_report_folder(record, folder, "", output));
    auto v = verify_signed_report(output);
    ASSERT_TRUE(v);
    EXPECT_EQ(read_folder(v->folder()), (Files{{"r\xc3\xa9sum\xc3\xa9.txt", "x"}}));
}

TEST_F(SignedReportTest, LinksSpecialFilesAndCaseTwinsRefuseTheFolderWhole) {
    int n = 0;
    for (const auto& entry : tv::testing::hostile_entries()) {
        const std::string folder = root / ("H" + std::to_string(n++) + ".IMG");
        write_folder(folder, report_files);
        entry.plant(folder, root / "secrets");
        SignatureRecord record = testing::signer_record(id);
        auto r = sign_report_folder(record, folder, "", output);
        ASSERT_FALSE(r) << entry.what;
        EXPECT_EQ(r.error().code, kErrFile) << entry.what;
        EXPECT_NE(r.error().message.find(std::string("\"") + entry.name + "\""), std::string::npos)
            << r.error().message;
        EXPECT_FALSE(std::filesystem::exists(output)) << entry.what;
    }
}

// A report folder another account swapped for a link is not signed; a signed file that is a link
// (to another signed report), in a linked folder, or a FIFO is not verified, and never waited for.
TEST_F(SignedReportTest, ALinkedFolderOrSignedFileAndAFifoAreRefused) {
    std::filesystem::create_directory_symlink(report, root / "LINKED.IMG");
    SignatureRecord record = testing::signer_record(id);
    auto r = sign_report_folder(record, root / "LINKED.IMG", "", output);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "The report folder \"" + (root / "LINKED.IMG") +
                                     "\" is a link to another place, so it cannot be signed.");
    EXPECT_FALSE(std::filesystem::exists(output));

    sign_it();
    ASSERT_TRUE(verify_signed_report(output));
    std::filesystem::create_symlink(output, root / "link.dat");
    std::filesystem::create_directory_symlink(root.path(), root / "folder-link");
    ASSERT_EQ(::mkfifo((root / "fifo.dat").c_str(), 0600), 0);
    for (const std::string& path : {root / "link.dat", root / "folder-link/signed.dat", root / "fifo.dat"}) {
        auto v = verify_signed_report(path);
        ASSERT_FALSE(v) << path;
        EXPECT_EQ(v.error().code, kErrInvalid) << path;
    }
    EXPECT_NE(verify_signed_report(root / "link.dat").error().message.find("is a link"), std::string::npos);
}

TEST_F(SignedReportTest, AFileThatCannotBeReadAbortsWithASeriousFileError) {
    SignatureRecord record = testing::signer_record(id);
    ASSERT_TRUE(fill_certificate_fields(record));
    auto r = write_signed_file(record, {{"gone", root / "gone"}}, output);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message.rfind("Serious file error : gone : ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(SignedReportTest, SignAndStoreAddsATypeSignedReportToTheSameArchive) {
    ASSERT_TRUE(platform::atomic_write_file(root / "ARCH/ARCHINFO.DAT", ""));
    auto stored = sign_and_store_report(testing::signer_record(id), report, "Formatted report", "");
    ASSERT_TRUE(stored) << stored.error().message;
    EXPECT_EQ(get_path_folder(*stored), root / "ARCH");
    EXPECT_EQ(get_extension_upper(*stored), "SGN");
    const Files files = read_folder(*stored);
    ASSERT_EQ(files.size(), 1u);
    auto v = verify_signed_report(*stored + "/signed.dat");
    ASSERT_TRUE(v) << v.error().message;
    EXPECT_EQ(read_folder(v->folder()), report_files);
    EXPECT_NE(platform::read_whole_file(root / "ARCH/ARCHINFO.DAT")->find("Signed Report"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.tmp()), {}), 1) << "only the restore is left";
}

TEST(SignatureTexts, DetailsAsShown) {
    SignatureRecord r;
    r.signing_time = 45000.5;
    r.signing_time_status = kTimeValid;
    r.signer_name = "Anna Smith";
    r.logon_name = "asmith";
    r.system_name = "WARD7";
    r.issued_to = "Anna Smith";
    r.issued_by = "Clinic CA";
    r.valid_from = "03:04:05 02 Jan 2024";
    r.valid_to = "03:04:05 02 Jan 2044";
    r.fingerprint = "0a1b";
    r.verified = true;
    const std::string lines =
        "Date and time of signing : 12:00:00 15 Mar 2023\nSigner name : Anna Smith\n"
        "Signature meaning : Report has been reviewed\nSigner login name : asmith\nSystem name : WARD7\n"
        "Certificate Details\n\nIssued to : Anna Smith\nIssued by : Clinic CA\n"
        "Valid from : 03:04:05 02 Jan 2024\nValid to : 03:04:05 02 Jan 2044\nSHA-256 fingerprint : 0a1b\n\n";
    EXPECT_EQ(signature_details_text(r), "Signature Details\n\n" + lines + std::string(73, '-') + "\n\n");
    EXPECT_EQ(timi_data_signature_message({r}),
              "This TIMI Data Report was signed with the following details\n\nSignature Details\n\n" + lines);
    // One signature the site does not trust: the message says so for the whole report.
    SignatureRecord stranger;
    stranger.problem = "the certificate of \"Mallory\" was not issued by an authority that this site trusts";
    EXPECT_EQ(timi_data_signature_message({r, stranger}),
              "The signature of this TIMI Data Report cannot be trusted\n\nSignature Details\n\n" + lines +
                  "Signature Details\n\nSignature not verified : " + stranger.problem +
                  ".\nThis report must not be taken as signed.\n\n");
    r.meaning = 1;
    EXPECT_NE(signature_details_text(r).find("Signature meaning : Report has been approved\n"), std::string::npos);
    r.verified = false;
    r.problem = "the certificate of \"Anna Smith\" had expired when the report was signed";
    EXPECT_EQ(signature_details_text(r), "Signature Details\n\nSignature not verified : " + r.problem +
                                             ".\nThis report must not be taken as signed.\n\n" + std::string(73, '-') +
                                             "\n\n");
    EXPECT_EQ(timi_data_signature_message({r}),
              "The signature of this TIMI Data Report cannot be trusted\n\nSignature "
              "Details\n\nSignature not verified : " +
                  r.problem + ".\nThis report must not be taken as signed.\n\n");
    const std::string summary = signed_timi_summary_text("", {r});
    EXPECT_EQ(summary.substr(0, summary.find('\n') + 1),
              "Brisco Torvane Medical - TIMI Summary Report - Signature not verified\r\n");
    r.signing_time = -1.25;
    EXPECT_EQ(signing_time_text(r), "06:00:00 29 Dec 1899");
    r.signing_time_status = kTimeNull;
    EXPECT_EQ(signing_time_text(r), "");
}

}  // namespace
}  // namespace tv::signing
