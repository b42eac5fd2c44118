// Report field data: 101 named, typed fields (patient details, arrhythmia counts, ST settings
// and results) read from a report folder's VERSION.TXT, PATIENT.TXT and ANALSUM.TXT, for letters
// and exports that fill templates by field name ("patdet.name", "HR.mean").
//
// ANALSUM.TXT holds one line kind per field 15..101 in order: kind 0 reads the next line and
// takes its columns 1-12; kind 1 takes columns 13-24 of the line read last; kind 2 reads the
// next line as "up"/"down"/"level" flags. Numbers use '.' whatever the locale.
#pragma once
#include <array>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tv {

inline constexpr int kAnalysisFieldCount = 101;
// First field read from ANALSUM.TXT; 1..14 come from PATIENT.TXT.
inline constexpr int kFirstAnalsumField = 15;
// Field 100 ("AF.duration") is stored divided by this.
inline constexpr int kAfDurationField = 100;
inline constexpr std::int32_t kAfDurationDivisor = 128;
inline constexpr int kStSlopesField = 74;
inline constexpr int kCommentsField = 14;

enum AnalysisFieldType { kFieldInt = 0, kFieldReal = 1, kFieldText = 2 };

struct AnalysisFieldDef {
    const char* name;
    int type;  // AnalysisFieldType
};

// Row n-1 describes field n.
extern const std::array<AnalysisFieldDef, kAnalysisFieldCount> analysis_fields;

// ANALSUM.TXT line kinds.
enum AnalsumLineKind { kAnalsumNextLine = 0, kAnalsumSameLine = 1, kAnalsumFlagsLine = 2 };
// The line kind of field n (15..101); -1 outside that range.
int analsum_line_kind(int n);

class AnalysisData {
public:
    // Thrown by field access: code 0 the field number is outside 1..101, 1 the field is not of
    // the requested type (or a format does not suit it).
    class ExceptField : public std::exception {
    public:
        enum { kOutOfRange = 0, kWrongType = 1 };
        explicit ExceptField(int code) : code_(code) {}
        int code() const noexcept { return code_; }
        const char* what() const noexcept override;

    private:
        int code_;
    };

    // Thrown when PATIENT.TXT or ANALSUM.TXT cannot be opened or read.
    class FileError : public std::runtime_error {
    public:
        FileError(const std::string& path, const std::string& message)
            : std::runtime_error(message + ": " + path), path_(path) {}
        const std::string& path() const noexcept { return path_; }

    private:
        std::string path_;
    };
    // Thrown by load for a signed report folder: its fields are read only from the verified
    // container's restored copy, never from files beside signed.dat.
    class SignedFolderError : public FileError {
    public:
        explicit SignedFolderError(const std::string& path) : FileError(path, "a signed report") {}
    };

    // No field read: every field absent, 0 / 0.0 / "".
    AnalysisData();
    // Reads the report folder (load); throws FileError.
    explicit AnalysisData(const std::string& report_folder);

    // Forgets every value, then reads VERSION.TXT (missing: version 0), PATIENT.TXT and
    // ANALSUM.TXT of the folder. Throws FileError when PATIENT.TXT or ANALSUM.TXT is missing
    // or unreadable (the fields read before stay), SignedFolderError for a signed report folder.
    void load(const std::string& report_folder);
    // The two file readers on their own (the file paths as given). Each first forgets its own
    // fields (1..14, or 15..101).
    void read_patient_txt(const std::string& path, double version);
    void read_analsum_txt(const std::string& path);

    // The VERSION.TXT version of the folder loaded (0 when none).
    double version() const { return version_; }

    // Present flags belong to this object: a field is present only when this report had it.
    bool is_field_present(int n) const;   // ExceptField 0 outside 1..101
    int get_field_type(int n) const;      // ExceptField 0 outside 1..101
    std::int32_t get_int(int n) const;    // ExceptField 0 / 1
    double get_double(int n) const;       // ExceptField 0 / 1
    std::string get_string(int n) const;  // ExceptField 0 / 1
    // 0 for an unknown name (exact, case-sensitive).
    int get_field_number(std::string_view name) const;
    // The field's name ("" outside 1..101).
    static const char* get_field_name(int n);

    // The value through a printf format with exactly one conversion that suits the field's
    // type (d i u o x X c for int, f F e E g G a A for real, s for text; flags, width and
    // precision as printf; no '*' and no 'n'; length modifiers are ignored). An empty format
    // means "%d", "%lf" or "%s". ExceptField 0 outside 1..101, 1 when the format does not suit.
    std::string format_field(int n, const std::string& format) const;

    // Sets a value and marks the field present (ExceptField as get_*).
    void set_int(int n, std::int32_t value);
    void set_double(int n, double value);
    void set_string(int n, const std::string& value);

private:
    void check_number(int n) const;
    void check_type(int n, int type) const;
    void clear_field(int n);

    std::array<std::int32_t, kAnalysisFieldCount + 1> ints_{};
    std::array<double, kAnalysisFieldCount + 1> doubles_{};
    std::array<std::string, kAnalysisFieldCount + 1> texts_{};
    std::array<bool, kAnalysisFieldCount + 1> present_{};
    std::unordered_map<std::string_view, int> numbers_;
    double version_ = 0.0;
};

}  // namespace tv
