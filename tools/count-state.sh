#!/bin/sh
# Counts the process-wide state in our libraries: namespace-scope variables,
# class-static data members and function-local statics (every defined data
# symbol, writable or relocated; Qt's generated meta data left out).
# Usage: tools/count-state.sh [build-dir]
build=${1:-build}
nm -C --defined-only "$build"/src/*/lib*.a 2>/dev/null |
  grep -E ' [BbDdVu] ' |
  grep -vE 'vtable|typeinfo|guard variable|__|\.L|staticMetaObject|qt_meta|QtPrivate|GCC_except' |
  sed -E 's/^[0-9a-f]* [A-Za-z] //' | sort -u |
  awk '/\)::/ { local++; next }
       /^\(anonymous namespace\)::/ || !/::/ { global++; next }
       { member++ }
       END { printf "namespace-scope %d\nclass-static %d\nfunction-local %d\n", global, member, local }'
