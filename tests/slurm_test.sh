#!/usr/bin/env bash
# The README's cluster recipe on a real scheduler: a single-node Slurm (munge, slurmctld
# and slurmd started here on localhost, stopped at the end) runs a three-task job array
# counted from 0 over one folder that holds every kind of namesake, all tasks writing
# into one target. The page files and their contents must be those of one run without
# shares, the three JSON reports must add up to it, and the task with the failed
# document must end with FailExit's code where Slurm can see it.
# Arguments: the program. Skipped (77) where Slurm cannot be started.
set -u
exe="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/documents.sh"
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "a Slurm node needs root to start"
for tool in munged slurmctld slurmd sbatch squeue scontrol soffice jq; do
  command -v "$tool" > /dev/null || skip "$tool is not installed (Debian: slurm-wlm, munge, jq)"
done
work=$(mktemp -d)
chmod 755 "$work"
daemons=()
cleanup() {
  [ -n "${SLURM_CONF:-}" ] && [ -n "${job:-}" ] && scancel "$job" 2> /dev/null
  local pid
  for pid in "${daemons[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${daemons[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2> /dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
fails=0; passes=0
check() { if [ "$2" = 0 ]; then passes=$((passes+1)); else fails=$((fails+1)); echo "FAIL: $1"; fi; }

# The program where every task finds it, and the documents.
mkdir -p "$work/app" "$work/docs"
cp "$exe" "$(dirname "$exe")/batchpng.so" "$work/app/"
make_documents "$work/docs" a:2 b:1 c:3 d:2 e:1 f:2 || skip "LibreOffice cannot make the test documents"
src="$work/src"
mkdir -p "$src/x" "$src/y/z"
put() { cp "$work/docs/$1" "$src/$2"; }
put a.doc a.doc; put a.docx a.docx      # a.doc and a.docx side by side,
put b.doc x/a.doc; put c.docx y/z/a.docx  # and the same name in sub-folders;
put d.doc x/d.doc; put e.docx d.docx      # more of each kind,
put f.doc g.doc; put f.docx g.docx
put b.doc x/h.doc; put d.doc y/h.doc
put f.doc f.doc                           # a document alone,
head -c 3000 /dev/urandom > "$src/y/broken.doc"  # and one that fails
opts="PureConsole=1,Source=$src,Subdir=1,KeepTargetSubdirs=0,FailExit=1"

# One run without shares: what the tasks together must give.
"$work/app/batchpng" "-P:$opts,Target=$work/whole/,ThreadsCount=2,JsonLog=$work/whole.jsonl" 2> /dev/null
check "the run without shares ends with 3 (a document failed)" $([ $? = 3 ]; echo $?)
# Nearest the source folder first, then by path: a.doc, a.docx, x/a.doc, y/z/a.docx.
check "namesake names follow the rule" $(cd "$work/whole" && ls a-01.png a-docx-02.png a-doc-01.png \
  a-docx-2-03.png d-01.png d-doc-02.png g-01.png g-docx-02.png h-01.png h-doc-02.png f-02.png > /dev/null 2>&1; echo $?)

# Slurm on this machine: munge with a key of its own, the controller and one node.
mkdir -p "$work/munge" "$work/state" "$work/spool"
head -c 1024 /dev/urandom > "$work/munge/key"
chmod 700 "$work/munge"
chmod 600 "$work/munge/key"
munged --force --socket="$work/munge/socket" --key-file="$work/munge/key" --pid-file="$work/munge/pid" \
  --log-file="$work/munge/log" --seed-file="$work/munge/seed" 2> "$work/munge/err" || skip "munged does not start: $(cat "$work/munge/err")"
for _ in $(seq 50); do [ -s "$work/munge/pid" ] && break; sleep 0.1; done
daemons+=("$(cat "$work/munge/pid")")
node=$(hostname -s)
port=$((20000 + $$ % 20000))
cat > "$work/slurm.conf" << EOF
ClusterName=lumitest
SlurmctldHost=$node(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MinJobAge=3600
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=lumitest Nodes=$node Default=YES MaxTime=INFINITE State=UP OverSubscribe=FORCE:4
EOF
export SLURM_CONF="$work/slurm.conf"
slurmctld -D -i -f "$SLURM_CONF" > "$work/slurmctld.out" 2>&1 &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" -N "$node" > "$work/slurmd.out" 2>&1 &
daemons+=($!)
up=1
for _ in $(seq 100); do
  if sinfo -h -o '%t' 2> /dev/null | grep -qE '^(idle|mix|alloc)'; then up=0; break; fi
  sleep 0.3
done
[ $up = 0 ] || skip "the Slurm node does not come up: $(tail -n 3 "$work/slurmctld.log" "$work/slurmd.log" 2> /dev/null | tr '\n' ' ')"

# The README's array script, counted from 0, every task into the one target.
cat > "$work/array.sh" << EOF
#!/bin/bash
#SBATCH --array=0-2
#SBATCH --output=$work/task-%a.out
exec "$work/app/batchpng" "-P:$opts,Target=$work/shared/,Shard=SLURM_ARRAY_TASK_ID,JsonLog=$work/task-\$SLURM_ARRAY_TASK_ID.jsonl"
EOF
job=$(sbatch --parsable "$work/array.sh")
check "the array is submitted" $([ -n "$job" ]; echo $?)
for _ in $(seq 600); do
  [ -z "$(squeue -h -j "$job" 2> /dev/null)" ] && break
  sleep 0.5
done
check "the array ends within five minutes" $([ -z "$(squeue -h -j "$job" 2> /dev/null)" ]; echo $?)
states=$(scontrol -o show job "$job" | grep -o 'JobState=[A-Z]* .*ExitCode=[0-9:]*' | sed 's/ .*ExitCode=/ /' | sort)
check "Slurm sees two tasks completed and the one with the failed document failed with 3 ($states)" \
  $([ "$(echo "$states" | tr '\n' ' ')" = "JobState=COMPLETED 0:0 JobState=COMPLETED 0:0 JobState=FAILED 3:0 " ]; echo $?)

# The same page files with the same contents as the run without shares.
diff <(page_sums "$work/whole") <(page_sums "$work/shared") > "$work/diff.txt"
check "the shares wrote exactly the pages of one run ($(head -c 300 "$work/diff.txt"))" $?
# The three reports add up to the one of the whole run.
sum() { jq -s -c '{documents: length, pages: (map(.pages) | add),
  statuses: (group_by(.status) | map({(.[0].status): length}) | add)}' "$@"; }
check "the reports of the shares add up ($(sum "$work"/task-*.jsonl) against $(sum "$work/whole.jsonl"))" \
  $([ "$(sum "$work"/task-*.jsonl)" = "$(sum "$work/whole.jsonl")" ]; echo $?)
check "every document is in exactly one share" \
  $([ "$(jq -r .source "$work"/task-*.jsonl | sort | uniq -d | wc -l)" = 0 ] && \
    [ "$(jq -r .source "$work"/task-*.jsonl | wc -l)" = 12 ]; echo $?)
# Namesakes (one name without extension, sub-folders flattened) are never split.
split=$(for t in 0 1 2; do jq -r .source "$work/task-$t.jsonl" | sed 's|.*/||; s|\.[^.]*$||' | sort -u; done | sort | uniq -d)
check "each set of namesakes is in one share (split: $split)" $([ -z "$split" ]; echo $?)
check "nothing of a run is left in the target" $([ -z "$(ls -A "$work/shared" | grep '^\.lumipix-')" ]; echo $?)

[ -n "${LUMI_VERBOSE:-}" ] && { echo "$states"; page_sums "$work/shared" | head -30; sum "$work"/task-*.jsonl; cat "$work"/task-*.out; }
echo "slurm: $passes passed, $fails failed"
[ "$fails" = 0 ]
