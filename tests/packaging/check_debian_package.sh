#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a scratch root
# with dpkg -x and checks what a user gets: the file list, owners and modes,
# a stripped companion, dependencies taken from the linked libraries, a
# changelog that matches the version, and desktop entries, metainfo and man
# page that their validators accept.
#
# usage: check_debian_package.sh BUILD_DIR WORK_DIR VERSION APP_ID with-daemon|without-daemon
set -euo pipefail

build_dir=$1 work_dir=$2 version=$3 app_id=$4 daemon=$5
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

rm -rf "$work_dir"
mkdir -p "$work_dir"
if ! cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work_dir" >"$work_dir/cpack.log" 2>&1; then
  cat "$work_dir/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
deb=$work_dir/tornel_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { ls "$work_dir" >&2; echo "FAIL: no $deb" >&2; exit 1; }

root=$work_dir/root
dpkg -x "$deb" "$root"

# Files
expected=(
  usr/bin/tornel
  "usr/share/applications/$app_id.desktop"
  usr/share/doc/tornel/changelog.gz
  usr/share/doc/tornel/copyright
  "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
  "usr/share/metainfo/$app_id.metainfo.xml"
  usr/share/man/man1/tornel.1.gz
)
[[ $daemon == with-daemon ]] && expected+=(usr/bin/tornel-sync)
actual=$(cd "$root" && find . ! -type d -printf '%P\n' | LC_ALL=C sort)
wanted=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
[[ $actual == "$wanted" ]] || fail "file list differs (-wanted +actual):
$(diff <(echo "$wanted") <(echo "$actual") || true)"

# Owners and modes, as dpkg will unpack them
owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
[[ $owners == root/root ]] || fail "owners in the archive: $owners"
while read -r mode path; do
  case $path in
    usr/bin/*) want=755 ;;
    *) want=644 ;;
  esac
  [[ $mode == "$want" ]] || fail "$path has mode $mode, wanted $want"
done < <(cd "$root" && find . -type f -printf '%m %P\n')
bad_dirs=$(cd "$root" && find . -type d ! -perm 755 -printf '%m %P\n')
[[ -z $bad_dirs ]] || fail "directories not 0755: $bad_dirs"

# The companion: stripped, dependencies found from what it links
if readelf -S "$root/usr/bin/tornel" | grep -Eq '\.(symtab|debug_info|comment)'; then
  fail "usr/bin/tornel is not stripped"
fi
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6core6 libqt6widgets6 qt6-qpa-plugins; do
  pattern="(^|[ ,])$package( |,|$)"
  [[ $depends =~ $pattern ]] || fail "Depends lacks $package: $depends"
done
for field in Package:tornel Version:$version Section:net Priority:optional; do
  value=$(dpkg-deb -f "$deb" "${field%%:*}")
  [[ $value == "${field#*:}" ]] || fail "${field%%:*} is '$value', wanted '${field#*:}'"
done

# Changelog, man page
zcat "$root/usr/share/doc/tornel/changelog.gz" >"$work_dir/changelog"
logged=$(dpkg-parsechangelog -l "$work_dir/changelog" -S Version)
[[ $logged == "$version" ]] || fail "the changelog's latest entry is $logged, the project is $version"
man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/tornel.1.gz" 2>&1 >/dev/null)
[[ -z $man_warnings ]] || fail "man page: $man_warnings"

# Desktop entries and metainfo
for entry in "usr/share/applications/$app_id.desktop"; do
  if ! report=$(desktop-file-validate "$root/$entry" 2>&1) || [[ -n $report ]]; then
    fail "desktop-file-validate $entry: $report"
  fi
  grep -qx 'Exec=tornel' "$root/$entry" || fail "$entry does not start tornel"
  grep -qx "Icon=$app_id" "$root/$entry" || fail "$entry does not use the $app_id icon"
done
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
report=$(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $report"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not name $app_id.desktop"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "$(basename "$deb"): all checks passed"
