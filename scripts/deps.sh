# Installs the Debian packages the build, the tests and the window need and
# are missing. Sourced by ./run, ./test and scripts/windows-package.sh.
# One list per purpose; each script installs every list that any of its
# stages or tests needs (./test needs the window's run-time packages too:
# the window tests speak Chinese with Qt's own translations and the CJK
# font), so that on a fresh machine ./test alone is enough.

KTV_PACKAGES=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libqcustomplot-dev libfontconfig-dev qt6-tools-dev qt6-l10n-tools
  libhidapi-dev libudev-dev
  libsleef-dev
  libnlopt-dev
  libcli11-dev nlohmann-json3-dev
  libfftw3-dev portaudio19-dev
  pulseaudio pulseaudio-utils libasound2-plugins libasound2-dev ladspa-sdk swh-plugins
  fonts-dejavu-core
  clang libclang-rt-14-dev
  appstream
  mosquitto mosquitto-clients libmosquitto-dev openssl
)
# A CJK font so that the Chinese window shows its texts, and Qt's own
# dialog texts (OK, Cancel, Close, the file dialogs) in the user's language;
# a virtual display for a machine without one (xvfb-run -a ./run).
KTV_RUN_PACKAGES=(xvfb xauth fonts-wqy-microhei qt6-translations-l10n)

# The Windows build and its tests under Wine (./test's last stage):
# MinGW-w64, Wine, and what `apt-get source` needs to unpack the sources of
# the libraries built for it (scripts/windows-deps.sh); the programs' icon is
# drawn from the SVG (librsvg2-bin, icoutils); the window tests' fonts.
KTV_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 ninja-build dpkg-dev
  librsvg2-bin icoutils fonts-wqy-microhei fonts-dejavu-core)
# Shipping for Windows (scripts/windows-package.sh): the installer, the zip,
# and the installed window checked under Wine on a virtual display.
KTV_WINDOWS_SHIP_PACKAGES=(nsis zip unzip xvfb xauth xdotool imagemagick)

# What each script installs: ./run, ./test, scripts/windows-package.sh.
KTV_RUN_NEEDS=("${KTV_PACKAGES[@]}" "${KTV_RUN_PACKAGES[@]}")
KTV_TEST_NEEDS=("${KTV_PACKAGES[@]}" "${KTV_RUN_PACKAGES[@]}" "${KTV_WINDOWS_PACKAGES[@]}")
KTV_SHIP_NEEDS=("${KTV_TEST_NEEDS[@]}" "${KTV_WINDOWS_SHIP_PACKAGES[@]}")

ktv_install_missing() {
  local missing=() p
  for p in $(printf '%s\n' "$@" | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
