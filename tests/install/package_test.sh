#!/usr/bin/env bash
# package_test.sh BUILD_DIR
# The Debian packages of a "package" preset build, installed on this machine and used as README.Debian
# and docs/operations.md say: lintian; a first install and the first start; the backup into its folder;
# an upgrade from the single package orvo 1.0.0 (a stand-in with its file list and configuration) whose
# server still holds the database; a purge. Needs root and dpkg. Everything it installs, creates or
# starts is removed again at the end, also when a step fails; it refuses to run beside a real
# installation. Without systemd running, the test plays systemd: it runs the unit's ExecStartPre= and
# ExecStart= lines itself.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "package test: $*" >&2; exit 1; }
note() { echo "package test: $*"; }

if [[ $(id -u) -ne 0 ]] || ! command -v dpkg-deb >/dev/null || ! command -v apt-get >/dev/null; then
  note "needs root, dpkg and apt: skipped"
  exit 0
fi
# One run at a time on the machine: the packages, the group and the folders are the system's.
exec 9>/run/lock/orvo-package-test.lock
flock -w 600 9 || fail "another package test holds the lock"

state=/var/lib/private/orvo-counterd
for path in /etc/orvo /var/lib/orvo-counterd "$state" /var/backups/orvo-counterd; do
  [[ ! -e $path ]] || fail "$path exists: a real installation? (the test would remove it)"
done
for package in orvo orvo-counterd orvo-client; do
  if dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null | grep -q '^.[^n]'; then
    fail "$package is installed: a real installation?"
  fi
done
getent group orvo >/dev/null && fail "the group orvo exists: a real installation?"

work=$(mktemp -d)
holder=
server=
cleanup() {
  set +e
  [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  [[ -n $holder ]] && kill "$holder" 2>/dev/null && wait "$holder" 2>/dev/null
  DEBIAN_FRONTEND=noninteractive dpkg --purge orvo-counterd orvo-client orvo >/dev/null 2>&1
  rm -rf /etc/orvo /var/lib/orvo-counterd "$state" /var/backups/orvo-counterd \
    /run/orvo-counterd.dpkg-restart /run/orvo-counterd.dpkg-takeover
  getent group orvo >/dev/null && delgroup --quiet --system orvo >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    -o Dpkg::Options::=--force-confold -o Dpkg::Options::=--force-confdef "$@"
}

# The unit's command lines, as systemd would run them (the service's port and the metrics port
# chosen by the system, so that other tests on the machine are not in the way).
unit_line() { sed -n "s/^$2=//p" "$1" | head -n 1; }
start_server() {
  local unit=/usr/lib/systemd/system/orvo-counterd.service
  : >"$work/server.log"
  # shellcheck disable=SC2046 # the unit's line, split into words as systemd splits it
  $(unit_line $unit ExecStart) --listen 127.0.0.1:0 --metrics-listen 127.0.0.1:0 2>"$work/server.log" &
  server=$!
  for _ in $(seq 100); do
    metrics_port=$(sed -n 's|.*metrics and health on http://127.0.0.1:\([0-9]*\)/metrics.*|\1|p' "$work/server.log")
    [[ -n $metrics_port ]] && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/server.log" >&2
  fail "the server did not start"
}
stop_server() {
  kill -TERM "$server"
  wait "$server" || fail "the server did not stop cleanly: $(cat "$work/server.log")"
  server=
  if [[ -s $state/counter.db-wal ]]; then fail "a clean stop left the write-ahead log"; fi
}
get() { curl -fsS --max-time 5 "http://127.0.0.1:$metrics_port$1"; }

# --- The packages, built once, and lintian.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >cpack.log 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
counterd_deb=$(ls "$work"/debs/orvo-counterd_*.deb) client_deb=$(ls "$work"/debs/orvo-client_*.deb)
version=$(dpkg-deb -f "$counterd_deb" Version)
upstream=${version%-*}
[[ $upstream == "$(cat "$source_dir/VERSION")" ]] || fail "the package's version $version is not VERSION's"
case $(dpkg-deb -f "$counterd_deb" Breaks) in "orvo (<< $upstream~)") ;; *) fail "orvo-counterd does not break orvo 1.0.0" ;; esac
case $(dpkg-deb -f "$client_deb" Replaces) in "orvo (<< $upstream~)") ;; *) fail "orvo-client does not replace orvo 1.0.0" ;; esac
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$counterd_deb" "$client_deb" >"$work/lintian.log" 2>&1 || true
  # The one finding meant: the configuration is 0640, it may hold a database password.
  unexpected=$(grep -E '^[EW]: ' "$work/lintian.log" | grep -v 'non-standard-file-perm 0640 != 0644 \[etc/orvo/orvo-counterd.conf\]' || true)
  [[ -z $unexpected ]] || fail "lintian: $unexpected"
  note "lintian: $(grep -cE '^E: ' "$work/lintian.log" || true) errors, $(grep -cE '^W: ' "$work/lintian.log" || true) warnings (the 0640 configuration), $(grep -cE '^I: ' "$work/lintian.log" || true) notes"
fi

# --- First install and first start, as README.Debian says.
apt_install "$counterd_deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "installing orvo-counterd failed"; }
grep -q 'its database is empty' "$work/install.log" || { cat "$work/install.log"; fail "the first install does not say what to do next"; }
getent group orvo >/dev/null || fail "no group orvo after the install"
[[ $(stat -c '%a %U %G' /etc/orvo/orvo-counterd.conf) == "640 root orvo" ]] || fail "the configuration is not 0640 root:orvo"
[[ $(stat -c '%a %U' /var/backups/orvo-counterd) == "700 root" ]] || fail "/var/backups/orvo-counterd is not 0700 root"
[[ -L /var/lib/orvo-counterd && -d $state ]] || fail "the state directory is not laid out"
[[ -f /usr/share/doc/orvo-counterd/README.Debian ]] || fail "no README.Debian"
if command -v systemd-analyze >/dev/null; then
  out=$(cd /usr/lib/systemd/system && SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no \
    ./orvo-counterd.service ./orvo-counterd-backup.service ./orvo-counterd-backup.timer 2>&1) || fail "systemd-analyze verify: $out"
  [[ -z $out ]] || fail "systemd-analyze verify: $out"
fi
out=$(orvo-counterd operator list 2>&1) && fail "a command before migrate made a database: $out"
[[ $out == *"no such database"*"migrate"* ]] || fail "before migrate: $out"
out=$(orvo-counterd migrate 2>&1) || fail "migrate: $out"
[[ $out == *"created schema version "*" in /var/lib/orvo-counterd/counter.db" ]] || fail "migrate said: $out"
printf '%s\n' 'first-password' | orvo-counterd operator add admin --branches 9999 --groups 9999 ||
  fail "operator add"
out=$(orvo-counterd check-config 2>&1) || fail "check-config: $out"
[[ $out == *"not proven"* ]] || fail "check-config as root does not say what it cannot prove: $out"
unit=/usr/lib/systemd/system/orvo-counterd.service
# shellcheck disable=SC2046
out=$($(unit_line $unit ExecStartPre) 2>&1) || fail "ExecStartPre: $out"
[[ -z $out ]] || fail "ExecStartPre is not quiet on a current database: $out"
start_server
[[ $(get /healthz) == ok ]] || fail "/healthz"
page=$(get /metrics)
grep -q "^orvo_build_info{version=\"$upstream\",schema=\"[0-9]*\"} 1$" <<<"$page" || fail "/metrics lacks orvo_build_info"
grep -q '^process_resident_memory_bytes ' <<<"$page" || fail "/metrics lacks the process metrics"
orvo-counterd --version | grep -q "^orvo-counterd $upstream (database schema [0-9]*)$" || fail "--version"

# The backup as the timer runs it, twice, while the server runs.
backup_unit=/usr/lib/systemd/system/orvo-counterd-backup.service
grep -q '^WantedBy=timers.target' /usr/lib/systemd/system/orvo-counterd-backup.timer || fail "no backup timer"
[[ ! -e /etc/systemd/system/timers.target.wants/orvo-counterd-backup.timer ]] || fail "the backup timer is enabled"
for _ in 1 2; do
  # shellcheck disable=SC2046
  $(unit_line $backup_unit ExecStart) >"$work/backup.log" 2>&1 || { cat "$work/backup.log"; fail "the backup unit's command"; }
  sleep 1.1 # the names hold the second
done
backups=(/var/backups/orvo-counterd/counter-*Z.db)
[[ ${#backups[@]} -eq 2 ]] || fail "expected two backups, found ${backups[*]}"
[[ $(stat -c %a "${backups[0]}") == 600 ]] || fail "a backup is not 0600"
[[ $(sqlite3 "file:${backups[1]}?mode=ro" 'SELECT name FROM operators') == admin ]] || fail "the backup lacks the operator"
stop_server
cp "$state/counter.db" "$work/copy.db"
[[ $(sqlite3 "file:$work/copy.db?mode=ro" 'SELECT name FROM operators') == admin ]] || fail "a copy of the stopped database alone lacks the operator"

# Removal and purge: configuration gone, data, backups and group kept (README.Debian says so).
DEBIAN_FRONTEND=noninteractive dpkg --purge orvo-counterd >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "purge"; }
[[ ! -e /etc/orvo/orvo-counterd.conf ]] || fail "the purge left the configuration"
[[ -f $state/counter.db && -d /var/backups/orvo-counterd ]] || fail "the purge removed the data"
getent group orvo >/dev/null || fail "the purge removed the group"
rm -rf "$state" /var/lib/orvo-counterd /var/backups/orvo-counterd /etc/orvo
delgroup --quiet --system orvo >/dev/null
note "first install, first start, backups and purge as documented"

# --- Upgrade from 1.0.0: the single package orvo, its server running on a database of schema 1.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
old=$work/orvo-1.0.0
mkdir -p "$old/DEBIAN"
while read -r path; do
  [[ -z $path || $path == \#* ]] && continue
  path=${path//MULTIARCH/$multiarch}
  mkdir -p "$old$(dirname "$path")"
  printf '#!/bin/sh\necho "stand-in of orvo 1.0.0"\n' >"$old$path"
  chmod 0755 "$old$path"
done <"$source_dir/tests/install/orvo-1.0.0/files"
install -D -m 0644 "$source_dir/tests/install/orvo-1.0.0/orvo-counterd.conf" "$old/etc/orvo/orvo-counterd.conf"
printf '/etc/orvo/orvo-counterd.conf\n' >"$old/DEBIAN/conffiles"
cat >"$old/DEBIAN/control" <<EOF
Package: orvo
Version: 1.0.0
Architecture: $(dpkg --print-architecture)
Maintainer: orvo maintainers <orvo@localhost>
Section: misc
Priority: optional
Description: Extended order query: futures counter client module and counter server
 Stand-in with the file list of the release 1.0.0, for the upgrade test.
EOF
dpkg-deb --root-owner-group --build "$old" "$work/orvo_1.0.0.deb" >/dev/null
dpkg -i "$work/orvo_1.0.0.deb" >/dev/null || fail "installing the 1.0.0 stand-in"
# Filled as 1.0.0 left it: the administrator's setting in the configuration, the database of schema 1
# in the service's state directory, an operator in it.
sed -i 's/^max-connections = 32$/max-connections = 48/' /etc/orvo/orvo-counterd.conf
grep -q '^max-connections = 48$' /etc/orvo/orvo-counterd.conf || fail "the 1.0.0 configuration changed"
mkdir -p -m 0700 "$state" && ln -sfn private/orvo-counterd /var/lib/orvo-counterd
sqlite3 "$state/counter.db" "PRAGMA journal_mode=WAL;" >/dev/null
sqlite3 "$state/counter.db" <"$source_dir/tests/server/data/schema-v1.sql"
sqlite3 "$state/counter.db" "INSERT INTO operators(name, pwhash, branches, groups) VALUES('veteran', 'x', '9999', '9999')"
# The old server, still running: a process holding the database open.
mkfifo "$work/hold"
sqlite3 "$state/counter.db" <"$work/hold" >/dev/null &
holder=$!
exec 8>"$work/hold"
echo 'SELECT count(*) FROM operators;' >&8
sleep 0.5

apt_install "$counterd_deb" "$client_deb" >"$work/upgrade.log" 2>&1 ||
  { cat "$work/upgrade.log"; fail "installing over orvo 1.0.0 failed"; }
if dpkg-query -W -f='${db:Status-Abbrev}' orvo 2>/dev/null | grep -q '^.i'; then fail "orvo 1.0.0 is still installed"; fi
grep -q 'its database is empty' "$work/upgrade.log" && fail "the upgrade was taken for a first install"
[[ $(dpkg -S /usr/bin/orvo-client) == "orvo-client: /usr/bin/orvo-client" ]] || fail "orvo-client does not own its program"
[[ $(dpkg -S /etc/orvo/orvo-counterd.conf) == "orvo-counterd: /etc/orvo/orvo-counterd.conf" ]] || fail "the conffile's owner"
grep -q '^max-connections = 48$' /etc/orvo/orvo-counterd.conf || fail "the upgrade lost the administrator's setting"
# ExecStartPre under the old server refuses and changes nothing; once it is stopped, it migrates.
# shellcheck disable=SC2046
out=$($(unit_line $unit ExecStartPre) 2>&1) && fail "migrate ran under the old server: $out"
[[ $out == *"another process has the database open"* ]] || fail "migrate under the old server said: $out"
[[ $(sqlite3 "$state/counter.db" "SELECT value FROM meta WHERE key = 'schema_version'") == 1 ]] ||
  fail "the refused migrate changed the schema"
exec 8>&-
wait "$holder" || true
holder=
# shellcheck disable=SC2046
out=$($(unit_line $unit ExecStartPre) 2>&1) || fail "ExecStartPre after the old server stopped: $out"
[[ $out == *"migrated from schema version 1 to "* ]] || fail "migrate said: $out"
start_server
[[ $(get /healthz) == ok ]] || fail "/healthz after the upgrade"
grep -q '^orvo_database_up 1$' <<<"$(get /metrics)" || fail "orvo_database_up after the upgrade"
orvo-counterd operator list | grep -q '^veteran ' || fail "the operator of 1.0.0 is gone"
stop_server
orvo-client --version | grep -q "^orvo-client $upstream$" || fail "orvo-client --version"
note "upgrade from orvo 1.0.0 with its server holding the database: configuration kept, database migrated, server serving"
