"""`make test`'s stage runner (mk/stage_clock.py): lanes side by side, every other stage taken as done, no stage
started after a failure, and a closing table that says which stage failed."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
pytestmark = pytest.mark.skipif(shutil.which("make") is None, reason="needs make")

# `late` needs `setup`, which the runner must not run again; each stage leaves a file behind.
MAKEFILE = """\
.PHONY: setup early late broken after hang
setup: ; @echo once >> ran-setup
early: setup ; @touch ran-early
late: setup ; @touch ran-late
broken: setup ; @echo broken here; exit 3
after: broken ; @touch ran-after
hang: setup ; @echo $$$$ > hang.pid; exec sleep 600
"""


def command(tmp_path: Path, *lanes: str) -> list[str]:
    (tmp_path / "Makefile").write_text(MAKEFILE)
    words = [sys.executable, str(ROOT / "mk" / "stage_clock.py"), "run", "--log", "build/times.tsv"]
    words += ["--make", "make --no-print-directory", "--first", "setup"]
    for lane in lanes:
        words += ["--lane", lane]
    return words


def run(tmp_path: Path, *lanes: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(command(tmp_path, *lanes), cwd=tmp_path, capture_output=True, text=True, check=False)


def test_lanes_run_each_stage_once(tmp_path: Path) -> None:
    result = run(tmp_path, "early", "late")
    assert result.returncode == 0, result.stdout + result.stderr
    assert sorted(p.name for p in tmp_path.glob("ran-*")) == ["ran-early", "ran-late", "ran-setup"]
    assert (tmp_path / "ran-setup").read_text() == "once\n"
    rows = [line.split("\t") for line in (tmp_path / "build" / "times.tsv").read_text().splitlines()]
    assert [(name, lane, status) for name, lane, _, _, _, status in rows][0] == ("setup", "-", "ok")
    assert {(name, lane) for name, lane, *_ in rows[1:]} == {("early", "A"), ("late", "B")}
    assert "== stage times" in result.stdout


def test_no_stage_starts_after_a_failure(tmp_path: Path) -> None:
    result = run(tmp_path, "broken after")
    assert result.returncode == 1
    assert not (tmp_path / "ran-after").exists()
    assert "broken here" in result.stdout  # the failed stage's output is shown
    assert "broken" in (tmp_path / "build" / "times.tsv").read_text().split("FAILED")[0]


def test_a_killed_run_ends_its_stages(tmp_path: Path) -> None:
    runner = subprocess.Popen(command(tmp_path, "hang"), cwd=tmp_path, stdout=subprocess.DEVNULL)
    pid_file = tmp_path / "hang.pid"
    for _ in range(600):
        if pid_file.exists() and pid_file.read_text().strip():
            break
        subprocess.run(["sleep", "0.1"], check=True)
    hang = int(pid_file.read_text())
    runner.terminate()
    assert runner.wait(timeout=60) != 0
    for _ in range(600):  # the stage's sleep goes with it
        if not running(hang):
            break
        subprocess.run(["sleep", "0.1"], check=True)
    assert not running(hang)


def running(pid: int) -> bool:
    """Whether the process still runs: gone, or ended and not yet reaped (its orphan waits for init), is not."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except (FileNotFoundError, ProcessLookupError):
        return False
    return stat.rsplit(")", 1)[1].split()[0] != "Z"
