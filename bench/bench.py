#!/usr/bin/env python3
"""The measurements behind scripts/bench. Python 3 standard library only.

  bench.py wine --out DIR --build MINGW_BUILD_DIR
      runs the real module under Wine, side by side: the stand-in host at intervals 100, 250, 1000 and
      2000 ms (output period, delay from a served sample to its text, the output thread's CPU time), at
      2000 ms with the EFB and GDL 90 feeds to loopback listeners as well (each message kind's rate and
      largest gap, samples a second), the serial line going away mid-run, and 100 load/start/stop/unload
      rounds in one process; writes DIR/wine.json
  bench.py table --out DIR
      prints DIR/native.json (Google Benchmark) and DIR/wine.json as one table
"""

import argparse
import json
import os
import re
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tools"))

import netfeed  # noqa: E402
import waypost_run as run  # noqa: E402

ALL_RECORDS = "GSA,GSV,RMA,RMC,GLL,VTG,GGA,PGRMZ,AV400,RPY,GTEXT,HDT,HDM,HDG"
INTERVALS = [100, 250, 1000, 2000]
PERIOD_RUN = 95        # seconds from start-up to shut-down: 25 s start delay, a minute measured, margins
CPU_WINDOW = 60.0      # seconds of the output thread's life measured
LINE_PORT, ROUNDS_PORT, NETWORK_PORT = 44, 45, 46
LINE_RUN, LINE_CLOSE = 45, 35  # the pseudo-terminal closes 35 s after start-up (10 s of output)
ROUNDS = 100
FEEDS_INTERVAL = 2000
# Message kinds of the feeds and how many a second each should be (AttitudeRate 5 by default).
FEED_KINDS = [("heartbeat", 1), ("ownship", 1), ("geometric_altitude", 1), ("identification", 1), ("ahrs", 5),
              ("xgps", 1), ("xatt", 5)]


# ---- Wine runs ----------------------------------------------------------------------------------------

def thread_cpu_seconds(pid):
    """CPU seconds of each thread (task) of a process, from /proc (schedstat in ns where available)."""
    cpu = {}
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except FileNotFoundError:
        return cpu
    for task in tasks:
        base = "/proc/%d/task/%s/" % (pid, task)
        try:
            with open(base + "schedstat") as stat:
                cpu[int(task)] = int(stat.read().split()[0]) / 1e9
        except (FileNotFoundError, ValueError, IndexError):
            try:
                with open(base + "stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                cpu[int(task)] = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
            except (FileNotFoundError, ValueError, IndexError):
                pass
    return cpu


def output_thread_cpu(host, log, on_started=None):
    """CPU seconds per minute of the module's output thread, read from /proc: it is the one thread of the
    Wine process that appears after the hook is registered. on_started runs once the module is started."""
    before = set(thread_cpu_seconds(host.pid)) if run.wait_for_record(log, "init", 60) else set()
    if on_started is not None:
        on_started()
    if run.wait_for_record(log, "hook", 60) is None:
        return None
    time.sleep(5)
    start = thread_cpu_seconds(host.pid)
    started = time.monotonic()
    time.sleep(CPU_WINDOW)
    end = thread_cpu_seconds(host.pid)
    elapsed = time.monotonic() - started
    new = [task for task in end if task not in before and task in start]
    return (end[new[0]] - start[new[0]]) * 60.0 / elapsed if len(new) == 1 else None


def period_run(out, build, interval, results, feeds=False):
    """The stand-in host in relay mode at one interval; with feeds, the EFB and GDL 90 feeds go to loopback
    listeners as well, and each message kind's rate and largest gap between two of it are kept."""
    folder = os.path.join(out, "wine", "interval-%d%s" % (interval, "-feeds" if feeds else ""))
    with netfeed.Listener({"efb": 0, "gdl90": 0} if feeds else {}) as listener:
        network = [("Network", "xgps:127.0.0.1:%d,gdl90:127.0.0.1:%d" % (
            listener.ports["efb"], listener.ports["gdl90"]))] if feeds else []
        dll = run.prepare_module_folder(folder, os.path.join(build, "Waypost.dll"), [
            ("Port", "NetHub"), ("Sentences", ALL_RECORDS), ("Interval", str(interval))] + network)
        cpu = []
        exit_status, _ = run.run_host(folder, os.path.join(build, "tools", "waypost-host.exe"), dll,
                                      ["--generation", "2004", "--run", str(PERIOD_RUN)], PERIOD_RUN + 120,
                                      during=lambda host, log, line: cpu.append(output_thread_cpu(host, log)))
        arrivals = listener.datagrams()
    cpu = cpu[0] if cpu else None
    records = run.read_log(os.path.join(folder, "log.jsonl"))
    relay = [r["t"] for r in records if r["kind"] == "relay"]
    samples = [r["t"] for r in records if r["kind"] == "sample"]
    frames = [r["frame"] for r in records if r["kind"] == "sample"]
    gaps = [b - a for a, b in zip(relay, relay[1:])]
    delays = []
    for sent in relay:
        served = [t for t in samples if t <= sent]
        if served:
            delays.append(sent - served[-1])
    end = next((r for r in records if r["kind"] == "end"), {})
    kinds = {}
    for t, _, data in arrivals:
        for m in netfeed.decode_datagram(data):
            kinds.setdefault(netfeed.message_kind(m), []).append(t)
    results["%d%s" % (interval, "+feeds" if feeds else "")] = {
        "exit": exit_status, "texts": len(relay), "nominal": (interval // 100 + 1) * 0.1,
        "meanPeriod": sum(gaps) / len(gaps) if gaps else None, "minPeriod": min(gaps) if gaps else None,
        "maxPeriod": max(gaps) if gaps else None,
        "meanDelay": sum(delays) / len(delays) if delays else None, "maxDelay": max(delays) if delays else None,
        "cpuPerMinute": cpu, "anomalies": end.get("anomalies"),
        # Samples and frames a second while the module samples (the host's own clock).
        "samplesPerSecond": (len(samples) - 1) / (samples[-1] - samples[0]) if len(samples) > 1 else None,
        "framesPerSecond": (frames[-1] - frames[0]) / (samples[-1] - samples[0]) if len(samples) > 1 else None,
        "feeds": {kind: {"count": len(times), "perSecond": (len(times) - 1) / (times[-1] - times[0]),
                         "maxGap": max(b - a for a, b in zip(times, times[1:]))}
                  for kind, times in kinds.items() if len(times) > 1 and times[-1] > times[0]}}


def network_run(out, build, results):
    """Every output at once at Interval 100: the serial line, NMEA over UDP and to eight TCP clients (one of
    which never reads), the EFB text and GDL 90. The output thread's CPU time per cycle, and the period as a
    TCP reader sees it."""
    folder = os.path.join(out, "wine", "network")
    with netfeed.Listener({"udp": 0, "efb": 0, "gdl90": 0}) as listener:
        tcp = run.free_port()
        network = "udp:127.0.0.1:%d,tcp:127.0.0.1:%d,xgps:127.0.0.1:%d,gdl90:127.0.0.1:%d" % (
            listener.ports["udp"], tcp, listener.ports["efb"], listener.ports["gdl90"])
        dll = run.prepare_module_folder(folder, os.path.join(build, "Waypost.dll"), [
            ("Port", "COM%d" % NETWORK_PORT), ("Speed", "115200"), ("Sentences", ALL_RECORDS), ("Interval", "100"),
            ("Network", network), ("Log", "Yes")])
        readers, cpu = [], []
        exit_status, _ = run.run_host(
            folder, os.path.join(build, "tools", "waypost-host.exe"), dll,
            ["--generation", "2004", "--run", str(PERIOD_RUN)], PERIOD_RUN + 120, NETWORK_PORT,
            lambda host, log, line: cpu.append(output_thread_cpu(host, log, lambda: readers.extend(
                run.TcpReader(tcp, reads=i > 0) for i in range(8)))))
        cpu = cpu[0] if cpu else None
        datagrams = len(listener.datagrams())
    records = run.read_log(os.path.join(folder, "log.jsonl"))
    cycles = len([r for r in records if r["kind"] == "sample"])
    # Each cycle's first sentence, and when it arrived, as the first reader that reads saw them.
    starts = [t for t, chunk in (readers[1].chunks if len(readers) > 1 else []) for _ in range(chunk.count(b"$GPGSA"))]
    gaps = [b - a for a, b in zip(starts, starts[1:])]
    module_log = open(os.path.join(folder, "Waypost.log"), encoding="latin-1").read()
    end = next((r for r in records if r["kind"] == "end"), {})
    running = next((r["t"] for r in records if r["kind"] == "deinit"), 0) - next(
        (r["t"] for r in records if r["kind"] == "hook"), 0)
    results["network"] = {
        "exit": exit_status, "anomalies": end.get("anomalies"), "cpuPerMinute": cpu, "cycles": cycles,
        "cpuPerCycle": cpu / (cycles * 60.0 / running) if cpu and cycles and running > 0 else None,
        "meanPeriod": sum(gaps) / len(gaps) if gaps else None, "minPeriod": min(gaps) if gaps else None,
        "maxPeriod": max(gaps) if gaps else None, "texts": len(starts), "datagrams": datagrams,
        "stalledClosed": "closed: not reading" in module_log}


def line_away_run(out, build, results):
    """Serial output through a pseudo-terminal that closes while the module writes to it."""
    folder = os.path.join(out, "wine", "line-away")
    dll = run.prepare_module_folder(folder, os.path.join(build, "Waypost.dll"),
                                    [("Port", "COM%d" % LINE_PORT), ("Speed", "4800"),
                                     ("Sentences", "GSA,GSV,RMC,GGA"), ("Interval", "100")])
    result = {}

    def close_the_line(host, log, line):
        if run.wait_for_record(log, "init", 60) is not None:
            time.sleep(LINE_CLOSE)
        result["bytesBeforeClose"] = len(line.received())
        line._socat.terminate()  # the far end goes away: the module's device is a dead pseudo-terminal

    result["exit"], _ = run.run_host(folder, os.path.join(build, "tools", "waypost-host.exe"), dll,
                                     ["--generation", "2004", "--run", str(LINE_RUN)], LINE_RUN + 120, LINE_PORT,
                                     close_the_line)
    records = run.read_log(os.path.join(folder, "log.jsonl"))
    deinit = next((r for r in records if r["kind"] == "deinit"), {})
    end = next((r for r in records if r["kind"] == "end"), {})
    samples = [r["t"] for r in records if r["kind"] == "sample"]
    init_t = next((r["t"] for r in records if r["kind"] == "init"), 0.0)
    result.update({"deinitSeconds": deinit.get("seconds"), "threadsBefore": deinit.get("threadsBefore"),
                   "threadsAfter": deinit.get("threadsAfter"), "anomalies": end.get("anomalies"),
                   "samplesAfterClose": len([t for t in samples if t > init_t + LINE_CLOSE + 1]),
                   "frames": end.get("frames")})
    results["lineAway"] = result


def rounds_run(out, build, results):
    """waypost-rounds: 100 rounds in one process, every other one on a serial line, all with every network
    output and the log."""
    folder = os.path.join(out, "wine", "rounds")
    dll = run.prepare_module_folder(folder, os.path.join(build, "Waypost.dll"), None)
    started = time.monotonic()
    with run.SerialLine(folder, ROUNDS_PORT) as line:
        done = subprocess.run([run.WINE_RUN, os.path.join(build, "bench", "waypost-rounds.exe"),
                               run.windows_path(dll), "--rounds", str(ROUNDS), "--port", "COM%d" % ROUNDS_PORT,
                               "--network", str(run.free_port())],
                              capture_output=True, text=True, timeout=ROUNDS * 10 + 60)
        time.sleep(0.5)
        serial_bytes = len(line.received())
    with open(os.path.join(folder, "rounds.out"), "w") as console:
        console.write(done.stdout + done.stderr)
    summary = re.search(r"\[rounds\] summary: (.*)", done.stdout)
    result = {"exit": done.returncode, "seconds": time.monotonic() - started, "serialBytes": serial_bytes}
    if summary:
        for pair in summary.group(1).split():
            key, value = pair.split("=")
            result[key] = float(value) if "." in value else int(value)
    results["rounds"] = result


def thirty_two_bit_code():
    """How this machine runs 32-bit x86 code: natively, or under qemu-user registered with binfmt_misc."""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as entry:
            if "enabled" in entry.read().split():
                version = subprocess.run(["qemu-i386-static", "--version"], capture_output=True, text=True)
                return "32-bit code emulated by " + version.stdout.split("\n")[0].split(" (")[0]
    except OSError:
        pass
    return "32-bit code run natively"


def command_wine(arguments):
    out = os.path.abspath(arguments.out)
    build = os.path.abspath(arguments.build)
    run.ensure_prefix()
    results = {}
    periods = {}
    threads = [threading.Thread(target=period_run, args=(out, build, interval, periods)) for interval in INTERVALS]
    threads.append(threading.Thread(target=period_run, args=(out, build, FEEDS_INTERVAL, periods, True)))
    threads.append(threading.Thread(target=line_away_run, args=(out, build, results)))
    threads.append(threading.Thread(target=rounds_run, args=(out, build, results)))
    threads.append(threading.Thread(target=network_run, args=(out, build, results)))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    results["periods"] = {str(k): v for k, v in periods.items()}
    results["cpu"] = thirty_two_bit_code()
    with open(os.path.join(out, "wine.json"), "w") as file:
        json.dump(results, file, indent=1)
    return 0


# ---- The table ----------------------------------------------------------------------------------------

def native_rows(path):
    with open(path) as file:
        report = json.load(file)
    rows = []
    for bench in report["benchmarks"]:
        if bench.get("aggregate_name", "median") != "median":
            continue
        name = bench["run_name"]
        label = bench.get("label", "")
        cpu = bench["cpu_time"]  # ns
        what = {
            "BM_FrameHookIdle": "frame hook, idle frame",
            "BM_FrameHookSampling/0": "frame hook sampling (per sample), " + label,
            "BM_FrameHookSampling/2": "frame hook sampling (per sample), " + label,
            "BM_ConvertFlightState": "fix computation alone (per sample)",
            "BM_GeoidUndulation": "geoid height lookup (GDL 90 geometric altitude, output thread)",
        }.get(name)
        if name == "BM_ComposeCycleEveryOutput":
            what = "ComposeCycle with serial, UDP and 8 TCP readers (output thread, per cycle)"
        elif name == "BM_FeedStep":
            what = "feeds at a step with every record: EFB, GDL 90 and 8 tablets (output thread)"
        elif name.startswith("BM_ComposeRecords/"):
            what = "ComposeRecords, " + label
        elif name.startswith("BM_ComposeCycle/"):
            what = "ComposeCycle (check, records, write start), " + label
        if what is None:
            continue
        rows.append((what, "%.0f ns" % cpu if cpu >= 100 else "%.1f ns" % cpu))
        if "bytes_per_second" in bench:
            rows.append(("  bytes composed per microsecond, " + label, "%.0f" % (bench["bytes_per_second"] / 1e6)))
    return rows


def number(value, form, unit=""):
    return "n/a" if value is None else (form % value) + unit


def hook_cost(p, native):
    """Microseconds a second the host's thread spends in the frame hook: the samples and frames a second
    measured under Wine, priced at the native cost of a sampling frame and of an idle one."""
    sampling, idle = native.get("BM_FrameHookSampling/2"), native.get("BM_FrameHookIdle")
    if None in (sampling, idle, p.get("samplesPerSecond"), p.get("framesPerSecond")):
        return None
    return (p["samplesPerSecond"] * sampling + (p["framesPerSecond"] - p["samplesPerSecond"]) * idle) / 1000


def feeds_rows(wine, native):
    feeds, plain = wine["periods"].get("%d+feeds" % FEEDS_INTERVAL, {}), wine["periods"].get(str(FEEDS_INTERVAL), {})
    rows = [("feeds on at Interval %d (xgps, gdl90 to loopback, AttitudeRate 5): relay period" % FEEDS_INTERVAL,
             "%s mean, %s to %s over %s texts (nominal %.1f s)" % (
            number(feeds.get("meanPeriod"), "%.4f", " s"), number(feeds.get("minPeriod"), "%.3f"),
            number(feeds.get("maxPeriod"), "%.3f"), feeds.get("texts"), feeds.get("nominal", 0)))]
    for kind, nominal in FEED_KINDS:
        f = feeds.get("feeds", {}).get(kind, {})
        rows.append(("  %s a second (nominal %d), largest gap" % (kind, nominal),
                     "%s, %s over %s" % (number(f.get("perSecond"), "%.3f"), number(f.get("maxGap"), "%.3f", " s"),
                                         f.get("count"))))
    rows.append(("  output thread CPU time per minute, with feeds / without",
                 "%s / %s" % (number(feeds.get("cpuPerMinute") and feeds["cpuPerMinute"] * 1000, "%.1f", " ms"),
                              number(plain.get("cpuPerMinute") and plain["cpuPerMinute"] * 1000, "%.1f", " ms"))))
    rows.append(("  host's samples / frames a second, with feeds; samples without",
                 "%s / %s; %s" % (number(feeds.get("samplesPerSecond"), "%.2f"),
                                  number(feeds.get("framesPerSecond"), "%.1f"),
                                  number(plain.get("samplesPerSecond"), "%.2f"))))
    rows.append(("  host's thread in the frame hook a second, with feeds / without (1)",
                 "%s / %s" % (number(hook_cost(feeds, native), "%.1f", " us"),
                              number(hook_cost(plain, native), "%.1f", " us"))))
    return rows


def wine_rows(path, native):
    with open(path) as file:
        wine = json.load(file)
    rows = []
    for interval in INTERVALS:
        p = wine["periods"].get(str(interval), {})
        rows.append(("period at Interval %d (nominal %.1f s)" % (interval, p.get("nominal", 0)),
                     "%s mean, %s to %s over %s texts" % (number(p.get("meanPeriod"), "%.4f", " s"),
                                                          number(p.get("minPeriod"), "%.3f"),
                                                          number(p.get("maxPeriod"), "%.3f"), p.get("texts"))))
    for interval in INTERVALS:
        p = wine["periods"].get(str(interval), {})
        rows.append(("served sample to text leaving, Interval %d" % interval,
                     "%s mean, %s max" % (number(p.get("meanDelay") and p["meanDelay"] * 1000, "%.1f", " ms"),
                                          number(p.get("maxDelay") and p["maxDelay"] * 1000, "%.1f", " ms"))))
    for interval in INTERVALS:
        p = wine["periods"].get(str(interval), {})
        rows.append(("output thread CPU time per minute, Interval %d" % interval,
                     number(p.get("cpuPerMinute") and p["cpuPerMinute"] * 1000, "%.1f", " ms")))
    anomalies = sum(p.get("anomalies") or 0 for p in wine["periods"].values())
    rows.append(("host anomalies in the five runs", str(anomalies)))
    rows.extend(feeds_rows(wine, native))
    net = wine.get("network", {})
    rows.append(("every output at Interval 100: serial, UDP, 8 TCP clients (one never reads), EFB, GDL 90",
                 "exit %s, %s anomalies, %s cycles, %s datagrams" % (net.get("exit"), net.get("anomalies"),
                                                                    net.get("cycles"), net.get("datagrams"))))
    rows.append(("  output thread CPU time per cycle",
                 number(net.get("cpuPerCycle") and net["cpuPerCycle"] * 1e6, "%.0f", " us")))
    rows.append(("  period a TCP reader sees (nominal 0.2 s)",
                 "%s mean, %s to %s over %s texts" % (number(net.get("meanPeriod"), "%.4f", " s"),
                                                      number(net.get("minPeriod"), "%.3f"),
                                                      number(net.get("maxPeriod"), "%.3f"), net.get("texts"))))
    rows.append(("  the client that never reads closed by the module", str(net.get("stalledClosed"))))
    line = wine.get("lineAway", {})
    rows.append(("line goes away mid-run: host exit status, anomalies",
                 "%s, %s (%s bytes before the close)" % (line.get("exit"), line.get("anomalies"),
                                                         line.get("bytesBeforeClose"))))
    rows.append(("  after it: host frames in all, samples, shut-down time, threads before/after",
                 "%s, %s, %s, %s/%s" % (line.get("frames"), line.get("samplesAfterClose"),
                                    number(line.get("deinitSeconds") and line["deinitSeconds"] * 1000, "%.0f", " ms"),
                                    line.get("threadsBefore"), line.get("threadsAfter"))))
    rounds = wine.get("rounds", {})
    rows.append(("%s load/start/stop/unload rounds in one process (%s serial), every network output" % (
        rounds.get("rounds"), rounds.get("serialRounds")),
        "exit %s, %s anomalies, %.0f s" % (rounds.get("exit"), rounds.get("anomalies"), rounds.get("seconds", 0))))
    rows.append(("  threads after round 1 / after the last",
                 "%s / %s" % (rounds.get("threads"), rounds.get("threadsAfter"))))
    rows.append(("  lowest free handle slot after round 1 / after the last",
                 "%s / %s" % (rounds.get("freeSlot"), rounds.get("freeSlotAfter"))))
    rows.append(("  texts: relay, serial bytes", "%s, %s" % (rounds.get("relayTexts"), rounds.get("serialBytes"))))
    rows.append(("  TCP clients that saw their connection closed at the unload",
                 "%s of %s" % (rounds.get("clientsClosed"), rounds.get("rounds"))))
    rows.append(("  slowest frame hook, slowest shut-down",
                 "%s, %s" % (number(rounds.get("slowestHookMs"), "%.3f", " ms"),
                             number(rounds.get("slowestShutDownMs"), "%.1f", " ms"))))
    return rows


def command_table(arguments):
    sections = []
    native = os.path.join(arguments.out, "native.json")
    wine = os.path.join(arguments.out, "wine.json")
    medians = {}
    if os.path.exists(native):
        sections.append(("Native (Linux, Release, against the Win32 stand-in; CPU time, median of 3)",
                         native_rows(native)))
        medians = {bench["run_name"]: bench["cpu_time"] for bench in json.load(open(native))["benchmarks"]
                   if bench.get("aggregate_name", "median") == "median"}
    if os.path.exists(wine):
        sections.append(("Under Wine (the real 32-bit DLL, %s)" % json.load(open(wine)).get("cpu", "?"),
                         wine_rows(wine, medians)))
    width = max([len(what) for _, rows in sections for what, _ in rows] + [len(title) for title, _ in sections])
    values = max(len(value) for _, rows in sections for _, value in rows) if sections else 5
    for title, rows in sections:
        print("| %s | %s |" % (title.ljust(width), "Value".ljust(values)))
        print("|%s|%s|" % ("-" * (width + 2), "-" * (values + 2)))
        for what, value in rows:
            print("| %s | %s |" % (what.ljust(width), value.ljust(values)))
        print()
    if os.path.exists(wine):
        print("(1) an estimate: the samples and frames a second measured under Wine, each at the native cost of a\n"
              "    sampling frame (generation 2) and of an idle frame")
    return 0 if sections else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    wine = commands.add_parser("wine")
    wine.add_argument("--out", required=True)
    wine.add_argument("--build", required=True)
    table = commands.add_parser("table")
    table.add_argument("--out", required=True)
    arguments = parser.parse_args()
    return {"wine": command_wine, "table": command_table}[arguments.command](arguments)


if __name__ == "__main__":
    sys.exit(main())
