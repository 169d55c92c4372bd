#!/bin/sh
# install_test.sh BUILD_DIR VERSION PRIVATE_LIBDIR
set -eu
build=$1 version=$2 libdir=$3
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$stage" >/dev/null
for f in bin/orvo-counterd bin/orvo-client "$libdir/libext_order_query.so" "$libdir/libOvCom15.so" \
         etc/orvo/orvo-counterd.conf lib/systemd/system/orvo-counterd.service share/man/man1/orvo-counterd.1 \
         share/man/man1/orvo-client.1 share/doc/orvo/data.md; do
  [ -e "$stage/$f" ] || fail "$f is not installed"
done
# The installed programs must not reach back into the build tree for their libraries.
if readelf -d "$stage/bin/orvo-client" "$stage/$libdir/libext_order_query.so" | grep -q "$build"; then
  fail "an installed file's RUNPATH names the build tree"
fi

"$stage/bin/orvo-counterd" --version | grep -qx "orvo-counterd $version" || fail "orvo-counterd --version"
"$stage/bin/orvo-client" --version | grep -qx "orvo-client $version" || fail "orvo-client --version"
"$stage/bin/orvo-client" --module-info | grep -q "扩展委托查询" || fail "the installed client does not find its module"

# The tour, from the installed example, with the user's folders inside the stage.
mkdir -p "$stage/run"
cd "$stage/run"
HOME="$stage/home" XDG_CONFIG_HOME="$stage/home/config" XDG_DATA_HOME="$stage/home/data" \
  "$stage/bin/orvo-client" --script "$stage/share/doc/orvo/examples/tour.script" >tour.log 2>&1 ||
  { cat tour.log; fail "the installed client's tour failed"; }
grep -q '扩展委托查询(演示数据)' 01-conditions.json || fail "the module window's title lacks the demo mark"
grep -q 'orvo-client - .*(演示数据)' 01-conditions.json || fail "the host window's title lacks the demo mark"
echo "install test: staged, versions $version, module found, tour done"
