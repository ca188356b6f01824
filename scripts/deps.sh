# Installs, from Debian's packages, whatever the build, the tests and the demo
# need and the machine lacks. dpkg-dev (dpkg-shlibdeps), desktop-file-utils and
# lintian are for making and checking the Debian package; poppler-utils (pdftotext)
# reads the settings sheet back in its test. libssl-dev, zlib1g-dev and
# libcrypt-dev are the exporter's TLS, gzip and bcrypt; openssl and curl make
# certificates and ask as clients in its tests; prometheus, prometheus-alertmanager
# and python3 (the test's webhook receiver) carry the exporter's alert test; mbpoll
# and pymodbus (with serial-asyncio, which Debian only recommends and its client
# package imports) ask the exporter's Modbus TCP server. Sourced by test.sh and run.sh.
ZASHCHITA_PACKAGES=(
  g++ make cmake pkg-config
  qt6-base-dev qt6-qpa-plugins libgtest-dev libmodbus-dev
  fonts-liberation2 fontconfig
  poppler-utils
  dpkg-dev desktop-file-utils lintian
  libyaml-cpp-dev prometheus-cpp-dev prometheus prometheus-alertmanager python3
  libssl-dev zlib1g-dev libcrypt-dev openssl curl
  mbpoll python3-pymodbus python3-serial-asyncio
  qt6-charts-dev libqt6opengl6-dev qt6-translations-l10n
  ninja-build ccache
)
ZASHCHITA_DEMO_PACKAGES=(xvfb xauth imagemagick)
# The benchmark's measuring peer (bench/run.sh) and the central store of
# bench/sites_remote_write.sh; no test needs them.
ZASHCHITA_BENCH_PACKAGES=(mbpoll victoria-metrics)

zashchita_install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

zashchita_build() {
  local dir=$1; shift
  local launcher=()
  command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  local generator=()
  [ -f "$dir/CMakeCache.txt" ] || { command -v ninja >/dev/null 2>&1 && generator=(-G Ninja); }
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@"
  cmake --build "$dir" -j"$(nproc)"
}
