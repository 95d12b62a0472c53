#!/bin/sh
# Makes the Chinese locales some tests run in, and an English one, without installing them on
# the system: Wine takes a process's display language from its LC_MESSAGES (or LANG), and its
# code pages from its LC_CTYPE, only where the C library has that locale; LOCPATH points the
# library at this folder.
# Usage: locales.sh FOLDER
set -u
mkdir -p "$1"
for name in zh_CN zh_TW en_US; do
  localedef -i "$name" -f UTF-8 "$1/$name.UTF-8" 2>/dev/null ||
    echo "locales: cannot make $name.UTF-8 (localedef and Debian's locales); those tests will be skipped"
done
exit 0
