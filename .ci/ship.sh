#!/usr/bin/env bash
# CI stage "ship": install layout, manual pages, Debian packages (built, installed and run),
# ARM and big-endian MIPS cross-builds (unit tests and atsms itself under qemu-user, against the
# host's simulated modem), a static build, and one run of the benchmark (figures only).
# Runs as root on a fresh Debian 12 machine; reads no standard input.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8

step() { printf '\n=== ship: %s\n' "$*"; }
fail() { printf 'ship: FAILED: %s\n' "$*" >&2; exit 1; }

step "installing the build, packaging and cross tools"
apt-get update -qq </dev/null
apt-get install -y -qq --no-install-recommends </dev/null >/dev/null \
  cmake g++ make libgtest-dev googletest dpkg-dev file man-db groff-base mandoc \
  g++-arm-linux-gnueabihf g++-mips-linux-gnu qemu-user binutils python3

out=${SHIP_BUILD:-build-ship}
source .ci/sims.sh

# expect_listing NAME STATUS OUTPUT: a demo-inbox listing of the SIM storage (highest index 5).
expect_listing() {
  local name=$1 status=$2 output=$3
  [ "$status" -eq 5 ] || fail "$name: listing exit status $status, expected 5"
  [ "$(head -n 1 "$output")" = "$(printf 'num\ttype\tsender\tdate\tmsg')" ] || fail "$name: no listing header"
  [ "$(wc -l <"$output")" -eq 5 ] || fail "$name: expected 4 messages"
  grep -q $'^5\t1\t06912345678\t.*😀$' "$output" || fail "$name: message 5 missing or garbled"
  echo "$name: listing OK (4 messages, exit status 5)"
}

step "manual pages"
for page in doc/atsms.1 doc/atsms-modem-sim.1 doc/atsms-service.1; do
  mandoc -T lint -W all "$page" || fail "mandoc -T lint $page"
  [ -z "$(groff -ww -z -man "$page" 2>&1)" ] || fail "groff warnings in $page"
  [ -z "$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)" ] || fail "man -l $page complains"
done
echo "the pages pass mandoc -T lint, groff -ww and man -l"

step "host build"
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DATSMS_WERROR=ON >/dev/null
cmake --build "$out" -j"$(nproc)" >/dev/null

step "cmake --install into a DESTDIR"
stage=$work/stage
DESTDIR=$stage cmake --install "$out" --prefix /usr/local >/dev/null
expected="etc/atsms/atsms.conf
lib/systemd/system/atsms.service
usr/local/bin/atsms
usr/local/bin/atsms-modem-sim
usr/local/bin/atsms-service
usr/local/share/atsms/examples/append-to-file
usr/local/share/atsms/examples/post-json
usr/local/share/atsms/www/atsms/atsms.css
usr/local/share/atsms/www/atsms/atsms.js
usr/local/share/atsms/www/atsms/index.html
usr/local/share/atsms/www/cgi-bin/atsms-web
usr/local/share/bash-completion/completions/atsms
usr/local/share/doc/atsms-modem-sim/copyright
usr/local/share/doc/atsms-web/copyright
usr/local/share/doc/atsms-web/examples/lighttpd-atsms-web.conf
usr/local/share/doc/atsms/copyright
usr/local/share/doc/atsms/service.md
usr/local/share/man/man1/atsms-modem-sim.1.gz
usr/local/share/man/man1/atsms-service.1.gz
usr/local/share/man/man1/atsms.1.gz"
actual=$(cd "$stage" && find . -type f | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "install layout:
$actual"
[ -x "$stage/usr/local/bin/atsms" ] && [ -x "$stage/usr/local/bin/atsms-modem-sim" ] || fail "programs not executable"
[ -z "$(MANWIDTH=80 man -l "$stage/usr/local/share/man/man1/atsms.1.gz" 2>&1 >/dev/null)" ] || fail "installed page"
echo "$actual"

step "Debian packages"
rm -f "$out"/*.deb
(cd "$out" && cpack -G DEB >/dev/null)
deb=$(ls "$out"/atsms_*.deb)
simdeb=$(ls "$out"/atsms-modem-sim_*.deb)
for package in "$deb" "$simdeb"; do
  dpkg-deb -f "$package" Package Version Architecture Section Depends Description | sed 's/^/  /'
done
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == libc6* && $depends != *libstdc++* ]] || fail "atsms depends on: $depends"
[ "$(dpkg-deb -f "$deb" Section)" = comm ] || fail "atsms section"
# The listing is read whole first: with pipefail, "grep -q" leaving early would fail the pipe.
contents=$(dpkg-deb -c "$deb")
grep -q './usr/share/man/man1/atsms.1.gz$' <<<"$contents" || fail "atsms.deb has no manual page"
grep -q './usr/share/bash-completion/completions/atsms$' <<<"$contents" || fail "atsms.deb has no completion"
grep -q './usr/share/doc/atsms/copyright$' <<<"$contents" || fail "atsms.deb has no copyright file"
for f in ./usr/bin/atsms-service ./usr/share/man/man1/atsms-service.1.gz ./etc/atsms/atsms.conf \
  ./lib/systemd/system/atsms.service; do
  grep -q "$f\$" <<<"$contents" || fail "atsms.deb has no $f"
done
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/atsms/atsms.conf ] || fail "atsms.deb: conffiles"
grep -q './usr/share/doc/atsms-modem-sim/copyright$' <<<"$(dpkg-deb -c "$simdeb")" ||
  fail "atsms-modem-sim.deb has no copyright file"
webdeb=$(ls "$out"/atsms-web_*.deb)
webcontents=$(dpkg-deb -c "$webdeb")
for f in atsms/www/atsms/index.html atsms/www/atsms/atsms.js atsms/www/atsms/atsms.css atsms/www/cgi-bin/atsms-web \
  doc/atsms-web/examples/lighttpd-atsms-web.conf; do
  grep -q "./usr/share/$f\$" <<<"$webcontents" || fail "atsms-web.deb has no /usr/share/$f"
done
[[ $(dpkg-deb -f "$webdeb" Depends) == atsms,* ]] || fail "atsms-web depends on: $(dpkg-deb -f "$webdeb" Depends)"
dpkg -i "$deb" "$simdeb" </dev/null >/dev/null
version=$(dpkg-deb -f "$deb" Version)
[ "$(atsms --version)" = "atsms ${version%-*}" ] || fail "atsms --version: $(atsms --version), package $version"

status=0
atsms >"$work/usage.out" 2>"$work/usage.err" || status=$?
[ "$status" -eq 1 ] || fail "installed atsms without arguments: exit status $status, expected 1"
grep -q '^usage: atsms PORT tel|sim|ussd COMMAND' "$work/usage.err" || fail "installed atsms: no usage text"
[ ! -s "$work/usage.out" ] || fail "usage text on standard output"
echo "installed atsms: usage text, exit status 1"

start_sim installed /usr/bin/atsms-modem-sim --store tools/modem-sim/demo-inbox.txt
status=0
atsms "$port" sim list >"$work/installed.list" || status=$?
stop_sim
expect_listing "installed atsms + atsms-modem-sim" "$status" "$work/installed.list"
[ -z "$(MANWIDTH=80 man -l /usr/share/man/man1/atsms.1.gz 2>&1 >/dev/null)" ] || fail "man -l on the installed page"
dpkg -r atsms atsms-modem-sim </dev/null >/dev/null

# The host simulator the cross-built programs talk to.
hostsim=$root/$out/tools/modem-sim/modem-sim

for triple in arm-linux-gnueabihf mips-linux-gnu; do
  qemu=qemu-${triple%%-*}
  cross=$out-${triple%%-*}
  step "cross-build for $triple"
  cmake -S . -B "$cross" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/$triple.cmake -DCMAKE_BUILD_TYPE=Release \
    -DATSMS_WERROR=ON >/dev/null
  cmake --build "$cross" -j"$(nproc)" --target atsms unit_test >/dev/null
  file -b "$cross/atsms"
  # The tests run through qemu-user (CMAKE_CROSSCOMPILING_EMULATOR with -L /usr/<triple>).
  ctest --test-dir "$cross" -L unit --output-on-failure >"$work/$triple.ctest" 2>&1 \
    || { cat "$work/$triple.ctest"; fail "$triple unit tests under $qemu"; }
  tail -n 3 "$work/$triple.ctest"

  start_sim "$triple-list" "$hostsim" --store tools/modem-sim/demo-inbox.txt
  status=0
  "$qemu" -L "/usr/$triple" "$cross/atsms" "$port" sim list >"$work/$triple.list" || status=$?
  stop_sim
  expect_listing "$triple atsms under $qemu" "$status" "$work/$triple.list"

  start_sim "$triple-send" "$hostsim"
  status=0
  "$qemu" -L "/usr/$triple" "$cross/atsms" "$port" sim send +491701234567 "'Grüße von $triple 😀'" \
    >"$work/$triple.send" || status=$?
  stop_sim
  [ "$status" -eq 0 ] || fail "$triple send: exit status $status"
  grep -q '"msg":"OK"' "$work/$triple.send" || fail "$triple send: no OK block"
  grep -q "SMS to +491701234567 dcs=08: Grüße von $triple 😀\$" "$work/$triple-send.log" \
    || fail "$triple send: the simulated modem did not decode the message"
  echo "$triple atsms under $qemu: send OK, the simulated modem decoded the text"
done

step "static build (ATSMS_STATIC=ON, ARM)"
static=$out-arm-static
cmake -S . -B "$static" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake \
  -DCMAKE_BUILD_TYPE=Release -DATSMS_TESTS=OFF -DATSMS_STATIC=ON -DATSMS_WERROR=ON >/dev/null
cmake --build "$static" -j"$(nproc)" --target atsms >/dev/null
grep -q 'statically linked' <<<"$(file -b "$static/atsms")" || fail "ATSMS_STATIC=ON did not link statically"
start_sim static-list "$hostsim" --store tools/modem-sim/demo-inbox.txt
status=0
qemu-arm "$static/atsms" "$port" sim list >"$work/static.list" || status=$?
stop_sim
expect_listing "static ARM atsms under qemu-arm (no -L)" "$status" "$work/static.list"

step "benchmark (figures only)"
bench/run --runs 3 "$out" "$out-arm" "$out-mips" "$static" || echo "ship: the benchmark did not run" >&2

step "all ship checks passed"
