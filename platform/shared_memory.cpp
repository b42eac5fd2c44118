#include "platform/shared_memory.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/paths.h"

namespace tv::platform {
namespace {

// Where the system keeps the objects shm_open makes.
constexpr const char* kShmDir = "/dev/shm";

// An open-file-description lock on the whole object: owned by the descriptor, so it goes when
// the holder closes it or dies, and a change between shared and exclusive is atomic.
bool lock(int fd, short type, bool wait) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    int rc;
    do rc = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// True while `object` still names the object open on `fd` (its last holder may have removed it).
bool still_named(const std::string& object, int fd) {
    UniqueFd probe(::shm_open(object.c_str(), O_RDONLY, 0));
    struct stat a, b;
    return probe && ::fstat(fd, &a) == 0 && ::fstat(probe.get(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// With the exclusive lock held: nobody else holds the object, so its name goes.
void remove_if_named(const std::string& object, int fd) {
    if (still_named(object, fd)) ::shm_unlink(object.c_str());
}

}  // namespace

// A closer lets go of its shared lock before it tries for the exclusive one. Changing shared to
// exclusive in place fails for every one of several closers while the others still hold, and then
// nobody removes the name. Letting go first, the last closer to try finds no lock but perhaps the
// exclusive one of a closer that got it, and so removes the name itself or leaves it to that one.
// An opener that slips in between holds a shared lock (it keeps the object) or starts the object
// anew under the exclusive one; the name is checked against the descriptor before it goes.
SharedMemory::~SharedMemory() {
    if (data_) ::munmap(data_, size_);
    if (fd_ && can_remove_ && lock(fd_.get(), F_UNLCK, false) && lock(fd_.get(), F_WRLCK, false))
        remove_if_named(object_, fd_.get());
}

std::unique_ptr<SharedMemory> SharedMemory::open(const std::string& name, std::size_t size, bool writable) {
    return attach(name, size, writable, true);
}

std::unique_ptr<SharedMemory> SharedMemory::open_existing(const std::string& name, std::size_t size, bool writable) {
    return attach(name, size, writable, false);
}

std::unique_ptr<SharedMemory> SharedMemory::attach(const std::string& name, std::size_t size, bool writable,
                                                   bool create) {
    const std::string object = ipc_name(name);
    if (object.empty() || size == 0 || size > static_cast<std::size_t>(SSIZE_MAX)) return nullptr;
    // A holder that is initialising or removing the object keeps the exclusive lock for a moment;
    // an opener that met a removed object tries again with the name's new one.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        // Read/write even for a read-only opener, which may have to create or reset the object;
        // read-only only where the object is someone else's.
        UniqueFd fd(::shm_open(object.c_str(), O_RDWR | (create ? O_CREAT : 0), 0600));
        const bool can_write = static_cast<bool>(fd);
        if (!fd && !writable && errno == EACCES) fd.reset(::shm_open(object.c_str(), O_RDONLY, 0));
        if (!fd) return nullptr;
        if (can_write && lock(fd.get(), F_WRLCK, false)) {
            if (!still_named(object, fd.get())) continue;
            if (!create) {
                remove_if_named(object, fd.get());  // abandoned by a killed holder
                return nullptr;
            }
            // New, or abandoned: it starts as `size` zero bytes.
            auto truncate = [&](off_t length) {
                int rc;
                do rc = ::ftruncate(fd.get(), length);
                while (rc != 0 && errno == EINTR);
                return rc == 0;
            };
            if (!truncate(0) || !truncate(static_cast<off_t>(size))) {
                remove_if_named(object, fd.get());
                return nullptr;
            }
            if (!lock(fd.get(), F_RDLCK, true)) {
                remove_if_named(object, fd.get());  // nobody would hold it
                return nullptr;
            }
        } else {
            if (!lock(fd.get(), F_RDLCK, true)) return nullptr;
            if (!still_named(object, fd.get())) continue;
        }
        std::unique_ptr<SharedMemory> m(new SharedMemory);
        m->name_ = name;
        m->object_ = object;
        m->can_remove_ = can_write;
        m->fd_ = std::move(fd);  // from here the destructor lets go of the object
        struct stat st;
        if (::fstat(m->fd_.get(), &st) != 0) return nullptr;
        m->object_size_ = static_cast<std::size_t>(st.st_size);
        if (m->object_size_ < size) return nullptr;  // a live holder's smaller object
        void* p = ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, m->fd_.get(), 0);
        if (p == MAP_FAILED) return nullptr;
        m->data_ = p;
        m->size_ = size;
        return m;
    }
    return nullptr;
}

bool SharedMemory::reserve() {
    if (!fd_ || !data_) return false;
    int rc;
    do rc = ::posix_fallocate(fd_.get(), 0, static_cast<off_t>(size_));
    while (rc == EINTR);
    errno = rc;
    return rc == 0;
}

// Our shared lock turned exclusive for a moment: that works only when nobody else holds one. An
// opener meanwhile waits for the shared lock, which is back before this returns.
bool SharedMemory::held_elsewhere() const {
    if (!fd_) return false;
    if (!lock(fd_.get(), F_WRLCK, false)) return true;
    lock(fd_.get(), F_RDLCK, true);
    return false;
}

bool SharedMemory::unlink(const std::string& name) {
    std::string object = ipc_name(name);
    return !object.empty() && ::shm_unlink(object.c_str()) == 0;
}

std::vector<std::string> SharedMemory::remove_abandoned() {
    std::vector<std::string> held;
    const std::string prefix = ipc_prefix().substr(1);  // without the leading '/'
    DIR* dir = ::opendir(kShmDir);
    if (!dir) return held;
    std::vector<std::string> found;
    while (const dirent* e = ::readdir(dir))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) found.emplace_back(e->d_name);
    ::closedir(dir);
    for (const std::string& entry : found) {
        const std::string object = "/" + entry;
        UniqueFd fd(::shm_open(object.c_str(), O_RDWR, 0));
        if (fd && lock(fd.get(), F_WRLCK, false))
            remove_if_named(object, fd.get());
        else if (fd || errno != ENOENT)
            held.push_back(entry.substr(prefix.size()));
    }
    return held;
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
