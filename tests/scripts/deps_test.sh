#!/usr/bin/env bash
# scripts/deps against a stand-in apt-get and dpkg-query: a failing
# 'apt-get update' is reported and the install still runs; a failing install
# stops the script, naming the packages it could not install.
#   deps_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

# dpkg-query reports the packages listed in $work/installed as installed.
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
package=${!#}
grep -qx "$package" "$WORK/installed" && printf 'install ok installed'
exit 0
FAKE
# apt-get: 'update' fails when $WORK/update-fails exists; 'install' records
# its packages as installed, except those listed in $WORK/broken.
cat >"$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$WORK/calls"
if [[ " $* " == *" update "* ]]; then
  [[ -e "$WORK/update-fails" ]] && { echo "E: Failed to fetch an index" >&2; exit 100; }
  exit 0
fi
status=0
for p in "$@"; do
  [[ "$p" == -* || "$p" == install ]] && continue
  if grep -qx "$p" "$WORK/broken" 2>/dev/null; then
    echo "E: Unable to locate package $p" >&2
    status=100
  fi
done
[[ $status -eq 0 ]] && for p in "$@"; do echo "$p" >>"$WORK/installed"; done
exit $status
FAKE
# Running as root: no sudo.
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*
export WORK=$work PATH="$work/bin:$PATH"

failures=0
check() {
  if ! eval "$1"; then
    echo "FAILED: $2" >&2
    failures=$((failures + 1))
  fi
}

# Every package there, but one: an update that fails, then an install that works.
printf '%s\n' cmake ninja-build g++ pkgconf libgtest-dev libgmock-dev googletest libbenchmark-dev \
  libpng-dev libcli11-dev clang libclang-rt-14-dev valgrind >"$work/installed"
touch "$work/update-fails"
"$source_dir/scripts/deps" >"$work/out" 2>"$work/err"
status=$?
check '[[ $status -eq 0 ]]' "a failing update stopped the install (status $status): $(cat "$work/err")"
check 'grep -q "apt-get update" "$work/err"' "the failing update was not reported: $(cat "$work/err")"
check 'grep -q "install.*libassimp-dev" "$work/calls"' "libassimp-dev was not installed"
check 'grep -qx libassimp-dev "$work/installed"' "libassimp-dev is not installed"

# The install fails: the script stops and names what is missing.
grep -vx libassimp-dev "$work/installed" >"$work/kept"
grep -vx valgrind "$work/kept" >"$work/installed"
echo libassimp-dev >"$work/broken"
rm -f "$work/update-fails" "$work/calls"
"$source_dir/scripts/deps" >"$work/out" 2>"$work/err"
status=$?
check '[[ $status -ne 0 ]]' "a failed install ended with status 0"
check 'grep -q "could not install:.*libassimp-dev" "$work/err"' \
  "the packages left out are not named: $(cat "$work/err")"

# Nothing missing: apt-get is not run at all.
printf '%s\n' libassimp-dev valgrind >>"$work/installed"
rm -f "$work/calls"
"$source_dir/scripts/deps" >/dev/null 2>&1
status=$?
check '[[ $status -eq 0 && ! -e "$work/calls" ]]' "apt-get ran with every package installed"

exit $((failures > 0))
