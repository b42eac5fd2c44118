// Where BRACKMOR's events go: every event is a sentence on the console and, in the log, either
// the same sentence or (tagged log) a tag with its value. Questions are asked on the console and
// answered from standard input: one key without echo on a terminal, one line from anything else.
// End of input, or any answer but Y, is No.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/handles.h"

namespace tv {
class GenerationReplace;
}  // namespace tv

namespace tv::brackmor {

// Reads the answer to a Y/N question from a descriptor. On a terminal the mode is switched to
// single keys without echo for the one read and put back before it returns, also when a signal
// ends the program meanwhile.
bool read_yes(int fd);

class Reporter {
public:
    // Console text goes to `console`; the log is opened later (open_log) or never.
    explicit Reporter(std::FILE* console = stdout, int input_fd = 0);
    ~Reporter();

    // Starts a new log for BRACKMOR.LOG in `folder`, written to a hidden sibling. False when it
    // cannot be created; events then go to the console only.
    bool open_log(const std::string& folder);
    // Flushes the new log and, only when all of it was written, puts it in place: BRACKMOR.LOG
    // becomes BRACKMOR.SAV (and .SAV .1.SAV, .1.SAV .2.SAV). False when the log could not be
    // written whole or put in place, or was never opened: the earlier generations are then kept.
    bool close_log();
    void set_tagged(bool tagged) { tagged_ = tagged; }
    bool tagged() const { return tagged_; }

    void console(std::string_view text);  // console only, as given
    void log(std::string_view text);      // log only, as given
    void both(std::string_view text);     // console and log, as given
    // One event line: the sentence on the console; in the log the tag text when tagged, else the
    // sentence. Both get a line break; `tag_text` may hold a line break of its own.
    void event(std::string_view sentence, std::string_view tag_text);
    // event() for what a run may come upon more than once (each lock it takes settles the same
    // folder again): only the first time a run makes an event of that `tag_text`.
    void event_once(std::string_view sentence, std::string_view tag_text);

    // Asks `prompt` on the console; true only for Y (either case).
    bool ask(std::string_view prompt);
    // The console's form of the confirmation box before a folder is deleted.
    bool confirm_deletion(const std::string& path);

private:
    std::FILE* console_;
    int input_fd_;
    std::unique_ptr<GenerationReplace> pending_;
    platform::UniqueFile log_;
    bool tagged_ = false;
    bool log_failed_ = false;
    std::unordered_set<std::string> once_;  // tags of the events made once
};

}  // namespace tv::brackmor
