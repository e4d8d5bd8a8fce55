#!/usr/bin/env bash
# scripts/render refuses, with status 2 and a hint, a first argument that is
# not a PNG to write: a mesh, or any name that does not end in .png. It stops
# before installing or building anything (cmake here is a stand-in that fails).
#   render_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
for tool in cmake apt-get sudo; do
  printf '#!/bin/sh\necho "%s must not run" >&2\nexit 99\n' "$tool" >"$work/bin/$tool"
done
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH"
cd "$work" || exit 1

failures=0
printf 'solid p\nendsolid p\n' >p.stl
printf 'v 0 0 0\n' >mesh.png
mkdir folder.png
for first in p.stl out.txt mesh.png folder.png --size; do
  "$source_dir/scripts/render" "$first" >out 2>err
  status=$?
  if [[ $status -ne 2 ]] || ! grep -q "first argument is the PNG to write" err; then
    echo "FAILED: scripts/render $first: status $status, stderr: $(cat err)" >&2
    failures=$((failures + 1))
  fi
done
if [[ "$(cat p.stl)" != "$(printf 'solid p\nendsolid p')" || "$(cat mesh.png)" != "v 0 0 0" ]]; then
  echo "FAILED: a mesh given as the output was changed" >&2
  failures=$((failures + 1))
fi
exit $((failures > 0))
