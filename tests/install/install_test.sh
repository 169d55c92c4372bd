#!/bin/sh
# install_test.sh BUILD_DIR VERSION PRIVATE_LIBDIR INSTALL_PREFIX
# Stages the server and client components apart and runs the installed programs; then, where cpack and
# dpkg-deb exist, builds the two Debian packages from the same tree and checks their split and contents
# (and lintian, for a build configured for /usr).
set -eu
build=$1 version=$2 libdir=$3 prefix=$4
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

# DESTDIR keeps every file inside the stage, also the configuration a /usr build puts in /etc.
for component in server client; do
  DESTDIR="$stage/$component" cmake --install "$build" --component $component >/dev/null
done
server=$stage/server$prefix client=$stage/client$prefix
if [ "$prefix" = /usr ]; then config=$stage/server/etc/orvo/orvo-counterd.conf; else config=$server/etc/orvo/orvo-counterd.conf; fi
[ -f "$config" ] || fail "the configuration is not in the server component"
for f in bin/orvo-counterd lib/systemd/system/orvo-counterd.service \
         lib/tmpfiles.d/orvo-counterd.conf share/man/man1/orvo-counterd.1.gz \
         share/doc/orvo-counterd/copyright share/doc/orvo-counterd/changelog.Debian.gz \
         share/doc/orvo-counterd/operations.md share/doc/orvo-counterd/README.Debian \
         lib/systemd/system/orvo-counterd-backup.service lib/systemd/system/orvo-counterd-backup.timer \
         lib/sysusers.d/orvo-counterd.conf; do
  [ -e "$server/$f" ] || fail "$f is not in the server component"
done
for f in bin/orvo-client "$libdir/libext_order_query.so" "$libdir/libOvCom15.so" share/man/man1/orvo-client.1.gz \
         share/doc/orvo-client/copyright share/doc/orvo-client/examples/tour.script \
         share/applications/orvo-client.desktop share/icons/hicolor/scalable/apps/orvo-client.svg \
         share/metainfo/org.example.orvo.client.metainfo.xml; do
  [ -e "$client/$f" ] || fail "$f is not in the client component"
done

# The split: nothing of the server component needs Qt, no shipped program links the test library.
for f in $(find "$stage/server" -type f); do
  if readelf -d "$f" 2>/dev/null | grep -q 'NEEDED.*libQt'; then fail "$f of the server component links Qt"; fi
done
if readelf -d "$client/bin/orvo-client" | grep -q 'NEEDED.*Qt6Test'; then fail "orvo-client links the test library"; fi
# Man pages and changelogs are gzip files; the configuration, which may hold a password, is 0640.
for f in "$server"/share/man/man1/*.gz "$client"/share/man/man1/*.gz "$server"/share/doc/*/changelog.Debian.gz; do
  gzip -t "$f" || fail "$f is not a gzip file"
done
[ "$(stat -c %a "$config")" = 640 ] || fail "the configuration is not 0640"
# The installed programs must not reach back into the build tree for their libraries.
if readelf -d "$client/bin/orvo-client" "$client/$libdir/libext_order_query.so" | grep -q "$build"; then
  fail "an installed file's RUNPATH names the build tree"
fi

"$server/bin/orvo-counterd" --version | grep -qx "orvo-counterd $version (database schema [0-9]*)" || fail "orvo-counterd --version"
# The shipped configuration is one the server accepts, and so is every option it shows commented out
# (but the files it names, which exist only on a configured machine).
"$server/bin/orvo-counterd" check-config --config "$config" >/dev/null ||
  fail "the server refuses its shipped configuration"
sed -n 's/^#\([a-z][a-z-]*\) = /\1 = /p' "$config" | grep -v -e '^tls-' -e '^db-password-file' >"$stage/all.conf"
[ "$(wc -l <"$stage/all.conf")" -ge 10 ] || fail "the shipped configuration shows few options"
"$server/bin/orvo-counterd" check-config --config "$stage/all.conf" --listen 127.0.0.1:7001 --db x.db >/dev/null ||
  fail "an option the shipped configuration shows is refused"
# The man page: its sections, and every option --help lists.
page=$(gzip -dc "$server/share/man/man1/orvo-counterd.1.gz")
for section in OPTIONS COMMANDS 'EXIT STATUS' ENVIRONMENT FILES; do
  printf '%s\n' "$page" | grep -q "^\.SH \"\{0,1\}$section" || fail "the man page has no $section section"
done
options=$("$server/bin/orvo-counterd" --help | grep -o -e '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || fail "orvo-counterd --help lists no options"
for option in $options; do
  printf '%s\n' "$page" | sed 's/\\-/-/g; s/\\f[BIR]//g' | grep -q -e "$option\([^a-z-]\|\$\)" ||
    fail "the man page does not mention $option"
done
"$client/bin/orvo-client" --version | grep -qx "orvo-client $version" || fail "orvo-client --version"
"$client/bin/orvo-client" --module-info | grep -q "扩展委托查询" || fail "the installed client does not find its module"

# The tour, from the installed example, with the user's folders inside the stage.
mkdir -p "$stage/run"
cd "$stage/run"
HOME="$stage/home" XDG_CONFIG_HOME="$stage/home/config" XDG_DATA_HOME="$stage/home/data" \
  "$client/bin/orvo-client" --script "$client/share/doc/orvo-client/examples/tour.script" >tour.log 2>&1 ||
  { cat tour.log; fail "the installed client's tour failed"; }
grep -q '扩展委托查询(演示数据)' 01-conditions.json || fail "the module window's title lacks the demo mark"
grep -q 'orvo-client - .*(演示数据)' 01-conditions.json || fail "the host window's title lacks the demo mark"
echo "install test: components staged, versions $version, module found, tour done"

if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "install test: no cpack or dpkg tools, packages not built"
  exit 0
fi
(cd "$stage" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$stage/debs" >cpack.log 2>&1) ||
  { cat "$stage/cpack.log"; fail "cpack failed"; }
counterd_deb=$(ls "$stage"/debs/orvo-counterd_*.deb) client_deb=$(ls "$stage"/debs/orvo-client_*.deb)
field() { dpkg-deb -f "$1" "$2"; }
[ "$(field "$counterd_deb" Package)" = orvo-counterd ] || fail "the server package is not orvo-counterd"
depends=$(field "$counterd_deb" Depends)
case $depends in *libqt6* | *libxlsxwriter*) fail "orvo-counterd depends on the GUI's libraries: $depends" ;; esac
case $depends in *libsqlite3*) ;; *) fail "orvo-counterd's dependencies were not worked out: $depends" ;; esac
case $(field "$client_deb" Depends) in *libqt6widgets6*) ;; *) fail "orvo-client does not depend on Qt" ;; esac
dpkg-deb -I "$counterd_deb" postinst >/dev/null || fail "orvo-counterd has no postinst"
dpkg-deb -c "$counterd_deb" >"$stage/counterd.list"
dpkg-deb -c "$client_deb" >"$stage/client.list"
grep -q '^-rw-r----- .*/etc/orvo/orvo-counterd.conf$' "$stage/counterd.list" ||
  fail "the packaged configuration is not 0640"
grep -q 'man1/orvo-counterd.1.gz$' "$stage/counterd.list" || fail "the packaged man page is not gzipped"
grep -q 'bin/orvo-counterd$' "$stage/client.list" && fail "orvo-client holds the server"
grep -q 'libext_order_query' "$stage/counterd.list" && fail "orvo-counterd holds the module"

# lintian judges only packages of a build for /usr (the "package" preset); others live in /usr/local.
if [ "$prefix" = /usr ] && command -v lintian >/dev/null; then
  lintian --fail-on error "$counterd_deb" "$client_deb" || fail "lintian found errors"
fi
echo "install test: packages $(basename "$counterd_deb") and $(basename "$client_deb") split as meant"
