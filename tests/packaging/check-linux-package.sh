#!/usr/bin/env bash
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
grep -qx 'Exec=/usr/bin/tessaly-admin' "$share/applications/org.tessaly.Tessaly.desktop" || fail "desktop entry Exec"
grep -qx 'Categories=System;Settings;' "$share/applications/org.tessaly.Tessaly.desktop" || fail "desktop categories"
appstreamcli validate --no-net "$share/metainfo/org.tessaly.Tessaly.metainfo.xml"

policy="$share/polkit-1/actions/org.tessaly.Tessaly.policy"
xmllint --noout "$policy"
[ "$(xmllint --xpath 'string(//action/@id)' "$policy")" = org.tessaly.Tessaly.run ] || fail "policy action id"
[ "$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")" = /usr/bin/tessaly ] \
    || fail "policy exec.path"
grep -q 'pkexec "$program"' "$stage/root/usr/bin/tessaly-admin" || fail "launcher does not use pkexec"
grep -q '^program="/usr/bin/tessaly"$' "$stage/root/usr/bin/tessaly-admin" || fail "launcher program path"
sh -n "$stage/root/usr/bin/tessaly-admin"
for size in 16 32 48 256; do
    [ -s "$share/icons/hicolor/${size}x${size}/apps/org.tessaly.Tessaly.png" ] || fail "icon ${size}"
done

(cd "$stage" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$stage"/tessaly_*.deb)
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/tessaly ./usr/bin/tessaly-admin ./usr/share/applications/org.tessaly.Tessaly.desktop \
    ./usr/share/metainfo/org.tessaly.Tessaly.metainfo.xml ./usr/share/polkit-1/actions/org.tessaly.Tessaly.policy \
    ./usr/share/icons/hicolor/48x48/apps/org.tessaly.Tessaly.png; do
    grep -q " $path\$" <<<"$contents" || fail "package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6gui6 libqt6core6 libqt6svg6; do
    grep -q "$package" <<<"$depends" || fail "package does not depend on $package: $depends"
done
echo "package $(basename "$deb"): $(grep -c . <<<"$contents") entries; Depends: $depends"
