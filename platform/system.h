// Clock, identity and pauses, behind one interface so that tests can pin them.
#pragma once
#include <cstdint>
#include <string>

namespace tv::platform {

class System {
public:
    virtual ~System() = default;
    // Seconds since 1970 (UTC); -1 when the clock cannot be read.
    virtual std::int64_t now() = 0;
    virtual std::string user_name() = 0;  // logon name; empty on failure
    virtual std::string host_name() = 0;  // computer name; empty on failure
    // This computer's IPv4 address as "%d.%d.%d.%d": first non-loopback interface address,
    // else the resolver's answer for the host name, else empty.
    virtual std::string ipv4_address() = 0;
    virtual void sleep_ms(int ms) = 0;
};

// The process-wide instance (real by default).
System& system();
// Replaces it (tests); nullptr restores the real one. Not thread-safe: call at set-up.
void set_system(System* s);

// The real implementation, for fakes that only override a few calls.
class RealSystem : public System {
public:
    std::int64_t now() override;
    std::string user_name() override;
    std::string host_name() override;
    std::string ipv4_address() override;
    void sleep_ms(int ms) override;
};

}  // namespace tv::platform
