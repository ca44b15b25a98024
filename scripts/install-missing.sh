# Sourced by the set-up scripts: install_missing PACKAGE... installs those Debian packages
# that are not installed yet (with sudo when not root); ":i386" ones add that architecture.
install_missing() {
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
