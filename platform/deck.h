// The replay deck's driver: a device opened by name, four control codes, message reads with a
// time limit, command writes, and a ring of isochronous packets shared with the driver.
// Here the device is a simulated deck, reached through a Unix socket under run_dir()/deck, or
// an in-process one for tests (DeckModel, deck_model.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tv::platform {

inline constexpr std::uint32_t kIoctlStartIso = 0x80002000;
inline constexpr std::uint32_t kIoctlStopIso = 0x80002004;
inline constexpr std::uint32_t kIoctlMapBuffer = 0x80002008;
inline constexpr std::uint32_t kIoctlUnmapBuffer = 0x8000200C;

inline constexpr std::size_t kDeckMessageMax = 1021;
inline constexpr std::size_t kDeckControlOut = 24;

// The ring header, u32 words at these byte offsets. The driver's map-buffer output was two
// 32-bit addresses; here its words are offsets into the shared ring region:
// word 0 = header offset, word 1 = buffer offset, word 2 = region size in bytes.
namespace ring {
inline constexpr std::size_t kEnabled = 0;
inline constexpr std::size_t kPacketsPerEntry = 4;
inline constexpr std::size_t kStride = 8;
inline constexpr std::size_t kBytesPerEntry = 12;
inline constexpr std::size_t kEntries = 16;
inline constexpr std::size_t kCirculated = 20;
inline constexpr std::size_t kUrbHeaderErrors = 24;
inline constexpr std::size_t kIrpErrors = 28;
inline constexpr std::size_t kOverrun = 32;
inline constexpr std::size_t kWriteIndex = 36;
inline constexpr std::size_t kReadIndex = 40;
inline constexpr std::size_t kHeaderBytes = 44;
inline constexpr std::size_t kHeaderRoom = 64;  // the buffer starts here in our regions
inline constexpr std::size_t kPacketBytes = 912;
inline constexpr std::size_t kMinStride = 920;
}  // namespace ring

// Ring words are shared with another process: every access is atomic.
inline std::uint32_t ring_load(const std::uint8_t* header, std::size_t offset) {
    return __atomic_load_n(reinterpret_cast<const std::uint32_t*>(header + offset), __ATOMIC_ACQUIRE);
}
inline void ring_store(std::uint8_t* header, std::size_t offset, std::uint32_t value) {
    __atomic_store_n(reinterpret_cast<std::uint32_t*>(header + offset), value, __ATOMIC_RELEASE);
}

enum class DeckAccess { command, read, control };

struct DeckRegion {
    std::uint8_t* base = nullptr;
    std::size_t size = 0;
};

// One open handle on the deck. Thread-safe.
class DeckHandle {
public:
    virtual ~DeckHandle() = default;
    virtual bool write(const void* data, std::size_t size, int& error) = 0;
    // One message: its length (> 0), 0 when the time ran out, -1 on failure (error set).
    virtual int read(void* buffer, std::size_t capacity, int timeout_ms, int& error) = 0;
    virtual bool control(std::uint32_t code, std::uint8_t (&out)[kDeckControlOut], int& error) = 0;
    // The ring region mapped by this handle's map-buffer call (empty before).
    virtual DeckRegion region() const = 0;
};

class DeckDriver {
public:
    virtual ~DeckDriver() = default;
    // nullptr when the device cannot be opened (error set). A command handle takes the deck: while
    // one is open, in this process or another, a second fails with EBUSY. The kernel closes a
    // killed holder's handle, so a deck nobody holds is never refused.
    virtual std::unique_ptr<DeckHandle> open(const std::string& device, DeckAccess access, int& error) = 0;
};

// "\\.\Tvreplay0" -> "Tvreplay0"; empty when the name is not a deck device name.
std::string deck_unit_name(const std::string& device);
// The simulator's socket for a device: <run_dir>/deck/Tvreplay0.
std::string deck_socket_path(const std::string& device);
// The shared-memory name of a unit's ring (SharedMemory adds the root's prefix).
std::string deck_ring_name(const std::string& unit);

// How long the socket driver waits for the deck to answer one request, on top of a read's own
// time limit: TV_DECK_TIMEOUT_MS when it holds a positive number, else 10 s. A request that runs
// past it fails with ETIMEDOUT, and so does every later request on that handle (a late answer
// would be taken for the next one's).
int deck_reply_timeout_ms();

// The driver that reaches the simulator program through its socket.
DeckDriver& socket_deck_driver();

}  // namespace tv::platform
