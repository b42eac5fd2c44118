// A named block of shared memory that the programs share with the recording readers they start.
// Whoever creates a name first fixes its size; a later open asking for more than a held object
// has is refused, so a view never reaches past its object. The name lives while a process holds it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace tv {

namespace platform {
class SharedMemory;
}  // namespace platform

class MemoryMappedFile {
public:
    MemoryMappedFile();
    MemoryMappedFile(const std::string& name, std::uint32_t size, bool writable);
    ~MemoryMappedFile();
    MemoryMappedFile(const MemoryMappedFile&) = delete;
    MemoryMappedFile& operator=(const MemoryMappedFile&) = delete;

    // Releases anything open, then creates or opens the named object and maps `size` bytes.
    bool open(const std::string& name, std::uint32_t size, bool writable);
    void close();

    void* get_view() const;
    // True while another holder, in this process or another, has the object open too (for an
    // object opened writable); false when closed.
    bool held_elsewhere() const;
    std::uint32_t size() const { return size_; }
    const std::string& name() const { return name_; }

    // Removes the name now; views already mapped stay valid. Otherwise the last holder to close
    // it removes it.
    static bool remove(const std::string& name);

private:
    std::unique_ptr<platform::SharedMemory> memory_;
    std::uint32_t size_ = 0;
    std::string name_;
};

}  // namespace tv
