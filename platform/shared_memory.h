// Named shared memory and named events (stand-ins for named file mappings and events).
// Names carry the root's ipc_prefix(), so two roots never collide.
//
// An object lives as long as a process holds it, as a named mapping does: every holder keeps a
// descriptor with a shared lock on the object (an open-file-description lock, so a holder killed
// with SIGKILL lets go with its descriptors). A closer lets go of its shared lock and then tries
// for the exclusive one; whichever closer gets it removes the name, so of holders that close at
// the same moment one always does. A name that no process holds (its last holder was killed)
// counts as absent: open() starts it anew and open_existing() finds nothing.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace tv::platform {

class SharedMemory {
public:
    // Unmaps; the last holder removes the object.
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Creates the named object or opens the held one, and maps `size` bytes (0 fails). A new
    // object is `size` zero bytes, even for a read-only opener. A held object smaller than `size`
    // is refused: it belongs to a live holder and is never resized. nullptr on failure.
    static std::unique_ptr<SharedMemory> open(const std::string& name, std::size_t size, bool writable);
    // Opens a held object only (nullptr when there is none or it is smaller than `size`).
    static std::unique_ptr<SharedMemory> open_existing(const std::string& name, std::size_t size, bool writable);
    // Removes the name now, held or not (mapped views stay valid).
    static bool unlink(const std::string& name);
    // Removes every object of this root that no process holds; returns the names still held.
    static std::vector<std::string> remove_abandoned();

    // Backs every mapped byte with memory now, so that a full /dev/shm fails here rather than
    // raising SIGBUS at a later write; the content is kept. False when there is no room for it.
    bool reserve();
    // True while a holder other than this one (in any process) holds the object too; for a
    // holder that opened it writable.
    bool held_elsewhere() const;

    void* data() const { return data_; }
    std::size_t size() const { return size_; }                // bytes mapped (the size asked for)
    std::size_t object_size() const { return object_size_; }  // the object's real size
    const std::string& name() const { return name_; }

private:
    SharedMemory() = default;
    static std::unique_ptr<SharedMemory> attach(const std::string& name, std::size_t size, bool writable, bool create);
    void* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t object_size_ = 0;
    std::string name_;
    std::string object_;  // the name as the system knows it
    UniqueFd fd_;         // carries the holder's shared lock
    bool can_remove_ = false;
};

// A manual- or auto-reset event shared by name between processes: a small shared object whose
// state word is waited on with a process-shared futex. Same name space and lifetime as
// SharedMemory, so an event nobody holds any more starts again in its initial state.
class NamedEvent {
public:
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // Creates or opens the event; a new event starts in `initially_set`. A held event keeps the
    // kind its creator gave it. nullptr when the name belongs to something that is no event.
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
