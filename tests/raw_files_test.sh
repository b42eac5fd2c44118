#!/usr/bin/env bash
# Keeps raw file-system calls out of the programs' code: what others could have placed is opened
# through common/safe_open.h (and the helpers of common/files.h and platform/fs.h), never by a
# raw open, fopen, stat, opendir or stream of its own. Lists every raw call in the programs' code
# outside common/ and platform/, and fails (status 1) when a file holds more of them than the list
# below allows it; 2 when the tree holds no sources at all.
# Usage: raw_files_test.sh [source root [--list]]   (default: the folder above this script; --list
# prints every raw call found, allowed or not)
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2
list=0
[[ ${2:-} == --list ]] && list=1

# The programs and the layers they share; tools/ are stand-ins for outside programs and fixtures.
folders=(tolbex vond kelmoth brackmor formats framework)
calls='((^|[^_[:alnum:]>])::(open|openat|creat|stat|lstat|fstatat|statx|opendir|fdopendir)|(^|[^_[:alnum:].>:])(std::)?(fopen|freopen|opendir)|platform::open_file)[[:space:]]*\('
streams='(^|[^_[:alnum:]])(std::)?(i|o)?fstream([^_[:alnum:]]|$)'

# file | raw calls allowed | why
allowed=(
    # Files of our own in places only we write (private temporary folders, our own output).
    'tolbex/app/actions/find.cpp|1|the find result file the caller names'
    'tolbex/tape/tape_intake.cpp|2|mapping files written into the intake'"'"'s private folder'
    'tolbex/browser/timi_days.cpp|1|a day list created exclusively (wbx)'
    'formats/cef.cpp|3|CEF output, its channel files and members, created in a private or emptied folder; the unpack target listed once, lstat'
    'kelmoth/timecode.cpp|1|the time-code file KELMOTH is told to write'
    'tolbex/letters/office_word_processor.cpp|2|the FIFOs to the letter helper, made in a private folder'
    'tolbex/external/external_program.cpp|3|the external program and its error file in a private folder'
    'tolbex/signing/trust.cpp|3|the root-owned trust store, each file opened O_NOFOLLOW|O_NONBLOCK and checked'
    'tolbex/app/tolbex_app.cpp|1|the identity of the running program'
    'tolbex/archive/profile.cpp|1|the machine profile'
    'tolbex/app/report_chooser.cpp|3|the analysis system'"'"'s fixed temporary names, lstat only'
    'tolbex/browser/archive_dialogs.cpp|1|the existence of a group index the user picks'
    'tolbex/browser/app_commands.cpp|5|group folders listed without links (fstatat, O_NOFOLLOW)'
    'tolbex/browser/browser_list_core.cpp|2|index file sizes and free names'
    # The archive index, its locks and generations (being reworked on their own).
    'tolbex/archive/report_archive.cpp|6|index files and report folders, lstat and O_NOFOLLOW'
    'tolbex/archive/report_folder.cpp|3|a report folder'"'"'s plain files, the folder opened O_NOFOLLOW, fstatat without following'
    'tolbex/archive/archive_group.cpp|2|the group index, lstat'
    'tolbex/archive/archive_operations.cpp|1|a report folder, lstat'
    'tolbex/archive/store_report.cpp|4|the archive folder and the ECG files of a 12-lead report, lstat'
    'brackmor/folder_tools.cpp|11|folder walks and index generations, each without following links'
    'brackmor/report_set.cpp|1|report folders, lstat'
    'brackmor/program.cpp|1|the base folder the user names'
    # vond's card files (being rewritten): the card is the mapped drive the card reader shows.
    'vond/card_disk.cpp|8|card files and the copies made of them'
    'vond/card_files.cpp|6|card files'
    'vond/card_format.cpp|1|the card'"'"'s ecg.dat'
    'vond/ecg_reader.cpp|2|the card'"'"'s ecg.dat and the channel files written'
    'vond/ecg_loader.cpp|1|a channel file given on the command line'
    'vond/program.cpp|1|whether the input folder exists'
    # Received files the intake reads from its own private folder.
    'tolbex/intake/intake.cpp|2|PATSUMM.DAT and the channel files in the intake'"'"'s private folder'
    'tolbex/external/export_reports.cpp|1|whether an export name is taken, lstat'
)

allowance() {
    local row
    for row in "${allowed[@]}"; do
        [[ ${row%%|*} == "$1" ]] && { row=${row#*|}; echo "${row%%|*}"; return; }
    done
    echo 0
}

sources=$(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -not -path '*/tests/*' \
    -not -path '*/bench/*' 2>/dev/null | sort)
[[ -n $sources ]] || { echo "no sources found under $(pwd)"; exit 2; }

failed=0
while IFS= read -r file; do
    # Comment lines name calls without making them.
    hits=$(grep -nE "$calls|$streams" "$file" | grep -vE '^[0-9]+:[[:space:]]*//')
    [[ -z $hits ]] && continue
    n=$(printf '%s\n' "$hits" | wc -l)
    limit=$(allowance "$file")
    if ((list && n <= limit)); then
        printf '%s: %d raw file-system calls, %d allowed\n' "$file" "$n" "$limit"
        printf '%s\n' "$hits" | sed 's/^/    /'
    fi
    if ((n > limit)); then
        printf '%s: %d raw file-system calls, %d allowed: open it through common/safe_open.h\n' "$file" "$n" "$limit"
        printf '%s\n' "$hits" | sed 's/^/    /'
        failed=1
    fi
done <<<"$sources"
exit "$failed"
