# A throw-away single-node Slurm cluster on 127.0.0.1, for tests and benchmarks. Source this
# file, then:
#   local_slurm_start DIR [CPUS]   munged, slurmctld and slurmd with their keys, sockets, state,
#                                  logs and pid files under DIR; exports SLURM_CONF
#   local_slurm_wait_job JOB SECS  waits until JOB has left the queue
#   local_slurm_stop               cancels what is left and stops the three daemons by their pids
# Call local_slurm_stop from an EXIT trap so that the daemons go also when the caller fails.
# Needs root (the daemons run as root, without systemd and without cgroups) and the packages
# slurmctld slurmd slurm-client munge.

LOCAL_SLURM_PIDS=()
LOCAL_SLURM_DIR=

local_slurm_missing() {
  local tool
  for tool in munged mungekey slurmctld slurmd sbatch squeue sinfo scancel python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool"; return 0; }
  done
  return 1
}

# Two ports that nothing listens on now (the daemons bind them a moment later).
_local_slurm_free_ports() {
  python3 -c '
import socket
socks = [socket.socket() for _ in range(2)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in socks])'
}

_local_slurm_config() {
  local dir=$1 cpus=$2 ctld_port=$3 slurmd_port=$4
  # "localhost" is the one controller name slurmctld accepts on any host; with NoCtldInAddrAny
  # and NoInAddrAny the controller and slurmd bind 127.0.0.1 only, not every interface.
  cat >"$dir/slurm.conf" <<CONF
ClusterName=krelltest
SlurmctldHost=localhost
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge/munge.socket
CredType=cred/munge
CommunicationParameters=NoInAddrAny,NoCtldInAddrAny
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0
MpiDefault=none
ReturnToService=2
KillWait=5
NodeName=krellnode NodeHostname=localhost NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=debug Nodes=krellnode Default=YES MaxTime=INFINITE State=UP
CONF
}

# Waits up to SECS seconds for the node to accept work.
_local_slurm_wait_idle() {
  local deadline=$((SECONDS + $1)) state
  while ((SECONDS < deadline)); do
    state=$(sinfo -h -n krellnode -o %T 2>/dev/null || true)
    [[ $state == idle ]] && return 0
    sleep 0.2
  done
  echo "local Slurm: node not idle after $1 s (state '${state:-none}')" >&2
  tail -n 20 "$LOCAL_SLURM_DIR/log/slurmctld.log" "$LOCAL_SLURM_DIR/log/slurmd.log" >&2 || true
  return 1
}

local_slurm_start() {
  local dir=$1 cpus=${2:-2} ports
  LOCAL_SLURM_DIR=$dir
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool" "$dir/log"
  # munged lets clients reach its socket only through folders everyone may enter.
  chmod 755 "$dir" "$dir/munge"
  mungekey --create --keyfile="$dir/munge/munge.key" --bits=1024 --force
  munged --foreground --socket="$dir/munge/munge.socket" --key-file="$dir/munge/munge.key" \
    --pid-file="$dir/munge/munged.pid" --seed-file="$dir/munge/munged.seed" \
    --log-file="$dir/log/munged.log" >>"$dir/log/munged.out" 2>&1 &
  LOCAL_SLURM_PIDS+=($!)
  read -r -a ports < <(_local_slurm_free_ports)
  _local_slurm_config "$dir" "$cpus" "${ports[0]}" "${ports[1]}"
  export SLURM_CONF=$dir/slurm.conf
  local deadline=$((SECONDS + 10))
  until [[ -S $dir/munge/munge.socket ]]; do
    if ! kill -0 "${LOCAL_SLURM_PIDS[-1]}" 2>/dev/null || ((SECONDS >= deadline)); then
      echo "local Slurm: munged did not start:" >&2
      tail -n 5 "$dir/log/munged.out" >&2
      return 1
    fi
    sleep 0.1
  done
  slurmctld -D -i -f "$SLURM_CONF" >>"$dir/log/slurmctld.out" 2>&1 &
  LOCAL_SLURM_PIDS+=($!)
  slurmd -D -N krellnode -f "$SLURM_CONF" >>"$dir/log/slurmd.out" 2>&1 &
  LOCAL_SLURM_PIDS+=($!)
  _local_slurm_wait_idle 30
}

local_slurm_wait_job() {
  local job=$1 deadline=$((SECONDS + $2))
  while ((SECONDS < deadline)); do
    [[ -z $(squeue -h -j "$job" 2>/dev/null) ]] && return 0
    sleep 0.2
  done
  echo "local Slurm: job $job still queued after $2 s" >&2
  squeue >&2 || true
  return 1
}

# Stops everything this file started, each daemon by its own pid: SIGTERM, then SIGKILL after
# five seconds. Jobs still queued are cancelled first so that no job step outlives the cluster.
local_slurm_stop() {
  if [[ -n ${SLURM_CONF:-} && ${#LOCAL_SLURM_PIDS[@]} -gt 0 ]]; then
    scancel --quiet --user="$(id -un)" 2>/dev/null || true
    local deadline=$((SECONDS + 10))
    while [[ -n $(squeue -h 2>/dev/null) ]] && ((SECONDS < deadline)); do sleep 0.2; done
  fi
  local pid
  for ((i = ${#LOCAL_SLURM_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${LOCAL_SLURM_PIDS[i]}
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  LOCAL_SLURM_PIDS=()
}
