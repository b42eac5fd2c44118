// Stand-in for the NT event log: syslog, or a text file under TORVANE_ROOT (tests, demo).
#pragma once
#include <string>

namespace tv::platform {

enum class EventType { Error = 1, Warning = 2, Information = 4 };

class EventLog {
public:
    virtual ~EventLog() = default;
    // False when the event could not be recorded.
    virtual bool report(const std::string& source, EventType type, int category, int event_id,
                        const std::string& user) = 0;
};

// The process-wide sink: a file when paths.h's event_log_file() is set, else syslog (the source
// as identity, LOG_USER, level by type). The file gets one CR LF line per event, fields
// separated by tabs: local time "YYYY-MM-DDThh:mm:ss", source, type (Error, Warning,
// Information), category, event id, user; control characters in the texts become blanks.
EventLog& event_log();
void set_event_log(EventLog* log);

}  // namespace tv::platform
