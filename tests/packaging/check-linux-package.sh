#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a staging directory and checks what a desktop needs
# of it with the freedesktop validators, then builds the Debian package and
# checks its contents and dependencies.
#   check-linux-package.sh BUILD-DIRECTORY
set -euo pipefail
build=$(cd "$1" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null
share="$stage/root/usr/share"

desktop-file-validate "$share/applications/org.tessaly.Tessaly.desktop"
# The editor starts as the user: no password at start, no root window.
grep -qx 'Exec=tessaly' "$share/applications/org.tessaly.Tessaly.desktop" || fail "desktop entry Exec"
grep -qx 'Categories=System;' "$share/applications/org.tessaly.Tessaly.desktop" || fail "desktop categories"
grep -qx 'StartupWMClass=tessaly' "$share/applications/org.tessaly.Tessaly.desktop" || fail "desktop StartupWMClass"
appstreamcli validate --no-net "$share/metainfo/org.tessaly.Tessaly.metainfo.xml"

# One action, for the save helper only, and never for a graphical program.
policy="$share/polkit-1/actions/org.tessaly.Tessaly.policy"
xmllint --noout "$policy"
[ "$(xmllint --xpath 'count(//action)' "$policy")" = 1 ] || fail "policy actions"
[ "$(xmllint --xpath 'string(//action/@id)' "$policy")" = org.tessaly.Tessaly.save ] || fail "policy action id"
[ "$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")" \
    = /usr/libexec/tessaly/tessaly-save-helper ] || fail "policy exec.path"
[ "$(xmllint --xpath 'count(//annotate[@key="org.freedesktop.policykit.exec.allow_gui"])' "$policy")" = 0 ] \
    || fail "policy lets a graphical program run as root"
# Every save asks: a kept authorisation would let any program of the user
# rewrite the system's name resolution for minutes without asking.
for kind in allow_any allow_inactive allow_active; do
    [ "$(xmllint --xpath "string(//defaults/$kind)" "$policy")" = auth_admin ] || fail "policy $kind"
done
[ -x "$stage/root/usr/libexec/tessaly/tessaly-save-helper" ] || fail "save helper not installed"
[ ! -e "$stage/root/usr/bin/tessaly-admin" ] || fail "the root launcher is still installed"
for size in 16 32 48 256; do
    [ -s "$share/icons/hicolor/${size}x${size}/apps/org.tessaly.Tessaly.png" ] || fail "icon ${size}"
done
gzip -t "$share/man/man1/tessaly.1.gz" "$share/man/man1/tessaly-restore.1.gz" "$share/doc/tessaly/changelog.gz"

(cd "$stage" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$stage"/tessaly_*.deb)
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/tessaly ./usr/bin/tessaly-restore ./usr/libexec/tessaly/tessaly-save-helper \
    ./usr/share/applications/org.tessaly.Tessaly.desktop ./usr/share/metainfo/org.tessaly.Tessaly.metainfo.xml \
    ./usr/share/polkit-1/actions/org.tessaly.Tessaly.policy ./usr/share/icons/hicolor/48x48/apps/org.tessaly.Tessaly.png \
    ./usr/share/man/man1/tessaly.1.gz ./usr/share/man/man1/tessaly-restore.1.gz ./usr/share/doc/tessaly/copyright ./usr/share/doc/tessaly/changelog.gz; do
    grep -q " $path\$" <<<"$contents" || fail "package lacks $path"
done
grep -q '^-rwxr-xr-x root/root .* ./usr/libexec/tessaly/tessaly-save-helper$' <<<"$contents" \
    || fail "save helper permissions"
depends=$(dpkg-deb -f "$deb" Depends)
# The pictures are SVG, drawn by plugins that no library links: the package
# that holds them in this release.
svg_plugins=$(dpkg-query -S '*/qt6/plugins/iconengines/libqsvgicon.so' | sed 's/[:,].*//')
for package in libqt6widgets6 libqt6gui6 libqt6core6 "$svg_plugins" pkexec; do
    grep -q "$package" <<<"$depends" || fail "package does not depend on $package: $depends"
done
# The Wayland platform, so that a Wayland session runs the editor natively.
[ "$(dpkg-deb -f "$deb" Recommends)" = qt6-wayland ] || fail "package does not recommend qt6-wayland"
# Debian's own checks: no error and no warning.
command -v lintian >/dev/null || fail "lintian is not installed"
if ! report=$(lintian --fail-on error,warning "$deb" 2>&1); then
    echo "$report" >&2
    fail "lintian reports errors or warnings"
fi
echo "package $(basename "$deb"): $(grep -c . <<<"$contents") entries; Depends: $depends"
