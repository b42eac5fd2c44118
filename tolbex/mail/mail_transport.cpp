#include "tolbex/mail/mail_transport.h"

#include "common/text.h"
#include "common/files.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/runner.h"
#include "common/safe_open.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace tv {

namespace {

constexpr std::size_t kMaxCommandMessage = 2000;
constexpr std::size_t kCommandOutputRead = 64 * 1024;

std::string trimmed(std::string text) {
    while (!text.empty() && is_space_char(text.back())) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && is_space_char(text[start])) ++start;
    text.erase(0, start);
    if (text.size() > kMaxCommandMessage) text = text.substr(0, kMaxCommandMessage) + "...";
    return text;
}

}  // namespace

std::vector<std::string> split_shell_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            in_word = true;
            if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '\\' && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += c;
            }
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

std::string mail_send_command() {
    std::string command = get_profile_string(kEmailSection, kMailSendCommandEntry, "");
    if (split_shell_words(command).empty()) command = kDefaultMailSendCommand;
    return command;
}

std::string mail_from_address() { return get_profile_string(kEmailSection, kMailFromEntry, ""); }

SendmailTransport::SendmailTransport(std::string command_line) : argv_(split_shell_words(command_line)) {}

bool SendmailTransport::is_available() { return !argv_.empty() && !platform::resolve_program(argv_[0]).empty(); }

MailDeliveryResult SendmailTransport::deliver(const std::string& message) {
    MailDeliveryResult result;
    const std::string program = argv_.empty() ? std::string() : platform::resolve_program(argv_[0]);
    if (program.empty()) {
        result.message = "The mail command \"" + (argv_.empty() ? std::string() : argv_[0]) + "\" cannot be found.";
        return result;
    }
    TempFolder work;
    if (work.path().empty()) {
        result.message = "No temporary folder could be made for the message.";
        return result;
    }
    const std::string message_path = join_path(work.path(), "message.eml");
    const std::string output_path = join_path(work.path(), "output.txt");
    if (!platform::atomic_write_file(message_path, message)) {
        result.message = "The message could not be written to the temporary folder.";
        return result;
    }

    platform::ChildIo io(platform::Stdin::File);
    io.input_file = message_path;
    io.output_file = output_path;
    ChildProgram child;
    if (!child.start(argv_, io)) {
        result.message = "The mail command \"" + program + "\" could not be started.";
        return result;
    }
    const ChildEnd end = child.wait_pumping();
    std::string said;
    // A command that talks at length is shown in part: only the head of what it said is read.
    if (auto head = read_outside_head(output_path, kCommandOutputRead)) said = trimmed(*head);
    if (end.how == ChildEnd::How::Exited && end.exit_code == 0) {
        result.outcome = MailDelivery::Sent;
        return result;
    }
    result.message = said.empty()
                         ? "The mail command \"" + program + "\" ended with code " + std::to_string(end.code()) + "."
                         : said;
    return result;
}

}  // namespace tv
