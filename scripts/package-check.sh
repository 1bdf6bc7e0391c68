#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it as a user gets
# it: lintian without errors, a valid desktop entry, then (root or sudo
# needed) `apt-get install ./quarvel_*.deb`, the programs run from /usr/bin
# (--version, --help), quarvel-capture relaying a client, and the window,
# under a virtual X server, relaying a client to a throwaway test server.
# A package that was not installed before is removed again at the end.
#
# usage: package-check.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: package-check.sh BUILD_DIR}" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC1091
. "$src/scripts/lib/privilege.sh"
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"

check() { echo "package: $*"; }
die() { echo "package: FAIL: $*" >&2; exit 1; }

rm -f "$build"/quarvel_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; die "cpack failed"; }
debs=("$build"/quarvel_*.deb)
{ [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ]; } || die "expected one quarvel_<version>_<arch>.deb in $build"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "quarvel_${version}_$(dpkg --print-architecture).deb" ] || die "unexpected name $(basename "$deb")"
check "built $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB); Depends: $(dpkg-deb -f "$deb" Depends)"

# lintian: warnings are shown, errors fail.
lintian --fail-on error "$deb" || die "lintian reports errors"
check "lintian: no errors"

work=$(mktemp -d)
trap 'stop_throwaway_db "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/quarvel.desktop" || die "desktop entry rejected"
for f in usr/bin/quarvel usr/bin/quarvel-capture usr/share/man/man1/quarvel.1.gz usr/share/man/man1/quarvel-capture.1.gz \
         usr/share/doc/quarvel/copyright usr/share/icons/hicolor/48x48/apps/quarvel.png \
         usr/share/quarvel/languages/english.lng usr/share/quarvel/theme; do
  [ -e "$work/root/$f" ] || die "/$f is missing from the package"
done
check "desktop entry valid; programs, manual pages, icons, copyright and data present"

if ! can_be_root; then
  echo "package: not installed (neither root nor sudo): the checks of the installed programs are skipped"
  exit 0
fi
installed_before=0
dpkg-query -W -f='${Status}' quarvel 2>/dev/null | grep -q "install ok installed" && installed_before=1
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log" >&2; die "apt-get install ./$(basename "$deb") failed"; }
[ "$installed_before" = 1 ] || trap 'stop_throwaway_db "$work"; as_root apt-get remove -y -qq quarvel >/dev/null 2>&1 || true' EXIT
check "installed with apt-get install ./$(basename "$deb")"

# From /usr/bin, without the build tree's data.
unset QUARVEL_DATA_DIR
cd /
[ "$(/usr/bin/quarvel-capture --version)" = "quarvel-capture $version" ] || die "quarvel-capture --version"
/usr/bin/quarvel-capture --help | grep -q '^Usage: quarvel-capture' || die "quarvel-capture --help"
[ "$(env -u DISPLAY /usr/bin/quarvel --version)" = "quarvel $version" ] || die "quarvel --version"
env -u DISPLAY /usr/bin/quarvel --help | grep -q '^Usage: quarvel' || die "quarvel --help"
check "/usr/bin/quarvel-capture and /usr/bin/quarvel answer --version ($version) and --help"

start_throwaway_db "$work"
port=$(free_port)
XDG_DATA_HOME="$work/capture-home" /usr/bin/quarvel-capture --server "$QUARVEL_TEST_DB_HOST:$QUARVEL_TEST_DB_PORT" \
  --port "$port" --user "$QUARVEL_TEST_DB_USER" --password "$QUARVEL_TEST_DB_PASSWORD" >"$work/capture.out" 2>&1 &
capture=$!
wait_port "$port" 60 || { cat "$work/capture.out" >&2; kill "$capture"; die "quarvel-capture did not listen"; }
mariadb -h127.0.0.1 -P"$port" -u"$QUARVEL_TEST_DB_USER" -p"$QUARVEL_TEST_DB_PASSWORD" -e "SELECT 'through the package'" >/dev/null \
  || { kill "$capture"; die "client through quarvel-capture failed"; }
kill -INT "$capture"
wait "$capture" || true
grep -q "SELECT 'through the package'" "$work/capture.out" || { cat "$work/capture.out" >&2; die "statement not captured"; }
check "quarvel-capture relayed and captured a client"

QUARVEL_TEST_DB_ENV="$work/db/env" "$src/tests/app/gui_endtoend.sh" /usr/bin/quarvel "$work/gui" \
  || die "the installed window did not relay the test client"
check "the installed window relayed a client to the test server"
