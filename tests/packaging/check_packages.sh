#!/usr/bin/env bash
# check_packages.sh STEP BUILD SCRATCH [SOURCE]: quorvane's install and packages where they land
# (every file where the desktop, udev and the shell look for it, nothing else), judged by lintian,
# desktop-file-validate, appstreamcli; the udev rule. Exit 77 (CTest's skip): a tool is missing.
set -euo pipefail
step=$1 build=$2 scratch=$3 src=${4:-} pk=$3/packages
fail() { echo "FAIL: $*" >&2 && exit 1; }
need() { command -v "$1" >/dev/null || { echo "SKIP: $1 is missing" >&2 && exit 77; }; }
one() { local m=($1) && [ ${#m[@]} -eq 1 ] && [ -e "$m" ] && echo "$m" || fail "not one $1"; }
files() { (cd "$1" && find . \( -type f -o -type l \) -printf '%P\n' | sort); }
same() { diff <(echo "$2") <(echo "$3") >&2 || fail "$1: files differ (< expected, > got)"; }
program() { [ "$(stat -c %a "$1")" = 755 ] && [ "$(head -c4 "$1" | tail -c3)" = ELF ]; }
expected() { # what an install under the prefix $1 creates, and $2
    local s=$1/share i=$1/share/icons/hicolor
    printf '%s\n' opt/quorvane/{README.txt,quorvane,quorvane-cli,demo/quorvane-demo,demo/quorvane.bin} \
        "$1"/bin/quorvane{,-cli,-demo} ${2:-} \
        "$1/lib/udev/rules.d/70-quorvane.rules" "$s/applications/quorvane.desktop" \
        "$s"/doc/quorvane/{changelog.gz,copyright} "$s"/man/man1/quorvane{,-cli,-demo}.1.gz \
        "$i"/{16x16,32x32}/apps/quorvane.png "$i/scalable/apps/quorvane.svg" \
        "$s/metainfo/quorvane.metainfo.xml" "$s/bash-completion/completions/quorvane-cli" | sort
}
follow() { # the launcher, the desktop entry, its icons and the metainfo lead where they should
    local r=$1 s=$1/$2/share entry=$1/$2/share/applications/quorvane.desktop
    for p in quorvane quorvane-cli demo/quorvane-demo; do
        [ "$(readlink "$r/$2/bin/${p#demo/}")" = /opt/quorvane/$p ] || fail "the launcher $p"
        program "$r/opt/quorvane/$p" || fail "the program $p"
    done
    [ -L "$r/$2/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")" ] || fail "Exec not on PATH"
    for n in 16 32; do # the width and height in the PNG header
        od -An -tu1 -j16 -N8 "$s/icons/hicolor/${n}x$n/apps/$(sed -n 's/^Icon=//p' "$entry").png" |
            tr -s ' ' | grep -qx " 0 0 0 $n 0 0 0 $n" || fail "the ${n}x$n icon"
    done
    local meta=$s/metainfo/quorvane.metainfo.xml
    [ -f "$s/applications/$(sed -n 's:.*"desktop-id">\(.*\)</launchable>.*:\1:p' "$meta")" ] &&
        [ -L "$r/$2/bin/$(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$meta")" ] ||
        fail "the metainfo"
}
case $step in
build)
    rm -rf "$pk" && mkdir -p "$pk"
    cpack --config "$build/CPackConfig.cmake" -B "$pk" >"$pk/cpack.log" 2>&1 ||
        { cat "$pk/cpack.log" >&2 && fail cpack; }
    one "$pk/quorvane_*.deb" && one "$pk/quorvane-*.tar.gz" ;;
deb_layout)
    deb=$(one "$pk/quorvane_*.deb") root=$scratch/deb-root
    rm -rf "$root" && dpkg-deb -x "$deb" "$root"
    same "the .deb" "$(expected usr usr/share/lintian/overrides/quorvane)" "$(files "$root")"
    follow "$root" usr
    dpkg-deb -f "$deb" Depends | tr , '\n' | sed 's/^ *//; s/ .*//' | grep -cxE \
        'libqt6widgets6|libudev1|libsystemd0|libssl3|qt6-qpa-plugins|fonts-liberation2|libc6' |
        grep -qx 7 || fail Depends ;;
deb_lintian) need lintian && lintian --fail-on error "$(one "$pk/quorvane_*.deb")" ;;
tgz_layout)
    archive=$(one "$pk/quorvane-*.tar.gz") root=$scratch/tgz-root && d=$(basename "$archive" .tar.gz)
    rm -rf "$root" && mkdir -p "$root" && tar -xzf "$archive" -C "$root"
    same .tgz "$(printf '%s\n' "$d"/{70-quorvane.rules,README.txt,quorvane,quorvane-cli} \
        "$d"/demo/quorvane{-demo,.bin} | sort)" \
        "$(files "$root")"
    program "$root/$d/quorvane" && program "$root/$d/quorvane-cli" && grep -q 'quorvane\.bin' "$root/$d/README.txt" || fail "tgz"
    cmp "$root/$d/70-quorvane.rules" "$src/packaging/70-quorvane.rules" ;;
install_destdir)
    for prefix in usr usr/local; do
        root=$scratch/destdir-${prefix//\//-}
        rm -rf "$root" && DESTDIR=$root cmake --install "$build" --prefix "/$prefix" >/dev/null
        same "--prefix /$prefix" "$(expected "$prefix")" "$(files "$root")"
        follow "$root" "$prefix"
    done ;;
desktop_file) need desktop-file-validate && desktop-file-validate "$src/app/quorvane.desktop" ;;
appstream) need appstreamcli && appstreamcli validate --no-net "$2"/packaging/*/*.metainfo.xml ;;
udev_rule) # each product ID discovery looks for, as sysfs spells it: the seat and plugdev alone
    for id in $(sed -n 's/.*ModeProductId = 0x\(....\);/\1/p' "$src/device/tarvex_protocol.h"); do
        echo "SUBSYSTEM==\"hidraw\", ATTRS{idProduct}==\"${id,,}\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\""
    done | sort | diff - <(grep -Ev '^(#|$)' "$src/packaging/70-quorvane.rules" | sort) ;;
*) fail "unknown step $step" ;;
esac
echo "ok: $step"
