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
  local description=$1
  shift
  local output status=0
  output=$("$@" 2>&1) || status=$?
  report "$description" $status
  if [ $status -ne 0 ] && [ -n "$output" ]; then
    echo "$output" | tail -20 | sed 's/^/      /'
  fi
}

verdict() { # verdict STAGE
  echo "$1: $checks_passed passed, $checks_failed failed"
  [ "$checks_failed" -eq 0 ]
  exit
}
