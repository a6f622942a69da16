#!/bin/sh
# Counts the process-wide state in our libraries, by kind: namespace-scope
# variables, class-static data members and function-local statics. Only
# writable data counts (.data and .bss); constant tables, even those the
# loader relocates, do not. Qt's generated meta data is left out.
# Usage: tools/count-state.sh [build-dir]
build=${1:-build}
nm -C --defined-only --format=sysv "$build"/src/*/lib*.a 2>/dev/null |
  awk -F'|' '$7 ~ /^ *\.(data|bss)(\.|$| )/ && $7 !~ /rel\.ro/ { gsub(/ +$/, "", $1); print $1 }' |
  grep -vE 'vtable|typeinfo|guard variable|^_|\.L|staticMetaObject|qt_meta|QtPrivate|GCC_except' |
  sort -u |
  awk '/\)( const)?::/ { local++; next }
       /^\(anonymous namespace\)::/ || !/::/ { global++; next }
       { member++ }
       END { printf "namespace-scope %d\nclass-static %d\nfunction-local %d\n", global, member, local }'
