#include "tolbex/mail/mail_compose.h"

#include "common/ui.h"

namespace tv {

std::vector<std::string> parse_mail_recipients(const std::string& text) {
    std::vector<std::string> out;
    for (const ListedAddress& a : read_recipients(text)) out.push_back(a.text);
    return out;
}

bool MailComposeRules::ok() {
    if (parse_mail_recipients(message_.recipient).empty()) {
        ui().message_box(kMailNeedsAddressText, "Send Mail", MsgIcon::Warning, MsgButtons::Ok);
        return false;
    }
    return true;
}

}  // namespace tv
