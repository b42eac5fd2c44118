// Named shared memory and named events (stand-ins for named file mappings and events).
// Names carry the root's ipc_prefix(), so two roots never collide.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "platform/handles.h"

namespace tv::platform {

class SharedMemory {
public:
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Creates the named object or opens the existing one, and maps `size` bytes (0 fails).
    // A new object is sized and zeroed even by a read-only opener. An existing object smaller
    // than `size` is grown when writable and refused when read-only, so a view is never larger
    // than its object; an object is never shrunk. No descriptor stays open. nullptr on failure.
    static std::unique_ptr<SharedMemory> open(const std::string& name, std::size_t size, bool writable);
    // Opens an existing object only (nullptr when there is none); growing as above.
    static std::unique_ptr<SharedMemory> open_existing(const std::string& name, std::size_t size, bool writable);
    // Removes the name (mapped views stay valid).
    static bool unlink(const std::string& name);

    void* data() const { return data_; }
    std::size_t size() const { return size_; }                // bytes mapped (the size asked for)
    std::size_t object_size() const { return object_size_; }  // the object's real size
    const std::string& name() const { return name_; }

private:
    SharedMemory() = default;
    // Maps `size` bytes of the object open on `fd`; grows a smaller object when allowed. The
    // mapping outlives the descriptor, which closes on return.
    static std::unique_ptr<SharedMemory> map(UniqueFd fd, const std::string& name, std::size_t size, bool writable,
                                             bool can_write);
    void* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t object_size_ = 0;
    std::string name_;
};

// A manual- or auto-reset event shared by name between processes: a small shared object whose
// state word is waited on with a process-shared futex. Same name space as SharedMemory.
class NamedEvent {
public:
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // Creates or opens the event; a new event starts in `initially_set`. An existing event keeps
    // the kind its creator gave it. nullptr when the name belongs to something that is no event.
    static std::unique_ptr<NamedEvent> open(const std::string& name, bool manual_reset, bool initially_set);
    static std::unique_ptr<NamedEvent> open_existing(const std::string& name);

    void set();
    void reset();
    bool is_set() const;
    // Waits until set (an auto-reset event is then reset); timeout_ms < 0 waits forever.
    bool wait(int timeout_ms);

private:
    NamedEvent() = default;
    std::unique_ptr<SharedMemory> mem_;
};

}  // namespace tv::platform
