#!/usr/bin/env bash
# The layering check must catch what it claims to: a copy of a few sources passes, then each row
# plants one forbidden include into the copy and the check has to fail naming that line and rule.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
check=$here/layering_test.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/layering.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# Allowed edges the copy keeps: Qt in the renderer and the page workers, archive from reports and from the
# repair tool, a tool's own code.
baseline=(platform/fs.h common/bytes.h tolbex/archive/report_archive.h tolbex/reports/render/page_pictures.cpp
          tolbex/reports/page_workers.cpp
          tools/demo/demo_root.cpp kelmoth/main.cpp brackmor/report_set.h)
# file | planted line | rule the check must name
cases=(
    'common/bytes.h|#include <QString>|Qt only in framework/qt'
    'tolbex/browser/app_commands.cpp|#include <QtWidgets/QWidget>|Qt only in framework/qt'
    'tolbex/reports/page_workers.cpp|#include <QImage>|Qt only in framework/qt'
    'tolbex/app/actions/print.cpp|#include "tolbex/reports/render/page_render.h"|core code reaches the renderer only'
    'platform/fs.h|#include "common/bytes.h"|platform/ includes nothing of common/'
    'common/bytes.h|#include "tolbex/archive/report_archive.h"|common/ includes no program'
    'platform/fs.h|#include "framework/core/command.h"|platform/ includes no program, framework'
    'framework/core/command.cpp|#include "vond/program.h"|framework/ includes no program'
    'kelmoth/program.cpp|#include "vond/card_format.h"|a program includes no other program'
    'brackmor/report_set.h|#include "tolbex/browser/browser_list_core.h"|a program includes no other program'
    'vond/program.cpp|#include "tools/szip/szip_format.h"|a program'"'"'s own code includes no tool'
    'tools/szip/main.cpp|#include "tolbex/archive/report_archive.h"|only tools/demo and tools/crashwriter'
    'tools/demo/demo_root.cpp|#include "tolbex/app/ui/main_frame.h"|a tool uses no tolbex window'
    'tools/tapegen/tapegen.cpp|#include "kelmoth/kelmoth.h"|a tool includes no program'
    'tolbex/app/import_reports.cpp|#include "tolbex/app/ui/main_frame.h"|a core folder includes no ui/'
    'tolbex/archive/report_archive.h|#include "tolbex/reports/page_items.h"|tolbex/archive includes nothing else'
    'tolbex/browser/app_commands.cpp|#include "tolbex/app/command_line.h"|include only tolbex/archive'
    'tolbex/timi/timi_doc.cpp|#include "framework/qt/frame.h"|use only framework/core'
    'tolbex/reports/ui/report_view.cpp|#include "tolbex/browser/ui/browser_frame.h"|reports/ui includes neither'
    'tolbex/browser/ui/browser_frame.cpp|#include "tolbex/app/ui/main_frame.h"|browser/ui includes no app/ui'
    'tolbex/timi/ui/timi_windows.cpp|#include "tolbex/browser/ui/timi_open.h"|timi/ui uses no browser, signing or application window'
    'tolbex/timi/ui/timi_windows.cpp|#include "tolbex/reports/report_document.h"|timi/ui includes only'
    'tolbex/timi/ui/stemi_sheet_dialog.cpp|#include "tolbex/app/ui/main_frame.h"|timi/ui uses no browser, signing or application window'
    'tolbex/timi/stemi_sheet.cpp|#include "tolbex/timi/ui/stemi_sheet_dialog.h"|a core folder includes no ui/'
)

# shellcheck source=selftest_tree.sh
source "$here/selftest_tree.sh"

failed=0
fresh_copy || exit 1
if ! out=$(bash "$check" "$work/tree"); then
    printf 'the clean copy did not pass:\n%s\n' "$out"
    failed=1
fi
for row in "${cases[@]}"; do
    IFS='|' read -r file planted rule <<<"$row"
    fresh_copy || exit 1
    mkdir -p "$work/tree/$(dirname "$file")"
    printf '%s\n' "$planted" >>"$work/tree/$file"
    line=$(wc -l <"$work/tree/$file")
    out=$(bash "$check" "$work/tree")
    rc=$?
    if ((rc != 1)) || [[ $out != *"$file:$line: "*"$rule"* ]]; then
        printf 'not caught (exit %s): %s in %s\n%s\n' "$rc" "$planted" "$file" "$out"
        failed=1
    fi
done
mkdir -p "$work/empty"
bash "$check" "$work/empty" >/dev/null
rc=$?
if ((rc != 2)); then
    echo "a root without sources gave exit $rc, not 2"
    failed=1
fi
((failed == 0)) && echo "layering check: ${#cases[@]} planted includes caught"
exit $failed
