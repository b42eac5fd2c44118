#include "tolbex/signing/sign_flow.h"

#include "common/audit_log.h"
#include "common/files.h"
#include "platform/account.h"
#include "platform/system.h"
#include "tolbex/signing/signature_bitmaps.h"
#include "tolbex/signing/signed_report.h"

namespace tv::signing {
namespace {

bool signing_flag = false;

void error_box(Ui& ui, const std::string& text) { ui.message_box(text, {}, MsgIcon::Error, MsgButtons::Ok); }

}  // namespace

bool sign_enabled_for(const std::vector<std::string>& folder_names) {
    static const char* const refused[] = {".SGN", ".FUL", ".PRT", ".RAW", ".OSB", ".CFR",
                                          ".CEF", ".NOS", ".QDS", ".RR",  ".O12"};
    for (const std::string& name : folder_names)
        for (const char* r : refused)
            if (name.find(r) != std::string::npos) return false;
    return true;
}

bool is_signing_in_progress() { return signing_flag; }
SigningGuard::SigningGuard() { signing_flag = true; }
SigningGuard::~SigningGuard() { signing_flag = false; }

LogonSession& logon_session() {
    static LogonSession session;
    return session;
}

LogonCheck check_logon(LogonSession& session, const std::string& logon_name, std::string& password,
                       std::string& full_name, Ui& ui) {
    const std::optional<std::string> name = platform::account_full_name(logon_name);
    if (!name) {
        platform::wipe_secret(password);
        error_box(ui, kLogonNameInvalidText);
        return LogonCheck::BadName;
    }
    const platform::PasswordResult checked = platform::check_password(logon_name, password);
    switch (checked.outcome) {
        case platform::PasswordCheck::Right:
            session.logon(logon_name);
            full_name = *name;
            return LogonCheck::Ok;
        case platform::PasswordCheck::Wrong: error_box(ui, kPasswordInvalidText); break;
        case platform::PasswordCheck::Error: error_box(ui, with_text(kPasswordCheckFailedText, checked.message)); break;
    }
    return LogonCheck::BadPassword;
}

std::vector<std::string> sign_reports(const std::vector<std::string>& folders, const std::vector<std::string>& names,
                                      const Crypto& crypto, SignDialogs& dialogs, AuditTrail& audit, Ui& ui,
                                      LogonSession& session) {
    std::vector<std::string> stored;
    ConfirmValues values;
    if (!dialogs.logon(session, values.logon_name, values.full_name)) return stored;
    values.bitmap = find_signature_bitmap(values.logon_name);
    if (!dialogs.confirm(crypto, values)) return stored;

    SignatureRecord record;
    record.certificate = values.certificate;
    record.signer_name = values.full_name;
    record.meaning = values.meaning ? 1 : 0;
    record.logon_name = values.logon_name;
    record.system_name = platform::system().host_name().substr(0, kMaxSystemName);
    for (std::size_t i = 0; i < folders.size() && i < names.size(); ++i) {
        const std::string& folder = folders[i];
        const std::string& name = names[i];
        dialogs.signing(name);
        if (!values.bitmap.empty() && !signature_bitmap_readable(values.bitmap)) {
            error_box(ui, with_text(kBitmapOpenFailedText, values.bitmap));
            break;
        }
        if (!audit.open(folder)) {
            error_box(ui, kSignLogFailedText);
            audit.close();
            break;
        }
        Result<std::string> signed_report = sign_and_store_report(record, folder, name, values.bitmap);
        if (!signed_report) {
            const Error& e = signed_report.error();
            if (e.code >= kErrStoreReportBase)
                error_box(ui, kSignStoreFailedText);
            else if (!e.message.empty())
                error_box(ui, e.message);
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
