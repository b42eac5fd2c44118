#include "tolbex/mail/mail.h"

#include <cstdio>
#include <set>

#include "common/audit_log.h"
#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/safe_open.h"
#include "common/text.h"
#include "common/ui.h"
#include "formats/transfer_file.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "tolbex/transfer/report_transfer.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/archive/clinic_code.h"
#include "tolbex/mail/mail_transport.h"

namespace tv {

namespace {

constexpr const char* kMailErrorCaption = "Mail Error";
constexpr const char* kSendErrorText = "There was an error when sending the mail.";
constexpr const char* kOptionsFileName = "EMAILCFG.TXT";
constexpr std::uint64_t kOptionsFileMax = 64 * 1024;  // a few lines of options

MailWindowing& windowing() {
    static MailWindowing w;
    return w;
}

std::shared_ptr<void> wait_for(const std::string& text) { return windowing().wait ? windowing().wait(text) : nullptr; }

// The transport of the services, or the configured send command.
class TransportChoice {
public:
    explicit TransportChoice(const MailServices& services) {
        if (services.transport) {
            transport_ = services.transport;
        } else {
            command_ = mail_send_command();
            own_ = std::make_unique<SendmailTransport>(command_);
            transport_ = own_.get();
        }
    }
    MailTransport& get() { return *transport_; }
    std::string name() const {
        const auto words = split_shell_words(command_);
        return words.empty() ? std::string("sendmail") : words[0];
    }

private:
    std::string command_;
    std::unique_ptr<SendmailTransport> own_;
    MailTransport* transport_ = nullptr;
};

// The options step and the mail layer's availability. 0, 1 or 6.
int prepare_mail(const MailServices& services, TransportChoice& transport, std::string& options_text) {
    options_text.clear();
    const std::string path =
        services.options_file.empty() ? join_path(get_module_folder(), kOptionsFileName) : services.options_file;
    OutsideRefusal refusal = OutsideRefusal::None;
    const std::optional<std::string> text = read_outside_text(path, kOptionsFileMax, &refusal);
    if (!text && refusal != OutsideRefusal::Missing) {
        // Unreadable is not missing: the configured options are not silently left out.
        ui().message_box(outside_refusal_text(path, refusal), "Invalid eMail message configuration file",
                         MsgIcon::Error, MsgButtons::Ok);
    } else if (text) {
        std::optional<MailOptions> options = parse_mail_options(*text);
        if (!options) {
            char buf[1200];
            std::snprintf(buf, sizeof buf, "The eMail message configuration file\n(%s)\nis invalid.", path.c_str());
            ui().message_box(buf, "Invalid eMail message configuration file", MsgIcon::Error, MsgButtons::Ok);
        } else {
            if (windowing().choose_options && !windowing().choose_options(*options)) return kMailCancelled;
            options_text = compose_mail_options_text(*options);
        }
    }
    if (!windowing().compose || !transport.get().is_available()) {
        ui().message_box("Cannot load \"" + transport.name() + "\" - Mail cannot be sent.", kMailErrorCaption,
                         MsgIcon::Error, MsgButtons::Ok);
        return kMailCannotLoad;
    }
    return kMailDone;
}

bool size_warning_declined(std::int64_t bytes) {
    char buf[400];
    std::snprintf(buf, sizeof buf,
                  "The total size of all the reports that you have selected to send by mail is %lld KB after "
                  "compression.\n\nThese reports may take an excessively long time to send - are you sure that you "
                  "want to send them?",
                  static_cast<long long>(bytes / 1024));
    return ui().message_box(buf, "Warning - Large Mail Message", MsgIcon::Question, MsgButtons::OkCancel) !=
           MsgResult::Ok;
}

// Shows the message, then writes and hands it over. 0 sent or cancelled, 5 failed; `sent` tells
// which of the two 0s it was.
int compose_and_send(MailMessage& message, TransportChoice& transport, bool& sent) {
    sent = false;
    if (!windowing().compose(message)) return kMailDone;
    MailEnvelope envelope;
    envelope.from = mail_from_address();
    auto wait = wait_for("Creating and sending mail message. This may take a few minutes.");
    Result<std::string> text = build_mime_message(message, envelope);
    MailDeliveryResult delivered;
    if (text)
        delivered = transport.get().deliver(*text);
    else
        delivered.message = text.error().message;
    wait.reset();
    if (delivered.outcome != MailDelivery::Sent) {
        std::string shown = kSendErrorText;
        if (!delivered.message.empty()) shown += "\n\n" + delivered.message;
        ui().message_box(shown, kMailErrorCaption, MsgIcon::Error, MsgButtons::Ok);
        return kMailSendError;
    }
    sent = true;
    return kMailDone;
}

// "<stem>.TVZ" unless taken in this message, then "<stem> 001.TVZ", " 002" ...
std::string unique_attachment_name(const std::string& name, std::set<std::string>& taken) {
    std::string candidate = name;
    const std::string stem = name.substr(0, name.size() - 4);
    for (int n = 1; taken.count(to_upper_copy(candidate)); ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, " %03d", n);
        candidate = stem + suffix + ".TVZ";
    }
    taken.insert(to_upper_copy(candidate));
    return candidate;
}

}  // namespace

void set_mail_windowing(MailWindowing w) { windowing() = std::move(w); }

int mail_size_threshold_kb() { return get_profile_int(kEmailSection, "Size Warning Threshold", 8192); }
std::string mail_default_address() { return get_profile_string(kEmailSection, "Default Address", ""); }

std::string mail_body_name(ReportType type) {
    switch (type) {
        case kReportFull: return "With recording";
        case kReportPartial: return "Report";
        case kReportRawEcg: return "Raw ECG";
        case kReportOstrabel: return "Ostrabel Recording";
        case kReportOstrabelCf: return "Ostrabel CF Recording";
        case kReportCef: return "Compressed ECG report";
        case kReportNoske: return "NOSKE Report";
        case kReportGavrille: return "Gavrille";
        case kReportFormatted: return "Formatted";
        case kReportFormatted520: return "Formatted";
        case kReportVarUdiri: return "VAR Udiri";
        case kReportSigned: return "Signed Report";
        case kReportTimiData: return "TIMI Data";
        case kReportTimiSummary: return "TIMI Summary";
        case kReportFullOstrabel12: return "Full Ostrabel 12";
        case kReportTimiArrhythmia: return "TIMI Arrhythmia Summary";
        default: return "";
    }
}

std::string mail_subject_for(const std::vector<ReportType>& types) {
    std::set<ReportType> counted;
    for (ReportType t : types)
        if (t != kReportUntyped && !mail_body_name(t).empty()) counted.insert(t);
    if (counted.size() != 1) return "Mixed types of reports";
    const ReportType type = *counted.begin();
    switch (type) {
        case kReportNoske: return "NOSKE Report";
        case kReportGavrille: return "Gavrille Report";
        case kReportFormatted: return "Brisco Torvane Report";
        case kReportFormatted520: return "Gavrille Report (Formatted)";
        case kReportVarUdiri: return "VAR Udiri Report";
        case kReportSigned:
        case kReportTimiData:
        case kReportTimiSummary:
        case kReportFullOstrabel12:
        case kReportTimiArrhythmia: return mail_body_name(type);
        default: return "Brisco Torvane Report (" + mail_body_name(type) + ")";
    }
}

std::string make_transfer_name(const MailReportEntry& report, int number) {
    std::string name = read_transfer_name(report.folder);
    if (name.empty()) {
        char buf[1400];
        std::snprintf(buf, sizeof buf,
                      "The transfer filename for the report\n\n\t\"%s\"\n\nis mssing or not valid.\n\nThe report's "
                      "description will be used as the filename instead.\n\n\nDo you want to proceed?",
                      report.name.c_str());
        if (ui().message_box(buf, "Invalid Transfer Filename", MsgIcon::Warning, MsgButtons::OkCancel,
                             MsgDefault::Second) != MsgResult::Ok)
            return {};
        name = report.name;
    }
    std::string kept;
    for (char c : name)
        if (is_valid_name_char(c) && c != '\r' && c != '\n') kept += c;
    if (kept.find_first_not_of(" \t") == std::string::npos) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "Report%02d.TVZ", number);
        return buf;
    }
    return kept + ".TVZ";
}

int mail_reports(const std::vector<MailReportEntry>& reports, const MailServices& services) {
    if (reports.empty()) return kMailDone;
    TransportChoice transport(services);
    std::string options_text;
    if (int r = prepare_mail(services, transport, options_text); r != kMailDone) return r;

    auto compressing = wait_for("Compressing Report Files\nPlease Wait.");
    TempFolder temp;
    if (temp.path().empty()) {
        compressing.reset();
        ui().message_box("The compressed copy of the report could not be created.", "File Compression Error",
                         MsgIcon::Error, MsgButtons::Ok);
        return kMailPackFailed;
    }
    MailMessage message;
    std::vector<ReportType> types;
    std::string lines;
    std::set<std::string> taken;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const MailReportEntry& report = reports[i];
        // Packing a folder that has gone would send a transfer file holding only REPINFO.TXT.
        if (!folder_exists(report.folder)) {
            compressing.reset();
            ui().message_box("The report \"" + report.name + "\" cannot be mailed, because its folder \"" +
                                 report.folder + "\" cannot be found.",
                             "File Compression Error", MsgIcon::Error, MsgButtons::Ok);
            return kMailPackFailed;
        }
        types.push_back(report.type);
        std::string name = make_transfer_name(report, static_cast<int>(i + 1));
        if (name.empty()) return kMailCancelled;
        name = unique_attachment_name(name, taken);
        // The name is Windows-1252 text; the file system spells it in UTF-8.
        const std::string path = join_path(temp.path(), platform::cp1252_to_utf8(name));
        message.attachments.push_back({path, name});
        lines += name + ": " + report.name + " (" + mail_body_name(report.type) + ")\n";

        std::string refusal;
        if (!pack_report_transfer_file(report.folder, {report.name, report.type, report.time, report.size}, path,
                                       &refusal)) {
            compressing.reset();
            ui().message_box(refusal.empty() ? "The compressed copy of the report could not be created." : refusal,
                             "File Compression Error", MsgIcon::Error, MsgButtons::Ok);
            return kMailPackFailed;
        }
        total += get_file_size_64(path);
    }
    compressing.reset();

    const std::int64_t threshold = static_cast<std::int64_t>(mail_size_threshold_kb()) * 1024;
    if (threshold != 0 && threshold <= total && size_warning_declined(total)) return kMailSizeDeclined;

    message.recipient = mail_default_address();
    message.subject = mail_subject_for(types);
    message.note = "These report(s) were sent from Brisco Torvane Medical Trevalink\n\n" + lines + "\n" + options_text;

    AuditTrail* audit = services.audit;
    if (audit && !audit->open(reports[0].folder)) {
        audit->close();
        ui().message_box(
            "The reports cannot be mailed, because the logfile cannot be opened.\n\nPlease attempt the operation "
            "again.",
            kMailErrorCaption, MsgIcon::Error, MsgButtons::Ok);
        return kMailAuditFailed;
    }
    bool sent = false;
    const int result = compose_and_send(message, transport, sent);
    if (!audit) return result;
    if (!sent) {
        audit->close();
        return result;
    }
    // The mail has gone: a report whose entry cannot be written is told of, and the mail still
    // counts as sent.
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const bool logged = (i == 0 || audit->open(reports[i].folder)) &&
                            audit->write(kAuditMail, reports[i].name, reports[i].folder, "");
        audit->close();
        if (!logged)
            ui().message_box("The report \"" + reports[i].name +
                                 "\" was mailed, but this could not be recorded in "
                                 "the logfile of " +
                                 reports[i].folder + ".",
                             kMailErrorCaption, MsgIcon::Error, MsgButtons::Ok);
    }
    return result;
}

int mail_file(const std::string& path, bool skip_size_check, const MailServices& services) {
    if (!file_exists(path)) {
        ui().message_box("The Compressed ECG File \"" + path + "\" cannot be found.", "Missing CEF", MsgIcon::Error,
                         MsgButtons::Ok);
        return kMailFileMissing;
    }
    if (!skip_size_check) {
        const std::int64_t threshold = static_cast<std::int64_t>(mail_size_threshold_kb()) * 1024;
        const std::int64_t size = get_file_size_64(path);
        if (threshold != 0 && threshold < size && size_warning_declined(size)) return kMailSizeDeclined;
    }
    TransportChoice transport(services);
    std::string options_text;
    if (int r = prepare_mail(services, transport, options_text); r != kMailDone) return r;
    MailMessage message;
    message.recipient = mail_default_address();
    message.subject = "Brisco Torvane Compressed ECG Report";
    message.note = "This compressed Torvane report was sent from Brisco Torvane Medical Trevalink\n" + options_text;
    // The name on disk is the file system's bytes; the message's texts are Windows-1252.
    message.attachments.push_back({path, platform::utf8_to_cp1252(get_path_file_name(path))});
    bool sent = false;
    return compose_and_send(message, transport, sent);
}

}  // namespace tv
