#!/usr/bin/env bash
# Builds the Debian package build/package/orvelane_<version>-1_<arch>.deb: the
# install (cmake --install, prefix /usr) in a staging folder, the manual page
# and changelog compressed, the copyright file, and the package's control
# files; Depends comes from dpkg-shlibdeps. lintian then checks it when it is
# installed (scripts/deps.sh --package installs it) and any error fails.
#   package.sh                build in build/release (as scripts/run.sh does)
#   package.sh --build DIR    package what DIR has built (built already)
#   package.sh --out DIR      write the package into DIR (default build/package)
#   package.sh --no-lintian   skip lintian
# The package's path is the last line of the output.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
build="" out=build/package lint=1
while [[ $# -gt 0 ]]; do
    case "$1" in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    --no-lintian) lint=0; shift ;;
    *) echo "usage: $0 [--build DIR] [--out DIR] [--no-lintian]" >&2; exit 2 ;;
    esac
done
if [[ -z "$build" ]]; then
    scripts/deps.sh --package
    build=build/release
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELANE_TESTS=OFF >/dev/null
    cmake --build "$build"
fi
build=$(realpath "$build")

upstream=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n "$upstream" ]] || { echo "package.sh: no project version in $build/CMakeCache.txt" >&2; exit 1; }
version="$upstream-1"
arch=$(dpkg --print-architecture)
maintainer=${ORVELANE_MAINTAINER:-"Orvelane developers <orvelane@example.org>"}
# The dates inside the package: the last commit's, so that the same tree
# gives the same package.
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

mkdir -p "$out"
out=$(realpath "$out")
work=$(mktemp -d "$out/.staging.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage="$work/debian/orvelane"

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
# Stripped as Debian strips (the debugging symbols stay in the build).
strip --remove-section=.comment --remove-section=.note "$stage/usr/bin/orvelane"
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$stage"/usr/lib/orvelane/plugins/*.so

doc="$stage/usr/share/doc/orvelane"
install -d "$doc"
install -m 644 packaging/debian/copyright "$doc/copyright"
{
    printf 'orvelane (%s) unstable; urgency=medium\n\n' "$version"
    printf '  * Package of Orvelane %s.\n\n' "$upstream"
    printf ' -- %s  %s\n' "$maintainer" "$(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.Debian.gz"
gzip -9n "$stage/usr/share/man/man1/orvelane.1"

# Modes as Debian wants them whatever the umask: the program executable, the
# rest (plug-in libraries included) read-only.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
chmod 755 "$stage/usr/bin/orvelane"

# What the program and the bridges link to, as package dependencies.
install -d "$stage/DEBIAN"
printf 'Source: orvelane\n\nPackage: orvelane\nArchitecture: any\n' >"$work/debian/control"
shlibs=$(cd "$work" && dpkg-shlibdeps -O debian/orvelane/usr/bin/orvelane debian/orvelane/usr/lib/orvelane/plugins/*.so |
    sed -n 's/^shlibs:Depends=//p')
[[ -n "$shlibs" ]] || { echo "package.sh: dpkg-shlibdeps found no dependency" >&2; exit 1; }

install -m 755 packaging/debian/postinst "$stage/DEBIAN/postinst"
(cd "$stage" && find etc -type f | sed 's|^|/|' | sort) >"$stage/DEBIAN/conffiles"
(cd "$stage" && find usr etc -type f -print0 | sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 644 "$stage/DEBIAN/conffiles" "$stage/DEBIAN/md5sums"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: orvelane
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $shlibs, libcap2-bin
Recommends: bogofilter
Suggests: spamassassin, spamd, rspamd, clamav-daemon
Section: mail
Priority: optional
Description: spam filter for POP3 mail, run as a local POP3 proxy
 Orvelane stands between the mail client and the POP3 server, on the
 user's own machine. It logs in to the real server, downloads the messages
 it has not analysed before, judges them with the rules of its rule file
 and with spam engines behind plug-ins (bridges to spamd, rspamd,
 bogofilter and clamd are included), tags spam with "_SPAM_ " in the
 Subject and serves the messages to the client. It runs with a window and
 a notification-area icon, or without a window as a systemd user service.
 .
 The program is granted the capability of opening port 110 when the
 package is installed.
CONTROL

deb="$out/orvelane_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
if [[ $lint -eq 1 ]] && command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error "$deb" >&2
fi
echo "$deb"
