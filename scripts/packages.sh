# Installs missing Debian packages when run as root, or prints the apt-get line that would.
# Usage (sourced): EnsurePackages package...
EnsurePackages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  else
    echo "Missing Debian packages. Install them with:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
}

# What every build needs.
kBuildPackages=(cmake ninja-build g++ libgtest-dev libgmock-dev)
