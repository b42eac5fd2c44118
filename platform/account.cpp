#include "platform/account.h"

#include <pwd.h>
#include <security/pam_appl.h>
#include <string.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/codepage.h"

namespace tv::platform {
namespace {

std::mutex config_mutex;
std::string config_folder;

std::string pam_config_folder() {
    std::lock_guard lock(config_mutex);
    return config_folder;
}

struct Credentials {
    const std::string* logon_name;
    const std::string* password;
};

// Answers PAM's prompts: the password for hidden ones, the name for shown ones. The replies are
// PAM's to free (modules wipe them).
int converse(int count, const pam_message** messages, pam_response** replies, void* data) {
    if (count <= 0 || !replies) return PAM_CONV_ERR;
    const auto* creds = static_cast<const Credentials*>(data);
    auto* out = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
    if (!out) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const char* answer = nullptr;
        switch (messages[i]->msg_style) {
            case PAM_PROMPT_ECHO_OFF: answer = creds->password->c_str(); break;
            case PAM_PROMPT_ECHO_ON: answer = creds->logon_name->c_str(); break;
            default: break;  // texts and errors need no answer
        }
        if (answer && !(out[i].resp = strdup(answer))) {
            for (int j = 0; j < i; ++j)
                if (out[j].resp) {
                    explicit_bzero(out[j].resp, strlen(out[j].resp));
                    std::free(out[j].resp);
                }
            std::free(out);
            return PAM_BUF_ERR;
        }
    }
    *replies = out;
    return PAM_SUCCESS;
}

bool is_refusal(int status) {
    switch (status) {
        case PAM_AUTH_ERR:
        case PAM_USER_UNKNOWN:
        case PAM_MAXTRIES:
        case PAM_CRED_INSUFFICIENT:
        case PAM_PERM_DENIED:
        case PAM_ACCT_EXPIRED:
        case PAM_NEW_AUTHTOK_REQD:
        case PAM_AUTHTOK_EXPIRED: return true;
        default: return false;
    }
}

}  // namespace

std::optional<std::string> account_full_name(const std::string& logon_name) {
    if (logon_name.empty()) return std::nullopt;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    const std::string system_name = cp1252_to_utf8(logon_name);
    while (getpwnam_r(system_name.c_str(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found) return std::nullopt;
    std::string name = found->pw_gecos ? found->pw_gecos : "";
    name = name.substr(0, name.find(','));
    return name.empty() ? logon_name : utf8_to_cp1252(name);
}

PasswordResult check_password(const std::string& logon_name, std::string& password) {
    struct Wipe {
        std::string& s;
        ~Wipe() { wipe_secret(s); }
    } wipe{password};
    const std::string system_name = cp1252_to_utf8(logon_name);
    const Credentials creds{&system_name, &password};
    const pam_conv conversation{converse, const_cast<Credentials*>(&creds)};
    pam_handle_t* handle = nullptr;
    const std::string folder = pam_config_folder();
    int status = pam_start_confdir(kPamService, system_name.c_str(), &conversation,
                                   folder.empty() ? nullptr : folder.c_str(), &handle);
    if (status != PAM_SUCCESS) return {PasswordCheck::Error, pam_strerror(handle, status)};
    status = pam_authenticate(handle, PAM_SILENT);
    if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_SILENT);
    PasswordResult result;
    if (status == PAM_SUCCESS)
        result.outcome = PasswordCheck::Right;
    else if (is_refusal(status))
        result.outcome = PasswordCheck::Wrong;
    else
        result = {PasswordCheck::Error, pam_strerror(handle, status)};
    pam_end(handle, status);
    return result;
}

void set_pam_config_folder(std::string folder) {
    std::lock_guard lock(config_mutex);
    config_folder = std::move(folder);
}

void wipe_secret(std::string& s) {
    if (!s.empty()) explicit_bzero(s.data(), s.size());
    s.clear();
}

}  // namespace tv::platform
