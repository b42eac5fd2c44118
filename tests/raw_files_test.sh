#!/usr/bin/env bash
# Keeps raw file-system calls out of the programs' code: what others could have placed is opened,
# written and deleted through common/safe_open.h (and the helpers of common/files.h and
# platform/fs.h), never by a raw open, fopen, stat, opendir, stream, whole-file read, mkdir,
# rename, unlink, rmdir, chmod, chown or std::filesystem change of its own. Finds every such call
# the compiler sees (tests/raw_files_check.py reads the sources as tokens: comments and strings
# are no calls; `open (`, a call split over lines, a macro, a function pointer, syscall(SYS_...),
# Qt's file classes and included .inc files are) and matches each against one line of
# tests/raw_files_allowed.txt (the programs: the file, the function it is made in, the call, the
# flags it must carry, and why it may be raw) or tests/raw_files_layer.txt (common/ and platform/:
# the routines that are the safe layer). Fails (status 1) on a call no line allows, printing the
# line it would need, and on a line that allows no call any more; 2 when the tree holds no
# sources or the function finder is missing.
# Usage: raw_files_test.sh [source root [--list]]   (default: the folder above this script; --list
# prints every call found with the line that allows it)
set -uo pipefail
exec python3 "$(dirname "$0")/raw_files_check.py" "${1:-$(dirname "$0")/..}" ${2:+"$2"}
