// How a composed message leaves the workstation: handed whole, on standard input, to a
// sendmail-compatible command (the site installs one, e.g. msmtp-mta). The command and the sender
// are settings of this layer in the profile's "eMail" section.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace tv {

inline constexpr const char* kMailSendCommandEntry = "Send Command";
inline constexpr const char* kMailFromEntry = "From Address";
inline constexpr const char* kDefaultMailSendCommand = "/usr/sbin/sendmail -t -i";

enum class MailDelivery { Sent, Failed };

struct MailDeliveryResult {
    MailDelivery outcome = MailDelivery::Failed;
    std::string message;  // what the command said on failure (trimmed, bounded)
};

class MailTransport {
public:
    virtual ~MailTransport() = default;
    // Whether a message could be handed over at all (the command exists).
    virtual bool is_available() = 0;
    // Hands the whole message over and waits for the command to finish.
    virtual MailDeliveryResult deliver(const std::string& message) = 0;
};

// Runs the command (no shell) with the message on standard input; exit 0 is sent.
class SendmailTransport : public MailTransport {
public:
    explicit SendmailTransport(std::string command_line);
    bool is_available() override;
    MailDeliveryResult deliver(const std::string& message) override;

private:
    std::vector<std::string> argv_;
};

// Splits the mail send command into words as a POSIX shell does, without expansions: at blanks;
// single or double quotes keep blanks in a word, and a backslash outside single quotes takes the
// next character as it is.
std::vector<std::string> split_shell_words(const std::string& command_line);

// The profile's settings, read on each call.
std::string mail_send_command();  // the default command when unset or blank
std::string mail_from_address();  // empty: the command supplies the sender

}  // namespace tv
