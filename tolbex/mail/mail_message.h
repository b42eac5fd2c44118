// An outgoing message and the text the send command reads: RFC 5322 headers and a MIME
// multipart/mixed body (the note as UTF-8 quoted-printable, each attachment base64
// application/octet-stream). Our own small writer: the few parts needed are simpler to test than a
// library's object model; only the address headers, whose grammar is not small, go through GMime.
// Texts come in as Windows-1252.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace tv {

// The largest file sent as an attachment; a larger one is refused, never sent cut or empty.
inline constexpr std::uint64_t kMailAttachmentMax = std::uint64_t{1} << 30;

struct MailAttachment {
    std::string path;  // the file sent
    std::string name;  // the name the receiver sees (Windows-1252, as every text here)
    bool operator==(const MailAttachment&) const = default;
};

struct MailMessage {
    std::string recipient;  // the address list as typed (',' or ';' between items); empty: none yet
    std::string subject;
    std::string note;
    std::vector<MailAttachment> attachments;
};

// Header values the message is stamped with; empty members are filled in (now, a fresh id).
struct MailEnvelope {
    std::string from;  // empty: the send command supplies the sender
    std::string date;
    std::string message_id;
};

// The whole message. Every attachment is read here, so the files may go as soon as this returns;
// an attachment that cannot be read is an error naming it, and so is a recipient list that
// read_recipients refuses: the message never goes to fewer recipients than were typed.
Result<std::string> build_mime_message(const MailMessage& message, const MailEnvelope& envelope = {});

// A header value as RFC 2047 encoded words when it is not plain printable ASCII.
std::string encode_header_text(const std::string& cp1252_text);
// An address list header value, read and written by GMime: each display name as an atom, a
// quoted string or RFC 2047 words, each address as it is, folded. A list that holds a control
// character or an item GMime cannot read goes whole as encode_header_text, so it can never add a
// header nor lose a recipient.
std::string encode_address_header(const std::string& cp1252_list);
// The mailboxes of an address list as GMime reads it, ',' and ';' both parting items: each as
// "Name <addr>" (the name quoted where it must be) and its address, Windows-1252. Empty when the
// list does not read whole, holds a control character or a group.
struct ListedAddress {
    std::string text, address;
    bool operator==(const ListedAddress&) const = default;
};
std::vector<ListedAddress> read_address_list(const std::string& cp1252_list);
// read_address_list when every address can be delivered to (text on both sides of an '@'), else
// empty: what the compose check takes and the To header is written from.
std::vector<ListedAddress> read_recipients(const std::string& cp1252_list);
std::string encode_quoted_printable(const std::string& utf8_text);
std::string encode_base64_lines(const std::string& bytes);

}  // namespace tv
