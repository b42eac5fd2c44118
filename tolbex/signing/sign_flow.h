// The Sign Report command without its windows: the logged-on account holder, the logon check,
// and the flow that signs the selected reports one after the other. The windows (tolbex/signing/ui)
// put up the logon and confirmation dialogs behind SignDialogs; tests script them.
//
// Each report becomes a new signed report in the archive that holds it, with one audit entry.
// The audit log is opened before a report is signed, so that no signed report is stored without
// its entry. The first failure stops the command: reports signed before it stay stored, nothing
// of the failed one is left anywhere (its scratch folder goes with it), and the user's report
// folders are never written.
#pragma once
#include <string>
#include <vector>

#include "common/ui.h"
#include "tolbex/archive/audit_trail.h"
#include "tolbex/signing/crypto.h"
#include "tolbex/signing/trust.h"

namespace tv::signing {

inline constexpr const char* kLogonNameInvalidText = "Logon name is not valid";
inline constexpr const char* kPasswordInvalidText = "Password is not valid";
// An unexpected failure of the password check itself (PAM's text); then as a wrong password.
inline constexpr const char* kPasswordCheckFailedText = "Password authentication failed : %s";
inline constexpr const char* kSignLogFailedText =
    "The report cannot been signed, because the logfile cannot be opened.\n\nPlease attempt the operation again.";
inline constexpr const char* kSignStoreFailedText =
    "The signed report could not be stored in the archive.\nThe disk may be full, or you may not have write "
    "access to it.";
inline constexpr const char* kSigningTipPrefix = " Signing report : ";
inline constexpr std::size_t kMaxSystemName = 255;

// Who proved their password last, for the program's life (the logon dialog offers the name again).
class LogonSession {
public:
    const std::string& logon_name() const { return logon_name_; }
    bool logged_on() const { return !logon_name_.empty(); }
    // Replaces the last logon.
    void logon(std::string logon_name) { logon_name_ = std::move(logon_name); }
    void close() { logon_name_.clear(); }

private:
    std::string logon_name_;
};
LogonSession& logon_session();

enum class LogonCheck { Ok, BadName, BadPassword };
// The logon dialog's OK: the name must be an account (kLogonNameInvalidText), the password right
// (kPasswordInvalidText; a failing check shows kPasswordCheckFailedText and counts as wrong). The
// password (UTF-8) is wiped in every case, with every copy made of it. On Ok the session holds the
// name, `full_name` is set and the password has opened what it opens of `keys` (when given).
LogonCheck check_logon(LogonSession& session, const std::string& logon_name, std::string& password,
                       std::string& full_name, Ui& ui, Crypto* keys = nullptr);

// Asked when the chosen certificate is issued to someone other than the logged-on account's full
// name: the certificate's name goes on the report whatever the account, so the signer confirms it.
inline constexpr const char* kSignerMismatchText =
    "The certificate you chose is issued to \"%s\" by \"%s\", but you are logged on as \"%s\" (%s).\n\n"
    "The report will be signed as \"%s\". Sign it?\n\nChoose No to pick another certificate.";
// Whether a certificate's subject names the account holder: equal but for letter case and spaces.
bool signer_matches_account(const std::string& subject_name, const std::string& full_name);

// What the confirmation dialog shows and gives back.
struct ConfirmValues {
    std::string logon_name, full_name;
    std::string bitmap;       // the signer's signature bitmap; empty when none
    int meaning = 0;          // 0 reviewed, 1 approved
    Certificate certificate;  // the chosen one, after Confirm
};

class SignDialogs {
public:
    virtual ~SignDialogs() = default;
    // The logon dialog on the session; true on OK with the logon and full names, the password
    // having opened what it opens of `keys` (check_logon).
    virtual bool logon(LogonSession& session, Crypto& keys, std::string& logon_name, std::string& full_name) = 0;
    // The confirmation dialog; true on Confirm with a certificate chosen.
    virtual bool confirm(const Crypto& crypto, ConfirmValues& values) = 0;
    // Each report as it is signed (the wait tip " Signing report : <name> ").
    virtual void signing(const std::string& /*report_name*/) {}
};

// Whether Sign Report is offered for the selected reports' folder names: not when one of them is
// already signed (".SGN") or holds a kind that cannot be signed (".FUL", ".PRT", ".RAW", ".OSB",
// ".CFR", ".CEF", ".NOS", ".QDS", ".RR", ".O12" anywhere in the name). Also with none selected.
bool sign_enabled_for(const std::vector<std::string>& folder_names);

// Signs the reports (folders and names of the same length, in list order). The signer's name
// on each is the certificate's (its subject); a certificate issued to another name than the
// account's is used only once the signer says yes to kSignerMismatchText (No: back to the
// confirmation); one that would not verify (signing_refusal: not meant for signing, or not trusted
// by the site at this moment) is refused with kNotForSigningText before anything is written.
// Returns the folders of the signed reports stored, in order.
std::vector<std::string> sign_reports(const std::vector<std::string>& folders, const std::vector<std::string>& names,
                                      Crypto& crypto, SignDialogs& dialogs, AuditTrail& audit, Ui& ui,
                                      LogonSession& session = logon_session());

}  // namespace tv::signing
