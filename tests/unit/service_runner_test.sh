#!/bin/sh
# The service's runner with stand-ins for atsms (it records its arguments and spools the files
# it is given) and logger: what each configuration makes it run, and a command that always fails.
#   service_runner_test.sh RUNNER [SHELL]   (the runner runs under SHELL, default sh)
runner=$1
shell=${2:-sh}
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
failed=0
mkdir "$dir/bin"
cat >"$dir/bin/atsms" <<'STANDIN'
#!/bin/sh
echo "$*" >>"$STANDIN_DIR/runs"
while [ "$1" != --to ]; do shift; done
mkdir -p "$2/tmp" "$2/new" "$2/cur"
for f in "$STANDIN_DIR"/taken/*; do [ -f "$f" ] && mv "$f" "$2/new/"; done
exit 255
STANDIN
printf '#!/bin/sh\n[ "$1" = -t ] && shift 2; [ "$1" = -- ] && shift; echo "$*" >>"%s/log"\n' "$dir" >"$dir/bin/logger"
chmod +x "$dir/bin/atsms" "$dir/bin/logger"
export STANDIN_DIR=$dir ATSMS_CONFIG=$dir/atsms.conf ATSMS=$dir/bin/atsms PATH="$dir/bin:$PATH"

# check NAME WANTED GOT
check() {
  if [ "$2" != "$3" ]; then
    printf 'FAILED: %s\n  expected: %s\n  got:      %s\n' "$1" "$2" "$3"
    failed=1
  fi
}

# row NAME CONFIGURATION RUNS LOG: one round (--once) of that configuration, what atsms was
# given and what went to the log, one line each, joined by |.
row() {
  printf '%s\n' "$2" >"$ATSMS_CONFIG"
  rm -f "$dir/runs" "$dir/log"
  $shell "$runner" --once >/dev/null 2>&1 </dev/null
  check "$1: runs" "$3" "$(paste -sd'|' "$dir/runs" 2>/dev/null)"
  check "$1: log" "$4" "$(paste -sd'|' "$dir/log" 2>/dev/null)"
}

S=$dir/spool
row "quotes, bare words, comments, tabs" "# a comment
config modem 'usb2'   # after the name
	option enabled \"1\"
  option port /dev/ttyUSB2 # bare
	option command 'my command --with words'   # ...
	option spool '$S'" \
  "-q -w 30 --to $S /dev/ttyUSB2 sim take" ""
row "every setting" "config modem usb3
option enabled '1'
option port '/dev/ttyUSB3'
option storage 'tel'
option quick '0'
option wait '5'
option spool '$S'
option command 'x'" \
  "-w 5 --to $S /dev/ttyUSB3 tel take" ""
row "an unnamed section, the default spool; other sections and unknown options skipped" "config web 'web'
	option port 'not a modem'
config modem
	option enabled '1'
	option port '/dev/ttyUSB0'
	option command 'x'
	option colour 'blue'
config web" \
  "-q -w 30 --to /var/spool/atsms/modem0 /dev/ttyUSB0 sim take" ""
row "disabled until port and command are set" "config modem 'a'
	option port '/dev/ttyUSB0'
	option command 'x'
config modem 'b'
	option enabled '1'
	option port '/dev/ttyUSB1'
	option command ''
config modem 'c'
	option enabled '1'
	option command 'x'" \
  "" "b: not run: no command|c: not run: no port"
row "a round per modem, in order; a wrong value stops only its section" "config modem 'one'
	option enabled '1'
	option port '/dev/ttyUSB1'
	option command 'x'
	option spool '$S/1'
config modem 'bad'
	option enabled '1'
	option port '/dev/ttyUSB2'
	option command 'x'
	option storage 'report'
config modem 'two'
	option enabled '1'
	option port '/dev/ttyUSB3'
	option command 'x'
	option spool '$S/2'
config modem 'slow'
	option enabled '1'
	option port '/dev/ttyUSB4'
	option command 'x'
	option interval '0'" \
  "-q -w 30 --to $S/1 /dev/ttyUSB1 sim take|-q -w 30 --to $S/2 /dev/ttyUSB3 sim take" \
  "bad: not run: storage 'report' is neither sim nor tel|slow: not run: interval '0' is no number of seconds"

# A command that always fails: the file stays in new for tries - 1 rounds, then goes to failed
# with one line in the log.
rm -rf "$dir/log" "$S" "$dir/taken"
mkdir -p "$dir/taken"
echo '{"index":1,"id":"0123456789abcdef"}' >"$dir/taken/0123456789abcdef.json"
printf "config modem 'm'\n option enabled 1\n option port p\n option command 'false'\n option tries 2\n option spool '%s'\n" "$S" >"$ATSMS_CONFIG"
$shell "$runner" --once >/dev/null 2>&1 </dev/null
check "failing command, round 1" "new/0123456789abcdef.json tries/0123456789abcdef.json" \
  "$(cd "$S" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')"
$shell "$runner" --once >/dev/null 2>&1 </dev/null
check "failing command, round 2" "failed/0123456789abcdef.json" \
  "$(cd "$S" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')"
check "failing command, the log" \
  "m: the command failed 2 times on 0123456789abcdef.json; it is now in $S/failed" "$(cat "$dir/log")"
exit $failed
