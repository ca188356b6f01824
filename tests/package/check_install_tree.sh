#!/usr/bin/env bash
# Installs the built project under /usr and /usr/local in a temporary
# folder and checks the trees: nothing but what is listed, the exporter's
# unit naming the programs where they went, its system user; under /usr
# the programs run, the menu entry is valid, the icon, the manual pages and
# the bash completion are there.
#   check_install_tree.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Installed under /usr (as the package is) and under /usr/local (cmake
# --install's own default): the unit names the programs and the
# configuration where that install put them, and systemd takes it.
for prefix in /usr /usr/local; do
  dest=$tmp/dest${prefix//\//-}
  DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log" >&2; fail "cmake --install --prefix $prefix"; }
  case $prefix in
    /usr) units=/lib/systemd/system conf=/etc ;;
    *) units=$prefix/lib/systemd/system conf=$prefix/etc ;;
  esac
  # Only the programs and their data.
  while IFS= read -r file; do
    path=${file#"$dest"}
    case $path in
      "$units/zashchita-exporter.service" | "$conf/zashchita/exporter.yaml") ;;
      "$prefix/lib/sysusers.d/zashchita-exporter.conf") ;;
      "$prefix"/*)
        case ${path#"$prefix"/} in
          bin/zashchita | bin/zashchita-relay-sim | bin/zashchita-cli | bin/zashchita-exporter) ;;
          share/zashchita/prometheus/zashchita-rules.yml | share/man/man1/zashchita-exporter.1.gz) ;;
          share/zashchita/prometheus/alertmanager.yml) ;;
          share/applications/zashchita.desktop) ;;
          share/icons/hicolor/*/apps/zashchita.png | share/icons/hicolor/scalable/apps/zashchita.svg) ;;
          share/man/man1/zashchita.1.gz | share/man/man1/zashchita-relay-sim.1.gz) ;;
          share/man/man1/zashchita-cli.1.gz) ;;
          share/bash-completion/completions/zashchita-cli) ;;
          share/doc/zashchita/copyright | share/doc/zashchita/changelog.gz) ;;
          *) fail "unexpected file installed: $path" ;;
        esac ;;
      *) fail "unexpected file installed: $path" ;;
    esac
  done < <(find "$dest" -type f -o -type l)

  unit=$dest$units/zashchita-exporter.service
  exporter="$prefix/bin/zashchita-exporter --config $conf/zashchita/exporter.yaml"
  for line in "ExecStartPre=$exporter --check-config" "ExecStart=$exporter" 'ExecReload=/bin/kill -HUP $MAINPID' \
              User=zashchita-exporter Group=zashchita-exporter StateDirectoryMode=0750; do
    grep -qxF -- "$line" "$unit" || fail "$prefix: the unit has no line $line"
  done
  grep -q '^DynamicUser' "$unit" && fail "$prefix: the unit still asks for a dynamic user"
  "$dest$prefix/bin/zashchita-exporter" --config "$dest$conf/zashchita/exporter.yaml" --check-config >/dev/null ||
    fail "$prefix: the installed exporter.yaml does not pass --check-config"
  systemd-sysusers --dry-run --root="$dest" "$dest$prefix/lib/sysusers.d/zashchita-exporter.conf" >"$tmp/sysusers" 2>&1 &&
    grep -q "Creating user 'zashchita-exporter'" "$tmp/sysusers" || { cat "$tmp/sysusers" >&2; fail "$prefix: sysusers.d"; }
  # systemd-analyze verify in the installed tree, with the targets and the
  # kill the unit names beside it; where it cannot run, said and passed over.
  mkdir -p "$dest/bin" "$dest/lib/systemd/system"
  cp /bin/kill "$dest/bin/" && cp -a /lib/systemd/system/*.target "$dest/lib/systemd/system/" 2>/dev/null || true
  if ! command -v systemd-analyze >/dev/null; then
    echo "systemd-analyze not found: the unit was not verified"
  elif ! systemd-analyze verify --man=no --root="$dest" /lib/systemd/system/multi-user.target >/dev/null 2>&1; then
    echo "systemd-analyze verify does not run here: the unit was not verified"
  else
    systemd-analyze verify --man=no --root="$dest" "$units/zashchita-exporter.service" >"$tmp/verify" 2>&1 &&
      [ ! -s "$tmp/verify" ] || { cat "$tmp/verify" >&2; fail "$prefix: systemd-analyze verify"; }
  fi
done
root=$tmp/dest-usr/usr

# The programs.
for program in zashchita zashchita-relay-sim zashchita-cli zashchita-exporter; do
  [ -x "$root/bin/$program" ] || fail "bin/$program missing or not executable"
done
out=$("$root/bin/zashchita" --version) || fail "zashchita --version exited $?"
[ "$out" = "Защита $version" ] || fail "zashchita --version said '$out'"
# Help and version need no window system.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/zashchita" -v) ||
  fail "zashchita -v without a display"
[ "$out" = "Защита $version" ] || fail "zashchita -v said '$out'"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/zashchita" --help) ||
  fail "zashchita --help without a display"
grep -q -- '--port <PATH>' <<<"$out" || fail "zashchita --help does not offer --port"
grep -q -- '-v, --version' <<<"$out" || fail "zashchita --help does not offer --version"

# The simulator: its version, its help and a dump of its registers show it runs.
out=$("$root/bin/zashchita-relay-sim" --version) || fail "zashchita-relay-sim --version exited $?"
[ "$out" = "zashchita-relay-sim $version" ] || fail "zashchita-relay-sim --version said '$out'"
out=$("$root/bin/zashchita-relay-sim" --help) || fail "zashchita-relay-sim --help exited $?"
grep -q '^Usage: ' <<<"$out" || fail "zashchita-relay-sim --help printed no usage"
"$root/bin/zashchita-relay-sim" --dump >"$tmp/dump" || fail "zashchita-relay-sim --dump exited $?"
[ "$(grep -c -E '^[0-9]+=[0-9]+$' "$tmp/dump")" = 256 ] || fail "zashchita-relay-sim --dump: not 256 registers"

# The command-line program needs no window system either.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/zashchita-cli" --help) ||
  fail "zashchita-cli --help exited $?"
grep -q -- 'settings load FILE' <<<"$out" || fail "zashchita-cli --help does not offer settings load"
out=$("$root/bin/zashchita-cli" --version) || fail "zashchita-cli --version exited $?"
[ "$out" = "zashchita-cli $version" ] || fail "zashchita-cli --version said '$out'"
# The exporter: its version (its configuration and unit are checked above).
out=$("$root/bin/zashchita-exporter" --version) || fail "zashchita-exporter --version exited $?"
[ "$out" = "zashchita-exporter $version" ] || fail "zashchita-exporter --version said '$out'"
# It, the exporter and the simulator are built on the core alone: no widgets, no GUI, no D-Bus.
for program in zashchita-cli zashchita-relay-sim zashchita-exporter; do
  needed=$(readelf -d "$root/bin/$program" | grep NEEDED) || fail "readelf $program"
  if grep -E 'libQt6(Widgets|Gui|DBus)' <<<"$needed"; then
    fail "$program needs a window library"
  fi
done

# Its bash completion: the commands, each command's options, and every
# option the help lists.
completion=$root/share/bash-completion/completions/zashchita-cli
[ -f "$completion" ] || fail "no bash completion for zashchita-cli"
help=$("$root/bin/zashchita-cli" --help)
# shellcheck disable=SC2016
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _zashchita_cli; echo "${COMPREPLY[*]}"' \
    _ "$completion" zashchita-cli "$@"
}
[ "$(complete_words '')" = "settings records monitor scan journal" ] || fail "completion of the command: $(complete_words '')"
[ "$(complete_words settings '')" = "save diff load" ] || fail "completion of settings: $(complete_words settings '')"
[ "$(complete_words monitor --format '')" = "text csv jsonl" ] || fail "completion of --format"
offered="$(complete_words settings load --) $(complete_words records --) $(complete_words monitor --) $(complete_words scan --)"
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  [[ " $offered " == *" $option "* ]] || fail "bash completion does not offer $option"
done
# After --port: the network lines (bash splits them at colons) and any path.
mkdir -p "$tmp/by-id" && touch "$tmp/by-id/usb-FTDI-port0"
while IFS='|' read -r words expected; do
  got=$(eval "complete_words $words")
  [ "$got" = "$expected" ] || fail "completion of '$words': '$got', not '$expected'"
done <<EOF
--port modb|modbus-tcp://
--port modbus-tcp : ''|//
--port $tmp/by-id/usb|$tmp/by-id/usb-FTDI-port0
journal --f|--format
EOF
grep -q -- '--yes' <<<"$(complete_words records --)" && fail "bash completion offers --yes to records"
grep -q -- '--address' <<<"$(complete_words scan --)" && fail "bash completion offers --address to scan"

# The menu entry.
desktop=$root/share/applications/zashchita.desktop
command -v desktop-file-validate >/dev/null ||
  fail "desktop-file-validate not found (desktop-file-utils; scripts/deps.sh installs it)"
desktop-file-validate "$desktop" >"$tmp/validate" 2>&1 || { cat "$tmp/validate" >&2; fail "desktop-file-validate"; }
[ ! -s "$tmp/validate" ] || { cat "$tmp/validate" >&2; fail "desktop-file-validate had remarks"; }
grep -qx 'Name=Защита' "$desktop" || fail "desktop entry: Name is not Защита"
grep -qx 'Type=Application' "$desktop" || fail "desktop entry: not an application"
grep -q '^Comment=.' "$desktop" || fail "desktop entry: no Comment"
exec=$(sed -n 's/^Exec=//p' "$desktop" | head -n 1)   # the entry's own; the actions' follow
[ -x "$root/bin/${exec%% *}" ] || fail "desktop entry: Exec=$exec is not an installed program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ "$icon" = zashchita ] || fail "desktop entry: Icon=$icon"

# The icon: the drawing and a PNG for each size, each as large as its folder says.
svg=$root/share/icons/hicolor/scalable/apps/zashchita.svg
[ -f "$svg" ] && grep -q '<svg' "$svg" || fail "scalable icon missing"
sizes=0
for png in "$root"/share/icons/hicolor/*x*/apps/zashchita.png; do
  dir=$(basename "$(dirname "$(dirname "$png")")")
  # shellcheck disable=SC2207
  header=($(od -An -tu1 -N24 "$png"))
  [ "${header[*]:0:8}" = "137 80 78 71 13 10 26 10" ] || fail "$dir icon is not a PNG"
  width=$(( (header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19] ))
  height=$(( (header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23] ))
  [ "${width}x${height}" = "$dir" ] || fail "icon in $dir is ${width}x${height}"
  sizes=$((sizes + 1))
done
for dir in 16x16 32x32 48x48 64x64 128x128 256x256; do
  [ -f "$root/share/icons/hicolor/$dir/apps/zashchita.png" ] || fail "no $dir icon"
done

# The manual pages: compressed, with the version, readable by groff.
for program in zashchita zashchita-relay-sim zashchita-cli zashchita-exporter; do
  page=$root/share/man/man1/$program.1.gz
  [ -f "$page" ] || fail "no manual page for $program"
  gzip -t "$page" || fail "$program.1.gz is not gzip"
  zcat "$page" >"$tmp/page"
  head -n 1 "$tmp/page" | grep -q "^\.TH .* 1 .*zashchita $version" || fail "$program.1: title line"
  grep -q '@VERSION@' "$tmp/page" && fail "$program.1: version not filled in"
  grep -q "^${program//-/\\\\-} \\\\- " "$tmp/page" || fail "$program.1: NAME line"
  if command -v groff >/dev/null; then
    groff -k -man -Tutf8 -ww -z "$tmp/page" 2>"$tmp/groff" || fail "groff on $program.1"
    [ ! -s "$tmp/groff" ] || { cat "$tmp/groff" >&2; fail "groff warns on $program.1"; }
  fi
done

# The package's documents.
[ -s "$root/share/doc/zashchita/copyright" ] || fail "no copyright file"
zcat "$root/share/doc/zashchita/changelog.gz" | sed -n 1p | grep -q "^zashchita ($version) " ||
  fail "changelog does not start with version $version"

echo "install trees under /usr and /usr/local: all checks passed"
