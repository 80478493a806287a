#!/usr/bin/env bash
# Builds the two Debian packages from a built tree with cpack, checks them with lintian and
# the desktop validators, unpacks them into a scratch root and starts both programs from it.
# Nothing is installed on the machine itself, and root is not needed.
#   run_packaging_test.sh BUILD_DIR PROJECT_VERSION CPACK
# Exit status 77 means skipped (a needed program is missing).
set -euo pipefail

build_dir=$1
version=$2
cpack=$3
app_id=org.brindlewick.Brindlewick

for tool in "$cpack" lintian desktop-file-validate appstreamcli dpkg-deb dpkg-shlibdeps help2man; do
  if ! command -v "$tool" >/dev/null; then
    echo "packaging test skipped: $tool is missing (run scripts/setup)" >&2
    exit 77
  fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/brindlewick-packaging.XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- Build ---
if ! "$cpack" --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
client_deb="$scratch/out/brindlewick_${version}-1_$(dpkg --print-architecture).deb"
server_deb="$scratch/out/brindlewick-server_${version}-1_$(dpkg --print-architecture).deb"
for deb in "$client_deb" "$server_deb"; do
  if [ ! -f "$deb" ]; then
    ls -l "$scratch/out" >&2
    echo "FAIL: cpack made no $(basename "$deb")" >&2
    exit 1
  fi
done

# --- Control fields: names, the version, dependencies found by dpkg-shlibdeps ---
check_field() { # deb field expected-pattern
  local value
  value=$(dpkg-deb --field "$1" "$2")
  if ! grep -Eq -- "$3" <<<"$value"; then
    fail "$(basename "$1"): $2 is '$value', expected /$3/"
  fi
}
check_field "$client_deb" Package '^brindlewick$'
check_field "$client_deb" Version "^${version//./\\.}-1\$"
check_field "$client_deb" Depends 'libqt6widgets6'
check_field "$client_deb" Depends 'libcurl4'
# Emoji in messages are drawn in colour, not as boxes.
check_field "$client_deb" Recommends '(^|, )fonts-noto-color-emoji(,|$)'
check_field "$client_deb" Section '^net$'
check_field "$client_deb" Maintainer '<.+@.+>'
check_field "$server_deb" Package '^brindlewick-server$'
check_field "$server_deb" Version "^${version//./\\.}-1\$"
check_field "$server_deb" Depends 'libsqlite3-0'
check_field "$server_deb" Section '^net$'
if dpkg-deb --field "$server_deb" Depends | grep -q libqt6; then
  fail "brindlewick-server depends on Qt: $(dpkg-deb --field "$server_deb" Depends)"
fi

# --- Contents: each file in its own package, and only there ---
dpkg-deb --contents "$client_deb" | awk '{print $6}' | sed 's#^\./#/#' >"$scratch/client.list"
dpkg-deb --contents "$server_deb" | awk '{print $6}' | sed 's#^\./#/#' >"$scratch/server.list"
while read -r package path; do
  other=server
  [ "$package" = server ] && other=client
  grep -qx "$path" "$scratch/$package.list" || fail "$path is not in the $package package"
  if grep -qx "$path" "$scratch/$other.list"; then
    fail "$path is in the $other package too"
  fi
done <<EOF
client /usr/bin/brindlewick
client /usr/share/applications/$app_id.desktop
client /usr/share/icons/hicolor/scalable/apps/$app_id.svg
client /usr/share/metainfo/$app_id.metainfo.xml
client /usr/share/man/man1/brindlewick.1.gz
client /usr/share/doc/brindlewick/copyright
server /usr/bin/brindlewick-server
server /usr/lib/systemd/system/brindlewick-server.service
server /usr/share/man/man1/brindlewick-server.1.gz
server /usr/share/doc/brindlewick-server/copyright
EOF

# --- lintian: errors fail; warnings and notes are shown ---
# lintian leaves temporary files behind; they go with the scratch folder.
mkdir "$scratch/lintian-tmp"
if ! TMPDIR="$scratch/lintian-tmp" lintian --fail-on error --display-info "$client_deb" "$server_deb" \
  >"$scratch/lintian.log" 2>&1; then
  cat "$scratch/lintian.log" >&2
  fail "lintian found errors"
elif grep -q '^E:' "$scratch/lintian.log"; then
  cat "$scratch/lintian.log" >&2
  fail "lintian found errors"
else
  grep -E '^[WI]:' "$scratch/lintian.log" || true
fi

# --- Unpack into a scratch root ---
root="$scratch/root"
mkdir "$root"
dpkg-deb --extract "$client_deb" "$root"
dpkg-deb --extract "$server_deb" "$root"

# --- Desktop entry, icon and software-centre metadata agree and validate ---
desktop="$root/usr/share/applications/$app_id.desktop"
metainfo="$root/usr/share/metainfo/$app_id.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate $app_id.desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $app_id.metainfo.xml"
desktop_key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(desktop_key Icon)" = "$app_id" ] || fail "Icon=$(desktop_key Icon), expected $app_id"
[ -x "$root/usr/bin/$(desktop_key Exec | cut -d' ' -f1)" ] ||
  fail "Exec=$(desktop_key Exec) names no installed program"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo's launchable is not $app_id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" ||
  fail "the metainfo's release is not version $version"
if command -v python3 >/dev/null; then
  python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' \
    "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "the icon is not well-formed XML"
fi

# --- Settings files: every one a conffile, so an upgrade keeps the administrator's changes ---
dpkg-deb --ctrl-tarfile "$server_deb" | tar -xO ./conffiles 2>/dev/null >"$scratch/conffiles" || true
server_conf=""
while read -r path; do
  grep -qx "$path" "$scratch/conffiles" || fail "$path is not a conffile"
  [ "$path" = /etc/brindlewick/brindlewick-server.conf ] && server_conf="$root$path"
done < <(grep '^/etc/.*[^/]$' "$scratch/server.list")

# --- systemd unit ---
unit="$root/usr/lib/systemd/system/brindlewick-server.service"
if [ -n "$server_conf" ]; then
  grep -q '^ExecStart=.* --config /etc/brindlewick/brindlewick-server.conf' "$unit" ||
    fail "ExecStart does not read the packaged settings: $(grep '^ExecStart=' "$unit")"
fi
grep -q '^ExecStart=/usr/bin/brindlewick-server .*--data-dir %S/brindlewick-server' "$unit" ||
  fail "ExecStart: $(grep '^ExecStart=' "$unit")"
if command -v systemd-analyze >/dev/null; then
  # Checks keys and values, and that ExecStart names a program inside the root.
  if ! out=$(systemd-analyze verify --man=no --recursive-errors=no --root="$root" "$unit" 2>&1) ||
    [ -n "$out" ]; then
    fail "systemd-analyze verify: $out"
  fi
else
  echo "note: systemd-analyze is missing; the unit was not verified"
fi

# --- The unpacked programs start ---
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
run_help() { # program expected-text
  local out status=0
  out=$("$root/usr/bin/$1" --help 2>&1) || status=$?
  if [ "$status" -ne 0 ] || ! grep -q -- "$2" <<<"$out" || ! grep -qi 'usage' <<<"$out"; then
    fail "$1 --help exited with $status and printed: $out"
  fi
}
run_help brindlewick --chat-port
run_help brindlewick-server --data-dir

# The server serves from the root too, with the packaged settings if there are any: it prints
# its ports once listening, and stops on SIGTERM.
server_args=(--chat-port 0 --http-port 0 --data-dir "$scratch/server-data")
if [ -n "$server_conf" ]; then
  server_args=(--config "$server_conf" "${server_args[@]}")
fi
: >"$scratch/server.out"
"$root/usr/bin/brindlewick-server" "${server_args[@]}" >"$scratch/server.out" 2>"$scratch/server.err" &
server_pid=$!
for _ in $(seq 100); do
  grep -q '^chat-port [0-9]* http-port [0-9]*' "$scratch/server.out" && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if grep -q '^chat-port [0-9]* http-port [0-9]*' "$scratch/server.out"; then
  kill -TERM "$server_pid"
  status=0
  wait "$server_pid" || status=$?
  [ "$status" -eq 0 ] || fail "brindlewick-server exited with $status after SIGTERM"
else
  fail "brindlewick-server did not start: $(cat "$scratch/server.err")"
fi
server_pid=""

if [ "$failures" -ne 0 ]; then
  echo "$failures packaging check(s) failed" >&2
  exit 1
fi
echo "packages: $(basename "$client_deb") $(basename "$server_deb")"
