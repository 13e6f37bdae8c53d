"""Runs the stages of `make test`, its lanes side by side, and closes with a table of each stage's wall and CPU time.

    stage_clock.py run --log LOG --make "MAKE ARGS" --first "S1 S2" --lane "A1 A2 ..." --lane "B1 B2 ..."
    stage_clock.py table LOG

The stages of --first run one after another; then each --lane runs its stages one after another, the lanes
side by side (the machine's two cores are otherwise half idle: pytest, qemu and wine run on one). Each stage
is one `MAKE STAGE`, told that every other stage is done (-o), so that nothing runs twice: a lane holds the
stages that need an earlier one of it. A stage's output goes to LOG's folder and is printed whole when the
stage ends, so that the lanes' outputs do not interleave. After a failure no further stage starts; the ones
running finish. A stage's CPU time is that of its make and every process it waited for (wait4's rusage).
"""

import argparse
import os
import shlex
import signal
import subprocess
import sys
import threading
import time


def minutes(seconds: float) -> str:
    return f"{int(seconds // 60):3d}:{seconds % 60:04.1f}"


def table(log: str) -> None:
    try:
        with open(log) as marks:
            rows = [line.split("\t") for line in marks.read().splitlines()]
    except FileNotFoundError:
        rows = []
    if not rows:
        print("stage times: no stage finished")
        return
    width = max(len(row[0]) for row in rows)
    print(f"== stage times ({log})")
    print(f"   {'stage':<{width}}  {'lane':>4}  {'wall':>8}  {'CPU':>8}  status")
    for name, lane, start, end, cpu, status in rows:
        print(f"   {name:<{width}}  {lane:>4}  {minutes(float(end) - float(start))}  {minutes(float(cpu))}  {status}")
    wall = max(float(row[3]) for row in rows) - min(float(row[2]) for row in rows)
    print(f"   {'all':<{width}}  {'':>4}  {minutes(wall)}  {minutes(sum(float(row[4]) for row in rows))}")


class Stages:
    def __init__(self, log: str, make: list[str], every: list[str]) -> None:
        self.log = log
        self.logs = os.path.join(os.path.dirname(log) or ".", "test-logs")
        self.make = make
        self.every = every
        self.failed = threading.Event()
        self.lock = threading.Lock()
        self.running: set[int] = set()
        os.makedirs(self.logs, exist_ok=True)
        open(log, "w").close()

    def run(self, name: str, lane: str) -> bool:
        if self.failed.is_set():
            return False
        others = [arg for stage in self.every if stage != name for arg in ("-o", stage)]
        path = os.path.join(self.logs, f"{name}.log")
        with self.lock:
            print(f"== {name}: started (lane {lane}, output in {path})", flush=True)
        start = time.time()
        with open(path, "wb") as out:
            # A process group of its own, which stop() ends whole.
            child = subprocess.Popen(
                [*self.make, *others, name], stdout=out, stderr=subprocess.STDOUT, start_new_session=True
            )
            self.running.add(child.pid)
            _, status, usage = os.wait4(child.pid, 0)
            self.running.discard(child.pid)
            child.returncode = os.waitstatus_to_exitcode(status)
        end = time.time()
        ok = child.returncode == 0
        if not ok:
            self.failed.set()
        with self.lock:
            with open(self.log, "a") as marks:
                cpu = usage.ru_utime + usage.ru_stime
                marks.write(f"{name}\t{lane}\t{start:.3f}\t{end:.3f}\t{cpu:.2f}\t{'ok' if ok else 'FAILED'}\n")
            print(f"== {name}: {'done' if ok else 'FAILED'} after {minutes(end - start).strip()}", flush=True)
            with open(path, "rb") as out:
                sys.stdout.buffer.write(out.read())
            sys.stdout.flush()
        return ok

    def stop(self, signum: int, _frame: object) -> None:
        """Ends every running stage with all it started, then the run, when the run is interrupted or killed."""
        self.failed.set()
        for pid in list(self.running):
            try:
                os.killpg(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        raise SystemExit(128 + signum)

    def lane(self, names: list[str], lane: str) -> None:
        for name in names:
            if not self.run(name, lane):
                return


def run(args: argparse.Namespace) -> int:
    first = args.first.split()
    lanes = [lane.split() for lane in args.lane]
    stages = Stages(args.log, shlex.split(args.make), first + [name for lane in lanes for name in lane])
    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, stages.stop)
    stages.lane(first, "-")
    threads = [threading.Thread(target=stages.lane, args=(names, chr(ord("A") + i))) for i, names in enumerate(lanes)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    table(args.log)
    return 1 if stages.failed.is_set() else 0


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    runner = commands.add_parser("run")
    runner.add_argument("--log", required=True)
    runner.add_argument("--make", required=True)
    runner.add_argument("--first", default="")
    runner.add_argument("--lane", action="append", default=[])
    shower = commands.add_parser("table")
    shower.add_argument("log")
    args = parser.parse_args(argv)
    if args.command == "table":
        table(args.log)
        return 0
    return run(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
