# What the scripts in scripts/ share; each sources it after changing to the tree's root:
#   source scripts/lib/common.sh

# configure_and_build LOG CONFIGURE_ARGS... -- BUILD_ARGS...
#   Runs `cmake CONFIGURE_ARGS`, then `cmake --build BUILD_ARGS`, their output in LOG (begun
#   afresh). When either fails it shows LOG's last lines and the log's name on stderr and
#   returns non-zero.
configure_and_build() {
  local log=$1
  shift
  local configure=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    configure+=("$1")
    shift
  done
  if [ $# -eq 0 ]; then
    echo "configure_and_build: no -- between the configure and the build arguments" >&2
    return 2
  fi
  shift
  mkdir -p "$(dirname "$log")"
  if { cmake "${configure[@]}" && cmake --build "$@"; } > "$log" 2>&1; then
    return 0
  fi
  tail -30 "$log" >&2
  echo "the build failed; the whole log is in $log" >&2
  return 1
}

# A stage's checks. Each outcome prints one line and is counted; `verdict` prints the stage's
# last line, "STAGE: N passed, M failed", which scripts/test reports, and exits non-zero when
# any check failed.
checks_passed=0
checks_failed=0

report() { # report NAME STATUS [DETAIL]: counts an outcome already known
  if [ "$2" -eq 0 ]; then
    checks_passed=$((checks_passed + 1))
    echo "ok    $1${3:+: $3}"
  else
    checks_failed=$((checks_failed + 1))
    echo "FAIL  $1${3:+: $3}"
  fi
}

check() { # check DESCRIPTION COMMAND...: runs the command, and shows its output's end on failure
  # The command runs in this shell (its output to a file, not through $( )), so that what it
  # sets stays set for the checks after it.
  local description=$1
  shift
  local output status=0
  output=$(mktemp)
  "$@" > "$output" 2>&1 || status=$?
  report "$description" $status
  if [ $status -ne 0 ] && [ -s "$output" ]; then
    tail -20 "$output" | sed 's/^/      /'
  fi
  rm -f "$output"
}

verdict() { # verdict STAGE: the stage's last line, and its exit status (a stage that checked nothing fails)
  echo "$1: $checks_passed passed, $checks_failed failed"
  if [ "$checks_failed" -eq 0 ] && [ "$checks_passed" -gt 0 ]; then
    exit 0
  fi
  exit 1
}

# Time taken, for the table that ends scripts/test.
#   timed NAME COMMAND...   runs COMMAND (a program or a function) in a subshell and adds the
#   line "NAME<tab>WALL<tab>CPU" to the file $FOURWAVE_TIMES, if that is set: the wall time
#   and the CPU time (user + system) of every process the command waited for, in
#   microseconds. A subshell starts with its children's times at zero, so stages that run side
#   by side are each charged with their own processes only. A daemon that outlives its
#   command (wineserver) is not counted. Returns COMMAND's status; what COMMAND sets in the
#   shell is lost.
timed() {
  local name=$1
  shift
  (
    started=${EPOCHREALTIME/./}
    "$@"
    status=$?
    ended=${EPOCHREALTIME/./}
    if [ -n "${FOURWAVE_TIMES:-}" ]; then
      # Fields 16 and 17 of /proc/PID/stat: the waited-for children's user and system time,
      # in clock ticks (the name in field 2 is "bash", with no space to shift the fields).
      read -ra stat < "/proc/$BASHPID/stat"
      cpu=$(( (stat[15] + stat[16]) * 1000000 / $(getconf CLK_TCK) ))
      printf '%s\t%s\t%s\n' "$name" $((ended - started)) "$cpu" >> "$FOURWAVE_TIMES"
    fi
    exit $status
  )
}

# times_table FILE: the lines of FILE (as timed writes them) as a table in seconds, with
# their sums.
times_table() {
  awk -F '\t' '
    { wall += $2; cpu += $3; printf "  %-36s %8.1f %8.1f\n", $1, $2 / 1e6, $3 / 1e6 }
    END { printf "  %-36s %8.1f %8.1f\n", "sum", wall / 1e6, cpu / 1e6 }
  ' "$1"
}
