// What every fuzz target shares: a private folder per process (machine root and temporary folder
// inside it, removed at exit), a quiet prompter and an in-memory registry, so that a target never
// touches the machine, never waits for an answer and leaves nothing behind.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tv::fuzz {

// Sets the process up once (idempotent): TORVANE_ROOT and TMPDIR point into a fresh folder.
void init();
// The per-process folder, with a trailing '/'.
const std::string& work_folder();
// A sub-folder of the work folder, made on first use; with a trailing '/'.
std::string sub_folder(const std::string& name);
// Replaces the file's content with the bytes (the file keeps its name between runs).
void put_file(const std::string& path, const std::uint8_t* data, std::size_t size);
void put_file(const std::string& path, std::string_view bytes);
// Deletes everything inside `folder` (the folder itself stays).
void clear_folder(const std::string& folder);

}  // namespace tv::fuzz
