#!/usr/bin/env bash
# The Debian package, made by scripts/package.sh from this build: its file
# list and fields, then the program unpacked into a scratch root started
# there (version, a bridge found by name, a headless start that listens and
# ends on SIGTERM). Skipped (77) without dpkg-deb or dpkg-shlibdeps.
#   package_install.sh SOURCE_DIR BUILD_DIR
set -u
src=$1 build=$2
for tool in dpkg-deb dpkg-shlibdeps; do
    command -v $tool >/dev/null 2>&1 || { echo "SKIP: no $tool"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

deb=$("$src/scripts/package.sh" --build "$build" --out "$tmp" | tail -n 1) || fail "package.sh failed"
[[ -f "$deb" ]] || fail "no package: $deb"
[[ $(basename "$deb") == orvelane_*-1_$(dpkg --print-architecture).deb ]] || fail "package name $(basename "$deb")"

# Files: the ones that must be there, with their owner and mode, and nothing
# outside the places a package of this program writes to.
listing=$(dpkg-deb -c "$deb" | awk '{print $1, $2, $6}')
while read -r mode path; do
    grep -qxF -e "$mode root/root ./$path" <<<"$listing" || fail "missing $mode ./$path"
done <<'FILES'
-rwxr-xr-x usr/bin/orvelane
-rw-r--r-- usr/lib/orvelane/plugins/spamd.so
-rw-r--r-- usr/lib/orvelane/plugins/rspamd.so
-rw-r--r-- usr/lib/orvelane/plugins/bogofilter.so
-rw-r--r-- usr/lib/orvelane/plugins/clamd.so
-rw-r--r-- usr/share/applications/orvelane.desktop
-rw-r--r-- etc/xdg/autostart/orvelane.desktop
-rw-r--r-- usr/lib/systemd/user/orvelane.service
-rw-r--r-- usr/share/man/man1/orvelane.1.gz
-rw-r--r-- usr/share/doc/orvelane/copyright
-rw-r--r-- usr/share/doc/orvelane/changelog.Debian.gz
-rw-r--r-- usr/share/icons/hicolor/48x48/apps/orvelane.png
-rw-r--r-- usr/share/icons/hicolor/scalable/apps/orvelane.svg
FILES
stray=$(awk '$1 !~ /^d/ {print $3}' <<<"$listing" | grep -vE '^\./(usr/bin/orvelane|usr/lib/orvelane/plugins/(spamd|rspamd|bogofilter|clamd)\.so|usr/lib/systemd/user/orvelane\.service|usr/share/(applications|icons/hicolor|man/man1|doc/orvelane)/.*|etc/xdg/autostart/orvelane\.desktop)$')
[[ -z "$stray" ]] || fail "files that do not belong: $stray"

# Fields.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Depends) == *libqt6core6* && $(field Depends) == *libcap2-bin* ]] || fail "Depends: $(field Depends)"
[[ $(field Recommends) == bogofilter ]] || fail "Recommends: $(field Recommends)"
[[ $(field Suggests) == *rspamd* && $(field Suggests) == *clamav-daemon* ]] || fail "Suggests: $(field Suggests)"
dpkg-deb -e "$deb" "$tmp/control"
[[ -x "$tmp/control/postinst" ]] && grep -q 'setcap cap_net_bind_service=+ep /usr/bin/orvelane' "$tmp/control/postinst" ||
    fail "postinst does not grant the port capability"
grep -qxF /etc/xdg/autostart/orvelane.desktop "$tmp/control/conffiles" || fail "autostart entry not a conffile"

# The unpacked program.
root="$tmp/root" home="$tmp/home"
dpkg -x "$deb" "$root"
grep -qx 'ExecStart=/usr/bin/orvelane --headless /default' "$root/usr/lib/systemd/user/orvelane.service" ||
    fail "unit: $(grep ExecStart "$root/usr/lib/systemd/user/orvelane.service")"
program="$root/usr/bin/orvelane"
version=$("$program" --version) || fail "--version failed"
[[ "$version" == "orvelane "* && $(field Version) == "${version#orvelane }-1" ]] ||
    fail "version '$version' against package $(field Version)"

run() { (cd "$home" && HOME="$home" XDG_CONFIG_HOME= exec env -u DISPLAY -u WAYLAND_DISPLAY "$program" "$@"); }
mkdir -p "$home/.config/orvelane"
# A bridge named by its bare name is found beside the installed program.
printf 'PlugIn=spamd\nspamd.Address=127.0.0.1:1\n' >"$home/.config/orvelane/Orvelane.ini"
run /default --learn-ham "$src/tests/e2e/messages/ham-01-plain.eml" >"$tmp/learn" 2>&1
grep -q 'Chargement de spamd r' "$tmp/learn" || { cat "$tmp/learn"; fail "bridge spamd not found by name"; }

printf 'ListenAddress=127.0.0.1\nListenPort=0\n' >"$home/.config/orvelane/Orvelane.ini"
(cd "$home" && HOME="$home" XDG_CONFIG_HOME= exec env -u DISPLAY -u WAYLAND_DISPLAY "$program" --headless /default) \
    >"$tmp/out" 2>&1 &
pid=$!
for _ in $(seq 50); do
    grep -q 'coute sur 127\.0\.0\.1:[1-9]' "$tmp/out" && break
    sleep 0.1
done
grep -q 'coute sur 127\.0\.0\.1:[1-9]' "$tmp/out" || { kill -9 $pid; cat "$tmp/out"; fail "installed program does not listen"; }
kill -TERM $pid
wait $pid
rc=$?
[[ $rc -eq 0 ]] || { cat "$tmp/out"; fail "exit status $rc after SIGTERM"; }
echo "package $(basename "$deb") passed"
