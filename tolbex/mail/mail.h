// Mailing reports (each packed into a transfer file) and compressed ECG files: the message
// options from EMAILCFG.TXT, the size warning, our own compose dialog where the user confirms or
// edits the message (nothing is ever sent without it), delivery through the mail layer and the
// audit entries of what was really sent.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tolbex/transfer/report_handover.h"
#include "tolbex/mail/mail_message.h"
#include "tolbex/mail/mail_options.h"

namespace tv {

class AuditTrail;
class MailTransport;

// mail_reports / mail_file results.
inline constexpr int kMailDone = 0;          // sent, or the user cancelled the compose dialog
inline constexpr int kMailCannotLoad = 1;    // no send command, or no window to compose in
inline constexpr int kMailPackFailed = 3;    // a transfer file could not be made; mail_file: no such file
inline constexpr int kMailSizeDeclined = 4;  // the user declined the size warning
inline constexpr int kMailSendError = 5;     // the command failed (its message shown)
inline constexpr int kMailCancelled = 6;     // options dialog cancelled, or an unnamed report declined
inline constexpr int kMailAuditFailed = 7;   // the audit log could not be opened: nothing sent
inline constexpr int kMailFileMissing = 3;

// What the windows provide. Without a composer nothing can be sent.
struct MailWindowing {
    // Shows the message to the user; true sends it as edited, false cancels.
    std::function<bool(MailMessage&)> compose;
    // Shows the message options; false is Cancel. Without it the file's initial states count.
    std::function<bool(MailOptions&)> choose_options;
    // A wait dialog with this text for the life of the result.
    std::function<std::shared_ptr<void>(const std::string& text)> wait;
};
void set_mail_windowing(MailWindowing windowing);

struct MailServices {
    AuditTrail* audit = nullptr;         // null: nothing is audited
    MailTransport* transport = nullptr;  // null: the send command of the settings
    std::string options_file;            // empty: EMAILCFG.TXT in the program's folder
};

// Size warning threshold in KB ("Size Warning Threshold", 0 = off) and the default recipient.
int mail_size_threshold_kb();
std::string mail_default_address();

// The attachment name: the transfer name (else the description, after the user agreed), less
// the characters a file name cannot hold, + ".TVZ"; "Report%02d.TVZ" when nothing is left. Empty
// when the user declined.
std::string make_transfer_name(const MailReportEntry& report, int number);

// The subject for the counted types of a selection.
std::string mail_subject_for(const std::vector<ReportType>& types);
// The body name of a type ("" for 512 and unknown types).
std::string mail_body_name(ReportType type);

// A report whose folder has gone is refused (kMailPackFailed) before anything is sent. Once the
// mail has gone, a log entry that cannot be written is told of and the result stays kMailDone.
int mail_reports(const std::vector<MailReportEntry>& reports, const MailServices& services);
int mail_file(const std::string& path, bool skip_size_check, const MailServices& services);

}  // namespace tv
