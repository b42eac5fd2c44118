#!/usr/bin/env bash
# Checks the include edges that linking alone cannot catch: a target sees the headers of every
# library below it, so Qt leaking into a core folder, a core folder reaching into ui/, or a layer
# skipping upwards would still compile. Prints every offending line with its rule; exit status 1
# when there is one, 2 when the tree holds no sources at all (a wrong root passes nothing).
# Usage: layering_test.sh [source root]   (default: the folder above this script)
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2

programs=" tolbex vond kelmoth brackmor "
is_program() { [[ $programs == *" $1 "* ]]; }

# Windowed code: framework/qt, every ui/ folder (a windowed tool keeps its windows in one too, and
# the STEMI sheet has one of its own), and a program's main.cpp, which puts the windows up.
in_ui() { [[ $1 == ui/* || $1 == */ui/* ]]; }
is_main() { is_program "${1%%/*}" && [[ $1 == */main.cpp && $1 != */*/*/main.cpp ]]; }
windowed() { [[ $1 == framework/qt/* ]] || in_ui "$1" || is_main "$1"; }
# The report library's renderer (a library of its own, which the program installs) paints through
# Qt; its tests check the pixels, the benchmark times it. The core's page workers run on Qt's
# thread pool, so that the painter does not split its fills over a pool busy with pages.
in_renderer() { [[ $1 == tolbex/reports/render/* ]]; }
is_renderer() { in_renderer "$1" || [[ $1 == tolbex/reports/bench/* ]]; }
qt_allowed() {
    windowed "$1" || is_renderer "$1" || [[ $1 == tolbex/reports/page_workers.cpp && $2 == QThread* ]]
}

count=0
offend() {
    printf '%s:%s: %s\n    %s\n' "$file" "$line" "$1" "$text"
    count=$((count + 1))
}

check() {
    local top=${file%%/*} itop=${inc%%/*}
    if ((angle)); then
        [[ $inc == Q* ]] && ! qt_allowed "$file" "$inc" &&
            offend "Qt only in framework/qt, ui/ folders and the report renderer"
        return
    fi
    if in_renderer "$inc" && ! is_renderer "$file" && ! in_ui "$file" && ! is_main "$file"; then
        offend "core code reaches the renderer only through tolbex/reports/page_renderer.h"
    fi
    case $top in
        platform | common)
            case $itop in
                tolbex | vond | kelmoth | brackmor | framework | formats | tools)
                    offend "$top/ includes no program, framework, formats or tool header" ;;
            esac
            [[ $top == platform && $itop == common ]] && offend "platform/ includes nothing of common/" ;;
        formats | framework)
            is_program "$itop" && offend "$top/ includes no program's header" ;;
    esac
    if is_program "$top" && is_program "$itop" && [[ $itop != "$top" ]]; then
        # The repair tool reads and writes the indexes with the archive library tolbex uses; a
        # program that runs another reads its answers from that program's own exit-code table.
        [[ $top == brackmor && $inc == tolbex/archive/* ]] || [[ $inc == "$itop/exit_codes.h" ]] ||
            offend "a program includes no other program's code"
    fi
    if is_program "$top" && [[ $itop == tools && $file != */tests/* && $file != */bench/* && $file != */demo/* ]]; then
        offend "a program's own code includes no tool (its tests, benchmarks and demos may use the stand-ins)"
    fi
    if [[ $top == tools ]]; then
        if [[ $itop == tolbex ]]; then
            [[ $file == tools/demo/* || $file == tools/crashwriter/* || $file == tools/analysis-peer/tests/* ]] ||
                offend "only tools/demo and tools/crashwriter use the tolbex libraries"
            in_ui "$inc" && offend "a tool uses no tolbex window"
        elif is_program "$itop"; then
            offend "a tool includes no program's code but tolbex libraries"
        fi
    fi
    if in_ui "$inc" && ! in_ui "$file" && ! is_main "$file"; then
        offend "a core folder includes no ui/ header"
    fi
    [[ $top == tolbex && $itop == tolbex ]] || [[ $top == tolbex && $itop == framework ]] || return
    case $file in
        tolbex/archive/*)
            [[ $itop == tolbex && $inc != tolbex/archive/* ]] &&
                offend "tolbex/archive includes nothing else of tolbex" ;;
        tolbex/reports/ui/*)
            [[ $inc == tolbex/browser/ui/* || $inc == tolbex/app/ui/* ]] &&
                offend "tolbex/reports/ui includes neither browser/ui nor app/ui" ;;
        tolbex/browser/ui/*)
            [[ $inc == tolbex/app/ui/* ]] && offend "tolbex/browser/ui includes no app/ui header" ;;
        tolbex/timi/ui/*)
            # The TIMI window stores through the browser core and shows signatures; its tests share the
            # offscreen fixtures of the report windows.
            if [[ $itop == tolbex && $inc != tolbex/archive/* && $inc != tolbex/timi/* && $inc != tolbex/browser/* &&
                  $inc != tolbex/signing/* && $inc != tolbex/app/* ]] &&
                ! [[ $file == */tests/* && $inc == tolbex/reports/* ]]; then
                offend "tolbex/timi/ui includes only tolbex/timi, archive, the browser core, signing and the application core"
            fi
            [[ $inc == tolbex/browser/ui/* || $inc == tolbex/signing/ui/* || $inc == tolbex/app/ui/* ]] &&
                offend "tolbex/timi/ui uses no browser, signing or application window" ;;
        tolbex/timi/grid/ui/*)
            [[ $itop == tolbex && $inc != tolbex/archive/* && $inc != tolbex/timi/* ]] &&
                offend "tolbex/timi/grid/ui includes only tolbex/timi and tolbex/archive" ;;
        tolbex/reports/* | tolbex/browser/* | tolbex/timi/*)
            local own=${file#tolbex/}
            own=tolbex/${own%%/*}/
            if [[ $itop == tolbex && $inc != tolbex/archive/* && $inc != "$own"* ]]; then
                offend "tolbex reports, browser and timi include only tolbex/archive"
            fi
            if [[ $itop == framework && $inc != framework/core/* ]] && ! is_renderer "$file"; then
                offend "tolbex reports, browser and timi use only framework/core"
            fi ;;
    esac
}

files=$(find . -mindepth 1 \( -path './build*' -o -path './.*' -o -path './fuzz/corpus' \) -prune -o \
             -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) -print | sort)
if [[ -z $files ]]; then
    echo "layering: no sources under $(pwd)"
    exit 2
fi
include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*([<"])([^>"]+)[>"]'
while IFS= read -r hit; do
    file=${hit%%:*} rest=${hit#*:}
    file=${file#./} line=${rest%%:*} text=${rest#*:}
    [[ $text =~ $include_re ]] || continue
    inc=${BASH_REMATCH[2]}
    angle=0
    [[ ${BASH_REMATCH[1]} == '<' ]] && angle=1
    check
done < <(xargs -d '\n' grep -n -H -E "$include_re" <<<"$files")

if ((count)); then
    echo "layering: $count forbidden include(s)"
    exit 1
fi
echo "layering: $(wc -l <<<"$files") sources checked"
