#!/usr/bin/env bash
# The main job: drive a real headless Chromium through vesk on a page shipped in the
# repository. Start an instance, navigate, list the interactive elements, fill and click by
# ref, read the result, save a screenshot and a PDF, stop everything, and check that no
# process of ours is left. Every command is printed before it runs.
#
# Usage: bash scripts/demo.sh [BUILD_DIR]      (BUILD_DIR holds vesk and veskbrowser)
set -euo pipefail

repo_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(cd "${1:-build}" && pwd)
vesk="$build_dir/vesk"
page="$repo_dir/tests/fixtures/demo.html"
connect_deadline_seconds=${VESK_DEMO_DEADLINE:-60}

for needed in "$vesk" "$build_dir/veskbrowser"; do
  if [[ ! -x $needed ]]; then
    echo "demo: $needed is missing; build first (make build)" >&2
    exit 1
  fi
done

# A private HOME, so the demo neither sees nor disturbs the user's own data directory.
demo_home=$(mktemp -d /tmp/vesk-demo.XXXXXX)
out_dir="$demo_home/out"
mkdir -p "$out_dir"
export HOME="$demo_home"
unset VESK_SESSION
instance_id=""

# Pids of live processes started for this demo: they all carry our HOME in their environment.
our_pids() {
  local file pid
  # Chromium rewrites its environment block: it is known by its profile path on its command line.
  for file in $(grep -lzxF "HOME=$demo_home" /proc/[0-9]*/environ 2> /dev/null) \
              $(grep -lF "$demo_home/" /proc/[0-9]*/cmdline 2> /dev/null); do
    pid=${file#/proc/}
    pid=${pid%/*}
    # (the greps above and this shell match too; they are gone or are us)
    [[ $pid == "$$" || $pid == "$BASHPID" || ! -d /proc/$pid ]] || echo "$pid"
  done
}

describe_pids() {
  local pid
  for pid in "$@"; do
    echo "  $pid: $(tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | cut -c1-160)"
  done
}

show_logs() {
  local log
  for log in "$demo_home"/.veskapp/browser-profiles/*/veskbrowser.log; do
    [[ -f $log ]] || continue
    echo "--- last lines of $log" >&2
    tail -n 20 "$log" >&2
  done
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  if [[ $status -ne 0 ]]; then
    echo "demo: FAILED (status $status); cleaning up" >&2
    show_logs
    if [[ -n $instance_id ]]; then
      "$vesk" instance stop "$instance_id" > /dev/null 2>&1 || true
    fi
    "$vesk" server stop > /dev/null 2>&1 || true
  fi
  local leftover
  leftover=$(our_pids)
  if [[ -n $leftover ]]; then
    # shellcheck disable=SC2086
    kill -KILL $leftover 2> /dev/null || true
  fi
  rm -rf "$demo_home"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

run() {
  printf '\n$ vesk'
  printf ' %q' "$@"
  printf '\n'
  "$vesk" "$@" 2> "$demo_home/last-stderr" || {
    local status=$?
    echo "demo: vesk $* failed with status $status:" >&2
    cat "$demo_home/last-stderr" >&2
    return "$status"
  }
}

# Runs a vesk command quietly until it succeeds or the deadline passes.
wait_until_answers() {
  local deadline=$((SECONDS + connect_deadline_seconds))
  until "$vesk" "$@" > /dev/null 2> "$demo_home/last-stderr"; do
    if ((SECONDS >= deadline)); then
      echo "demo: vesk $* did not succeed within ${connect_deadline_seconds}s:" >&2
      cat "$demo_home/last-stderr" >&2
      return 1
    fi
    sleep 0.2
  done
}

# The instance id recorded in the state (a browser command that finds no browser connected
# yet replaces the recorded instance by a new one, so the id can change while we wait).
recorded_instance_id() {
  "$vesk" instance list 2> /dev/null | sed -n 's/^ *"id": "\(inst_[^"]*\)".*/\1/p' | head -n1
}

# Waits for the instance's browser to connect: first for veskbrowser's log to say so, which
# sends no request (a request that finds no browser makes vesk replace the instance); then
# until a browser command answers.
wait_for_instance() {
  local id=$1 log="$demo_home/.veskapp/browser-profiles/default/veskbrowser.log"
  local deadline=$((SECONDS + connect_deadline_seconds / 2))
  until grep -qs "connected to the server .* as instance $id" "$log"; do
    ((SECONDS >= deadline)) && break
    sleep 0.2
  done
  wait_until_answers tab list
}

# The ref of the first snapshot line with this role and name, e.g. `e2:button "Greet"`.
ref_of() {
  local listing=$1 role=$2 name=$3
  grep -m1 -F ":$role \"$name\"" <<< "$listing" | cut -d: -f1
}

echo "demo: HOME=$demo_home, binaries from $build_dir"

start_output=$(run instance start --headless)
echo "$start_output"
instance_id=$(sed -n 's/^ *"id": "\(inst_[^"]*\)".*/\1/p' <<< "$start_output" | head -n1)
[[ -n $instance_id ]] || { echo "demo: no instance id in the start output" >&2; exit 1; }

echo "demo: waiting up to ${connect_deadline_seconds}s for instance $instance_id to connect"
wait_for_instance "$instance_id"
instance_id=$(recorded_instance_id)
echo "demo: instance $instance_id answers"
run tab list

run nav "file://$page"

listing=$(run snap -i)
echo "$listing"
name_ref=$(ref_of "$listing" textbox "Your name")
button_ref=$(ref_of "$listing" button "Greet")
if [[ -z $name_ref || -z $button_ref ]]; then
  echo "demo: the snapshot lists no textbox \"Your name\" or button \"Greet\"" >&2
  exit 1
fi
echo "demo: the name field is $name_ref, the button is $button_ref"

run fill "$name_ref" "Ada Lovelace"
run click "$button_ref"

result=$(run text "#greeting")
echo "$result"
if ! grep -qF "Hello, Ada Lovelace!" <<< "$result"; then
  echo "demo: the page did not greet Ada Lovelace" >&2
  exit 1
fi

run ss -o "$out_dir/demo.png"
run pdf -o "$out_dir/demo.pdf"
for file in "$out_dir/demo.png" "$out_dir/demo.pdf"; do
  [[ -s $file ]] || { echo "demo: $file was not written" >&2; exit 1; }
done
echo "demo: files written:"
stat -c '  %n: %s bytes' "$out_dir/demo.png" "$out_dir/demo.pdf"

run instance stop "$instance_id"
instance_id=""
run server stop

echo "demo: checking that no process of ours is left"
deadline=$((SECONDS + 20))
while leftover=$(our_pids) && [[ -n $leftover ]]; do
  if ((SECONDS >= deadline)); then
    echo "demo: processes still running after stop:" >&2
    # shellcheck disable=SC2086
    describe_pids $leftover >&2
    exit 1
  fi
  sleep 0.2
done
echo "demo: no process left behind. Done."
