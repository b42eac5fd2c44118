// Installing the outside compressor that vond ships with. On Linux the "resources" are files in
// a folder beside the program (<vond folder>/resources: "szip" and "szip.readme.txt"), kept out
// of the program folder itself so that the compressor search does not find them there.
#pragma once
#include <string>

namespace tv::vond {

inline constexpr const char* kSzipResourceName = "szip";
inline constexpr const char* kSzipReadmeResourceName = "szip.readme.txt";

// <vond's folder>/resources when it is there (a build); else the private parts folder the package
// installs the compressor into.
std::string szip_resource_folder();
// HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion" "ProgramFilesDir"; when it is not set,
// <machine_dir>/Program Files, the stand-in for the Windows program-files folder.
std::string get_program_files_folder();
// <program files>/Torvane Medical/Common.
std::string szip_install_folder();

// True when the compressor is available afterwards: already findable, or copied from the
// resources into the installation folder (or into vond's own folder when that cannot be made).
bool install_szip(const std::string& resources = szip_resource_folder());
// Copies the resources into `folder` ("szip", executable, and the readme when there is one) and
// records the installed program under HKLM "SOFTWARE\Torvane Medical\SZIP" "Install Path".
bool install_szip_into(const std::string& folder, const std::string& resources = szip_resource_folder());

}  // namespace tv::vond
