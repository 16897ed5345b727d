#!/usr/bin/env bash
# Runs contrib/ansible/rolegate.yml as a fleet team would, the passwords in an Ansible
# Vault, against throwaway servers of three majors: PostgreSQL 12 with both roles
# ready, 18 with a FAILED main role, and 16 stopped (SIGSTOP), so that it takes
# connections and never answers. More inventory hosts point at the same servers for a
# missing role, a wrong password, an internal role given empty and a rolegate binary
# that is not there. Checks the fleet's table line by line, that the play fails for
# exactly the servers not ready, that the report file parses, and that the password
# shows nowhere, not even at -vvv.
#
#   ansible_test.sh ROLEGATE PG_MAJORS_DIR
#
# Fails when PG_MAJORS_DIR lacks those servers (scripts/pg-majors.sh unpacks them).
set -euo pipefail

rolegate=$1
majors=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
cluster_script=$source_dir/scripts/pg-cluster.sh

for major in 12 16 18; do
    if [ ! -x "$majors/$major/bin/postgres" ]; then
        echo "PostgreSQL $major is not unpacked in $majors: run scripts/pg-majors.sh $majors" >&2
        exit 1
    fi
done
for command in ansible-playbook ansible-vault python3; do
    command -v "$command" > /dev/null ||
        { echo "$command not found: scripts/ensure-packages.sh test installs it" >&2; exit 1; }
done

work=$(mktemp -d /tmp/rolegate-ansible-XXXXXX)
chmod 755 "$work" # the servers run as "postgres" when this runs as root
stopped_pid=
cleanup() {
    [ -n "$stopped_pid" ] && kill -CONT "$stopped_pid" 2> /dev/null
    for major in 12 16 18; do
        [ -d "$work/pg$major" ] &&
            PG_BINDIR="$majors/$major/bin" "$cluster_script" stop "$work/pg$major"
    done
    rm -rf "$work"
}
trap cleanup EXIT

superuser_password=super-4711
# The connecting user's password means something to a shell, YAML and SQL alike; its
# first word is looked for in the output, where the rest may come escaped.
password='Zebra42Quartz p@ss w/rd%&"'"'"'^|<>$;`\ x#'

start_server() {
    PG_BINDIR="$majors/$1/bin" "$cluster_script" start "$work/pg$1" "$superuser_password" \
        > "$work/port$1"
}
start_server 12 & starting12=$!
start_server 16 & starting16=$!
start_server 18 & starting18=$!
# Every start is waited for, so that none is still starting when a failure cleans up.
started=true
for job in "$starting12" "$starting16" "$starting18"; do
    wait "$job" || started=false
done
$started || { echo "a server did not start" >&2; exit 1; }
port12=$(cat "$work/port12") port16=$(cat "$work/port16") port18=$(cat "$work/port18")

superuser_sql() {
    PGPASSWORD=$superuser_password psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$1" \
        -U postgres -d postgres -f -
}
for port in "$port12" "$port18"; do
    superuser_sql "$port" <<SQL
create role app login password \$pw\$$password\$pw\$;
create role rg_main createdb createrole login;
create role rg_int login;
create role "rg ""q"" login" login;
SQL
done

# Stopped, the server keeps its port: the kernel takes connections, nothing answers them.
stopped_pid=$(head -n 1 "$work/pg16/data/postmaster.pid")
kill -STOP "$stopped_pid"

# The inventory, with the passwords in vaults: the fleet's in group_vars, one host's
# own (wrong) one in host_vars.
mkdir -p "$work/play/group_vars/all" "$work/play/host_vars/wrongpw"
cat > "$work/play/inventory.yml" <<YAML
all:
  vars:
    rolegate_path: '$rolegate'
    rolegate_host: 127.0.0.1
    rolegate_user: app
    rolegate_internal: rg_int
  hosts:
    ready:
      rolegate_port: $port12
      rolegate_main: rg_main
    failed:
      rolegate_port: $port18
      rolegate_main: 'rg "q" login'
      rolegate_database: template1
    silent:
      rolegate_port: $port16
      rolegate_main: rg_main
      rolegate_connect_timeout: 1
    missing:
      rolegate_port: $port18
      rolegate_main: rg_nobody
    wrongpw:
      rolegate_port: $port12
      rolegate_main: rg_main
    skipped:
      rolegate_port: $port12
      rolegate_main: rg_main
      rolegate_internal: ""
    nobinary:
      rolegate_path: /nonexistent/rolegate
      rolegate_port: $port12
      rolegate_main: rg_main
YAML
# JSON is YAML: python3 (which Ansible runs on) writes the values quoted.
vault_file() {
    python3 -c 'import json, sys; print(json.dumps({"rolegate_password": sys.argv[1]}))' "$1" > "$2"
}
vault_file "$password" "$work/play/group_vars/all/vault.yml"
vault_file "not-$password" "$work/play/host_vars/wrongpw/vault.yml"
(umask 077 && echo "vault-secret-1234" > "$work/vault-password")
for file in "$work/play/group_vars/all/vault.yml" "$work/play/host_vars/wrongpw/vault.yml"; do
    ansible-vault encrypt --vault-password-file "$work/vault-password" "$file" > /dev/null
    head -c 14 "$file" | grep -qxF '$ANSIBLE_VAULT' || { echo "not encrypted: $file" >&2; exit 1; }
done

# Ansible as it comes, whatever the machine's configuration says.
: > "$work/ansible.cfg"
export ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_LOCAL_TEMP=$work/ansible-local \
    ANSIBLE_REMOTE_TEMP=$work/ansible-remote ANSIBLE_NOCOLOR=1 ANSIBLE_STDOUT_CALLBACK=default
unset ANSIBLE_CALLBACK_RESULT_FORMAT ANSIBLE_VAULT_PASSWORD_FILE

# The example inventory is one the play can be run with.
ansible-playbook -i "$source_dir/contrib/ansible/inventory.example" --syntax-check \
    "$source_dir/contrib/ansible/rolegate.yml" > /dev/null

status=0
ansible-playbook -vvv -f 10 -i "$work/play/inventory.yml" \
    --vault-password-file "$work/vault-password" -e "rolegate_report=$work/fleet.json" \
    "$source_dir/contrib/ansible/rolegate.yml" > "$work/play.log" 2>&1 || status=$?

python3 - "$work/play.log" "$work/fleet.json" "$status" "$password" "$rolegate" <<'PYTHON'
import json, re, sys

log_path, report_path, status, password, rolegate = sys.argv[1:]
log = open(log_path, encoding="utf-8").read()
problems = []

def expect(condition, what):
    if not condition:
        problems.append(what)

not_ready = ["failed", "silent", "missing", "wrongpw", "skipped", "nobinary"]
expect(status == "2", f"ansible-playbook exited with {status}, not 2 (hosts failed)")
secret = password.split()[0]
expect(secret not in log, "the password shows in the play's output")
expect("Expecting value" not in log and "could not be read" not in log,
       "a report could not be parsed")

# The table: the debug task's message, a JSON object on the default callback.
match = re.search(r"TASK \[Show the table of the fleet\].*?\nok: \[[^\]]+\] => (\{\n.*?\n\})\n",
                  log, re.S)
rows = {}
if not match:
    problems.append("no table in the play's output")
else:
    lines = json.loads(match.group(1))["msg"]
    header, body, summary = lines[0], lines[1:-1], lines[-1]
    names = ["host", "server", "main", "internal", "ready", "details"]
    starts = [header.index(name) for name in names]
    expect(header.split() == names, f"table header: {header!r}")
    for line in body:
        cells = [line[start:end].strip() for start, end in zip(starts, starts[1:] + [None])]
        rows[cells[0]] = dict(zip(names, cells))
    expect(list(rows) == ["ready"] + not_ready, f"table hosts: {list(rows)}")
    expect(summary == "Not ready: " + ", ".join(not_ready), f"table summary: {summary!r}")
    print("\n".join(lines))

def row(host, details=None, starts=None, contains=(), **cells):
    got = rows.get(host)
    if got is None:
        return
    for name, value in cells.items():
        expect(got[name] == value, f"{host}: {name} is {got[name]!r}, not {value!r}")
    if details is not None:
        expect(got["details"] == details, f"{host}: details {got['details']!r}, not {details!r}")
    if starts is not None:
        expect(got["details"].startswith(starts),
               f"{host}: details {got['details']!r} do not start with {starts!r}")
    for part in contains:
        expect(part in got["details"], f"{host}: details {got['details']!r} lack {part!r}")

row("ready", server="12.22", main="ok_with_warnings", internal="ok", ready="yes", details="-")
row("failed", main="failed", internal="ok", ready="no",
    details='main lacks CREATEDB, CREATEROLE: ALTER ROLE "rg ""q"" login" CREATEDB CREATEROLE')
row("silent", server="-", main="not_checked", internal="not_checked", ready="no",
    starts="main: no_answer: ", contains=["timeout expired"])
row("missing", main="missing", internal="ok", ready="no",
    details='main: no role named "rg_nobody" exists on the server')
row("wrongpw", server="-", main="not_checked", internal="not_checked", ready="no",
    starts="main: no_answer: ", contains=['password authentication failed for user "app"'])
row("skipped", ready="no", starts="skipped: ")
row("nobinary", server="-", main="-", internal="-", ready="no",
    starts="rolegate printed nothing and exited with status 127: ",
    contains=["/nonexistent/rolegate", "not found"])
if "failed" in rows:
    expect(re.fullmatch(r"18\.\d+", rows["failed"]["server"]),
           f"failed: server {rows['failed']['server']!r}, not 18.x")
    expect(rows["missing"]["server"] == rows["failed"]["server"], "missing: server differs")

# Exactly the servers not ready fail, each named.
fatal = re.findall(r"^fatal: \[([^\]]+)\]: FAILED! .*?is not ready for Halvern", log, re.M | re.S)
expect(sorted(fatal) == sorted(not_ready), f"failed hosts: {fatal}")
recap = dict(re.findall(r"^(\S+)\s*: ok=\d+\s+changed=\d+\s+unreachable=0\s+failed=(\d+)", log, re.M))
expect(recap == {host: "0" if host == "ready" else "1" for host in ["ready"] + not_ready},
       f"recap: {recap}")

# The report file: every host's document, keyed by inventory host.
try:
    report = json.load(open(report_path, encoding="utf-8"))
except (OSError, ValueError) as error:
    problems.append(f"report file: {error}")
    report = None
if report is not None:
    expect(secret not in json.dumps(report), "the password shows in the report file")
    expect(sorted(report) == sorted(["ready"] + not_ready), f"report hosts: {sorted(report)}")

    def get(host, *path):
        value = report.get(host)
        for key in path:
            value = value.get(key) if isinstance(value, dict) else None
        return value

    expect(get("ready", "ready") is True, "report: ready is not ready")
    expect(get("ready", "server_version_num") == 120022, "report: ready's server_version_num")
    failed_roles = get("failed", "roles") or [{}]
    expect(failed_roles[0].get("lacks") == ["CREATEDB", "CREATEROLE"], "report: failed's lacks")
    expect(failed_roles[0].get("name_read") == 'rg "q" login', "report: failed's name_read")
    expect(get("failed", "connection", "database") == "template1",
           "report: failed's database is not template1")
    silent_roles = get("silent", "roles") or [{}]
    expect((silent_roles[0].get("error") or {}).get("kind") == "no_answer", "report: silent's error")
    expect(get("skipped", "error", "kind") == "skipped", "report: skipped's error kind")
    expect(len(get("skipped", "skipped") or []) == 1, "report: skipped's skipped lines")
    expect(get("nobinary", "error", "kind") == "no_document", "report: nobinary's error kind")
    expect(get("nobinary", "ready") is False, "report: nobinary is ready")

if problems:
    print("\n".join(["", "FAILED:"] + problems))
    sys.exit(1)
print("the play's table, failures and report are as expected")
PYTHON
