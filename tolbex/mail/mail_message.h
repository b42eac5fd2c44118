// An outgoing message and the text the send command reads: RFC 5322 headers and a MIME
// multipart/mixed body (the note as UTF-8 quoted-printable, each attachment base64
// application/octet-stream). Our own small writer: the few parts needed are simpler to test than a
// library's object model. Texts come in as Windows-1252.
#pragma once
#include <string>
#include <vector>

#include "common/result.h"

namespace tv {

struct MailAttachment {
    std::string path;  // the file sent
    std::string name;  // the name the receiver sees
    bool operator==(const MailAttachment&) const = default;
};

struct MailMessage {
    std::string recipient;  // one address or display name; empty: none yet
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
// an attachment that cannot be read is an error naming it.
Result<std::string> build_mime_message(const MailMessage& message, const MailEnvelope& envelope = {});

// A header value as RFC 2047 encoded words when it is not plain printable ASCII.
std::string encode_header_text(const std::string& cp1252_text);
// An address list header value ("Name <addr>, addr, ..."): each display name plain, quoted or as
// encoded words, each address as it is. A list the compose check would refuse (a control
// character, an unclosed bracket) goes whole as encode_header_text, so it can never add a header.
std::string encode_address_header(const std::string& cp1252_list);
std::string encode_quoted_printable(const std::string& utf8_text);
std::string encode_base64_lines(const std::string& bytes);

}  // namespace tv
