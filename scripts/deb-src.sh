# `apt-get source` needs source entries; ktv_ensure_deb_src PACKAGE adds them
# for the suites the machine already takes binaries from when PACKAGE's
# source cannot be found. Sourced by the scripts that build from Debian's
# sources.
ktv_ensure_deb_src() {
  if apt-get source --print-uris "$1" >/dev/null 2>&1; then return 0; fi
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$codename" "$codename" | $sudo tee /etc/apt/sources.list.d/ktvtune-deb-src.sources >/dev/null
  $sudo apt-get update -qq
}
