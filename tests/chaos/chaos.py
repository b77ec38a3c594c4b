#!/usr/bin/env python3
"""A chaos soak: the real client under a seeded random schedule of network faults.

The client (vestrel-chaos, whose service is 203.0.113.1:8080) runs in a network namespace of its
own, the simulated service in another, and between them a third that joins the two with a bridge:

  client  veth 203.0.113.2/24 <--> bridge (middle) <--> 203.0.113.1/24 veth  server

The addresses are from a documentation range that is never routed anywhere; no namespace has a
route beyond them, and all three are deleted when the run ends, however it ends. The faults, one
at a time with quiet gaps between them, in an order and with lengths drawn from the seed:

  link-down  the client's link goes down (up to 120 s)
  address    the client's address is replaced by another, as a new lease does
  restart    the service ends and starts again after a pause
  silent     the service reads requests and never answers (ddns-sim --silent)
  syn-drop   the service's side drops every SYN (nft); the service restarts as it begins, so that
             the client must connect through it
  reset      the service's side answers every packet after the handshake with a TCP reset (nft)
  loss       30 % of the packets each way are dropped (nft numgen)
  delay      every IP packet waits a while in the middle, each way: the bridge is replaced by a
             delay line of this script's own (this kernel has no netem, which would do it)
  sleep      the client is stopped (SIGSTOP) while the service restarts, then continued

What is watched: every request the service receives (its output, one line each), the client's
connections to the service (its socket table, sampled every 0.1 s), and the SYNs it sends (an nft
counter in its namespace, read every 0.5 s: a burst of them is timed to within that). For each
fault the script prints the time from the fault's end to the first correct request, the most
requests in any 10 s, the most connections open at once and the connection attempts per second,
and it fails when a fault is not recovered within 40 s, when any 10 s holds more than two requests
or more than ten connection attempts, or when two connections are ever open at once.

  chaos.py --build DIR [--minutes N] [--seed N]     the soak (root only; exits 77 otherwise)
  chaos.py --self-check                             checks the counting, the schedule, the checksums
"""

import argparse
import bisect
import collections
import os
import random
import select
import signal
import socket
import subprocess
import sys
import threading
import time

PORT = 8080
SERVER = "203.0.113.1"
CLIENT_ADDRESSES = [f"203.0.113.{n}" for n in range(2, 10)]
ACCOUNT = "chaos"

RECOVERY_LIMIT = 40.0  # s from a fault's end to the first correct request
WINDOW = 10.0  # s
MAX_REQUESTS_PER_WINDOW = 2
MAX_ATTEMPTS_PER_WINDOW = 10
MAX_OPEN_CONNECTIONS = 1
LOSS_PERCENT = 30

# Each fault's length in seconds, drawn between these bounds.
FAULTS = {
    "link-down": (5, 120),
    "address": (0, 0),
    "restart": (1, 10),
    "silent": (10, 60),
    "syn-drop": (10, 60),
    "reset": (20, 60),
    "loss": (20, 60),
    "delay": (20, 60),
    "sleep": (10, 120),
}
GAP = (10, 30)  # quiet time after a fault has been recovered from
EXPECTED_RECOVERY = 15  # s, what the schedule allows for each recovery when it fits faults in


class Stop(Exception):
    """Ctrl-C or a termination signal: the run ends and cleans up."""


# --- The schedule -------------------------------------------------------------------------------------


def make_schedule(seed, minutes):
    """The faults for a run, drawn from the seed alone: every kind once in a shuffled round before
    any comes again. A longer run with the same seed starts with the same faults; the last fault
    is shortened so that the run ends in time."""
    rng = random.Random(seed)
    budget = int(minutes * 60) - 30  # the first login and the quiet after it come first
    planned = 0
    schedule = []
    round_ = []
    address = 0
    while True:
        if not round_:
            round_ = sorted(FAULTS)
            rng.shuffle(round_)
        kind = round_.pop()
        low, high = FAULTS[kind]
        fault = {"kind": kind, "length": rng.randint(low, high), "gap": rng.randint(*GAP)}
        # Drawn for every fault, used by some, so that each fault's draws never shift the next's.
        delay_ms = rng.randint(500, 2000)
        address = (address + 1) % len(CLIENT_ADDRESSES)
        if kind == "delay":
            fault["delay_ms"] = delay_ms
        if kind == "address":
            fault["address"] = CLIENT_ADDRESSES[address]
        need = fault["length"] + EXPECTED_RECOVERY + fault["gap"]
        if planned + need > budget:
            room = budget - planned - EXPECTED_RECOVERY - fault["gap"]
            if room >= low:
                fault["length"] = room
                schedule.append(fault)
            return schedule
        schedule.append(fault)
        planned += need


def describe(fault):
    kind = fault["kind"]
    if kind == "address":
        return f"address -> {fault['address']}"
    if kind == "delay":
        return f"delay {fault['delay_ms']} ms each way, {fault['length']} s"
    if kind == "loss":
        return f"loss {LOSS_PERCENT} %, {fault['length']} s"
    return f"{kind} {fault['length']} s"


# --- Counting -----------------------------------------------------------------------------------------


def most_in_window(times, start, end, weights=None, window=WINDOW):
    """The most events in any `window` seconds that end with an event within [start, end): each
    event's time, sorted, and what each counts for (1 unless given). A window is judged where it
    ends, so a burst that began before `start` counts here, where it was completed."""
    prefix = [0]
    for weight in weights if weights is not None else [1] * len(times):
        prefix.append(prefix[-1] + weight)
    best = 0
    for j in range(bisect.bisect_left(times, start), bisect.bisect_left(times, end)):
        i = bisect.bisect_right(times, times[j] - window)
        best = max(best, prefix[j + 1] - prefix[i])
    return best


def rises(samples):
    """A cumulative counter's samples, taken whenever it changed, as (times, increments): each rise
    is put at the moment it was seen, within one sampling interval of when it happened."""
    times = [t for t, _ in samples[1:]]
    return times, [b - a for (_, a), (_, b) in zip(samples, samples[1:])]


def value_at(samples, t):
    """A sampled value as it stood at time t (the last sample at or before it; 0 before the first)."""
    i = bisect.bisect_right([s for s, _ in samples], t) - 1
    return samples[i][1] if i >= 0 else 0


def most_at_once(samples, start, end):
    """The highest sampled value within [start, end), counting the one standing at `start`."""
    values = [value_at(samples, start)] + [v for t, v in samples if start <= t < end]
    return max(values)


def self_check():
    # Requests: each window ends with an event, and counts where it ends.
    times = [0.0, 5.0, 9.9, 10.0, 25.0, 30.0, 35.1]
    assert most_in_window(times, 0, 100) == 3, "0, 5 and 9.9 lie within 10 s; so do 5, 9.9 and 10"
    assert most_in_window(times, 0, 4) == 1, "the burst is completed at 9.9, after 4"
    assert most_in_window(times, 5, 10) == 3, "the burst ending at 9.9 began before 5"
    assert most_in_window(times, 20, 100) == 2, "25 and 35.1 are more than 10 s apart"
    assert most_in_window(times, 10.5, 20) == 0, "no event ends a window in there"
    assert most_in_window([], 0, 10) == 0
    # A counter sampled when it changes: each rise counts where it was seen.
    seen, rise = rises([(0, 0), (2, 5), (3, 12), (12.5, 13), (30, 40)])
    assert (seen, rise) == ([2, 3, 12.5, 30], [5, 7, 1, 27])
    assert most_in_window(seen, 0, 20, rise) == 12, "2 and 3 lie within 10 s; 12.5 is 10.5 s after 2"
    assert most_in_window(seen, 12, 13, rise) == 8, "3 and 12.5"
    assert most_in_window(seen, 0, 100, rise) == 27
    assert most_in_window(seen, 13, 20, rise) == 0
    # Connections open: the value standing when a period begins counts in it.
    conns = [(0, 0), (5, 1), (20, 2), (21, 1)]
    assert most_at_once(conns, 10, 19) == 1
    assert most_at_once(conns, 10, 30) == 2
    assert most_at_once(conns, 0, 4) == 0
    # The schedule: the same seed draws the same faults; a longer run begins with them.
    short, again, long_ = make_schedule(7, 5), make_schedule(7, 5), make_schedule(7, 20)
    assert short == again
    assert [f["kind"] for f in short] == [f["kind"] for f in long_[: len(short)]]
    assert short[:-1] == long_[: len(short) - 1]
    assert set(f["kind"] for f in long_) == set(FAULTS), "a 20-minute run holds every kind"
    for minutes in (2, 5, 20, 60):
        plan = make_schedule(3, minutes)
        used = sum(f["length"] + EXPECTED_RECOVERY + f["gap"] for f in plan)
        assert used <= minutes * 60 - 30, (minutes, used)
        assert all(FAULTS[f["kind"]][0] <= f["length"] <= FAULTS[f["kind"]][1] for f in plan)
    # The delay line's checksum: summed with it, the pseudo-header and an odd-length segment give
    # all ones; a frame that is not IPv4 TCP passes untouched.
    ip = bytes([0x45, 0, 0, 41, 0, 0, 0x40, 0, 64, 6, 0, 0, 203, 0, 113, 2, 203, 0, 113, 1])
    tcp = bytes([0x9C, 0x40, 0x1F, 0x90]) + bytes(8) + bytes([0x50, 0x18, 0xFF, 0xFF, 0xAB, 0xCD, 0, 0]) + b"x"
    frame = with_tcp_checksum(bytes(12) + b"\x08\x00" + ip + tcp)
    data = ip[12:20] + bytes([0, 6, 0, 21]) + frame[34:] + b"\0"
    total = sum(int.from_bytes(data[i:i + 2], "big") for i in range(0, len(data), 2))
    assert (total & 0xFFFF) + (total >> 16) == 0xFFFF, hex(total)
    assert frame[:34] == bytes(12) + b"\x08\x00" + ip and frame[34:50] == tcp[:16] and frame[52:] == tcp[18:]
    arp = bytes(12) + b"\x08\x06" + bytes(28)
    assert with_tcp_checksum(arp) == arp
    print("chaos self-check: ok")
    return 0


# --- Helpers that run inside a namespace ----------------------------------------------------------


def sample(interval=0.1, counter_every=5):
    """Inside the client's namespace: print "TIME conns N" whenever the number of the client's
    connections to the service (trying or established) changes, and "TIME syns N" whenever the SYN
    counter does."""
    states = {"01", "02"}  # ESTABLISHED, SYN_SENT
    port = f"{PORT:04X}"
    last_conns = last_syns = None
    n = 0
    while True:
        now = time.monotonic()
        conns = 0
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            try:
                with open(table) as f:
                    next(f)
                    for line in f:
                        fields = line.split()
                        if fields[2].endswith(":" + port) and fields[3] in states:
                            conns += 1
            except FileNotFoundError:
                pass
        if conns != last_conns:
            print(f"{now:.3f} conns {conns}", flush=True)
            last_conns = conns
        if n % counter_every == 0:
            syns = read_syn_counter()
            if syns is not None and syns != last_syns:
                print(f"{time.monotonic():.3f} syns {syns}", flush=True)
                last_syns = syns
        n += 1
        time.sleep(interval)


def read_syn_counter():
    out = subprocess.run(["nft", "list", "counter", "inet", "vestrel_chaos", "syns"], capture_output=True, text=True)
    for word, value in zip(out.stdout.split(), out.stdout.split()[1:]):
        if word == "packets":
            return int(value)
    return None


def delay_line(first, second, delay):
    """Inside the middle namespace, in place of the bridge: every frame that arrives on one link
    leaves by the other `delay` seconds later, in order."""
    socks = {}
    for name in (first, second):
        s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0003))  # every protocol
        s.bind((name, 0))
        socks[name] = s
    onward = {socks[first].fileno(): socks[second], socks[second].fileno(): socks[first]}
    queue = collections.deque()
    while True:
        timeout = max(0.0, queue[0][0] - time.monotonic()) if queue else None
        ready, _, _ = select.select(list(socks.values()), [], [], timeout)
        for s in ready:
            frame, address = s.recvfrom(65536)
            if address[2] == socket.PACKET_OUTGOING:  # what this line itself sent
                continue
            if frame[12:14] == b"\x08\x06":
                # ARP crosses at once: the delay stands for a long path beyond the local network,
                # and address resolution waits only a second for its answer.
                forward(onward[s.fileno()], frame)
            else:
                queue.append((time.monotonic() + delay, onward[s.fileno()], frame))
        now = time.monotonic()
        while queue and queue[0][0] <= now:
            _, s, frame = queue.popleft()
            forward(s, frame)


def with_tcp_checksum(frame):
    """The frame with its IPv4 TCP checksum filled in. The stack leaves it unfilled on a veth,
    as a card would fill it, and the far end trusts that mark only while the kernel carries the
    frame: taken off the link and sent again through a packet socket, it would be dropped."""
    if frame[12:14] != b"\x08\x00" or len(frame) < 34 or frame[23] != 6:
        return frame
    header = (frame[14] & 0x0F) * 4
    total = int.from_bytes(frame[16:18], "big")
    segment = bytearray(frame[14 + header:14 + total])
    if len(segment) < 20:
        return frame
    segment[16:18] = b"\0\0"
    data = frame[26:34] + b"\0\x06" + len(segment).to_bytes(2, "big") + segment
    if len(data) % 2:
        data += b"\0"
    total_sum = sum(int.from_bytes(data[i:i + 2], "big") for i in range(0, len(data), 2))
    while total_sum >> 16:
        total_sum = (total_sum & 0xFFFF) + (total_sum >> 16)
    segment[16:18] = (~total_sum & 0xFFFF).to_bytes(2, "big")
    return frame[:14 + header] + bytes(segment) + frame[14 + total:]


def forward(sock, frame):
    try:
        sock.send(with_tcp_checksum(frame))
    except OSError:
        pass  # a frame the link refuses is lost, as on a wire


# --- The soak -----------------------------------------------------------------------------------------


def run(*args, check=True):
    result = subprocess.run(list(args), capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError(f"{' '.join(args)}: {result.stderr.strip() or result.returncode}")
    return result


class Soak:
    def __init__(self, build, minutes, seed, work):
        self.build = build
        self.minutes = minutes
        self.seed = seed
        self.work = work
        self.program = os.path.join(build, "tools", "chaos", "vestrel-chaos")
        self.sim_path = os.path.join(build, "tools", "ddns-sim", "ddns-sim")
        tag = f"vch{os.getpid()}"
        self.ns = {"client": f"{tag}-c", "middle": f"{tag}-m", "server": f"{tag}-s"}
        self.links = {"client": f"{tag}c", "server": f"{tag}s", "mc": f"{tag}mc", "ms": f"{tag}ms", "br": f"{tag}b"}
        self.made = []
        self.lock = threading.Lock()
        self.requests = []  # (time, ok, from, localip)
        self.conns = []  # (time, connections open)
        self.syns = []  # (time, SYNs sent so far)
        self.sim = None
        self.sim_lines = 0
        self.client = None
        self.sampler = None
        self.delayer = None
        self.address = CLIENT_ADDRESSES[0]
        self.t0 = time.monotonic()

    # -- namespaces

    def nexec(self, ns, *args, check=True):
        return run("ip", "netns", "exec", self.ns[ns], *args, check=check)

    def nft(self, ns, script):
        result = subprocess.run(["ip", "netns", "exec", self.ns[ns], "nft", "-f", "-"], input=script,
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"nft in the {ns} namespace: {result.stderr.strip()}")

    def make_namespaces(self):
        for name in self.ns.values():
            run("ip", "netns", "add", name)
            self.made.append(name)
        c, m, s, l = self.ns["client"], self.ns["middle"], self.ns["server"], self.links
        run("ip", "link", "add", l["client"], "netns", c, "type", "veth", "peer", "name", l["mc"], "netns", m)
        run("ip", "link", "add", l["server"], "netns", s, "type", "veth", "peer", "name", l["ms"], "netns", m)
        run("ip", "-n", m, "link", "add", l["br"], "type", "bridge")
        for port in ("mc", "ms"):
            run("ip", "-n", m, "link", "set", l[port], "master", l["br"], "up")
        run("ip", "-n", m, "link", "set", l["br"], "up")
        for ns, link, address in ((c, l["client"], self.address), (s, l["server"], SERVER)):
            run("ip", "-n", ns, "link", "set", "lo", "up")
            run("ip", "-n", ns, "addr", "add", f"{address}/24", "dev", link)
            run("ip", "-n", ns, "link", "set", link, "up")
        # The client's SYNs to the service are counted; each side has an empty chain for the faults.
        self.nft("client", f"""table inet vestrel_chaos {{
            counter syns {{ }}
            chain fault {{ }}
            chain out {{ type filter hook output priority 0; policy accept;
                tcp dport {PORT} tcp flags & (syn | ack) == syn counter name syns
                jump fault
            }}
        }}""")
        self.nft("server", """table inet vestrel_chaos {
            chain fault_in { }
            chain fault_out { }
            chain in { type filter hook input priority 0; policy accept; jump fault_in; }
            chain out { type filter hook output priority 0; policy accept; jump fault_out; }
        }""")

    def remove_namespaces(self):
        for name in reversed(self.made):
            run("ip", "netns", "del", name, check=False)
        self.made = []

    @staticmethod
    def remove_stale_namespaces():
        """Namespaces that an earlier run left behind when it was killed outright."""
        out = run("ip", "netns", "list", check=False).stdout
        for line in out.splitlines():
            name = line.split()[0] if line.split() else ""
            if name.startswith("vch") and name[-2:] in ("-c", "-m", "-s") and name[3:-2].isdigit():
                if not os.path.exists(f"/proc/{name[3:-2]}"):
                    run("ip", "netns", "del", name, check=False)

    # -- processes

    def stamp(self):
        return time.monotonic() - self.t0

    def read_sim(self, proc, log):
        for line in proc.stdout:
            t = self.stamp()
            log.write(f"{t:9.3f} {line}")
            log.flush()
            words = line.split()
            # request N user=U ok|fail from ADDRESS localip=ADDRESS
            if len(words) == 7 and words[0] == "request":
                with self.lock:
                    self.requests.append((t, words[3] == "ok", words[5], words[6].removeprefix("localip=")))
            elif words[:2] == ["listening", "on"]:
                with self.lock:
                    self.sim_lines += 1

    def start_sim(self, silent=False):
        with self.lock:
            before = self.sim_lines
        args = ["ip", "netns", "exec", self.ns["server"], self.sim_path, "--listen", SERVER, "--port", str(PORT),
                "--user", ACCOUNT, "--password", ACCOUNT] + (["--silent"] if silent else [])
        log = open(os.path.join(self.work, "service.log"), "a")
        self.sim = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        threading.Thread(target=self.read_sim, args=(self.sim, log), daemon=True).start()
        if not self.wait(lambda: self.sim_lines > before, 10):
            raise RuntimeError("the simulated service did not start")

    def stop_sim(self):
        if self.sim is None:
            return
        self.sim.terminate()
        try:
            self.sim.wait(10)
        except subprocess.TimeoutExpired:
            self.sim.kill()
            self.sim.wait()
        self.sim = None

    def read_sampler(self, proc, log):
        for line in proc.stdout:
            log.write(f"{float(line.split()[0]) - self.t0:9.3f} {line.split(None, 1)[1]}")
            log.flush()
            words = line.split()
            if len(words) != 3:
                continue
            t = float(words[0]) - self.t0
            with self.lock:
                (self.conns if words[1] == "conns" else self.syns).append((t, int(words[2])))

    def start_sampler(self):
        self.sampler = subprocess.Popen(["ip", "netns", "exec", self.ns["client"], sys.executable,
                                         os.path.abspath(__file__), "--sample"],
                                        stdout=subprocess.PIPE, text=True)
        log = open(os.path.join(self.work, "samples.log"), "w")
        threading.Thread(target=self.read_sampler, args=(self.sampler, log), daemon=True).start()
        if not self.wait(lambda: self.conns and self.syns, 20):
            raise RuntimeError("the sampler in the client's namespace did not start")

    def start_client(self):
        with open(os.path.join(os.path.dirname(self.program), "config.dat"), "wb") as f:
            f.write(f"\r\n{ACCOUNT}\r\n{ACCOUNT}\r\n0\r\n".encode())
        env = ["env", "QT_QPA_PLATFORM=offscreen", "QT_LOGGING_RULES=vestrel.*.info=true",
               # A session bus that cannot be reached, so that none is started behind the run's back.
               f"DBUS_SESSION_BUS_ADDRESS=unix:path={self.work}/no-session-bus"]
        log = open(os.path.join(self.work, "client.log"), "w")
        # `ip netns exec` and `env` exec the program: the process started is the client itself.
        self.client = subprocess.Popen(["ip", "netns", "exec", self.ns["client"]] + env + [self.program],
                                       stdout=log, stderr=subprocess.STDOUT)

    def end_processes(self):
        if self.client is not None and self.client.poll() is None:
            self.client.send_signal(signal.SIGCONT)
        for proc in (self.client, self.sim, self.sampler, self.delayer):
            if proc is not None and proc.poll() is None:
                proc.terminate()
        for proc in (self.client, self.sim, self.sampler, self.delayer):
            if proc is None:
                continue
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()

    # -- waiting and judging

    def wait(self, done, seconds):
        deadline = time.monotonic() + seconds
        while True:
            with self.lock:
                if done():
                    return True
            if time.monotonic() >= deadline:
                return False
            if self.client is not None and self.client.poll() is not None:
                raise RuntimeError(f"the client ended (status {self.client.returncode}); see client.log")
            time.sleep(0.05)

    def first_correct_after(self, t):
        for r in self.requests:
            if r[0] > t and r[1] and r[2] == self.address and r[3] == self.address:
                return r[0]
        return None

    def await_recovery(self, end):
        self.wait(lambda: self.first_correct_after(end) is not None, RECOVERY_LIMIT)
        with self.lock:
            return self.first_correct_after(end)

    # -- faults

    def fault_rules(self, ns, chain, rules):
        self.nft(ns, f"flush chain inet vestrel_chaos {chain}\n"
                     + "".join(f"add rule inet vestrel_chaos {chain} {rule}\n" for rule in rules))

    def hold(self, seconds):
        self.wait(lambda: False, seconds)

    def apply(self, fault):
        """Runs one fault; returns the time it ended."""
        kind, length = fault["kind"], fault["length"]
        c, m, l = self.ns["client"], self.ns["middle"], self.links
        if kind == "link-down":
            run("ip", "-n", c, "link", "set", l["client"], "down")
            self.hold(length)
            run("ip", "-n", c, "link", "set", l["client"], "up")
        elif kind == "address":
            # The old one goes first, as when a lease ends: the new one, added while the old was
            # there, would be a secondary address and go with it.
            run("ip", "-n", c, "addr", "del", f"{self.address}/24", "dev", l["client"])
            run("ip", "-n", c, "addr", "add", f"{fault['address']}/24", "dev", l["client"])
            with self.lock:
                self.address = fault["address"]
        elif kind == "restart":
            self.stop_sim()
            self.hold(length)
            self.start_sim()
        elif kind == "silent":
            self.stop_sim()
            self.start_sim(silent=True)
            self.hold(length)
            self.stop_sim()
            self.start_sim()
        elif kind == "syn-drop":
            self.fault_rules("server", "fault_in", [f"tcp dport {PORT} tcp flags & (syn | ack) == syn drop"])
            self.stop_sim()
            self.start_sim()
            self.hold(length)
            self.fault_rules("server", "fault_in", [])
        elif kind == "reset":
            # The handshake completes; everything after it is refused with a reset.
            self.fault_rules("server", "fault_in",
                             [f"tcp dport {PORT} tcp flags & (syn | ack) != syn reject with tcp reset"])
            self.hold(length)
            self.fault_rules("server", "fault_in", [])
        elif kind == "loss":
            drop = f"numgen random mod 100 < {LOSS_PERCENT} drop"
            self.fault_rules("client", "fault", [f"tcp dport {PORT} {drop}"])
            self.fault_rules("server", "fault_out", [f"tcp sport {PORT} {drop}"])
            self.hold(length)
            self.fault_rules("client", "fault", [])
            self.fault_rules("server", "fault_out", [])
        elif kind == "delay":
            for port in ("mc", "ms"):
                run("ip", "-n", m, "link", "set", l[port], "nomaster")
                run("ip", "-n", m, "link", "set", l[port], "promisc", "on")
            self.delayer = subprocess.Popen(["ip", "netns", "exec", m, sys.executable, os.path.abspath(__file__),
                                             "--delay-line", l["mc"], l["ms"], str(fault["delay_ms"] / 1000)])
            self.hold(length)
            self.delayer.terminate()
            self.delayer.wait()
            self.delayer = None
            for port in ("mc", "ms"):
                run("ip", "-n", m, "link", "set", l[port], "master", l["br"])
        elif kind == "sleep":
            self.client.send_signal(signal.SIGSTOP)
            try:
                self.hold(min(2, length / 3))
                self.stop_sim()
                self.hold(min(5, length / 3))
                self.start_sim()
                self.hold(max(0.0, length - (self.stamp() - self.fault_start)))
            finally:
                self.client.send_signal(signal.SIGCONT)
        return self.stamp()

    # -- the run

    def soak(self, schedule):
        self.make_namespaces()
        self.start_sampler()
        self.start_sim()
        self.start_client()
        rows = []
        launched = self.stamp()
        first = self.await_recovery(launched)
        rows.append({"name": "start (first login)", "start": launched, "end": launched, "recovered": first})
        if first is None:
            return rows
        self.hold(GAP[0])  # a few quiet ticks before the first fault
        hard_end = self.minutes * 60 + 60
        for number, fault in enumerate(schedule, 1):
            if self.stamp() + fault["length"] + RECOVERY_LIMIT > hard_end:
                print(f"chaos: no time left for faults {number}..{len(schedule)}; the run ends here", flush=True)
                break
            self.fault_start = self.stamp()
            print(f"chaos: {self.fault_start:7.1f} s  fault {number}: {describe(fault)}", flush=True)
            end = self.apply(fault)
            recovered = self.await_recovery(end)
            rows.append({"name": f"{number} {describe(fault)}", "start": self.fault_start, "end": end,
                         "recovered": recovered})
            if recovered is None:
                print(f"chaos: fault {number} not recovered within {RECOVERY_LIMIT:.0f} s", flush=True)
            self.hold(fault["gap"])
        return rows

    def report(self, rows):
        finish = self.stamp()
        with self.lock:
            requests = [r[0] for r in self.requests]
            conns, syns = list(self.conns), list(self.syns)
        syn_times, syn_counts = rises(syns)
        failures = []
        header = (f"{'fault':<34} {'start s':>8} {'end s':>8} {'back s':>7} {'req/10s':>8} {'conns':>6}"
                  f" {'SYN/s':>7} {'SYN/10s':>8}")
        print()
        print(f"Chaos soak: seed {self.seed}, {self.minutes} min scheduled, {finish:.0f} s run")
        print(header)
        for i, row in enumerate(rows):
            until = rows[i + 1]["start"] if i + 1 < len(rows) else finish
            back = None if row["recovered"] is None else row["recovered"] - row["end"]
            most_requests = most_in_window(requests, row["start"], until)
            most_conns = most_at_once(conns, row["start"], until)
            attempts = value_at(syns, until) - value_at(syns, row["start"])
            rate = attempts / max(until - row["start"], 1e-9)
            most_attempts = most_in_window(syn_times, row["start"], until, syn_counts)
            print(f"{row['name']:<34} {row['start']:8.1f} {row['end']:8.1f} "
                  f"{'never' if back is None else f'{back:.1f}':>7} {most_requests:8d} {most_conns:6d}"
                  f" {rate:7.2f} {most_attempts:8d}")
            name = row["name"]
            if back is None:
                failures.append(f"{name}: no correct request within {RECOVERY_LIMIT:.0f} s of the fault's end")
            if most_requests > MAX_REQUESTS_PER_WINDOW:
                failures.append(f"{name}: {most_requests} requests within 10 s (at most {MAX_REQUESTS_PER_WINDOW})")
            if most_attempts > MAX_ATTEMPTS_PER_WINDOW:
                failures.append(f"{name}: {most_attempts} connection attempts within 10 s "
                                f"(at most {MAX_ATTEMPTS_PER_WINDOW})")
            if most_conns > MAX_OPEN_CONNECTIONS:
                failures.append(f"{name}: {most_conns} connections open at once (at most {MAX_OPEN_CONNECTIONS})")
        print(f"back: from the fault's end to the first correct request; req/10s: the most requests in any 10 s;")
        print(f"conns: the most connections open at once; SYN/s and SYN/10s: connection attempts, on average "
              f"and the most in any 10 s")
        print(f"(each from the fault's start to the next fault's start, a 10-s window where it ends; "
              f"{len(requests)} requests in all)")
        if failures:
            for failure in failures:
                print(f"chaos: FAIL {failure}")
            return 1
        print("chaos: PASS: every fault recovered from within 40 s, never more than two requests or ten "
              "connection attempts in 10 s, never two connections at once")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build", help="the build tree holding vestrel-chaos and ddns-sim")
    parser.add_argument("--minutes", type=float, default=5)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", action="store_true", help="keep the folder with the logs")
    parser.add_argument("--self-check", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--sample", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--delay-line", nargs=3, metavar=("LINK", "LINK", "SECONDS"), help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.self_check:
        return self_check()
    if args.sample or args.delay_line:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
        try:
            if args.sample:
                sample()
            else:
                delay_line(args.delay_line[0], args.delay_line[1], float(args.delay_line[2]))
        except (KeyboardInterrupt, BrokenPipeError):
            pass
        return 0

    if os.geteuid() != 0:
        print("chaos: skipped: network namespaces need root", file=sys.stderr)
        return 77
    for tool in ("ip", "nft"):
        if subprocess.run(["sh", "-c", f"command -v {tool}"], capture_output=True).returncode != 0:
            print(f"chaos: {tool} is not installed (scripts/install-deps.sh installs it)", file=sys.stderr)
            return 1
    schedule = make_schedule(args.seed, args.minutes)
    work = subprocess.run(["mktemp", "-d", "/tmp/vestrel-chaos.XXXXXX"], capture_output=True, text=True,
                          check=True).stdout.strip()
    soak = Soak(args.build, args.minutes, args.seed, work)
    for path in (soak.program, soak.sim_path):
        if not os.access(path, os.X_OK):
            print(f"chaos: {path} is missing; build first (make chaos does)", file=sys.stderr)
            return 1
    print(f"chaos: seed {args.seed}, {args.minutes} min: " + "; ".join(describe(f) for f in schedule), flush=True)

    def stop(signum, _frame):
        raise Stop(signal.Signals(signum).name)

    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, stop)
    status = 1
    try:
        Soak.remove_stale_namespaces()
        rows = soak.soak(schedule)
        status = soak.report(rows)
    except Stop as stopped:
        print(f"chaos: stopped by {stopped}; cleaning up", file=sys.stderr)
        status = 130
    except RuntimeError as error:
        print(f"chaos: FAIL {error}", file=sys.stderr)
    finally:
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        soak.end_processes()
        soak.remove_namespaces()
        if args.keep or status != 0:
            print(f"chaos: logs in {work}", file=sys.stderr)
        else:
            subprocess.run(["rm", "-rf", work])
    return status


if __name__ == "__main__":
    sys.exit(main())
