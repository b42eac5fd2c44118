#include "tolbex/archive/audit_trail.h"

#include "common/audit_log.h"

namespace tv {

AuditLogTrail::AuditLogTrail(std::string program, std::function<bool()> is_on)
    : program_(std::move(program)), is_on_(std::move(is_on)) {}

AuditLogTrail::~AuditLogTrail() = default;

bool AuditLogTrail::open(const std::string& path) {
    if (!is_on()) return true;
    if (!log_) log_ = std::make_unique<AuditLog>(program_);
    return log_->open(path);
}

bool AuditLogTrail::write(const char* format, const std::string& text1, const std::string& text2,
                          const std::string& text3) {
    if (!is_on()) return true;
    return log_ && log_->write_entry(format, text1, text2, text3);
}

std::string AuditLogTrail::refusal() const { return log_ ? log_->refusal_text() : std::string(); }

void AuditLogTrail::close() {
    if (is_on() && log_) log_->close();
}

}  // namespace tv
