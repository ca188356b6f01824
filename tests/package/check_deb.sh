#!/usr/bin/env bash
# Builds the Debian package with cpack from the built project and checks it:
# name, version, architecture, Depends, contents, stripped programs, and
# lintian (no errors and no warnings). Exits 77 (skipped) when only lintian
# is missing, after all the other checks.
#   check_deb.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$tmp/out/zashchita_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$tmp/out" >&2; fail "no zashchita_${version}_${arch}.deb"; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zashchita ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
# The maintainer is who signs the changelog; the completion is recommended.
signer=$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$(dirname "$0")/../../packaging/changelog" | head -1)
[ -n "$signer" ] && [ "$(field Maintainer)" = "$signer" ] || fail "Maintainer '$(field Maintainer)', changelog '$signer'"
[ "$(field Recommends)" = bash-completion ] || fail "Recommends: $(field Recommends)"
[ -n "$(field Section)" ] || fail "no Section"
[ -n "$(field Description)" ] || fail "no Description"

# Depends: the libraries dpkg-shlibdeps finds, with versions, plus the Qt
# platform plugins and the fonts the layout is measured in.
depends=$(field Depends)
echo "Depends: $depends"
IFS=',' read -r -a items <<<"$depends"
declare -A seen=()
for item in "${items[@]}"; do
  item=${item# }
  name=${item%% *}
  [ -z "${seen[$name]:-}" ] || fail "$name named twice in Depends"
  seen[$name]=$item
done
for name in fonts-liberation2 qt6-qpa-plugins qt6-translations-l10n; do
  [ -n "${seen[$name]:-}" ] || fail "Depends lacks $name"
done
for name in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6; do
  [[ "${seen[$name]:-}" == "$name (>= "* ]] || fail "Depends lacks a versioned $name (from dpkg-shlibdeps)"
done

# Contents: owned by root, the programs executable, the rest not.
dpkg-deb -c "$deb" >"$tmp/contents"
awk '$2 != "root/root" { exit 1 }' "$tmp/contents" || fail "files not owned by root/root"
expected=(
  ./usr/bin/zashchita
  ./usr/bin/zashchita-relay-sim
  ./usr/bin/zashchita-cli
  ./usr/bin/zashchita-exporter
  ./lib/systemd/system/zashchita-exporter.service
  ./usr/lib/sysusers.d/zashchita-exporter.conf
  ./etc/zashchita/exporter.yaml
  ./usr/share/zashchita/prometheus/zashchita-rules.yml
  ./usr/share/zashchita/prometheus/alertmanager.yml
  ./usr/share/man/man1/zashchita-exporter.1.gz
  ./usr/share/applications/zashchita.desktop
  ./usr/share/icons/hicolor/scalable/apps/zashchita.svg
  ./usr/share/icons/hicolor/16x16/apps/zashchita.png
  ./usr/share/icons/hicolor/32x32/apps/zashchita.png
  ./usr/share/icons/hicolor/48x48/apps/zashchita.png
  ./usr/share/icons/hicolor/256x256/apps/zashchita.png
  ./usr/share/man/man1/zashchita.1.gz
  ./usr/share/man/man1/zashchita-relay-sim.1.gz
  ./usr/share/man/man1/zashchita-cli.1.gz
  ./usr/share/bash-completion/completions/zashchita-cli
  ./usr/share/doc/zashchita/copyright
  ./usr/share/doc/zashchita/changelog.gz
)
for path in "${expected[@]}"; do
  line=$(awk -v p="$path" '$6 == p' "$tmp/contents")
  [ -n "$line" ] || fail "$path not in the package"
  case $path in
    ./usr/bin/*) [[ $line == -rwxr-xr-x* ]] || fail "$path: ${line%% *}" ;;
    *) [[ $line == -rw-r--r--* ]] || fail "$path: ${line%% *}" ;;
  esac
done
awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { exit 1 }' "$tmp/contents" || fail "a folder is not rwxr-xr-x"
# Listed into a file first: grep -q leaving a pipe early would fail it under pipefail.
dpkg-deb --ctrl-tarfile "$deb" | tar -t > "$tmp/control-files"
grep -qx './md5sums' "$tmp/control-files" || fail "no md5sums"
dpkg-deb -e "$deb" "$tmp/control"
grep -qx '/etc/zashchita/exporter.yaml' "$tmp/control/conffiles" || fail "exporter.yaml is no conffile"
grep -q 'systemd-sysusers zashchita-exporter.conf' "$tmp/control/postinst" || fail "postinst makes no user for the service"

# The programs are stripped, the package's changelog carries its version.
dpkg-deb -x "$deb" "$tmp/root"
for program in zashchita zashchita-relay-sim zashchita-cli zashchita-exporter; do
  readelf -S "$tmp/root/usr/bin/$program" > "$tmp/sections"
  grep -q '\.symtab' "$tmp/sections" && fail "$program is not stripped"
  grep -q '\.debug_' "$tmp/sections" && fail "$program has debug sections"
done
zcat "$tmp/root/usr/share/doc/zashchita/changelog.gz" | sed -n 1p | grep -q "^zashchita ($version) " ||
  fail "changelog does not start with version $version"

if ! command -v lintian >/dev/null; then
  echo "lintian not installed (scripts/deps.sh installs it): lintian check skipped"
  exit 77
fi
# Errors and warnings fail; informational tags are printed only.
lintian --fail-on error,warning --info "$deb" >"$tmp/lintian" 2>&1 || {
  cat "$tmp/lintian" >&2
  fail "lintian"
}
grep -v '^running with root privileges' "$tmp/lintian" || true
echo "Debian package $(basename "$deb"): all checks passed"
