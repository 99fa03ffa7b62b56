#!/usr/bin/env bash
# `cmake --install` into a staging folder, then the installed files used as a
# user would: the layout, RUNPATHs that never name the build, the public
# headers against the library's exports, the pkg-config file, the C and COBOL
# recipes, the desktop backend found by the installed libraries, the
# Python automation client, the driver registered from its odbcinst template, a data source
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
for f in bin/quarl-hostserver bin/quarl-rpc bin/quarl-dsn bin/quarl-regsvr include/quarlrpc.h \
         include/quarl_automation.h include/quarl_object.h share/man/man1/quarl-hostserver.1.gz \
         share/man/man1/quarl-rpc.1.gz share/man/man1/quarl-dsn.1.gz share/man/man1/quarl-regsvr.1.gz \
         share/quarl/odbcinst/quarl.ini share/quarl/odbcinst/quarl-unicode.ini \
         libexec/quarl/procedures/DEMO/UPPER libexec/quarl/transactions/ECHO \
         lib/python3/dist-packages/quarl_automation.py; do
  [ -e "$root/$f" ] || fail "$f not installed"
done
for f in libquarlrpc.so libtellix.so odbc/libquarl.so odbc/libquarlsp.so; do
  [ -e "$libdir/$f" ] || fail "lib/$f not installed"
done
desktop=no
if [ -e "$build/lib/libquarl-gtk.so" ]; then
  desktop=yes
  for f in quarl/libquarl-gtk.so quarl/quarl-clipboard-keeper; do
    [ -e "$libdir/$f" ] || fail "lib/$f not installed"
  done
fi
[ -e "$root/lib/systemd/system/quarl-hostserver.service" ] || fail "systemd unit not installed"

# RUNPATHs: relative to the file, never into the build.
for f in "$root"/bin/* "$libdir"/*.so "$driverdir"/*.so "$libdir"/quarl/*; do
  [ -e "$f" ] || continue
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
# The automation headers as a C or C++ client includes them from the installed folder.
for header in quarl_automation.h quarl_object.h; do
  cc -std=c11 -Wall -Wextra -Werror -fsyntax-only -I"$root/include" -x c "$root/include/$header"
  c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$root/include" -x c++ "$root/include/$header"
done

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

# The installed libraries find the desktop backend where it was installed:
# with a display that cannot be opened, the backend is loaded and says so
# ("the display cannot be used"), where a missing backend would say "cannot
# load libquarl-gtk.so".  libquarlrpc.so in LIBDIR and the setup library in
# LIBDIR/odbc look in different places.
if [ $desktop = yes ]; then
  desktop_check() {  # python code run with the library folder as sys.argv[1]
    DISPLAY=:9999 QUARL_PROFILE_DIR=$work/desktop-profile python3 -c "import ctypes, sys; libdir = sys.argv[1]; $1" \
      "$libdir" 2>&1
  }
  for call in \
      'b = ctypes.create_string_buffer(b"Hello,Quarl,MB_OK".ljust(40), 40); ctypes.CDLL(libdir + "/libquarlrpc.so").MsgBox(b, ctypes.c_int16(40)); print("MsgBox:", b.raw.decode().rstrip())' \
      'print("ConfigDSN:", ctypes.CDLL(libdir + "/odbc/libquarlsp.so").ConfigDSN(ctypes.c_void_p(1), ctypes.c_ushort(1), b"Quarl", b"DSN=Shown\\0"))'; do
    said=$(desktop_check "$call") || fail "desktop check: $said"
    case "$said" in *"cannot load"*) fail "an installed library did not find libquarl-gtk.so: $said" ;; esac
    case "$said" in *"the display cannot be used"*) ;; *) fail "desktop backend not used: $said" ;; esac
  done
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
