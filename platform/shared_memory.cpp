#include "platform/shared_memory.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/paths.h"

namespace tv::platform {
namespace {

// Grows the object to `size` under a lock on the object itself, so that two openers asking for
// different sizes never shrink it under a third one's view.
bool grow(int fd, std::size_t size, std::size_t& object_size) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    int rc;
    do rc = ::fcntl(fd, F_OFD_SETLKW, &fl);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && static_cast<std::uint64_t>(st.st_size) < size) {
        do rc = ::ftruncate(fd, static_cast<off_t>(size));
        while (rc != 0 && errno == EINTR);
        ok = rc == 0;
        object_size = size;
    } else if (ok) {
        object_size = static_cast<std::size_t>(st.st_size);
    }
    fl.l_type = F_UNLCK;
    ::fcntl(fd, F_OFD_SETLK, &fl);
    return ok;
}

}  // namespace

SharedMemory::~SharedMemory() {
    if (data_) ::munmap(data_, size_);
}

std::unique_ptr<SharedMemory> SharedMemory::open(const std::string& name, std::size_t size, bool writable) {
    std::string object = ipc_name(name);
    if (object.empty() || size == 0 || size > static_cast<std::size_t>(SSIZE_MAX)) return nullptr;
    // shm_open sets close-on-exec itself; the descriptor is closed once mapped anyway.
    // A read-only opener may still create the object, as the system's own mappings allow; it
    // opens read/write for that and maps read-only.
    UniqueFd fd(::shm_open(object.c_str(), O_RDWR | O_CREAT, 0600));
    const bool can_write = static_cast<bool>(fd);
    if (!fd && !writable && errno == EACCES) fd.reset(::shm_open(object.c_str(), O_RDONLY, 0));
    if (!fd) return nullptr;
    return map(std::move(fd), name, size, writable, can_write);
}

std::unique_ptr<SharedMemory> SharedMemory::open_existing(const std::string& name, std::size_t size, bool writable) {
    std::string object = ipc_name(name);
    if (object.empty() || size == 0 || size > static_cast<std::size_t>(SSIZE_MAX)) return nullptr;
    UniqueFd fd(::shm_open(object.c_str(), writable ? O_RDWR : O_RDONLY, 0));
    if (!fd) return nullptr;
    return map(std::move(fd), name, size, writable, writable);
}

std::unique_ptr<SharedMemory> SharedMemory::map(UniqueFd fd, const std::string& name, std::size_t size, bool writable,
                                                bool can_write) {
    std::unique_ptr<SharedMemory> m(new SharedMemory);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return nullptr;
    m->object_size_ = static_cast<std::size_t>(st.st_size);
    if (m->object_size_ < size) {
        // A new object has size 0 and is always sized; an existing smaller one only for writers,
        // so that a read-only view never reaches past the object's end.
        const bool fresh = st.st_size == 0;
        if (!can_write || (!writable && !fresh) || !grow(fd.get(), size, m->object_size_) || m->object_size_ < size)
            return nullptr;
    }
    void* p = ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd.get(), 0);
    fd.reset();
    if (p == MAP_FAILED) return nullptr;
    m->data_ = p;
    m->size_ = size;
    m->name_ = name;
    return m;
}

bool SharedMemory::unlink(const std::string& name) {
    std::string object = ipc_name(name);
    return !object.empty() && ::shm_unlink(object.c_str()) == 0;
}

// ---- named events ----

namespace {

constexpr std::uint32_t kEventMagic = 0x54564556;  // "TVEV"
constexpr std::uint32_t kInitialising = 1;

struct EventBlock {
    std::uint32_t magic;
    std::uint32_t manual_reset;
    std::uint32_t state;  // 1 = set; the futex word
    std::uint32_t reserved;
};

EventBlock* block_of(const std::unique_ptr<SharedMemory>& mem) { return static_cast<EventBlock*>(mem->data()); }

std::atomic_ref<std::uint32_t> word(std::uint32_t& w) { return std::atomic_ref<std::uint32_t>(w); }

// Shared (not private) futex calls: the word lives in a mapping other processes see.
void futex_wake_all(std::uint32_t* addr) { ::syscall(SYS_futex, addr, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0); }

void futex_wait(std::uint32_t* addr, std::uint32_t expected, const timespec* rel) {
    ::syscall(SYS_futex, addr, FUTEX_WAIT, expected, rel, nullptr, 0);
}

std::int64_t monotonic_ms() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits (briefly) for the creator to finish filling in the block.
bool await_initialised(EventBlock* b) {
    for (int i = 0; i < 2000; ++i) {
        std::uint32_t m = word(b->magic).load(std::memory_order_acquire);
        if (m == kEventMagic) return true;
        if (m != kInitialising) return false;  // not an event
        timespec ts{0, 500000};
        ::nanosleep(&ts, nullptr);
    }
    return false;
}

}  // namespace

NamedEvent::~NamedEvent() = default;

std::unique_ptr<NamedEvent> NamedEvent::open(const std::string& name, bool manual_reset, bool initially_set) {
    auto mem = SharedMemory::open(name, sizeof(EventBlock), true);
    if (!mem) return nullptr;
    EventBlock* b = block_of(mem);
    std::uint32_t expected = 0;
    // Whoever claims the zeroed block first is the creator and decides the event's kind.
    if (word(b->magic).compare_exchange_strong(expected, kInitialising, std::memory_order_acq_rel)) {
        b->manual_reset = manual_reset ? 1 : 0;
        word(b->state).store(initially_set ? 1 : 0, std::memory_order_relaxed);
        word(b->magic).store(kEventMagic, std::memory_order_release);
    } else if (!await_initialised(b)) {
        return nullptr;
    }
    std::unique_ptr<NamedEvent> e(new NamedEvent);
    e->mem_ = std::move(mem);
    return e;
}

std::unique_ptr<NamedEvent> NamedEvent::open_existing(const std::string& name) {
    auto mem = SharedMemory::open_existing(name, sizeof(EventBlock), true);
    if (!mem || !await_initialised(block_of(mem))) return nullptr;
    std::unique_ptr<NamedEvent> e(new NamedEvent);
    e->mem_ = std::move(mem);
    return e;
}

void NamedEvent::set() {
    EventBlock* b = block_of(mem_);
    word(b->state).store(1, std::memory_order_release);
    futex_wake_all(&b->state);
}

void NamedEvent::reset() { word(block_of(mem_)->state).store(0, std::memory_order_release); }

bool NamedEvent::is_set() const { return word(block_of(mem_)->state).load(std::memory_order_acquire) == 1; }

bool NamedEvent::wait(int timeout_ms) {
    EventBlock* b = block_of(mem_);
    const bool manual = b->manual_reset != 0;
    const std::int64_t deadline = timeout_ms < 0 ? 0 : monotonic_ms() + timeout_ms;
    for (;;) {
        if (manual) {
            if (word(b->state).load(std::memory_order_acquire) == 1) return true;
        } else {
            std::uint32_t one = 1;
            if (word(b->state).compare_exchange_strong(one, 0, std::memory_order_acq_rel)) return true;
        }
        if (timeout_ms < 0) {
            futex_wait(&b->state, 0, nullptr);
            continue;
        }
        std::int64_t left = deadline - monotonic_ms();
        if (left <= 0) return false;
        timespec rel{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
        futex_wait(&b->state, 0, &rel);
    }
}

}  // namespace tv::platform
