#!/usr/bin/env bash
# CI stage "static": the routers' builds.
#   - the OpenWrt recipe (packaging/openwrt/Makefile) held against the project: its version, its
#     source archive and what it installs, read by make and run against the project's install rules;
#   - static musl builds of atsms for every router CPU (scripts/static): static, stripped, at most
#     128 KiB;
#   - the whole end-to-end suite (tests/e2e, tests/hardening) against the x86-64 musl binary;
#   - each router binary under qemu-user against the host's simulated modem: a listing, a send and
#     a USSD request, whose output, exit status and commands to the modem must be byte for byte
#     those of the glibc build.
# Runs as root on a Debian 12 machine (scripts/static installs its compilers); reads no standard input.
#   BUILD_DIR   the host build with the tests (default build, as scripts/test leaves it)
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
root=$PWD
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
host=${BUILD_DIR:-build}
started=$SECONDS
stepStarted=$SECONDS

step() {
  printf '\n=== static: %s (%ds)\n' "$*" $((SECONDS - started))
  stepStarted=$SECONDS
}
took() { echo "(took $((SECONDS - stepStarted)) s)"; }
fail() {
  printf 'static: FAILED: %s\n' "$*" >&2
  exit 1
}

source .ci/sims.sh

step "tools"
if ! command -v qemu-arm >/dev/null || ! command -v readelf >/dev/null || ! command -v git >/dev/null; then
  [ "$(id -u)" -eq 0 ] || fail "qemu-user, binutils and git are needed (run as root to install them)"
  apt-get update -qq || echo "apt-get update failed in part; going on" >&2
  apt-get install -y -qq --no-install-recommends qemu-user binutils git >/dev/null
fi
version=$(sed -n 's/^project(atsms VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"

step "OpenWrt recipe against the project (version $version)"
recipe=$root/packaging/openwrt/Makefile
# Just enough of OpenWrt's build system for make to read the recipe: BuildPackage prints what the
# recipe declares and makes a target that runs its install section into PACKAGE_DIR.
openwrt=$work/openwrt
mkdir -p "$openwrt/include"
cat >"$openwrt/rules.mk" <<'EOF'
INCLUDE_DIR:=$(TOPDIR)/include
BUILD_DIR:=$(TOPDIR)/build_dir
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_DATA:=install -m0644
INSTALL_CONF:=install -m0600
CP:=cp -fpR
EOF
cat >"$openwrt/include/package.mk" <<'EOF'
PKG_BUILD_DIR ?= $(BUILD_DIR)/$(PKG_NAME)-$(PKG_VERSION)
PKG_INSTALL_DIR ?= $(PKG_BUILD_DIR)/ipkg-install
define BuildPackage
$(eval $(Package/$(1)))
$(info PACKAGE=$(1))
$(info PKG_NAME=$(PKG_NAME))
$(info PKG_VERSION=$(PKG_VERSION))
$(info PKG_RELEASE=$(PKG_RELEASE))
$(info PKG_SOURCE=$(PKG_SOURCE))
$(info PKG_BUILD_DIR=$(notdir $(PKG_BUILD_DIR)))
$(info PKG_INSTALL=$(PKG_INSTALL))
$(info PKG_LICENSE=$(PKG_LICENSE))
$(info PKG_LICENSE_FILES=$(PKG_LICENSE_FILES))
$(info CMAKE_OPTIONS=$(strip $(CMAKE_OPTIONS)))
$(info SECTION=$(SECTION))
$(info CATEGORY=$(CATEGORY))
$(info TITLE=$(TITLE))
$(info DESCRIPTION=$(strip $(Package/$(1)/description)))
install-$(1):
	$(call Package/$(1)/install,$(PACKAGE_DIR))
endef
EOF
: >"$openwrt/include/cmake.mk"
make -s -f "$recipe" TOPDIR="$openwrt" -n install-atsms PACKAGE_DIR=/nowhere >"$work/recipe.out" 2>&1 ||
  { cat "$work/recipe.out"; fail "make cannot read the recipe"; }
# The recipe declares two packages, atsms first, then atsms-web (the web page).
declared=$(grep -E '^[A-Z_]+=' "$work/recipe.out" | awk '/^PACKAGE=/ {n++} n == 1')
webDeclared=$(grep -E '^[A-Z_]+=' "$work/recipe.out" | awk '/^PACKAGE=/ {n++} n == 2')
echo "$declared" | sed 's/^/  /'
field() { sed -n "s/^$1=//p" <<<"$declared"; }
[ "$(field PACKAGE)" = atsms ] || fail "recipe: the package is not called atsms"
[ "$(field PKG_NAME)" = atsms ] || fail "recipe: PKG_NAME is not atsms"
[ "$(field PKG_VERSION)" = "$version" ] || fail "recipe: PKG_VERSION $(field PKG_VERSION), the project is $version"
[[ $(field PKG_RELEASE) =~ ^[1-9][0-9]*$ ]] || fail "recipe: PKG_RELEASE is no positive number"
[ "$(field PKG_SOURCE)" = "atsms-$version.tar.gz" ] || fail "recipe: PKG_SOURCE $(field PKG_SOURCE)"
[ "$(field PKG_INSTALL)" = 1 ] || fail "recipe: PKG_INSTALL:=1 is needed for its install section"
[[ " $(field CMAKE_OPTIONS) " == *" -DATSMS_TESTS=OFF "* ]] || fail "recipe: CMAKE_OPTIONS lacks -DATSMS_TESTS=OFF"
grep -q 'option(ATSMS_TESTS ' CMakeLists.txt || fail "recipe: the project has no option ATSMS_TESTS"
for f in SECTION CATEGORY TITLE DESCRIPTION; do [ -n "$(field $f)" ] || fail "recipe: no $f"; done
# Every atsms-<version> the recipe's comments name (the archive to make) is this version.
others=$(grep -o 'atsms-[0-9][0-9.]*[0-9]' "$recipe" | grep -vx "atsms-$version" || true)
[ -z "$others" ] || fail "recipe: names another version: $others"

# The source archive as the recipe's comment makes it, built as OpenWrt's CMake support builds it
# (prefix /usr, the recipe's CMAKE_OPTIONS, installed with DESTDIR), then the recipe's install
# section run on the result.
git archive --prefix="atsms-$version/" -o "$work/$(field PKG_SOURCE)" HEAD
mkdir -p "$work/build_dir"
tar -xzf "$work/$(field PKG_SOURCE)" -C "$work/build_dir"
source=$work/build_dir/$(field PKG_BUILD_DIR)
[ -f "$source/CMakeLists.txt" ] || fail "recipe: $(field PKG_SOURCE) does not unpack into $(field PKG_BUILD_DIR)/"
[ "$(field PKG_LICENSE)" = MIT ] || fail "recipe: PKG_LICENSE is $(field PKG_LICENSE), the project's licence is MIT"
read -ra licenceFiles <<<"$(field PKG_LICENSE_FILES)"
[ ${#licenceFiles[@]} -gt 0 ] || fail "recipe: no PKG_LICENSE_FILES"
for f in "${licenceFiles[@]}"; do [ -f "$source/$f" ] || fail "recipe: PKG_LICENSE_FILES names $f, not in the archive"; done
read -ra cmakeOptions <<<"$(field CMAKE_OPTIONS)"
cmake -S "$source" -B "$work/openwrt-build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release "${cmakeOptions[@]}" \
  >"$work/openwrt-build.log" 2>&1 || { tail -30 "$work/openwrt-build.log"; fail "recipe: cmake on the archive"; }
cmake --build "$work/openwrt-build" -j"$(nproc)" >>"$work/openwrt-build.log" 2>&1 ||
  { tail -30 "$work/openwrt-build.log"; fail "recipe: building the archive"; }
DESTDIR=$work/ipkg-install cmake --install "$work/openwrt-build" >/dev/null
make -s -f "$recipe" TOPDIR="$openwrt" PKG_BUILD_DIR="$source" PKG_INSTALL_DIR="$work/ipkg-install" \
  PACKAGE_DIR="$work/ipkg" install-atsms >/dev/null || fail "recipe: its install section failed on the project's install tree"
packaged=$(cd "$work/ipkg" && find . -type f | sed 's|^\./||' | sort)
[ "$packaged" = "etc/config/atsms
etc/init.d/atsms
usr/bin/atsms
usr/bin/atsms-service
usr/share/atsms/examples/append-to-file
usr/share/atsms/examples/post-json" ] || fail "recipe: the package holds:
$packaged"
[ -x "$work/ipkg/etc/init.d/atsms" ] && [ -x "$work/ipkg/usr/bin/atsms-service" ] || fail "recipe: the service is not executable"
[ -x "$work/ipkg/usr/bin/atsms" ] || fail "recipe: /usr/bin/atsms is not executable"
[ "$("$work/ipkg/usr/bin/atsms" --version)" = "atsms $version" ] || fail "recipe: the packaged atsms is not $version"
echo "recipe: version $version, source atsms-$version.tar.gz, installs usr/bin/atsms (atsms --version agrees) and its service"
[ "$(sed -n 's/^PACKAGE=//p' <<<"$webDeclared")" = atsms-web ] || fail "recipe: the second package is not atsms-web"
make -s -f "$recipe" TOPDIR="$openwrt" PKG_INSTALL_DIR="$work/ipkg-install" PKG_BUILD_DIR="$source" \
  PACKAGE_DIR="$work/ipkg-web" install-atsms-web >/dev/null || fail "recipe: atsms-web's install section failed"
packaged=$(cd "$work/ipkg-web" && find . -type f | sed 's|^\./||' | sort)
[ "$packaged" = "etc/uci-defaults/90-atsms-web
www/atsms/atsms.css
www/atsms/atsms.js
www/atsms/index.html
www/cgi-bin/atsms-web" ] || fail "recipe: atsms-web holds:
$packaged"
for f in etc/uci-defaults/90-atsms-web www/cgi-bin/atsms-web; do
  [ -x "$work/ipkg-web/$f" ] || fail "recipe: atsms-web's $f is not executable"
done
echo "recipe: atsms-web installs the page under www/atsms, the bridge as www/cgi-bin/atsms-web, its uci-defaults"
took

step "static musl builds (scripts/static)"
targets=(x86_64 armhf aarch64 mips mipsel)
declare -A binary
for target in "${targets[@]}"; do
  t0=$SECONDS
  scripts/static "$target" >"$work/static-$target.out" 2>&1 || { cat "$work/static-$target.out"; fail "scripts/static $target"; }
  path=$(tail -n 1 "$work/static-$target.out")
  [ -f "$path" ] || fail "scripts/static $target: its last line is no file: $path"
  binary[$target]=$path
  headers=$(readelf -lW "$path")
  ! grep -q INTERP <<<"$headers" || fail "$target: the binary asks for a program interpreter"
  grep -q 'no dynamic section' <<<"$(readelf -d "$path")" || fail "$target: the binary is linked dynamically"
  ! grep -q '\.symtab' <<<"$(readelf -SW "$path")" || fail "$target: the binary is not stripped"
  size=$(stat -c %s "$path")
  [ "$size" -le 131072 ] || fail "$target: $size bytes, more than 128 KiB"
  # The web page's bridge beside it: static, stripped, small.
  bridge=$(dirname "$path")/atsms-web
  grep -q 'no dynamic section' <<<"$(readelf -d "$bridge")" || fail "$target: atsms-web is linked dynamically"
  ! grep -q '\.symtab' <<<"$(readelf -SW "$bridge")" || fail "$target: atsms-web is not stripped"
  [ "$(stat -c %s "$bridge")" -le 131072 ] || fail "$target: atsms-web has $(stat -c %s "$bridge") bytes, more than 128 KiB"
  echo "$target atsms-web: $(stat -c %s "$bridge") bytes"
  printf '%-8s %6d bytes (%2d KiB)  %s  (%d s)\n' "$target" "$size" $(((size + 1023) / 1024)) \
    "$(readelf -h "$path" | sed -n 's/^ *Machine: *//p')" $((SECONDS - t0))
done
# OpenWrt builds everything for its MIPS routers (most without an FPU) soft float: so must atsms.
for target in mips mipsel; do
  grep -q 'FP ABI: Soft float' <<<"$(readelf -A "${binary[$target]}")" || fail "$target: not marked soft float"
done
took

step "the end-to-end suite against the x86-64 musl binary"
if [ ! -x "$host/tests/e2e/e2e_test" ] || [ ! -x "$host/tests/hardening/hardening_test" ]; then
  cmake -S . -B "$host" -DATSMS_TESTS=ON -DATSMS_WERROR=ON >/dev/null
  cmake --build "$host" -j"$(nproc)" >/dev/null
fi
# The harness runs the binary ATSMS_E2E_BINARY names in place of the one it was built with.
ATSMS_E2E_BINARY=${binary[x86_64]} ctest --test-dir "$host" -R '^(e2e|hardening)\.' -j"$(($(nproc) * 3))" \
  --no-tests=error --output-on-failure >"$work/e2e-musl.log" 2>&1 ||
  { grep -E -B2 -A40 '\*\*\*Failed|\*\*\*Timeout|Failure' "$work/e2e-musl.log" | head -300; fail "end-to-end tests against musl"; }
grep -E '^[0-9]+% tests passed' "$work/e2e-musl.log"
took

step "router binaries under qemu-user against modem-sim"
hostsim=$host/tools/modem-sim/modem-sim
[ -x "$hostsim" ] || fail "no simulated modem in $host"

# Run NAME PROGRAM...: one run of each kind against its own simulated modem. Leaves NAME-KIND.out,
# .err, .status and .modem (the command lines the modem received, without the times).
Run() {
  local name=$1 kind port status
  local sims=()
  shift
  for kind in list send ussd; do
    local options=() args=()
    case $kind in
      list) options=(--store tools/modem-sim/demo-inbox.txt) args=(sim list) ;;
      send) args=(sim send +491701234567 "'Grüße aus dem Router 😀\\nBis bald'") ;;
      ussd) options=(--ussd-form packed --ussd-reply 'Guthaben: 5.78 EUR') args=(ussd '*100#') ;;
    esac
    start_sim "$name-$kind" "$hostsim" "${options[@]}"
    status=0
    "$@" "$port" "${args[@]}" >"$work/$name-$kind.out" 2>"$work/$name-$kind.err" || status=$?
    echo "$status" >"$work/$name-$kind.status"
    stop_sim
    sed 's/^[0-9:.]* //' "$work/$name-$kind.log" >"$work/$name-$kind.modem"
  done
}
declare -A qemu=([armhf]=qemu-arm [aarch64]=qemu-aarch64 [mips]=qemu-mips [mipsel]=qemu-mipsel)
routers=(armhf aarch64 mips mipsel)
# The glibc build gives the reference; the routers run at the same time, each with its own modems.
pids=()
Run reference "$host/atsms" &
pids+=($!)
for target in "${routers[@]}"; do
  Run "$target" "${qemu[$target]}" "${binary[$target]}" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done

# The reference itself, so that a broken glibc build cannot pass the routers.
[ "$(cat "$work/reference-list.status")" = 5 ] || fail "reference listing: exit status $(cat "$work/reference-list.status")"
[ "$(head -n 1 "$work/reference-list.out")" = "$(printf 'num\ttype\tsender\tdate\tmsg')" ] || fail "reference listing: no header"
[ "$(wc -l <"$work/reference-list.out")" -eq 5 ] || fail "reference listing: not 4 messages"
grep -q $'^5\t1\t06912345678\t24/05/04,07:05:59+04\tΚαλημέρα! Ready for the trip? 😀$' "$work/reference-list.out" ||
  fail "reference listing: message 5"
[ "$(cat "$work/reference-send.out")" = "$(printf '\n{\n "msg":"OK"\n}')" ] || fail "reference send: no OK block"
grep -q 'SMS to +491701234567 dcs=08: Grüße aus dem Router 😀' "$work/reference-send.log" ||
  fail "reference send: the simulated modem did not decode the text"
[ "$(cat "$work/reference-ussd.out")" = "$(printf '\n{\n "msg":"OK"\n}')" ] || fail "reference USSD: no OK block"
grep -qx 'USSD reply: Guthaben: 5.78 EUR' "$work/reference-ussd.err" || fail "reference USSD: no reply line"

for target in "${routers[@]}"; do
  for kind in list send ussd; do
    for part in status out err modem; do
      cmp -s "$work/reference-$kind.$part" "$work/$target-$kind.$part" || {
        diff "$work/reference-$kind.$part" "$work/$target-$kind.$part" | head -20 >&2
        fail "$target under ${qemu[$target]}: $kind: its $part differs from the glibc build's"
      }
    done
  done
  echo "$target under ${qemu[$target]}: listing, send and USSD byte for byte as the glibc build"
done
took

step "all green"
