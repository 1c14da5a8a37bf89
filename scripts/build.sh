#!/usr/bin/env bash
# Configures and builds one build tree, showing progress:
#   scripts/build.sh BUILD_DIR [cmake configure arguments ...]
# UPK_BUILD_TARGETS="a b" builds only those targets (the demo builds what it
# runs, not the test programs).
# On a terminal Ninja's own status line runs in place. Elsewhere (CI, a pipe)
# a line every tenth of the way with the elapsed time, plus every line that
# is not a status line (warnings, errors) in full.
set -euo pipefail
build=$1
shift
start=$SECONDS

echo "== configure $build"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! cmake -S . -B "$build" -G Ninja "$@" >"$log" 2>&1; then
  cat "$log" >&2
  echo "configure of $build failed" >&2
  exit 1
fi

echo "== build $build"
jobs=${UPK_BUILD_JOBS:-$(nproc)}
targets=()
for t in ${UPK_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
if [[ -t 1 ]]; then
  cmake --build "$build" -j"$jobs" "${targets[@]}"
else
  # Ninja prints "[done/total] description" per step when not on a terminal.
  shown=0 status=1
  while IFS= read -r line; do
    if [[ $line =~ ^\[([0-9]+)/([0-9]+)\]\  ]]; then
      done_=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
      step=$((done_ * 10 / total))
      if ((step > shown)); then
        shown=$step
        printf '   %3d%% (%d/%d steps) %ds\n' $((step * 10)) "$done_" "$total" $((SECONDS - start))
      fi
    elif [[ $line =~ ^__build_status\ ([0-9]+)$ ]]; then
      status=${BASH_REMATCH[1]}
    else
      printf '%s\n' "$line"
    fi
  done < <(NINJA_STATUS='[%f/%t] ' cmake --build "$build" -j"$jobs" "${targets[@]}" 2>&1
           echo "__build_status $?")
  if ((status != 0)); then
    echo "build of $build failed after $((SECONDS - start))s" >&2
    exit "$status"
  fi
fi
echo "== built $build in $((SECONDS - start))s"
