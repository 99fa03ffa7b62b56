#!/usr/bin/env bash
# `cmake --install` into a staging folder, then the installed files used as a
# user would: the layout, RUNPATHs that never name the build, the public
# header against the library's exports, the pkg-config file, the C and COBOL
# recipes, the driver registered from its odbcinst template, a data source
# added with quarl-dsn and a password from standard input, isql and
# quarl-rpc against the installed quarl-hostserver (which finds its demo
# procedures where they were installed).
#
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$(cd "$2" && pwd)
work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

stage=$work/stage
DESTDIR=$stage cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root=$stage$prefix
pcdir=$(dirname "$(find "$root" -name quarlrpc.pc)")
libdir=$(dirname "$pcdir")
driverdir=$libdir/odbc

# The layout.
for f in bin/quarl-hostserver bin/quarl-rpc bin/quarl-dsn include/quarlrpc.h share/man/man1/quarl-hostserver.1.gz \
         share/man/man1/quarl-rpc.1.gz share/man/man1/quarl-dsn.1.gz share/quarl/odbcinst/quarl.ini \
         share/quarl/odbcinst/quarl-unicode.ini libexec/quarl/procedures/DEMO/UPPER libexec/quarl/transactions/ECHO; do
  [ -e "$root/$f" ] || fail "$f not installed"
done
for f in libquarlrpc.so libtellix.so odbc/libquarl.so odbc/libquarlsp.so; do
  [ -e "$libdir/$f" ] || fail "lib/$f not installed"
done
[ -e "$root/lib/systemd/system/quarl-hostserver.service" ] || fail "systemd unit not installed"

# RUNPATHs: relative to the file, never into the build.
for f in "$root"/bin/* "$libdir"/*.so "$driverdir"/*.so; do
  runpath=$(readelf -d "$f" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  case "$runpath" in
    ''|'$ORIGIN'*) ;;
    *) fail "$f has RUNPATH $runpath" ;;
  esac
  ldd "$f" | grep -q "not found" && fail "$f: a library is not found: $(ldd "$f" | grep 'not found')"
done

# Every export of the library is listed in quarlrpc.h, and nothing else: the
# buffer exports as declarations, the automation object's entry points at its
# end, each of them declared in quarl_automation.h.
exported=$(nm -D --defined-only "$libdir/libquarlrpc.so" | awk '$2 == "T" {print $3}' | sort)
buffer_exports=$(sed -n 's/^void \([A-Za-z0-9_]*\)(char \*buffer, int16_t length);.*/\1/p' "$root/include/quarlrpc.h")
automation_exports=$(sed -n 's/^ \*   [A-Za-z][A-Za-z]* \**\([A-Za-z0-9_]*\)(.*);$/\1/p' "$root/include/quarlrpc.h")
[ -n "$automation_exports" ] || fail "quarlrpc.h lists no automation exports"
for name in $automation_exports; do
  grep -q "STDAPICALLTYPE $name(" "$root/include/quarl_automation.h" || fail "$name is not declared in quarl_automation.h"
done
declared=$(printf '%s\n' $buffer_exports $automation_exports | sort)
[ "$exported" = "$declared" ] || fail "header and exports differ: $(diff <(echo "$declared") <(echo "$exported") || true)"
for std in c99 c11; do
  cc -std=$std -Wall -Wextra -Werror -pedantic -fsyntax-only -I"$root/include" -x c "$root/include/quarlrpc.h"
done
c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$root/include" -x c++ "$root/include/quarlrpc.h"

# The C recipe, through the pkg-config file (relocated to the staging folder).
pc() { PKG_CONFIG_PATH=$pcdir pkg-config --define-prefix "$@" quarlrpc; }
# shellcheck disable=SC2046
cc -o "$work/version" "$source/tests/install/version.c" $(pc --cflags --libs) -Wl,-rpath,"$(pc --variable=libdir)"
[ "$("$work/version")" = "5.000.005           " ] || fail "C recipe: $("$work/version")"

# The COBOL recipe (static calls resolved at link time).
if command -v cobc >/dev/null; then
  (cd "$work" && cobc -x -fstatic-call -o qversion "$source/tests/install/version.cob" -L"$libdir" -lquarlrpc \
     -Q "-Wl,-rpath,$libdir")
  [ "$("$work/qversion")" = "5.000.005           " ] || fail "COBOL recipe: $("$work/qversion")"
else
  echo "cobc not installed: the COBOL recipe is not checked"
fi

# The driver registered from its template (paths moved to the staging folder).
export ODBCSYSINI=$work/odbc ODBCINI=$work/odbc/user.ini QUARL_PROFILE_DIR=$work/profile HOME=$work
mkdir -p "$ODBCSYSINI" "$QUARL_PROFILE_DIR"
: > "$ODBCSYSINI/odbcinst.ini"
: > "$ODBCINI"
sed "s|$prefix|$root|g" "$root/share/quarl/odbcinst/quarl.ini" > "$work/quarl.ini"
odbcinst -i -d -f "$work/quarl.ini" >/dev/null
odbcinst -q -d | grep -qx '\[Quarl\]' || fail "driver not registered"

# The installed Host Server, with its installed demo procedures.
coproc server { exec "$root/bin/quarl-hostserver" --listen 127.0.0.1:0 --demo --database "$work/demo.sqlite"; }
server_pid=$server_PID
read -r line <&"${server[0]}"
address=${line#listening on }
[ "$address" != "$line" ] || fail "quarl-hostserver did not start: $line"

echo DEMO | "$root/bin/quarl-dsn" add Installed -c "$address" -u DEMO --password-stdin >/dev/null
grep -q '^PWD=' "$ODBCINI" && ! grep -q '^PWD=DEMO' "$ODBCINI" || fail "password not stored scrambled: $(cat "$ODBCINI")"
out=$(echo "select count(*) from employees" | isql -v -b Installed) || fail "isql: $out"
echo "$out" | grep -q 2000 || fail "isql: $out"
[ "$("$root/bin/quarl-rpc" Installed DEMO UPPER hello)" = HELLO ] || fail "quarl-rpc did not call DEMO/UPPER"

# quarl-dsn's refusals say why and change nothing.
dsn() { "$root/bin/quarl-dsn" "$@" 2>&1; }
expect_refusal() {  # fragment command...
  local fragment=$1 out
  shift
  if out=$("$@" 2>&1); then fail "accepted: $*"; fi
  case "$out" in *"$fragment"*) ;; *) fail "$*: $out" ;; esac
}
before=$(cat "$ODBCINI")
expect_refusal "white space at the start" sh -c "echo '!abc' | '$root/bin/quarl-dsn' change Installed --password-stdin"
expect_refusal "longer than 18 characters" sh -c "echo 1234567890123456789 | '$root/bin/quarl-dsn' change Installed --password-stdin"
expect_refusal "Data source Nope does not exist" dsn change Nope -u x
expect_refusal "exists already" dsn add Installed -c "$address"
expect_refusal "no terminal" setsid -w "$root/bin/quarl-dsn" change Installed -p  # no controlling terminal
[ "$(cat "$ODBCINI")" = "$before" ] || fail "a refusal changed odbc.ini"
dsn list | grep -q "^Installed .* DEMO$" || fail "list: $(dsn list)"
dsn change Installed --no-password >/dev/null
grep -q '^PWD=' "$ODBCINI" && fail "--no-password kept the password"
dsn remove Installed >/dev/null
expect_refusal "no user data source Installed" dsn remove Installed
echo "install test passed"
