// A PAM configuration of the test's own for the signer's password check: the service file in a
// folder of the test, so that no system account or password is needed. Permit accepts any
// password, Deny refuses every one. Put back to the system's configuration on destruction.
#pragma once
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "platform/account.h"

namespace tv::testing_pam {

enum class PamRule { Permit, Deny };

class PamTestConfig {
public:
    PamTestConfig(const std::filesystem::path& folder, PamRule rule) : folder_(folder) {
        set(rule);
        platform::set_pam_config_folder(folder_.string());
    }
    ~PamTestConfig() { platform::set_pam_config_folder({}); }
    PamTestConfig(const PamTestConfig&) = delete;
    PamTestConfig& operator=(const PamTestConfig&) = delete;

    void set(PamRule rule) { write(rule == PamRule::Permit ? "pam_permit.so" : "pam_deny.so"); }
    // The service file's module for both steps, as PAM names it ("pam_unix.so").
    void write(const std::string& module) {
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ / platform::kPamService, std::ios::trunc)
            << "auth required " << module << "\naccount required " << module << "\n";
    }

private:
    std::filesystem::path folder_;
};

// The name of the account the test runs as.
inline std::string current_logon_name() {
    const passwd* p = ::getpwuid(::getuid());
    return p ? p->pw_name : "";
}

}  // namespace tv::testing_pam
