# Sourced by the benchmarks that start servers and browsers: gives the run a private HOME
# (it neither sees nor disturbs the user's own data directory) and stops everything started
# under it when the script exits: every instance, the server, then any process left that
# still belongs to the HOME, by pid. Needs $vesk; sets HOME and private_home.
#
# Usage: source "$(dirname "$0")/private_home.sh" PREFIX   (the HOME is /tmp/PREFIX.XXXXXX)

HOME=$(mktemp -d "/tmp/$1.XXXXXX")
export HOME
private_home=$HOME
unset VESK_SESSION

# The pids of the processes started under this HOME. Chromium rewrites its environment
# block: it is known by its profile path on its command line.
our_pids() {
  local file pid
  for file in $(grep -lzxF "HOME=$private_home" /proc/[0-9]*/environ 2> /dev/null) \
              $(grep -lF "$private_home/" /proc/[0-9]*/cmdline 2> /dev/null); do
    pid=${file#/proc/}
    pid=${pid%/*}
    # (the greps above and this shell match too; they are gone or are us)
    [[ $pid == "$$" || $pid == "$BASHPID" || ! -d /proc/$pid ]] || echo "$pid"
  done | sort -u
}

stop_instances() {
  local id
  for id in $("$vesk" instance list 2> /dev/null | sed -n 's/.*"id": "\(inst_[a-z0-9]*\)".*/\1/p'); do
    "$vesk" instance stop "$id" > /dev/null 2>&1 || true
  done
}

stop_everything() {
  local leftover
  stop_instances
  "$vesk" server stop > /dev/null 2>&1 || true
  leftover=$(our_pids)
  # shellcheck disable=SC2086
  [[ -z $leftover ]] || kill -KILL $leftover 2> /dev/null || true
  rm -rf "$private_home"
}
trap stop_everything EXIT
