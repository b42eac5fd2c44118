#include "tolbex/mail/mail.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>

#include "common/audit_log.h"
#include "common/profile.h"
#include "formats/transfer_file.h"
#include "testing/hostile_entries.h"
#include "testing/app_test_root.h"
#include "testing/test_root.h"
#include "tolbex/app/import_reports.h"
#include "tolbex/app/tolbex_settings.h"
#include "tolbex/app/tolbex_strings.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/mail/mail_compose.h"
#include "tolbex/mail/mail_transport.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using platform::testing::sorted_names;
using testing_root::write_file;

// Parses a message with python3's email package: headers.txt (To, Subject), note.txt, names.txt
// (attachment names in order) and att/<name> with each attachment's decoded bytes.
constexpr const char* kParser = R"(import email, os, sys
from email import policy
msg = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=policy.default)
out = sys.argv[2]
os.makedirs(os.path.join(out, 'att'), exist_ok=True)
with open(os.path.join(out, 'headers.txt'), 'w', encoding='utf-8') as f:
    f.write('To: %s\nSubject: %s\n' % (msg['To'], msg['Subject']))
note = msg.get_body(preferencelist=('plain',)).get_content().replace('\r\n', '\n')
open(os.path.join(out, 'note.txt'), 'w', encoding='utf-8', newline='').write(note)
names = []
for part in msg.iter_attachments():
    names.append(part.get_filename())
    assert part.get_content_type() == 'application/octet-stream'
    open(os.path.join(out, 'att', part.get_filename()), 'wb').write(part.get_payload(decode=True))
open(os.path.join(out, 'names.txt'), 'w', encoding='utf-8').write('\n'.join(names))
from email.header import decode_header, make_header
from email.utils import getaddresses
raw = email.message_from_binary_file(open(sys.argv[1], 'rb'))
with open(os.path.join(out, 'addresses.txt'), 'w', encoding='utf-8') as f:
    for field in ('From', 'To'):
        for name, addr in getaddresses(raw.get_all(field, [])):
            f.write('%s: %s|%s\n' % (field, make_header(decode_header(name)), addr))
)";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_script(const fs::path& p, const std::string& body) {
    write_file(p, "#!/bin/sh\n" + body);
    ::chmod(p.c_str(), 0755);
}

struct RecordingAudit : AuditTrail {
    std::vector<std::string> entries;
    bool refuse_open = false, refuse_write = false;
    std::string opened;
    bool open(const std::string& path) override {
        opened = path;
        return !refuse_open;
    }
    bool write(const char* format, const std::string& a, const std::string& b, const std::string&) override {
        char buf[512];
        if (refuse_write) return false;
        std::snprintf(buf, sizeof buf, format, a.c_str(), b.c_str());
        entries.push_back(buf);
        return true;
    }
    void close() override {}
};

struct ParsedMail {
    std::string headers, note, addresses;
    std::vector<std::string> names;
    fs::path attachments;
};

class MailTest : public testing_root::RootTest {
protected:
    MailTest() : RootTest(TmpDir::Inside) {}
    void SetUp() override {
        RootTest::SetUp();
        register_tolbex_strings();
        eml = t / "msg.eml";
        capture = t / "capture.sh";
        write_script(capture,
                     "printf '%s\\n' \"$@\" > '" + (t / "args.txt").string() + "'\ncat > '" + eml.string() + "'\n");
        ASSERT_TRUE(write_profile_string(kEmailSection, kMailSendCommandEntry, capture.string() + " -t -i"));
        ASSERT_TRUE(write_profile_string(kEmailSection, "Default Address", "ward7@clinic.example"));
        services.audit = &audit;
        services.options_file = (t / "EMAILCFG.TXT").string();
        MailWindowing w;
        w.compose = [this](MailMessage& m) {
            composed.push_back(m);
            return confirm;
        };
        set_mail_windowing(std::move(w));
    }
    void TearDown() override {
        set_mail_windowing({});
        RootTest::TearDown();
    }
    MailReportEntry report(const std::string& name, const std::string& description, ReportType type,
                           std::vector<std::pair<std::string, std::string>> files) {
        const fs::path folder = t / "archive" / name;
        fs::create_directories(folder);
        for (auto& [file, bytes] : files) write_file(folder / file, bytes);
        return {folder.string(), description, type, 4321, 1196690709};
    }
    ParsedMail parse() {
        ParsedMail p;
        const fs::path script = t / "parse.py", out = t / "parsed";
        write_file(script, kParser);
        fs::create_directories(out);
        const auto run =
            platform::testing::run_captured({"/usr/bin/python3", script.string(), eml.string(), out.string()},
                                            {"PATH=/usr/bin:/bin"}, t.string(), 60);
        EXPECT_EQ(run.code, 0) << run.err;
        p.headers = slurp(out / "headers.txt");
        p.note = slurp(out / "note.txt");
        p.addresses = slurp(out / "addresses.txt");
        std::stringstream names(slurp(out / "names.txt"));
        for (std::string line; std::getline(names, line);) p.names.push_back(line);
        p.attachments = out / "att";
        return p;
    }
    void answer(std::initializer_list<MsgResult> answers) {
        for (MsgResult a : answers) scripted.answers.push_back(a);
    }

    fs::path eml, capture;
    RecordingAudit audit;
    MailServices services;
    std::vector<MailMessage> composed;
    bool confirm = true;
};

// The send command is split as a shell splits it, unlike the program's own operands.
TEST(SendCommand, IsSplitAsAShellSplitsIt) {
    using W = std::vector<std::string>;
    EXPECT_EQ(split_shell_words("msmtp -t"), (W{"msmtp", "-t"}));
    EXPECT_EQ(split_shell_words(" '/opt/my mail/send' \"-a b\" c\\ d "), (W{"/opt/my mail/send", "-a b", "c d"}));
    EXPECT_EQ(split_shell_words("'it\\s' \"\\\"q\\\"\""), (W{"it\\s", "\"q\""}));
    EXPECT_TRUE(split_shell_words("  ").empty());
}

TEST_F(MailTest, ReportsArriveAsTransferFilesThatUnpackToTheirFolders) {
    std::string bulk;
    for (int i = 0; i < 20000; ++i) bulk += static_cast<char>(i % 7 == 0 ? i * 31 : 'a' + i % 5);
    const MailReportEntry a = report("A.FUL", "John Smith", kReportFull, {{"DATA.BIN", bulk}, {"EMPTY.DAT", ""}});
    // The same description twice: each report still gets an attachment of its own.
    const MailReportEntry b = report("B.FUL", "John Smith", kReportFull, {{"OTHER.TXT", "second report"}});
    write_file(services.options_file,
               "Message options\n@CHECKBOXES\nUrgency\nPlease note: \n<NONE>\n1\n1\nUrgent\n"
               "urgent reply wanted\n0\nCopy\n copy to GP\n@END\n");
    answer({MsgResult::Ok, MsgResult::Ok});  // the description stands in for the missing transfer names

    ASSERT_EQ(mail_reports({a, b}, services), kMailDone);
    ASSERT_EQ(composed.size(), 1u);
    EXPECT_EQ(slurp(t / "args.txt"), "-t\n-i\n");
    const ParsedMail p = parse();
    EXPECT_EQ(p.headers, "To: ward7@clinic.example\nSubject: Brisco Torvane Report (With recording)\n");
    EXPECT_EQ(p.note,
              "These report(s) were sent from Brisco Torvane Medical Trevalink\n\n"
              "John Smith.TVZ: John Smith (With recording)\nJohn Smith 001.TVZ: John Smith (With recording)\n\n"
              "Please note: urgent reply wanted\n");
    ASSERT_EQ(p.names, (std::vector<std::string>{"John Smith.TVZ", "John Smith 001.TVZ"}));
    int k = 0;
    for (const MailReportEntry& r : {a, b}) {
        const fs::path out = t / ("unpacked" + std::to_string(k));
        fs::create_directories(out);
        ASSERT_EQ(unpack_transfer_file((p.attachments / p.names[k++]).string(), out.string()), kUnpackOk);
        for (const auto& entry : fs::directory_iterator(r.folder))
            EXPECT_EQ(slurp(out / entry.path().filename()), slurp(entry.path())) << entry.path();
        EXPECT_EQ(slurp(out / "REPINFO.TXT"), "John Smith\r\n510\r\n1196690709\r\n4321\r\n");
    }
    EXPECT_EQ(audit.entries, (std::vector<std::string>{"Mail report - John Smith in " + a.folder,
                                                       "Mail report - John Smith in " + b.folder}));
    EXPECT_TRUE(sorted_names(root.tmp()).empty());  // no transfer file left behind
}

// A signed report is mailed as its container: pages, patient and confirmation placed beside it
// do not travel.
TEST_F(MailTest, ASignedReportTravelsAsItsContainerAlone) {
    const MailReportEntry r = report("S.SGN", "Signed", kReportSigned,
                                     {{"signed.dat", "the container"},
                                      {"PAGE.1", "placed page"},
                                      {"PATIENT.TXT", "placed patient"},
                                      {"REPINFO.TXT", "Placed\r\n519\r\n1\r\n1\r\n"}});
    answer({MsgResult::Ok});
    ASSERT_EQ(mail_reports({r}, services), kMailDone);
    const ParsedMail p = parse();
    ASSERT_EQ(p.names.size(), 1u);
    const fs::path out = t / "unpacked";
    fs::create_directories(out);
    ASSERT_EQ(unpack_transfer_file((p.attachments / p.names[0]).string(), out.string()), kUnpackOk);
    EXPECT_EQ(sorted_names(out), (std::vector<std::string>{"REPINFO.TXT", "SIGNED.DAT"}));
    EXPECT_EQ(slurp(out / "SIGNED.DAT"), "the container");
    EXPECT_EQ(slurp(out / "REPINFO.TXT").substr(0, 13), "Signed\r\n522\r\n");
}

TEST_F(MailTest, LinksSpecialFilesAndCaseTwinsAreNeverPackedIntoAMail) {
    for (const auto& entry : tv::testing::hostile_entries()) {
        const MailReportEntry r =
            report(std::string("H") + entry.name + ".IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}});
        entry.plant(r.folder, t / "secrets");
        answer({MsgResult::Ok});
        EXPECT_EQ(mail_reports({r}, services), kMailPackFailed) << entry.what;
        ASSERT_FALSE(scripted.shown.empty());
        EXPECT_NE(scripted.shown.back().text.find(std::string("\"") + entry.name + "\""), std::string::npos)
            << scripted.shown.back().text;
        EXPECT_TRUE(composed.empty());
        EXPECT_FALSE(fs::exists(eml));
        EXPECT_TRUE(audit.entries.empty());
        EXPECT_TRUE(sorted_names(root.tmp()).empty());
    }
}

TEST_F(MailTest, AReportFolderSwappedForALinkIsNotMailed) {
    const MailReportEntry r = report("L.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}});
    tv::testing::write_secret(t / "secrets" / "signer.p12");
    fs::rename(r.folder, t / "L.OLD");
    fs::create_directory_symlink(t / "secrets", r.folder);
    answer({MsgResult::Ok});
    EXPECT_EQ(mail_reports({r}, services), kMailPackFailed);
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_NE(scripted.shown.back().text.find("is a link to another place"), std::string::npos)
        << scripted.shown.back().text;
    EXPECT_TRUE(composed.empty());
    EXPECT_FALSE(fs::exists(eml));
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(MailTest, CancelSendsNothingAndAuditsNothing) {
    confirm = false;
    answer({MsgResult::Ok});
    EXPECT_EQ(mail_reports({report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}})}, services), kMailDone);
    EXPECT_EQ(composed.size(), 1u);
    EXPECT_FALSE(fs::exists(eml));
    EXPECT_TRUE(audit.entries.empty());
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(MailTest, FailingCommandIsAnErrorWithItsMessage) {
    write_script(capture, "cat > /dev/null\necho 'msmtp: cannot connect to mail.example' >&2\nexit 1\n");
    answer({MsgResult::Ok});
    EXPECT_EQ(mail_reports({report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}})}, services), kMailSendError);
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown.back().text,
              "There was an error when sending the mail.\n\nmsmtp: cannot connect to mail.example");
    EXPECT_EQ(scripted.shown.back().caption, "Mail Error");
    EXPECT_TRUE(audit.entries.empty());
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(MailTest, MissingCommandCannotLoad) {
    ASSERT_TRUE(write_profile_string(kEmailSection, kMailSendCommandEntry, (t / "no-such-sendmail").string() + " -t"));
    EXPECT_EQ(mail_reports({report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}})}, services),
              kMailCannotLoad);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].text,
              "Cannot load \"" + (t / "no-such-sendmail").string() + "\" - Mail cannot be sent.");
    EXPECT_TRUE(composed.empty());
    // Without windows to compose in, nothing is sent either.
    set_mail_windowing({});
    ASSERT_TRUE(write_profile_string(kEmailSection, kMailSendCommandEntry, capture.string()));
    EXPECT_EQ(mail_file(capture.string(), true, services), kMailCannotLoad);
    EXPECT_FALSE(fs::exists(eml));
}

TEST_F(MailTest, SizeWarningAtTheThreshold) {
    ASSERT_TRUE(write_profile_int(kEmailSection, "Size Warning Threshold", 1));
    // mail_file warns only above threshold x 1024; mail_reports from it upwards.
    const fs::path exact = t / "EXACT.CEF", over = t / "OVER.CEF";
    write_file(exact, std::string(1024, 'x'));
    write_file(over, std::string(1025, 'x'));
    EXPECT_EQ(mail_file(exact.string(), false, services), kMailDone);
    EXPECT_TRUE(scripted.shown.empty());
    ASSERT_TRUE(fs::remove(eml));
    EXPECT_EQ(mail_file(over.string(), false, services), kMailSizeDeclined);
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_EQ(scripted.shown[0].caption, "Warning - Large Mail Message");
    EXPECT_EQ(scripted.shown[0].text,
              "The total size of all the reports that you have selected to send by mail is 1 KB after compression."
              "\n\nThese reports may take an excessively long time to send - are you sure that you want to send "
              "them?");
    EXPECT_FALSE(fs::exists(eml));

    // A report whose transfer file is over 1 KB: declined, then sent with the warning off.
    std::mt19937 rng(1);
    std::string noise;
    for (int i = 0; i < 3000; ++i) noise += static_cast<char>(rng());
    const MailReportEntry r = report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", noise}});
    answer({MsgResult::Ok, MsgResult::Cancel});
    EXPECT_EQ(mail_reports({r}, services), kMailSizeDeclined);
    EXPECT_EQ(scripted.shown.back().caption, "Warning - Large Mail Message");
    EXPECT_FALSE(fs::exists(eml));
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
    ASSERT_TRUE(write_profile_int(kEmailSection, "Size Warning Threshold", 0));
    scripted.shown.clear();
    answer({MsgResult::Ok});
    EXPECT_EQ(mail_reports({r}, services), kMailDone);
    EXPECT_EQ(scripted.shown.size(), 1u);  // only the transfer-name question
    EXPECT_TRUE(fs::exists(eml));
}

TEST_F(MailTest, CefMessage) {
    const fs::path cef = t / "ABCD1234566.CEF";
    write_file(cef, "CEF bytes");
    ASSERT_EQ(mail_file(cef.string(), true, services), kMailDone);
    const ParsedMail p = parse();
    EXPECT_EQ(p.headers, "To: ward7@clinic.example\nSubject: Brisco Torvane Compressed ECG Report\n");
    EXPECT_EQ(p.note, "This compressed Torvane report was sent from Brisco Torvane Medical Trevalink\n");
    ASSERT_EQ(p.names, std::vector<std::string>{"ABCD1234566.CEF"});
    EXPECT_EQ(slurp(p.attachments / "ABCD1234566.CEF"), "CEF bytes");
    EXPECT_TRUE(audit.entries.empty());
}

TEST_F(MailTest, MailedTransferFileIsImportedAgain) {
    const MailReportEntry a =
        report("R.IMG", "Golden Report", kReportFormatted,
               {{"SUMMARY.TXT", "summary"}, {"PAGE.0", "page"}, {"PAGE1.EMF", std::string(5000, 'p')}});
    answer({MsgResult::Ok});
    ASSERT_EQ(mail_reports({a}, services), kMailDone);
    const ParsedMail p = parse();
    ASSERT_EQ(p.names, std::vector<std::string>{"Golden Report.TVZ"});
    const fs::path archive = t / "G" / "A";
    fs::create_directories(archive);
    EXPECT_EQ(receive_mailed_report((p.attachments / p.names[0]).string(),
                                    [&](const std::string&) { return archive.string(); }),
              MailReceipt::kStored);
    std::string stored;
    for (const auto& e : fs::directory_iterator(archive))
        if (e.is_directory()) stored = e.path().string();
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(slurp(fs::path(stored) / "PAGE1.EMF"), std::string(5000, 'p'));
    EXPECT_EQ(slurp(fs::path(stored) / "SUMMARY.TXT"), "summary");
}

TEST_F(MailTest, DeclinedTransferNameAndRefusedAuditLogSendNothing) {
    // Cancel on the missing-transfer-name question.
    EXPECT_EQ(mail_reports({report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}})}, services), kMailCancelled);
    EXPECT_EQ(scripted.shown.at(0).caption, "Invalid Transfer Filename");
    audit.refuse_open = true;
    answer({MsgResult::Ok});
    EXPECT_EQ(mail_reports({report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}})}, services),
              kMailAuditFailed);
    EXPECT_TRUE(composed.empty());
    EXPECT_FALSE(fs::exists(eml));
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(MailTest, DisplayNamesAreEncodedAndAddressesStayReadable) {
    ASSERT_TRUE(write_profile_string(kEmailSection, kMailFromEntry, "Station Caf\xE9 <ward@clinic.example>"));
    ASSERT_TRUE(write_profile_string(kEmailSection, "Default Address",
                                     "Dr M\xFCller <mueller@clinic.example>, Dr. Who <who@clinic.example>, "
                                     "plain@clinic.example, Ann Lee <ann@clinic.example>"));
    const fs::path cef = t / "A.CEF";
    write_file(cef, "CEF bytes");
    ASSERT_EQ(mail_file(cef.string(), true, services), kMailDone);
    EXPECT_EQ(parse().addresses,
              "From: Station Caf\xC3\xA9|ward@clinic.example\n"
              "To: Dr M\xC3\xBCller|mueller@clinic.example\nTo: Dr. Who|who@clinic.example\n"
              "To: |plain@clinic.example\nTo: Ann Lee|ann@clinic.example\n");
    // A value the compose check refuses can never start a header of its own.
    EXPECT_EQ(encode_address_header("a@b.org\r\nBcc: z@q.org"), "=?UTF-8?B?YUBiLm9yZw0KQmNjOiB6QHEub3Jn?=");
    EXPECT_EQ(encode_address_header("a@b.org, x <a b@c.org>"), "a@b.org, x <a b@c.org>") << "no recipient left out";
}

// Display names in quoted strings, as mail programs write them, arrive whole: each form as the
// From of a message of its own, and all of them as one To list, which the compose check takes.
TEST_F(MailTest, QuotedDisplayNamesArriveWhole) {
    struct Form {
        const char* typed;  // Windows-1252
        const char* name;   // as the receiver reads it (UTF-8)
        const char* address;
    };
    const Form forms[] = {
        {"\"M\xFCller, J\xFCrgen\" <jm@clinic.example>", "M\xC3\xBCller, J\xC3\xBCrgen", "jm@clinic.example"},
        {"\"Smith, John\" <js@clinic.example>", "Smith, John", "js@clinic.example"},
        {"\"O'Brien\" <ob@clinic.example>", "O'Brien", "ob@clinic.example"},
        {"\"Dr. A. Smith\" <as@clinic.example>", "Dr. A. Smith", "as@clinic.example"},
        {"\"Lee, Ann (Cardiology)\" <al@clinic.example>", "Lee, Ann (Cardiology)", "al@clinic.example"},
        {"\"a \\\"quoted\\\" word\" <q@clinic.example>", "a \"quoted\" word", "q@clinic.example"},
        {"\"Ward 7; Night <desk>\" <w7@clinic.example>", "Ward 7; Night <desk>", "w7@clinic.example"},
        {"\"Hartigan, Zo\xEB\" <zh@clinic.example>", "Hartigan, Zo\xC3\xAB", "zh@clinic.example"},
        {"\"\xDCnal, \xD6mer\" <ou@clinic.example>", "\xC3\x9Cnal, \xC3\x96mer", "ou@clinic.example"},
        {"\"Caf\xE9 \x80 Desk, Ward 2\" <cafe@clinic.example>", "Caf\xC3\xA9 \xE2\x82\xAC Desk, Ward 2",
         "cafe@clinic.example"},
        {"\"Lang, Dr. Maximilian Friedrich, Consultant Cardiologist, Department of Cardiology\" "
         "<ml@clinic.example>",
         "Lang, Dr. Maximilian Friedrich, Consultant Cardiologist, Department of Cardiology", "ml@clinic.example"},
        {"\"jm@clinic.example\" <jm2@clinic.example>", "jm@clinic.example", "jm2@clinic.example"},
    };
    const fs::path cef = t / "A.CEF";
    std::string to, expected_to;
    for (const Form& f : forms) {
        SCOPED_TRACE(f.typed);
        write_file(cef, "CEF bytes");
        ASSERT_TRUE(write_profile_string(kEmailSection, kMailFromEntry, f.typed));
        ASSERT_EQ(mail_file(cef.string(), true, services), kMailDone);
        const std::string got = parse().addresses;
        EXPECT_EQ(got.substr(0, got.find('\n')), std::string("From: ") + f.name + "|" + f.address);
        to += (to.empty() ? "" : ", ") + std::string(f.typed);
        expected_to += std::string("To: ") + f.name + "|" + f.address + "\n";
    }
    EXPECT_EQ(parse_mail_recipients(to).size(), std::size(forms));
    ASSERT_TRUE(write_profile_string(kEmailSection, "Default Address", to));
    write_file(cef, "CEF bytes");
    ASSERT_EQ(mail_file(cef.string(), true, services), kMailDone);
    const std::string got = parse().addresses;
    EXPECT_EQ(got.substr(got.find('\n') + 1), expected_to);
}

// Lists typed with ';' between the addresses, as other mail programs take them, reach every
// recipient; a list with an item that is no address is refused by the compose check and by the
// send path alike, before anything is handed to the send command.
TEST_F(MailTest, SemicolonListsReachEveryRecipientOrNobody) {
    struct Case {
        const char* typed;
        const char* received;  // the To lines; empty: refused
    };
    const Case cases[] = {
        {"a@clinic.example; b@clinic.example", "To: |a@clinic.example\nTo: |b@clinic.example\n"},
        {"a@clinic.example;b@clinic.example", "To: |a@clinic.example\nTo: |b@clinic.example\n"},
        {"Dr A <a@clinic.example>; \"Lee; Ann\" <b@clinic.example>",
         "To: Dr A|a@clinic.example\nTo: Lee; Ann|b@clinic.example\n"},
        {"a@clinic.example; b@clinic.example, c@clinic.example;",
         "To: |a@clinic.example\nTo: |b@clinic.example\nTo: |c@clinic.example\n"},
        {"a@clinic.example; Cardiology", ""},
        {"a@clinic.example; x <a b@clinic.example>", ""},
        {"team: a@clinic.example; b@clinic.example", ""},
    };
    const fs::path cef = t / "A.CEF";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        write_file(cef, "CEF bytes");
        fs::remove(eml);
        scripted.shown.clear();
        ASSERT_TRUE(write_profile_string(kEmailSection, "Default Address", c.typed));
        const std::string received = c.received;
        EXPECT_EQ(parse_mail_recipients(c.typed).size(),
                  static_cast<std::size_t>(std::count(received.begin(), received.end(), '\n')));
        // The composer here sends whatever it is given: the send path checks for itself.
        const int sent = mail_file(cef.string(), true, services);
        if (received.empty()) {
            EXPECT_EQ(sent, kMailSendError);
            EXPECT_FALSE(fs::exists(eml)) << "handed to the send command";
            ASSERT_FALSE(scripted.shown.empty());
            EXPECT_NE(scripted.shown.back().text.find("cannot be read as mail addresses"), std::string::npos);
            continue;
        }
        ASSERT_EQ(sent, kMailDone);
        EXPECT_EQ(parse().addresses, received);
    }
}

// A compressed ECG file named in UTF-8 on disk arrives under that name.
TEST_F(MailTest, TheCefAttachmentKeepsItsNameOnDisk) {
    const fs::path cef = t / "M\xC3\xBCller J\xC3\xBCrgen.CEF";
    write_file(cef, "CEF bytes");
    ASSERT_EQ(mail_file(cef.string(), true, services), kMailDone);
    ASSERT_EQ(composed.size(), 1u);
    EXPECT_EQ(composed[0].attachments.at(0).name, "M\xFCller J\xFCrgen.CEF");
    const ParsedMail p = parse();
    ASSERT_EQ(p.names, std::vector<std::string>{"M\xC3\xBCller J\xC3\xBCrgen.CEF"});
    EXPECT_EQ(slurp(p.attachments / p.names[0]), "CEF bytes");
}

// A description in Windows-1252 is spelled in UTF-8 on disk too; an options file that cannot be
// read (here a FIFO, which is never waited on) is told of, not taken for a missing one.
TEST_F(MailTest, AReportNamedInWindows1252AndAnUnreadableOptionsFile) {
    const MailReportEntry a = report("A.FUL", "M\xFCller", kReportFull, {{"DATA.BIN", "bytes"}});
    ASSERT_EQ(::mkfifo(services.options_file.c_str(), 0600), 0);
    answer({MsgResult::Ok, MsgResult::Ok});
    ASSERT_EQ(mail_reports({a}, services), kMailDone);
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_EQ(scripted.shown[0].text, "\"" + services.options_file + "\" is not a plain file.");
    ASSERT_EQ(composed.size(), 1u);
    EXPECT_EQ(composed[0].attachments.at(0).name, "M\xFCller.TVZ");
    EXPECT_EQ(fs::path(composed[0].attachments[0].path).filename(), "M\xC3\xBCller.TVZ");
    EXPECT_EQ(parse().names, std::vector<std::string>{"M\xC3\xBCller.TVZ"});
}

TEST_F(MailTest, ReportWhoseFolderHasGoneIsNotMailed) {
    const MailReportEntry a = report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}});
    const MailReportEntry gone = report("B.IMG", "Gone", kReportFormatted, {});
    fs::remove_all(gone.folder);
    answer({MsgResult::Ok, MsgResult::Ok});  // transfer names; the second is never asked for
    EXPECT_EQ(mail_reports({a, gone}, services), kMailPackFailed);
    ASSERT_FALSE(scripted.shown.empty());
    EXPECT_NE(scripted.shown.back().text.find(gone.folder), std::string::npos) << scripted.shown.back().text;
    EXPECT_TRUE(composed.empty());
    EXPECT_FALSE(fs::exists(eml));
    EXPECT_TRUE(audit.entries.empty());
    EXPECT_TRUE(sorted_names(root.tmp()).empty());
}

TEST_F(MailTest, SentMailWhoseLogEntriesFailIsStillSent) {
    const MailReportEntry a = report("A.IMG", "Mary", kReportFormatted, {{"P.EMF", "page"}});
    const MailReportEntry b = report("B.IMG", "Anne", kReportFormatted, {{"P.EMF", "page"}});
    audit.refuse_write = true;
    answer({MsgResult::Ok, MsgResult::Ok});
    EXPECT_EQ(mail_reports({a, b}, services), kMailDone);
    EXPECT_TRUE(fs::exists(eml));
    ASSERT_EQ(scripted.shown.size(), 4u);  // two transfer-name questions, one notice per report
    for (std::size_t i = 0; i < 2; ++i) {
        const MailReportEntry& r = i == 0 ? a : b;
        EXPECT_EQ(scripted.shown[2 + i].text, "The report \"" + r.name +
                                                  "\" was mailed, but this could not be recorded in the logfile of " +
                                                  r.folder + ".");
    }
}

TEST(MailNames, SubjectsAndAttachmentNames) {
    struct Case {
        std::vector<ReportType> types;
        std::string subject;
    };
    for (const Case& c : std::vector<Case>{{{510}, "Brisco Torvane Report (With recording)"},
                                           {{517, 517}, "NOSKE Report"},
                                           {{519}, "Brisco Torvane Report"},
                                           {{520}, "Gavrille Report (Formatted)"},
                                           {{510, 519}, "Mixed types of reports"},
                                           {{512}, "Mixed types of reports"},
                                           {{512, 523}, "TIMI Data"}})
        EXPECT_EQ(mail_subject_for(c.types), c.subject);
}

TEST(MailOptionsFile, GrammarAndText) {
    const auto o = parse_mail_options(
        "// comment\nTitle\n@RADIOBUTTONS\nCap\nLead \n<NONE>\n99\n0\nA\nalpha\n1\nB\nbeta\\n\n@END\n"
        "\n@CHECKBOXES\nCap2\n<NONE>\nnone chosen\n0\n0\nC\ngamma\n@END\n");
    ASSERT_TRUE(o);
    EXPECT_EQ(o->title, "Title");
    ASSERT_EQ(o->groups.size(), 2u);
    EXPECT_EQ(o->groups[0].column, 31);
    EXPECT_EQ(o->groups[1].column, 0);
    EXPECT_EQ(compose_mail_options_text(*o), "Lead beta\n\nnone chosen\n");
    EXPECT_FALSE(parse_mail_options("Title\n@CHECKBOXES\nCap\nx\ny\n1\n1\nA\n"));  // no @END
    EXPECT_FALSE(parse_mail_options("Title\n@LIST\n"));
    EXPECT_FALSE(parse_mail_options("\n/ only a comment\n"));
}

TEST(MailRecipients, OnlyAddressesPass) {
    EXPECT_EQ(parse_mail_recipients("a@b.org, Dr X <x@y.org>, \"Last, First\" <lf@y.org>"),
              (std::vector<std::string>{"a@b.org", "Dr X <x@y.org>", "\"Last, First\" <lf@y.org>"}));
    for (const char* bad : {"", "Cardiology Ward", "a@b.org\nBcc: z@q.org", "@b.org", "a@b.org, nobody",
                            "a@b.org, x <a b@c.org>", "Last, First <lf@y.org>"})
        EXPECT_TRUE(parse_mail_recipients(bad).empty()) << bad;
}

TEST(MimeWriter, EncodesHeadersAndBody) {
    EXPECT_EQ(encode_header_text("Plain"), "Plain");
    EXPECT_EQ(encode_header_text("Caf\xE9"), "=?UTF-8?B?Q2Fmw6k=?=");
    EXPECT_EQ(encode_header_text("x\r\nBcc: y"), "=?UTF-8?B?eA0KQmNjOiB5?=");
    EXPECT_EQ(encode_quoted_printable("a=b \nc\xC3\xA9"), "a=3Db=20\r\nc=C3=A9");
    EXPECT_EQ(encode_base64_lines("abcd"), "YWJjZA==\r\n");
}

// The sender is checked as a recipient is: one address, or the mail is not sent.
TEST(MimeWriter, TheFromAddressIsOneMailbox) {
    MailMessage m;
    m.recipient = "ward@clinic.example";
    const struct {
        const char* from;
        bool sent;
    } cases[] = {{"\"Smith, John\" <js@clinic.example>", true},
                 {"js@clinic.example", true},
                 {"Smith, John <js@clinic.example>", false},
                 {"a@clinic.example, b@clinic.example", false},
                 {"Cardiology Ward", false},
                 {"js@clinic.example\r\nBcc: z@q.org", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        MailEnvelope e;
        e.from = c.from;
        const auto built = build_mime_message(m, e);
        EXPECT_EQ(built.ok(), c.sent);
        if (built) {
            EXPECT_NE(built->find("From: "), std::string::npos);
        } else {
            EXPECT_NE(built.error().message.find("The From Address"), std::string::npos) << built.error().message;
        }
    }
}

// A name beyond ASCII goes as an encoded parameter and, beside it, a plain ASCII one, so that a
// reader that knows only the plain form still saves the attachment under a name of its own.
TEST(MimeWriter, AttachmentNamesHaveAPlainAsciiForm) {
    const platform::testing::TempRoot t;
    const fs::path file = fs::path(t.path()) / "a.TVZ";
    write_file(file, "bytes");
    MailMessage m;
    m.recipient = "ward@clinic.example";
    m.attachments = {{file.string(), "M\xFCller Zo\xEB \x80\"1\".TVZ"}, {file.string(), "Plain.TVZ"}};
    const auto built = build_mime_message(m);
    ASSERT_TRUE(built) << built.error().message;
    EXPECT_NE(built->find("Content-Disposition: attachment; "
                          "filename*=utf-8''M%C3%BCller%20Zo%C3%AB%20%E2%82%AC%221%22.TVZ; "
                          "filename=\"Muller Zoe __1_.TVZ\"\r\n"),
              std::string::npos)
        << built->substr(built->find("Content-Disposition"), 200);
    EXPECT_NE(built->find("Content-Disposition: attachment; filename=\"Plain.TVZ\"\r\n"), std::string::npos);
}

// An attachment that is no plain file is refused by name, never sent empty nor waited on.
TEST(MimeWriter, AnAttachmentThatIsNoPlainFileIsRefused) {
    const platform::testing::TempRoot t;
    const fs::path fifo = fs::path(t.path()) / "fifo.TVZ", link = fs::path(t.path()) / "link.TVZ";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/etc/passwd", link);
    const std::pair<std::string, const char*> cases[] = {
        {"/no/such/file", "does not exist."},
        {fifo.string(), "is not a plain file."},
        {link.string(), "is a link, which is not followed."},
    };
    for (const auto& [path, said] : cases) {
        MailMessage m;
        m.recipient = "ward7@clinic.example";
        m.attachments.push_back({path, "X.TVZ"});
        const auto built = build_mime_message(m);
        ASSERT_FALSE(built) << path;
        EXPECT_EQ(built.error().message, "The attachment \"" + path + "\" " + said);
    }
}

}  // namespace
}  // namespace tv
