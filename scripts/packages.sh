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
  # A package of another architecture (wine32:i386) needs that architecture added to dpkg
  # before apt-get update can list it.
  local architectures=() architecture
  for package in "${missing[@]}"; do
    [[ "$package" == *:* ]] || continue
    architecture=${package##*:}
    if [ "$architecture" != "$(dpkg --print-architecture)" ] &&
       ! dpkg --print-foreign-architectures | grep -qx "$architecture" &&
       [[ " ${architectures[*]} " != *" $architecture "* ]]; then
      architectures+=("$architecture")
    fi
  done
  if [ "$(id -u)" -eq 0 ]; then
    for architecture in ${architectures[@]+"${architectures[@]}"}; do
      echo "Adding the dpkg architecture $architecture"
      dpkg --add-architecture "$architecture"
    done
    echo "Installing: ${missing[*]}"
    UpdatePackageLists
    InstallWithRetries "${missing[@]}"
  else
    echo "Missing Debian packages. Install them with:"
    for architecture in ${architectures[@]+"${architectures[@]}"}; do
      echo "  sudo dpkg --add-architecture $architecture"
    done
    [ ${#architectures[@]} -eq 0 ] || echo "  sudo apt-get update"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
  fi
}

# A mirror in the middle of a sync fails apt-get update for a while; the lists already on the
# machine, or those of the next try, still serve. A failure to install is the real failure.
UpdatePackageLists() {
  local attempt
  for attempt in 1 2 3; do
    DEBIAN_FRONTEND=noninteractive apt-get update -qq && return 0
    echo "apt-get update failed (try $attempt of 3)"
    [ "$attempt" -eq 3 ] || sleep 10
  done
  echo "Going on with the package lists at hand"
}

InstallWithRetries() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" && return 0
  echo "apt-get install failed; trying once more with fresh package lists"
  sleep 10
  UpdatePackageLists
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
}

# What every build needs.
kBuildPackages=(cmake ninja-build g++ libgtest-dev libgmock-dev zlib1g-dev)

# Generates the de_DE.UTF-8 locale (decimal comma) that the locale tests and the Windows check
# need, when missing.
EnsureCommaLocale() {
  if locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then return 0; fi
  if [ "$(id -u)" -eq 0 ]; then
    EnsurePackages locales
    sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
    if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
      echo "The locale de_DE.UTF-8 is still missing after locale-gen"
      exit 1
    fi
  else
    echo "The tests need the de_DE.UTF-8 locale. Generate it with:"
    echo "  sudo apt-get install -y locales && sudo sed -i 's/^# *de_DE.UTF-8/de_DE.UTF-8/' /etc/locale.gen && sudo locale-gen"
    exit 1
  fi
}
