#include "tolbex/mail/mail_compose.h"

#include "common/ui.h"

namespace tv {

std::vector<std::string> parse_mail_recipients(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(',', pos);
        if (end == std::string::npos) end = text.size();
        std::string one = text.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t first = one.find_first_not_of(" \t");
        if (first == std::string::npos) {
            if (end == text.size()) break;
            continue;
        }
        one = one.substr(first, one.find_last_not_of(" \t") - first + 1);
        // "Name <addr>" keeps the address between the angle brackets.
        std::string address = one;
        const std::size_t lt = one.rfind('<');
        if (lt != std::string::npos && one.back() == '>') address = one.substr(lt + 1, one.size() - lt - 2);
        const std::size_t at = address.find('@');
        if (at == std::string::npos || at == 0 || at + 1 == address.size()) return {};
        for (unsigned char c : one)
            if (c < 0x20 || c == 0x7F || c == '"') return {};
        for (unsigned char c : address)
            if (c == ' ' || c == '<' || c == '>') return {};
        out.push_back(one);
    }
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
