# Installs the Debian packages given that are not installed yet (so a second run installs
# nothing). apt-get runs as root, through sudo when the caller is not root.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    # env carries the setting through sudo, so apt-get never stops at a prompt.
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}" >/dev/null
}

# What building and running quorvane needs.
# Liberation Sans stands in for the window's MS Sans Serif, so captions fit their boxes. The
# hidraw nodes through libudev, logind's inhibitor through sd-bus, SHA-256 from libcrypto, JSON
# for the update history and the command line's output, CLI11 for its arguments.
BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libudev-dev libcli11-dev
                libsystemd-dev libssl-dev nlohmann-json3-dev fonts-dejavu-core fonts-liberation2)
# What the tests add: GoogleTest, clang with its sanitizer and fuzzer runtimes, the package and
# desktop-file checkers, an X server for the screenshots, a private D-Bus with a mock logind,
# umockdev for a mocked udev, and the AT-SPI bus with the system Python's pyatspi, to read the
# window as a screen reader does.
TEST_PACKAGES=(libgtest-dev clang clang-format libclang-rt-14-dev lintian desktop-file-utils appstream
               dpkg-dev file xvfb xauth dbus-daemon python3-dbusmock umockdev libumockdev-dev
               at-spi2-core python3-pyatspi)
