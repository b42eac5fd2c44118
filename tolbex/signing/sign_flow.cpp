#include "tolbex/signing/sign_flow.h"

#include "common/audit_log.h"
#include "common/files.h"
#include "common/ui.h"
#include "platform/account.h"
#include "platform/ascii.h"
#include "platform/system.h"
#include "tolbex/signing/signature_bitmaps.h"
#include "tolbex/signing/signed_report.h"
#include "tolbex/signing/trust.h"

namespace tv::signing {
namespace {

// A copy of a password, wiped when it goes.
struct SecretCopy {
    explicit SecretCopy(std::string s) : value(std::move(s)) {}
    ~SecretCopy() { platform::wipe_secret(value); }
    SecretCopy(const SecretCopy&) = delete;
    SecretCopy& operator=(const SecretCopy&) = delete;
    std::string value;
};

// Lower-case ASCII letters, runs of white space as one space, none at the ends.
std::string folded_name(const std::string& name) {
    std::string out;
    for (char c : name) {
        const bool space = c == ' ' || c == '\t';
        if (space) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += platform::ascii_lower(c);
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string mismatch_text(const Certificate& c, const ConfirmValues& values) {
    const std::string subject = c.subject_name(), issuer = c.issuer_name();
    std::string out = kSignerMismatchText;
    std::size_t at = 0;
    for (const std::string* part : {&subject, &issuer, &values.full_name, &values.logon_name, &subject}) {
        at = out.find("%s", at);
        if (at == std::string::npos) break;
        out.replace(at, 2, *part);
        at += part->size();
    }
    return out;
}

}  // namespace

bool sign_enabled_for(const std::vector<std::string>& folder_names) {
    static const char* const refused[] = {".SGN", ".FUL", ".PRT", ".RAW", ".OSB", ".CFR",
                                          ".CEF", ".NOS", ".QDS", ".RR",  ".O12"};
    for (const std::string& name : folder_names)
        for (const char* r : refused)
            if (name.find(r) != std::string::npos) return false;
    return true;
}

bool signer_matches_account(const std::string& subject_name, const std::string& full_name) {
    return folded_name(subject_name) == folded_name(full_name);
}

LogonSession& logon_session() {
    static LogonSession session;
    return session;
}

LogonCheck check_logon(LogonSession& session, const std::string& logon_name, std::string& password,
                       std::string& full_name, Ui& ui, Crypto* keys) {
    // The password check wipes its argument; the keys are opened only once the account is proved.
    SecretCopy key_password(keys ? password : std::string());
    const std::optional<std::string> name = platform::account_full_name(logon_name);
    if (!name) {
        platform::wipe_secret(password);
        show_error(ui, kLogonNameInvalidText);
        return LogonCheck::BadName;
    }
    const platform::PasswordResult checked = platform::check_password(logon_name, password);
    switch (checked.outcome) {
        case platform::PasswordCheck::Right:
            session.logon(logon_name);
            full_name = *name;
            if (keys) keys->unlock(key_password.value);
            return LogonCheck::Ok;
        case platform::PasswordCheck::Wrong: show_error(ui, kPasswordInvalidText); break;
        case platform::PasswordCheck::Error:
            show_error(ui, with_text(kPasswordCheckFailedText, checked.message));
            break;
    }
    return LogonCheck::BadPassword;
}

std::vector<std::string> sign_reports(const std::vector<std::string>& folders, const std::vector<std::string>& names,
                                      Crypto& crypto, SignDialogs& dialogs, AuditTrail& audit, Ui& ui,
                                      LogonSession& session) {
    std::vector<std::string> stored;
    ConfirmValues values;
    if (!dialogs.logon(session, crypto, values.logon_name, values.full_name)) return stored;
    values.bitmap = find_signature_bitmap(values.logon_name);
    for (;;) {
        if (!dialogs.confirm(crypto, values)) return stored;
        if (signer_matches_account(values.certificate.subject_name(), values.full_name) ||
            ui.message_box(mismatch_text(values.certificate, values), {}, MsgIcon::Question, MsgButtons::YesNo,
                           MsgDefault::Second) == MsgResult::Yes)
            break;
    }

    // Refused before anything is written, so that no report carries a signature that would not
    // verify here.
    if (const std::string why = signing_refusal(values.certificate, platform::system().now()); !why.empty()) {
        show_error(ui, with_text(kNotForSigningText, why));
        return stored;
    }
    SignatureRecord record;
    record.certificate = values.certificate;
    // Who signs is who the certificate names; the logon name records the account that proved it.
    record.signer_name = values.certificate.subject_name();
    record.meaning = values.meaning ? 1 : 0;
    record.logon_name = values.logon_name;
    record.system_name = platform::system().host_name().substr(0, kMaxSystemName);
    for (std::size_t i = 0; i < folders.size() && i < names.size(); ++i) {
        const std::string& folder = folders[i];
        const std::string& name = names[i];
        dialogs.signing(name);
        if (!values.bitmap.empty() && !signature_bitmap_readable(values.bitmap)) {
            show_error(ui, with_text(kBitmapOpenFailedText, values.bitmap));
            break;
        }
        if (!audit.open(folder)) {
            show_error(ui, kSignLogFailedText);
            audit.close();
            break;
        }
        Result<std::string> signed_report = sign_and_store_report(record, folder, name, values.bitmap);
        if (!signed_report) {
            const Error& e = signed_report.error();
            if (e.code >= kErrStoreReportBase)
                show_error(ui, kSignStoreFailedText);
            else if (!e.message.empty())
                show_error(ui, e.message);
            audit.close();
            break;
        }
        audit.write(kAuditTimiSign, name, folder, *signed_report);
        audit.close();
        stored.push_back(*signed_report);
    }
    return stored;
}

}  // namespace tv::signing
