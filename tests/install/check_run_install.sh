#!/usr/bin/env bash
# The README's order: scripts/run builds the target "programs", then "cmake --install build"
# follows. Every file the install takes from the build tree must be made by that target, or be
# there from configuring (the install stopped at build/kvx310 when scripts/run built Eval310
# alone).
#   check_run_install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
if ! command -v ninja >/dev/null || [ ! -f "$build/build.ninja" ]; then
  echo "not a Ninja build: skipped"
  exit 77
fi
# The direct inputs of a build statement, by Ninja's own account.
inputs() {
  ninja -C "$build" -t query "$1" 2>/dev/null |
    awk '/^  input:/ { f = 1; next } /^  outputs:/ { f = 0 } f { print $1 }'
}
# What "programs" stands for: its phony inputs, followed down through phony targets.
made=$'\n'
todo=(programs)
while [ "${#todo[@]}" -gt 0 ]; do
  node=${todo[0]}
  todo=("${todo[@]:1}")
  if [ "$(ninja -C "$build" -t query "$node" 2>/dev/null | sed -n 2p)" = "  input: phony" ]; then
    while read -r next; do
      case "$made" in *$'\n'"$next"$'\n'*) ;; *) made+="$next"$'\n'; todo+=("$next") ;; esac
    done < <(inputs "$node")
  fi
done
status=0
while read -r file; do
  relative=${file#"$build"/}
  case "$made" in *$'\n'"$relative"$'\n'*) continue ;; esac
  # Written when configuring (the metainfo): no build statement makes it.
  if ! ninja -C "$build" -t query "$relative" >/dev/null 2>&1; then
    continue
  fi
  echo "installed but not built by \"programs\": $relative"
  status=1
done < <(grep -ho 'FILES "[^"]*"' "$build/cmake_install.cmake" | sed 's/^FILES "//; s/"$//' |
         grep "^$build/")
exit $status
