#!/usr/bin/env bash
# What a new user sees of the README's first command: the install step in a
# few lines with apt's output kept in a log, then only Tornel's own lines and
# the daemon's, even headless and with the panel opened.
#
# usage: check_first_run.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1 build_dir=$2
work=$(mktemp -d)
companion=
trap '[[ -n $companion ]] && kill $companion 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The install step against a stand-in apt that has every package to install
# and a lot to say about it.
mkdir -p "$work/bin"
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
cat >"$work/bin/apt-get" <<'APT'
#!/bin/bash
for i in $(seq 300); do echo "apt says line $i"; done
for p in 10 30 60 100; do echo "pmstatus:pkg:$p:Installing" >&3; done
APT
chmod +x "$work/bin"/*
output=$(PATH="$work/bin:$PATH" TMPDIR=$work "$source_dir/scripts/install-deps" 2>&1) || fail "install-deps failed: $output"
(($(wc -l <<<"$output") <= 8)) || fail "install-deps printed more than 8 lines:
$output"
grep -q 'apt says line 300' "$work/tornel-install-deps.log" || fail "apt's output is not in the log"
grep -q "$work/tornel-install-deps.log" <<<"$output" || fail "install-deps does not name its log"

# The companion headless, as make run starts it, opened once by a second start.
export HOME=$work/home TMPDIR=$work
mkdir -p "$HOME"
unset DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR
"$source_dir/scripts/run-companion" "$build_dir" >"$work/out" 2>&1 &
companion=$!
for _ in $(seq 100); do grep -q 'Request: status' "$work/out" && break; sleep 0.1; done
"$build_dir/bin/tornel" -platform offscreen || fail "a second start failed"
sleep 0.5
kill -INT $companion && wait $companion
companion=
unexpected=$(grep -v -e '^\[daemon\] ' -e '^No graphical session' -e '^Running Tornel on the offscreen' \
  -e '^tornel.tray: waiting for a system tray' "$work/out")
[[ -z $unexpected ]] || fail "make run printed lines that are neither Tornel's nor the daemon's:
$unexpected"
grep -q '^\[daemon\] Stopped$' "$work/out" || fail "the daemon was not stopped"

((failures == 0)) || exit 1
echo "first run: all checks passed"
