#include "common/memory_mapped_file.h"

#include "platform/shared_memory.h"

namespace tv {

MemoryMappedFile::MemoryMappedFile() = default;

MemoryMappedFile::MemoryMappedFile(const std::string& name, std::uint32_t size, bool writable) {
    open(name, size, writable);
}

MemoryMappedFile::~MemoryMappedFile() { close(); }

bool MemoryMappedFile::open(const std::string& name, std::uint32_t size, bool writable) {
    close();
    if (name.empty() || size == 0) return false;
    memory_ = platform::SharedMemory::open(name, size, writable);
    if (!memory_ || !memory_->data()) {
        memory_.reset();
        return false;
    }
    size_ = size;
    name_ = name;
    return true;
}

void MemoryMappedFile::close() {
    memory_.reset();
    size_ = 0;
    name_.clear();
}

void* MemoryMappedFile::get_view() const { return memory_ ? memory_->data() : nullptr; }

bool MemoryMappedFile::held_elsewhere() const { return memory_ && memory_->held_elsewhere(); }

bool MemoryMappedFile::remove(const std::string& name) { return platform::SharedMemory::unlink(name); }

}  // namespace tv
