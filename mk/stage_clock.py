"""The wall and CPU time of each stage of `make test`, and the closing table of them.

    stage_clock.py LOG mark NAME PID   append NAME, the time and the CPU time of PID's waited-for children
    stage_clock.py LOG table           print each stage's share: the difference from the mark before it

make runs the stages one after another and marks the end of each with its own pid (the `$$PPID` of the
recipe's shell): every process a stage started, once waited for, has added its CPU time (user + system,
its own waited-for descendants included) to make's. A daemon that outlives its stage is not counted.
"""

import os
import sys
import time


def children_cpu(pid: str) -> float:
    # /proc/PID/stat: the fields after the command's closing parenthesis; cutime and cstime are the 14th and 15th.
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[13]) + int(fields[14])) / os.sysconf("SC_CLK_TCK")


def minutes(seconds: float) -> str:
    return f"{int(seconds // 60):3d}:{seconds % 60:04.1f}"


def table(log: str) -> None:
    try:
        with open(log) as marks:
            rows = [line.split("\t") for line in marks.read().splitlines()]
    except FileNotFoundError:
        rows = []
    if len(rows) < 2:
        print("stage times: no stage finished")
        return
    width = max(len(name) for name, *_ in rows)
    print(f"== stage times ({log})")
    print(f"   {'stage':<{width}}  {'wall':>8}  {'CPU':>8}")
    for (_, wall0, cpu0), (name, wall1, cpu1) in zip(rows, rows[1:]):
        wall, cpu = float(wall1) - float(wall0), float(cpu1) - float(cpu0)
        print(f"   {name:<{width}}  {minutes(wall)}  {minutes(cpu)}")
    wall, cpu = float(rows[-1][1]) - float(rows[0][1]), float(rows[-1][2]) - float(rows[0][2])
    print(f"   {'all':<{width}}  {minutes(wall)}  {minutes(cpu)}")


def main(argv: list[str]) -> None:
    if len(argv) == 4 and argv[1] == "mark":
        log, _, name, pid = argv
        os.makedirs(os.path.dirname(log) or ".", exist_ok=True)
        with open(log, "a") as marks:
            marks.write(f"{name}\t{time.time():.3f}\t{children_cpu(pid):.2f}\n")
    elif len(argv) == 2 and argv[1] == "table":
        table(argv[0])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
