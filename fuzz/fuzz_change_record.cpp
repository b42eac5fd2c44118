// Change records: what the next holder of an archive's lock reads from a file any member of the
// group could have written, parsed and then settled against an archive of one listed report, one
// unlisted folder, a staging folder and a hidden folder on its way out of the record's writer.
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tolbex/archive/change_record.h"
#include "tolbex/archive/report_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const tv::ChangeRecordFields fields = tv::parse_change_record(text);
    if (fields.size() > tv::kRecordMaxFields) __builtin_trap();

    static const std::string group = tv::fuzz::sub_folder("group");
    const std::string archive = group + "A";
    tv::fuzz::clear_folder(group);
    ::mkdir(archive.c_str(), 0777);
    for (const char* folder : {"/X.O12", "/Y.FUL", "/.TVNEW.1-1-f.0", "/.TVDEL.1-1-f.1", "/X.O12/.TVECG.1-1-f.0"})
        ::mkdir((archive + folder).c_str(), 0777);
    tv::fuzz::put_file(archive + "/X.O12/os12ecg1.dat", "e");
    tv::fuzz::put_file(archive + "/" + tv::kArchiveIndexName,
                       tv::format_archive_entry("X.O12", "d", "Mon Dec 03 14:05:09 2007", "1", "Full Ostrabel 12"));
    tv::fuzz::put_file(archive + "/.TVREC.1-1-f.0", text);
    const tv::ArchiveIndexLock lock(archive);
    volatile std::size_t sink = lock.notes().size();
    (void)sink;
    return 0;
}
