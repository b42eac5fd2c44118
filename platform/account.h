// The accounts of this computer, for proving who signs a report: whether a logon name is an
// account, its full name (from the password database), and a check of its password through PAM
// under a service of our own (kPamService; its file ships as pam/tolbex-sign and is installed
// into /etc/pam.d). Nobody is logged on, and a password is never kept or logged: the caller's
// copy is wiped once checked. Names are Windows-1252 text here (UTF-8 towards the system); a
// password is UTF-8 as typed, so that no character of it is lost on the way.
#pragma once
#include <optional>
#include <string>

namespace tv::platform {

inline constexpr const char* kPamService = "tolbex-sign";

// The account's full name: the password database's comment (GECOS) field up to its first comma,
// or the logon name when that is empty; nullopt when no account has this name.
std::optional<std::string> account_full_name(const std::string& logon_name);

enum class PasswordCheck { Right, Wrong, Error };
struct PasswordResult {
    PasswordCheck outcome = PasswordCheck::Error;
    std::string message;  // PAM's text for an Error
};

// Authenticates `logon_name` with `password` and checks that the account may be used now; the
// password is wiped whatever the outcome. Wrong for a refused password, an unknown user or a
// locked or expired account; Error when PAM itself fails (no service file, a module missing...).
PasswordResult check_password(const std::string& logon_name, std::string& password);

// Tests: the PAM configuration is read from this folder (a file named kPamService in it) in place
// of the system's; empty restores the system's.
void set_pam_config_folder(std::string folder);

// Overwrites every byte of `s` (in a way the compiler keeps), then empties it.
void wipe_secret(std::string& s);

}  // namespace tv::platform
