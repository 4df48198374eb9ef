#!/usr/bin/env bash
# The layering rule of the source tree, checked: an engine folder (every folder under
# src/ but the program shell src/app, the shared windows src/ui and the forms/ folders
# of the subsystems) includes no Qt header and nothing of src/app or src/ui, and its
# library links no window library; and headers include each other one way only (no
# header reaches itself through its includes). Prints each offending line; exits 1 when
# there is one.
set -u
cd "$(dirname "$0")/.." || exit 2
status=0

includes=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*(<Q[A-Za-z]*[>/]|"(app|ui)/)' src \
    --include='*.h' --include='*.cpp' | grep -vE '^src/(app|ui)/|^src/[a-z]+/forms/')
if [ -n "$includes" ]; then
  echo "Engine files that include a Qt header or a header of src/app or src/ui:"
  echo "$includes"
  status=1
fi

links=$(grep -nE 'qn_app|qn_ui|qn_[a-z]+_forms|Qt6::|[[:space:]]QT([[:space:]]|$)' src/*/CMakeLists.txt \
    | grep -vE '^src/(app|ui)/')
if [ -n "$links" ]; then
  echo "Engine libraries that link a window library or Qt:"
  echo "$links"
  status=1
fi
# Header includes as pairs for tsort, which names the headers of any loop.
pairs=$(grep -rHoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]+/[A-Za-z0-9_]+\.h"' src --include='*.h' \
    | sed -E 's|^src/([^:]*):.*"([^"]*)"|\1 \2|')
loops=$(printf '%s\n' "$pairs" | tsort 2>&1 >/dev/null | grep -v '^tsort: -: input contains a loop:$')
if [ -n "$loops" ]; then
  echo "Headers that include each other:"
  echo "$loops"
  status=1
fi
exit $status
