// The rules of the compose dialog: the user may edit everything but the attachments, and Send
// needs at least one recipient address (a display name alone cannot be delivered).
#pragma once
#include <string>
#include <vector>

#include "framework/core/dialog_rules.h"
#include "tolbex/mail/mail_message.h"

namespace tv {

inline constexpr const char* kMailNeedsAddressText =
    "Please enter the mail address of each recipient (for example name@example.org), separated by commas.";

// The recipients ("a@b.org", "Name <a@b.org>", "\"Last, First\" <a@b.org>", ...; ',' or ';'
// between them), each as read_recipients gives it; empty when any of them is not an address or
// the list does not read.
std::vector<std::string> parse_mail_recipients(const std::string& text);

class MailComposeRules : public fw::DialogRules {
public:
    explicit MailComposeRules(MailMessage& message) : message_(message) {}
    MailMessage& message() { return message_; }
    // Refuses (with the message) a recipient field without a deliverable address.
    bool ok() override;

private:
    MailMessage& message_;
};

}  // namespace tv
