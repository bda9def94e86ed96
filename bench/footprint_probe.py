# Runs inside the device twin (booted bare): measures each program's start-up,
# then its idle memory and CPU while the board's programs run together.
# Prints one line per program: "name|startup_ms|rss_kib|pss_kib|private_dirty_kib|cpu_pct|note".
import os
import socket
import struct
import subprocess
import sys
import time

SETTINGS = sys.argv[1]            # cfgsvc or cfgsvc_v2
IDLE_S = float(sys.argv[2])
UBUS = "/usr/bin/ubus"
TICK = os.sysconf("SC_CLK_TCK")
LOG = "/run/kxsim/logs/footprint.log"


SOCKET = "/var/run/ubus/ubus.sock"
HELLO, STATUS, LOOKUP = 0, 1, 4
ATTR_STATUS, ATTR_OBJPATH = 1, 2


def blob(attr_id, payload):
    size = 4 + len(payload)
    return struct.pack(">I", (attr_id << 24) | size) + payload + b"\0" * (-size % 4)


def read_message(conn):
    head = conn.recv(12, socket.MSG_WAITALL)
    if len(head) < 12:
        raise OSError("bus closed")
    kind = head[1]
    size = struct.unpack(">I", head[8:12])[0] & 0xFFFFFF
    body = conn.recv((size - 4 + 3) & ~3, socket.MSG_WAITALL) if size > 4 else b""
    return kind, body


def on_bus(obj, path=SOCKET):
    """One lookup on the daemon's socket (cheaper than a run of the ubus tool, so
    the start-up figures are not the tool's own start-up)."""
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
            conn.settimeout(1)
            conn.connect(path)
            if read_message(conn)[0] != HELLO:
                return False
            if obj is None:
                return True
            conn.sendall(struct.pack(">BBHI", 0, LOOKUP, 1, 0) + blob(0, blob(ATTR_OBJPATH, obj.encode() + b"\0")))
            while True:
                kind, body = read_message(conn)
                if kind == STATUS:
                    # the status attribute: a 4-byte header, then the code
                    return len(body) >= 8 and body[0] == ATTR_STATUS and struct.unpack(">i", body[4:8])[0] == 0
    except OSError:
        return False


def wait_for(ready, limit_s=30):
    end = time.monotonic() + limit_s
    while not ready():
        if time.monotonic() > end:
            return False
        time.sleep(0.002)
    return True


def startup_ms(argv, ready):
    """Starts argv, returns (process, ms until ready() or None)."""
    open(LOG, "w").close()  # ready lines are looked for in this start's output only
    t0 = time.monotonic()
    log = open(LOG, "a")
    p = subprocess.Popen(argv, stdout=log, stderr=log, start_new_session=True)
    ok = wait_for(ready)
    return p, (time.monotonic() - t0) * 1000 if ok else None


def best_startup_ms(argv, ready, rounds=3):
    """The shortest of a few start-ups (a loaded machine adds its own delays);
    returns the last process, still running, and that time."""
    best = None
    for i in range(rounds):
        p, ms = startup_ms(argv, ready)
        if ms is not None and (best is None or ms < best):
            best = ms
        if i + 1 < rounds:
            end(p)
    return p, best


def log_has(needle):
    def ready():
        with open(LOG, errors="replace") as f:
            return needle in f.read()
    return ready


def end(p):
    try:
        os.killpg(p.pid, 9)
    except ProcessLookupError:
        pass
    p.wait()


def run_once(argv):
    """A short-lived program: wall time and peak resident memory (KiB) of one run.
    The peak is GNU time's figure: a process's peak counts its pages before exec,
    so it comes from a small starter instead of this one."""
    t0 = time.monotonic()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", "/tmp/footprint.peak"] + argv,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    ms = (time.monotonic() - t0) * 1000
    with open("/tmp/footprint.peak") as f:
        return ms, float(f.read().split()[-1])


def pids_of(name):
    out = []
    for d in os.listdir("/proc"):
        if d.isdigit():
            try:
                with open(f"/proc/{d}/comm") as f:
                    if f.read().strip() == name[:15]:
                        out.append(int(d))
            except OSError:
                pass
    return sorted(out)


def memory(pid):
    fields = {}
    for path in (f"/proc/{pid}/status", f"/proc/{pid}/smaps_rollup"):
        with open(path) as f:
            for line in f:
                k, _, v = line.partition(":")
                parts = v.split()
                if parts and parts[-1] == "kB":
                    fields[k] = fields.get(k, 0) + int(parts[0])
    # Private dirty pages: the memory the process owns (clean library pages of a
    # library only it maps count as private too, but are not its own).
    return fields.get("VmRSS", 0), fields.get("Pss", 0), fields.get("Private_Dirty", 0)


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        rest = f.read().rsplit(")", 1)[1].split()
    return int(rest[11]) + int(rest[12])


rows = {}


def fmt(v):
    return "" if v is None else f"{v:.1f}"


# Start-up, each program on its own: start to its object on the bus (resetkeyd: to
# its wait for the first interrupt; ubusd: a second daemon on its own socket),
# the best of three.
p, ms = best_startup_ms(["/usr/bin/ubusd", "-s", "/tmp/footprint.sock"], lambda: on_bus(None, "/tmp/footprint.sock"))
end(p)
rows["ubusd"] = [ms]
hwmond, ms = best_startup_ms(["/usr/bin/kx_hwmond"], lambda: on_bus("hwmond"))
rows["kx_hwmond"] = [ms]
DAEMONS = ((SETTINGS, lambda: on_bus("Setting")), ("thermguard", lambda: on_bus("thermguard")),
           ("kx_ftm", lambda: on_bus("ftm")), ("resetkeyd", log_has("wait for interrupt")))
for name, ready in DAEMONS:
    if os.path.exists(f"/usr/bin/{name}"):
        p, ms = best_startup_ms([f"/usr/bin/{name}"], ready)
        end(p)
        rows[name] = [ms]

# Short-lived programs: one run each, with the settings service up and started for pooltest.
settings, _ = startup_ms([f"/usr/bin/{SETTINGS}"], log_has("initialize hardware environment done!"))
for name, argv in (("ubus", [UBUS, "list"]), ("pooltest", ["/usr/bin/pooltest"]),
                   ("upgradesvc", ["/usr/bin/upgradesvc"])):
    if os.path.exists(argv[0]):
        ms, peak = run_once(argv)
        rows[name] = [ms, peak, None, None, None, "short-lived: run time and peak RSS"]

# Idle: the board's programs together, settled, then IDLE_S seconds untouched
# (the settings service may have started kx_ftm through the supervisor at boot).
others = [startup_ms([f"/usr/bin/{name}"], ready)[0] for name, ready in DAEMONS[1:]
          if os.path.exists(f"/usr/bin/{name}") and not (name == "kx_ftm" and on_bus("ftm"))]
time.sleep(3)
watched = []
for name in ("ubusd", "kx_hwmond", SETTINGS, "thermguard", "kx_ftm", "resetkeyd"):
    pids = pids_of(name)
    for i, pid in enumerate(pids):
        label = name if len(pids) == 1 else f"{name} ({'parent' if i == 0 else 'child'})"
        watched.append((label, name, pid, cpu_ticks(pid)))
time.sleep(IDLE_S)
for label, name, pid, t0 in watched:
    rss, pss, private = memory(pid)
    cpu = (cpu_ticks(pid) - t0) / TICK / IDLE_S * 100
    startup = rows[name][0] if label == name or label.endswith("(parent)") else None
    rows[label] = [startup, rss, pss, private, cpu, ""]
for label, name, _, _ in watched:
    if label != name:
        rows.pop(name, None)
for p in others + [settings, hwmond]:
    end(p)

for name, v in rows.items():
    v = v + [None] * (6 - len(v))
    print("|".join([name] + [fmt(x) if not isinstance(x, str) else x for x in v]))
