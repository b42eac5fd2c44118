// A signed report (type 522) is its container on every route of the command line: printing,
// conversion, export and a store elsewhere work on what signed.dat restores, never on pages
// placed beside it, and a container that does not verify gives nothing.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <ctime>

#include "common/audit_log.h"
#include "common/bytes.h"
#include "platform/paths.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/tests/cli_fixture.h"
#include "tools/demo/demo_signing.h"

namespace cli {
namespace {

constexpr const char* kDate = "Wed Jan 02 02:03:55 1980";

// A page record of the page-file layout: one text at (x, y).
std::string text_page(const std::string& s) {
    std::string payload;
    for (std::uint32_t w : {3200u, 6400u, static_cast<std::uint32_t>(s.size())}) tv::append_le32(payload, w);
    payload += s;
    std::string o;
    for (std::uint32_t w : {static_cast<std::uint32_t>(payload.size() + 16), 0u, 0u, 0u, 63u}) tv::append_le32(o, w);
    return o + payload;
}

class SignedRoutesTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        auto certificate = tv::demo::make_demo_certificate();
        ASSERT_TRUE(certificate) << certificate.error().message;
        g = t / "G";
        make_group(g, {{"STANDARD", "STANDARD"}});
        g2 = t / "G2";
        make_group(g2, {{"STANDARD", "STANDARD"}});
        // What was signed: two pages, the patient and the confirmation.
        write_report(plain, "Smith, John", {"Genuine conclusion", "Genuine page two"});
        demo_certificate = *certificate;
        report = g / "STANDARD" / "S0000001.SGN";
        sign_as(demo_certificate, std::time(nullptr), report);
        append_entry(g / "STANDARD", {"S0000001.SGN", "Signed Holter", kDate, "1000", "Signed Report"});
        pdf_folder = t / "pdf";
        write_hive(root / "user" / "registry" / "HKCU.reg",
                   "[Software\\Torvane Medical\\Calvera\\Pelwin]\r\n\"PDF Output Folder\"=\"" + pdf_folder.string() +
                       "\"\r\n");
        out = t / "OUT";
        fs::create_directories(out);
    }
    // The plain report signed by `certificate` at `when` into `folder`.
    void sign_as(const tv::signing::Certificate& certificate, std::int64_t when, const fs::path& folder) {
        fs::create_directories(folder);
        tv::signing::SignatureRecord record;
        record.certificate = certificate;
        record.signer_name = tv::demo::kDemoSignerName;
        record.meaning = 1;
        record.logon_name = "demo";
        record.signing_time = tv::ole_date_from_time(when);
        record.signing_time_status = tv::signing::kTimeValid;
        const auto signed_file =
            tv::signing::sign_report_folder(record, plain.string(), "", (folder / "signed.dat").string());
        ASSERT_TRUE(signed_file) << signed_file.error().message;
    }
    // The words of the report's signature page, through "/convert" to RTF.
    std::string signature_page_of(const fs::path& folder) {
        fs::remove_all(out);
        fs::create_directories(out);
        const RunResult c = run({"/convert", folder.string(), out.string(), "RTF"});
        EXPECT_EQ(c.code, 0) << c.err;
        const std::string rtf = read_file(out / "REPORT.RTF");
        return rtf.substr(0, rtf.find("\\pagebb"));
    }
    static void write_report(const fs::path& folder, const std::string& patient,
                             const std::vector<std::string>& pages) {
        write_file(folder / "VERSION.TXT", "V8.006\r\n");
        write_file(folder / "SUMMARY.TXT", "Summary\r\n");
        write_file(folder / "PATIENT.TXT", patient_txt("ABCD1234566", patient));
        write_file(folder / "CONFIRM.TXT", "DR. QUILLON\r\n");
        write_file(folder / "PAGE.0", text_page("summary"));
        for (std::size_t i = 0; i < pages.size(); ++i)
            write_file(folder / ("PAGE." + std::to_string(i + 1)), text_page(pages[i]));
    }
    // The forgery: a whole report of four pages with a changed conclusion, beside the container.
    void place_pages(const fs::path& folder) {
        write_report(folder, "Forged, Name",
                     {"Digitally Signed Report", "AF present, paroxysmal.", "Genuine page two", "extra"});
    }
    RunResult print_to(const fs::path& folder, const std::string& title = "") {
        return run({"/printto", folder.string(), "0", "0", "1", "0", "N" + title, "Adobe PDF"});
    }
    // The pages of the one PDF the run wrote, -1 when it wrote none or several.
    int pdf_pages() const {
        if (!fs::is_directory(pdf_folder) || std::distance(fs::directory_iterator(pdf_folder), {}) != 1) return -1;
        const std::string pdf = read_file(fs::directory_iterator(pdf_folder)->path());
        const auto at = pdf.find("/Count ");
        return at == std::string::npos ? -1 : std::stoi(pdf.substr(at + 7));
    }
    // What the runs left in the temporary folder, but for the runtime folder the painting library
    // makes there when the session has none.
    std::vector<std::string> restored_leftovers() const {
        auto names = temp_leftovers();
        std::erase_if(names, [](const std::string& n) { return n.rfind("runtime-", 0) == 0; });
        return names;
    }
    std::vector<std::string> written() const {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path g, g2, report, pdf_folder, out, plain = t / "plain" / "R.IMG";
    tv::signing::Certificate demo_certificate;
};

// The genuine report prints its restored pages after its signature page, named from the signed
// patient; with pages placed beside the container it prints exactly the same.
TEST_F(SignedRoutesTest, PrintingShowsTheSignedContentAndNeverAPlacedPage) {
    for (const bool placed : {false, true}) {
        SCOPED_TRACE(placed ? "pages placed beside" : "the container alone");
        if (placed) place_pages(report);
        fs::remove_all(pdf_folder);
        const RunResult res = print_to(report);
        ASSERT_EQ(res.code, 0) << res.err;
        EXPECT_TRUE(fs::exists(pdf_folder / "Smith, John.pdf"));
        EXPECT_EQ(pdf_pages(), 3) << "the signature page and the two signed pages";
        fs::remove_all(out);
        fs::create_directories(out);
        ASSERT_EQ(run({"/convert", report.string(), out.string(), "RTF"}).code, 0);
        const std::string rtf = read_file(out / "REPORT.RTF");
        EXPECT_NE(rtf.find("Genuine conclusion"), std::string::npos);
        EXPECT_NE(rtf.find(tv::demo::kDemoSignerName), std::string::npos) << "the signature page";
        EXPECT_EQ(rtf.find("not verified"), std::string::npos);
        EXPECT_EQ(rtf.find("AF present"), std::string::npos);
        for (const char* format : {"BMP", "PCX"}) {
            fs::remove_all(out);
            fs::create_directories(out);
            const RunResult c = run({"/convert", (report / "SUMMARY.TXT").string(), out.string(), format});
            ASSERT_EQ(c.code, 0) << c.err;
            EXPECT_EQ(written().size(), 3u) << format;
        }
    }
    EXPECT_EQ(restored_leftovers(), std::vector<std::string>{}) << "a restored copy left behind";
}

// A container that does not verify, or a signed folder without one, prints and converts nothing.
TEST_F(SignedRoutesTest, AContainerThatDoesNotVerifyGivesNothing) {
    const std::string genuine = read_file(report / "signed.dat");
    const struct {
        const char* what;
        std::function<void()> damage;
    } cases[] = {
        {"a byte changed",
         [&] {
             std::string bytes = genuine;
             bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
             write_file(report / "signed.dat", bytes);
         }},
        {"no container", [&] { fs::remove(report / "signed.dat"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(report / "signed.dat", genuine);
        place_pages(report);
        c.damage();
        fs::remove_all(pdf_folder);
        const RunResult p = print_to(report, "T");
        EXPECT_EQ(p.code, 1);
        EXPECT_NE(p.err.find("signed report"), std::string::npos) << p.err;
        EXPECT_EQ(pdf_pages(), -1);
        const RunResult on_default = run({"/print", report.string(), "0", "0", "1", "0", "N"});
        EXPECT_EQ(on_default.code, 1);
        EXPECT_NE(on_default.err.find("signed report"), std::string::npos) << on_default.err;
        for (const char* format : {"RTF", "BMP", "PCX"}) {
            EXPECT_EQ(run({"/convert", report.string(), out.string(), format}).code, 1) << format;
            EXPECT_TRUE(written().empty()) << format;
        }
    }
}

// Export packs the container alone; a store at another group keeps the container alone, also of a
// transfer file made elsewhere with pages beside it, and what it stored prints as signed.
TEST_F(SignedRoutesTest, ExportAndStoreCarryTheContainerAlone) {
    const fs::path x = t / "x" / "S.TVZ";
    fs::create_directories(x.parent_path());
    for (const bool placed : {false, true}) {
        SCOPED_TRACE(placed ? "pages placed beside" : "the container alone");
        if (placed) place_pages(report);
        fs::remove(x);
        const RunResult e = run({"/export", "TVZ", report.string(), x.string(), "x"});
        ASSERT_EQ(e.code, 0) << e.err;
        std::vector<TvzMember> members;
        ASSERT_TRUE(walk_tvz(read_file(x), members));
        std::vector<std::string> names;
        for (const auto& m : members) names.push_back(m.name);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"REPINFO.TXT", "SIGNED.DAT"}));
    }

    // Made elsewhere: the container with a whole forged report beside it.
    std::string forged = tvz_literal_entry("REPINFO.TXT", "Signed Holter\r\n522\r\n1196690709\r\n77\r\n") +
                         tvz_literal_entry("SIGNED.DAT", read_file(report / "signed.dat"));
    for (const auto& [name, bytes] : folder_files(report))
        if (name != "signed.dat") forged += tvz_literal_entry(name, bytes);
    write_file(t / "x" / "F.TVZ", forged);
    for (const fs::path& file : {x, t / "x" / "F.TVZ"}) {
        SCOPED_TRACE(file.filename().string());
        const RunResult s = run({"/store", file.string(), g2.string(), "STANDARD"});
        ASSERT_EQ(s.code, 0) << s.err;
        const auto lines = index_lines(g2 / "STANDARD" / "ARCHINFO.DAT");
        ASSERT_GE(lines.size(), 5u);
        const fs::path stored = g2 / "STANDARD" / lines[lines.size() - 5];
        const auto files = folder_files(stored);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].second, read_file(report / "signed.dat"));
        fs::remove_all(pdf_folder);
        const RunResult p = print_to(stored);
        ASSERT_EQ(p.code, 0) << p.err;
        EXPECT_EQ(pdf_pages(), 3);
    }
    EXPECT_EQ(restored_leftovers(), std::vector<std::string>{}) << "a restored copy left behind";
}

// The certificate and key of two PEM texts.
tv::signing::Certificate certificate_of(const std::string& cert_pem, const std::string& key_pem) {
    BIO* cb = BIO_new_mem_buf(cert_pem.data(), static_cast<int>(cert_pem.size()));
    BIO* kb = BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size()));
    X509* x = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
    EVP_PKEY* k = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
    tv::signing::Certificate c(x, k);
    X509_free(x);
    EVP_PKEY_free(k);
    BIO_free(cb);
    BIO_free(kb);
    return c;
}

// A signer the site has withdrawn its trust from (its authority's revocation list in the trust
// store, made with the stock tools) and a signature dated a year ahead are not shown as signed.
TEST_F(SignedRoutesTest, ARevokedSignerAndASignatureFromTheFutureAreNotSigned) {
    const fs::path ca = t / "ca";
    fs::create_directories(ca);
    auto sh = [&](const std::string& command) {
        return std::system(("cd '" + ca.string() + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
    };
    if (!sh("openssl version")) GTEST_SKIP() << "no openssl program here";
    write_file(ca / "index.txt", "");
    write_file(ca / "serial", "1000\n");
    write_file(ca / "ca.cnf",
               "[ca]\ndefault_ca = own\n[own]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
               "default_md = sha256\npolicy = any\n[any]\ncommonName = supplied\n");
    ASSERT_TRUE(
        sh("openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj '/O=Clinic/CN=Clinic CA' "
           "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign "
           "-keyout ca-key.pem -out ca.pem"));
    ASSERT_TRUE(sh("openssl req -newkey rsa:2048 -nodes -subj '/O=Clinic/CN=Dr Leaked' -keyout key.pem -out req.pem"));
    const std::string ca_args = "openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca-key.pem";
    ASSERT_TRUE(sh(ca_args + " -days 30 -notext -in req.pem -out leaf.pem"));
    const tv::signing::Certificate leaf = certificate_of(read_file(ca / "leaf.pem"), read_file(ca / "key.pem"));
    ASSERT_TRUE(leaf.has_private_key());
    write_file(fs::path(tv::platform::trust_store_dir()) / "clinic-ca.pem", read_file(ca / "ca.pem"));
    const fs::path leaked = g / "STANDARD" / "S0000002.SGN", future = g / "STANDARD" / "S0000003.SGN";
    sign_as(leaf, std::time(nullptr), leaked);
    sign_as(demo_certificate, std::time(nullptr) + 365 * 86400, future);

    const std::string signed_title = "Digitally Signed Report";
    EXPECT_NE(signature_page_of(leaked).find(signed_title), std::string::npos) << "trusted before the withdrawal";
    ASSERT_TRUE(sh(ca_args + " -revoke leaf.pem"));
    ASSERT_TRUE(sh(ca_args + " -gencrl -crldays 30 -out clinic.crl"));
    write_file(fs::path(tv::platform::trust_store_dir()) / "clinic.crl", read_file(ca / "clinic.crl"));
    const struct {
        fs::path folder;
        const char* why;
    } cases[] = {{leaked, "has been revoked"}, {future, "the signature is dated later than now"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string page = signature_page_of(c.folder);
        EXPECT_EQ(page.find(signed_title), std::string::npos) << page;
        EXPECT_NE(page.find("Signature not verified"), std::string::npos) << page;
        EXPECT_NE(page.find(c.why), std::string::npos) << page;
    }
    // The genuine report of the demo signer is untouched by the clinic's list.
    EXPECT_NE(signature_page_of(report).find(signed_title), std::string::npos);
}

}  // namespace
}  // namespace cli
