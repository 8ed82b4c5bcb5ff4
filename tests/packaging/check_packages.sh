#!/usr/bin/env bash
# Checks quorvane's install and packages where they land.
#
#   check_packages.sh STEP BUILD_DIR SCRATCH_DIR [SOURCE_DIR]
#
# build            cpack makes the Debian package and the portable archive in SCRATCH_DIR
# deb_layout       the package unpacked (dpkg -x): every file where the desktop, udev and the
#                  shell look for it, and nothing else; its declared dependencies
# deb_lintian      lintian finds no error in the package (its warnings are printed)
# tgz_layout       the archive is one folder: the program, the udev rule and the README
# install_destdir  cmake --install into a scratch root, with the prefixes /usr and /usr/local
# desktop_file     desktop-file-validate accepts the desktop entry
# appstream        appstreamcli validate --no-net accepts the metainfo
#
# Exit status 77 (CTest's skip) when a tool the step needs is missing.
set -euo pipefail
step=$1
build=$2
scratch=$3
source_dir=${4:-}
packages=$scratch/packages
program_dir=opt/quorvane

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
need() {
    command -v "$1" >/dev/null || {
        echo "SKIP: $1 is missing (Debian package $2)" >&2
        exit 77
    }
}
one_file() { # the single file matching a pattern
    local matches=($1)
    [ ${#matches[@]} -eq 1 ] && [ -e "${matches[0]}" ] || fail "expected one file like $1"
    echo "${matches[0]}"
}

# The files and links an install under PREFIX (usr or usr/local) must create, relative to the
# root, sorted.
expected_install() {
    local prefix=$1
    cat <<EOF | sort
$program_dir/README.txt
$program_dir/quorvane
$prefix/bin/quorvane
$prefix/lib/udev/rules.d/70-quorvane.rules
$prefix/share/applications/quorvane.desktop
$prefix/share/doc/quorvane/changelog.gz
$prefix/share/doc/quorvane/copyright
$prefix/share/icons/hicolor/16x16/apps/quorvane.png
$prefix/share/icons/hicolor/32x32/apps/quorvane.png
$prefix/share/icons/hicolor/scalable/apps/quorvane.svg
$prefix/share/man/man1/quorvane.1.gz
$prefix/share/metainfo/quorvane.metainfo.xml
EOF
}

installed_files() { # files and links under a root, relative to it, sorted
    (cd "$1" && find . \( -type f -o -type l \) -printf '%P\n' | sort)
}

same_list() { # label, expected, actual
    if [ "$2" != "$3" ]; then
        echo "$1: expected files and got files differ (< expected, > got):" >&2
        diff <(echo "$2") <(echo "$3") >&2 || true
        fail "$1"
    fi
}

png_size() { # width x height from the PNG header
    local bytes
    bytes=($(od -An -tu1 -j16 -N8 "$1"))
    [ ${#bytes[@]} -eq 8 ] || fail "$1 is no PNG"
    echo "$(((bytes[2] << 8) | bytes[3]))x$(((bytes[6] << 8) | bytes[7]))"
}

is_elf_executable() {
    [ -f "$1" ] && [ -x "$1" ] && [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]
}

# Everything a desktop follows from the installed files: the launcher on PATH to the program,
# the desktop entry's program and icon, the metainfo's desktop entry and program.
check_desktop_paths() {
    local root=$1 prefix=$2
    local share=$root/$prefix/share
    local link=$root/$prefix/bin/quorvane
    [ -L "$link" ] || fail "$prefix/bin/quorvane is not a link"
    local target
    target=$(readlink "$link")
    [ "$target" = "/$program_dir/quorvane" ] || fail "the launcher leads to $target"
    is_elf_executable "$root$target" || fail "the launcher's target is no executable program"
    [ "$(stat -c %a "$root/$program_dir/quorvane")" = 755 ] || fail "the program is not mode 755"

    local entry=$share/applications/quorvane.desktop
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -e "$root/$prefix/bin/$exec" ] || [ -L "$root/$prefix/bin/$exec" ] ||
        fail "the desktop entry runs $exec, which is not on PATH"
    for size in 16 32; do
        local png=$share/icons/hicolor/${size}x$size/apps/$icon.png
        [ "$(png_size "$png")" = "${size}x$size" ] ||
            fail "the ${size}x$size icon is $(png_size "$png")"
    done
    grep -q '<svg' "$share/icons/hicolor/scalable/apps/$icon.svg" || fail "no scalable icon"

    local metainfo=$share/metainfo/quorvane.metainfo.xml
    local launchable binary
    launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
    binary=$(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo")
    [ -f "$share/applications/$launchable" ] || fail "the metainfo launches $launchable"
    [ -L "$root/$prefix/bin/$binary" ] || fail "the metainfo's program $binary is not on PATH"

    grep -q 'TAG+="uaccess"' "$root/$prefix/lib/udev/rules.d/70-quorvane.rules" ||
        fail "the udev rule grants no access"
    gzip -t "$share/man/man1/quorvane.1.gz" "$share/doc/quorvane/changelog.gz"
}

case $step in
build)
    rm -rf "$packages"
    mkdir -p "$packages"
    cpack --config "$build/CPackConfig.cmake" -B "$packages" >"$packages/cpack.log" 2>&1 || {
        cat "$packages/cpack.log" >&2
        fail "cpack"
    }
    one_file "$packages/quorvane_*.deb" >/dev/null
    one_file "$packages/quorvane-*.tar.gz" >/dev/null
    ;;
deb_layout)
    need dpkg-deb dpkg
    deb=$(one_file "$packages/quorvane_*.deb")
    root=$scratch/deb-root
    rm -rf "$root"
    dpkg-deb -x "$deb" "$root"
    expected=$( (expected_install usr; echo usr/share/lintian/overrides/quorvane) | sort)
    same_list "the Debian package" "$expected" "$(installed_files "$root")"
    check_desktop_paths "$root" usr
    # Owned by root, as unpacked by dpkg.
    if dpkg-deb -c "$deb" | awk '{print $2}' | grep -v '^root/root$'; then
        fail "files not owned by root"
    fi
    depends=$(dpkg-deb -f "$deb" Depends)
    for dependency in libqt6widgets6 libhidapi-hidraw0 qt6-qpa-plugins libc6; do
        grep -Eq "(^|, )$dependency( |,|$)" <<<"$depends" ||
            fail "Depends lacks $dependency: $depends"
    done
    [ "$(dpkg-deb -f "$deb" Package)" = quorvane ] || fail "wrong package name"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] ||
        fail "wrong architecture"
    ;;
deb_lintian)
    need lintian lintian
    deb=$(one_file "$packages/quorvane_*.deb")
    report=$scratch/lintian.txt
    status=0
    lintian --fail-on error --display-info "$deb" >"$report" 2>&1 || status=$?
    grep -v 'running with root privileges' "$report" || true
    [ "$status" -eq 0 ] || fail "lintian reports errors"
    if grep -q '^E:' "$report"; then fail "lintian reports errors"; fi
    ;;
tgz_layout)
    archive=$(one_file "$packages/quorvane-*.tar.gz")
    folder=$(basename "$archive" .tar.gz)
    root=$scratch/tgz-root
    rm -rf "$root"
    mkdir -p "$root"
    tar -xzf "$archive" -C "$root"
    same_list "the portable archive" \
        "$(printf '%s\n' "$folder/70-quorvane.rules" "$folder/README.txt" "$folder/quorvane" | sort)" \
        "$(installed_files "$root")"
    is_elf_executable "$root/$folder/quorvane" || fail "the archive's program is no executable"
    grep -q 'quorvane\.bin' "$root/$folder/README.txt" || fail "the README does not name the image"
    cmp -s "$root/$folder/70-quorvane.rules" "${source_dir:?}/packaging/70-quorvane.rules" ||
        fail "the archive's udev rule differs from packaging/70-quorvane.rules"
    ;;
install_destdir)
    for prefix in usr usr/local; do
        root=$scratch/destdir-${prefix//\//-}
        rm -rf "$root"
        DESTDIR=$root cmake --install "$build" --prefix "/$prefix" >/dev/null
        same_list "cmake --install --prefix /$prefix" "$(expected_install "$prefix")" \
            "$(installed_files "$root")"
        check_desktop_paths "$root" "$prefix"
    done
    ;;
desktop_file)
    need desktop-file-validate desktop-file-utils
    desktop-file-validate "${source_dir:?}/app/quorvane.desktop"
    ;;
appstream)
    need appstreamcli appstream
    appstreamcli validate --no-net "$build/packaging/generated/quorvane.metainfo.xml"
    ;;
*)
    fail "unknown step $step"
    ;;
esac
echo "ok: $step"
