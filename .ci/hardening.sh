#!/usr/bin/env bash
# CI stage "hardening": the whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# valgrind on a listing, a send and a USSD against modem-sim, every fuzz target for a bounded
# time, and cppcheck and clang-tidy on src/. Any finding fails the stage.
#
#   FUZZ_SECONDS   time per fuzz target (default 40; two targets run at once)
#   HARDENING_DIR  where the builds and logs go (default build-hardening)
set -euo pipefail
exec </dev/null
cd "$(dirname "$0")/.."
root=$PWD
out=${HARDENING_DIR:-$root/build-hardening}
fuzzSeconds=${FUZZ_SECONDS:-40}
jobs=$(nproc)
mkdir -p "$out"
started=$SECONDS

step() { printf '\n== %s (%ds)\n' "$*" $((SECONDS - started)); }

step "tools"
packages=(cmake g++ make libgtest-dev clang libclang-rt-14-dev llvm-14 valgrind cppcheck clang-tidy util-linux)
missing=()
for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

step "sanitizer build (ASan + UBSan) and the whole test suite under it"
# Debug (-O0): the quickest to build on two cores; the sanitizers check the same at any level.
cmake -S . -B "$out/asan" -DCMAKE_BUILD_TYPE=Debug -DATSMS_TESTS=ON -DATSMS_SANITIZE=ON >/dev/null
cmake --build "$out/asan" -j"$jobs" >"$out/asan-build.log" 2>&1 || { tail -50 "$out/asan-build.log"; exit 1; }
grep -q 'libasan' <<<"$(readelf -d "$out/asan/atsms")" || { echo "atsms was not built with ASan" >&2; exit 1; }
# A sanitizer finding ends the process with status 86, which no test expects from atsms.
export ASAN_OPTIONS=detect_leaks=1:exitcode=86:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86
# The full-storage cases (label "long") only wait out silences: the plain build runs them.
ctest --test-dir "$out/asan" -j"$((jobs * 2))" -LE long --output-on-failure --timeout 300 >"$out/asan-ctest.log" 2>&1 ||
  { grep -E -A40 'Failed|ERROR: (Address|Leak)Sanitizer|runtime error' "$out/asan-ctest.log" | head -200; exit 1; }
tail -3 "$out/asan-ctest.log"
unset ASAN_OPTIONS UBSAN_OPTIONS

step "valgrind: a listing, a send and a USSD against modem-sim"
cmake -S . -B "$out/plain" -DATSMS_TESTS=ON -DATSMS_WERROR=ON >/dev/null
cmake --build "$out/plain" -j"$jobs" --target atsms modem-sim >"$out/plain-build.log" 2>&1 ||
  { tail -50 "$out/plain-build.log"; exit 1; }
"$out/plain/tools/modem-sim/modem-sim" --store tools/modem-sim/demo-inbox.txt --ussd-delay 200 \
  >"$out/sim.out" 2>"$out/sim.log" &
simPid=$!
trap 'kill "$simPid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$out/sim.out" ] && break; sleep 0.05; done
port=$(head -1 "$out/sim.out")
[ -c "$port" ] || { echo "modem-sim gave no port" >&2; cat "$out/sim.log" >&2; exit 1; }
runs=("sim list" "sim send +491701234567 'Grüße 😀'" "ussd *100#")
for run in "${runs[@]}"; do
  eval "args=($run)"
  # The status without valgrind is the reference: a listing exits with its last index.
  status=0
  "$out/plain/atsms" "$port" "${args[@]}" >/dev/null 2>&1 || status=$?
  vgStatus=0
  valgrind --error-exitcode=1 --leak-check=full --log-file="$out/valgrind.log" \
    "$out/plain/atsms" "$port" "${args[@]}" >"$out/valgrind.out" 2>"$out/valgrind.err" || vgStatus=$?
  # The status alone cannot tell: a listing whose last index is 1 also exits with 1. (Valgrind only
  # notes, and does not count, the exclusive-use ioctls TIOCEXCL and TIOCNXCL it has no wrapper for.)
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$out/valgrind.log" || [ "$vgStatus" -ne "$status" ]; then
    echo "valgrind atsms PORT $run: status $vgStatus, $status without valgrind" >&2
    cat "$out/valgrind.log" >&2
    exit 1
  fi
  echo "valgrind atsms PORT $run: clean, status $status"
done
kill "$simPid"
wait "$simPid" 2>/dev/null || true
trap - EXIT

step "fuzzing: every target for ${fuzzSeconds}s under ASan and UBSan"
cmake -S . -B "$out/fuzz" -DCMAKE_CXX_COMPILER=clang++ -DATSMS_FUZZ=ON -DATSMS_TESTS=OFF -DATSMS_WERROR=ON >/dev/null
cmake --build "$out/fuzz" -j"$jobs" --target fuzzers fuzz_coverage >"$out/fuzz-build.log" 2>&1 ||
  { tail -50 "$out/fuzz-build.log"; exit 1; }
targets=(fuzz_find_highest_index fuzz_print_message fuzz_utf8_to_ucs2 fuzz_ucs2_to_utf8 fuzz_build_submit_pdu fuzz_pack_ussd
  fuzz_read_decimal fuzz_ussd_reply fuzz_status_report fuzz_bridge_request)
# What each target is there to exercise: source files, and the functions in them (all when empty).
declare -A underTest=(
  [fuzz_find_highest_index]="src/listing/listing_answer.cpp: src/listing/listing.cpp: src/pdu/deliver_pdu.cpp: src/listing/joined_parts.cpp:FindPartGroups|GroupOf|JoinablePart|SameMessage"
  [fuzz_print_message]="src/listing/read_answer.cpp:ParseMessage|FindDate|LooksLikeDate|CutHexLine|IsAlnum|IsDigit src/listing/listing_output.cpp:PrintMessage src/listing/escape.cpp:PrintEscaped src/codec/ucs2_to_utf8.cpp:"
  [fuzz_utf8_to_ucs2]="src/codec/utf8_to_ucs2.cpp:"
  [fuzz_ucs2_to_utf8]="src/codec/ucs2_to_utf8.cpp:"
  [fuzz_build_submit_pdu]="src/modem/send.cpp:EncodeSubmitText|StripQuotes|IsQuote|IsWrapped|ExpandEscapes src/pdu/submit_pdu.cpp:BuildSubmitPdu|SplitUserData|PhoneDigits|SwapSemiOctets src/codec/utf8_to_ucs2.cpp:Utf8ToUcs2HexPcPKcPm|IsContinuation|PutUnit"
  [fuzz_pack_ussd]="src/modem/ussd.cpp:PackUssd src/codec/gsm7.cpp:PackSeptetsHex"
  [fuzz_read_decimal]="src/codec/decimal.cpp:"
  [fuzz_ussd_reply]="src/modem/ussd_reply.cpp: src/codec/gsm7.cpp:"
  [fuzz_status_report]="src/pdu/status_report.cpp: src/listing/report_output.cpp:"
  [fuzz_bridge_request]="src/web/request.cpp: src/web/fields.cpp: src/web/config.cpp: src/web/arguments.cpp: src/web/json.cpp:"
)
# Line and branch coverage of those functions over the final corpus, from the coverage build.
Coverage() {
  local target=$1 dir="$out/fuzz-run/$1" entry file functions
  LLVM_PROFILE_FILE="$dir/cov.profraw" "$out/fuzz/fuzz/${target}_coverage" -runs=0 "$dir/corpus" "fuzz/corpus/$target" \
    >"$dir/coverage.log" 2>&1 || return 0
  llvm-profdata-14 merge -sparse "$dir/cov.profraw" -o "$dir/cov.profdata"
  for entry in ${underTest[$target]}; do
    file=${entry%%:*}
    functions=${entry#*:}
    llvm-cov-14 report -show-functions "$out/fuzz/fuzz/${target}_coverage" -instr-profile="$dir/cov.profdata" "$root/$file" |
      awk -v only="${functions:-.}" 'NF >= 10 && $1 ~ only && $1 != "Name" && $1 != "TOTAL"'
  done | tee "$dir/coverage.txt" |
    awk '{l += $(NF-5); lm += $(NF-4); b += $(NF-2); bm += $(NF-1)}
         END {if (l) printf "lines %d/%d (%.0f%%), branches %d/%d (%.0f%%)", l-lm, l, 100*(l-lm)/l, b-bm, b, b ? 100*(b-bm)/b : 100}'
}
RunTarget() {
  local target=$1 dir="$out/fuzz-run/$1"
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  # New inputs go to the scratch corpus; the kept one in fuzz/corpus is only read.
  "$out/fuzz/fuzz/$target" -max_total_time="$fuzzSeconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" "fuzz/corpus/$target" >"$dir/log" 2>&1
}
failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for target in "${targets[@]:i:2}"; do
    RunTarget "$target" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
done
printf '%-24s %10s %8s %5s %5s %6s  %s\n' target executions exec/s cov ft corpus "coverage of the functions under test"
for target in "${targets[@]}"; do
  dir="$out/fuzz-run/$target"
  final=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$final")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$final")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$final")
  printf '%-24s %10s %8s %5s %5s %6s  %s\n' "$target" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" \
    "$(Coverage "$target")"
  if ls "$dir/artifacts/"* >/dev/null 2>&1; then
    failed=1
    echo "$target found a fault; reproducer(s):" "$dir"/artifacts/* >&2
    grep -E -A30 'ERROR|check failed|runtime error' "$dir/log" | head -60 >&2
  fi
done
[ "$failed" -eq 0 ] || exit 1

step "static analysis: cppcheck and clang-tidy on src/"
# cstyleCast: the tool is C-style by design (plain char buffers; casts only between char types).
# useStlAlgorithm: the tool uses no C++ library at all, so that atsms never needs libstdc++.
cppcheck --std=c++17 --language=c++ --enable=warning,style,performance,portability --inline-suppr \
  --suppress=missingIncludeSystem --suppress=cstyleCast --suppress=useStlAlgorithm \
  --error-exitcode=1 --quiet -I src src
cmake -S . -B "$out/tidy" -DATSMS_TESTS=OFF -DATSMS_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# .clang-tidy at the root says which checks and why; every warning is an error.
clang-tidy -p "$out/tidy" --quiet src/*/*.cpp 2>"$out/tidy.log"
echo "cppcheck and clang-tidy: clean"

step "hardening: all green"
