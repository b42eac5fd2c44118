// The audit entries that changes to archives and reports leave: open the log of the folder a path
// is in, write one entry, close. Core code takes an AuditTrail from its caller; a null trail logs
// nothing and every step succeeds, as with auditing off.
#pragma once
#include <functional>
#include <memory>
#include <string>

namespace tv {

class AuditLog;

class AuditTrail {
public:
    virtual ~AuditTrail() = default;
    // Opens the log beside `path` (TVyyyymm.LOG in its folder); false when it cannot be opened.
    virtual bool open(const std::string& path) = 0;
    // One entry; false when it was not written.
    virtual bool write(const char* format, const std::string& text1, const std::string& text2,
                       const std::string& text3) = 0;
    virtual void close() = 0;
    // Why the last open() failed, naming the file, when what stands at its name was refused;
    // empty otherwise.
    virtual std::string refusal() const { return {}; }
};

// The trail on the audit log (common/audit_log.h). While `is_on` answers false every step does
// nothing and succeeds.
class AuditLogTrail : public AuditTrail {
public:
    explicit AuditLogTrail(
        std::string program, std::function<bool()> is_on = [] { return true; });
    ~AuditLogTrail() override;
    AuditLogTrail(const AuditLogTrail&) = delete;
    AuditLogTrail& operator=(const AuditLogTrail&) = delete;

    bool is_on() const { return is_on_(); }
    bool open(const std::string& path) override;
    bool write(const char* format, const std::string& text1, const std::string& text2,
               const std::string& text3) override;
    void close() override;
    std::string refusal() const override;

private:
    std::string program_;
    std::function<bool()> is_on_;
    std::unique_ptr<AuditLog> log_;
};

}  // namespace tv
