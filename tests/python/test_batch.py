# SPDX-License-Identifier: MIT
# The batch on a Dask cluster and on local processes over the samples and
# made files: the command's bytes, the bad file reported, nothing half-written.
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest
from dask.distributed import Client, LocalCluster

from conftest import dies_on_its_file, samples, scene, write_image
from lumarex.batch import _run_locally, correct_files


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    d = tmp_path_factory.mktemp("inputs")
    made = [
        write_image(d / "alpha16.tif", np.concatenate(
            [scene(90, 120, 2, np.uint16), np.full((90, 120, 1), 40000, np.uint16)], axis=2)),
        write_image(d / "grey.png", scene(70, 50, 3)[..., :1]),
        write_image(d / "scan.bmp", scene(64, 96, 4)),
    ]
    corrupt = d / "corrupt.jpg"
    corrupt.write_bytes(samples("s01*")[0].read_bytes()[:3000])
    return [str(p) for p in samples()] + [str(p) for p in made] + [str(corrupt)]


@pytest.fixture(scope="module")
def expected(inputs, tmp_path_factory, run):
    """The command's outputs of the same inputs (it fails on the corrupt one)."""
    d = tmp_path_factory.mktemp("command")
    p = run("auto", *inputs, "-d", d, "--quiet", check=False)
    assert p.returncode == 1 and "corrupt.jpg" in p.stderr
    return d


def same_file(a, b):
    """Byte for byte, but for the time of writing that the TIFF writer stamps
    on a file whose input had none (two runs of the command differ there)."""
    stamp = re.compile(rb"\d{4}:\d\d:\d\d \d\d:\d\d:\d\d")
    x, y = a.read_bytes(), b.read_bytes()
    if a.suffix == ".tif":
        x, y = stamp.sub(b"T" * 19, x), stamp.sub(b"T" * 19, y)
    return x == y


def test_cluster_writes_the_commands_bytes_and_reports_the_bad_file(client, inputs, expected, tmp_path):
    out_dir = tmp_path / "out"
    reports = correct_files(inputs, out_dir, client=client)
    assert [r.input for r in reports] == inputs
    bad = [r for r in reports if not r.ok]
    assert [os.path.basename(r.input) for r in bad] == ["corrupt.jpg"]
    assert "corrupt or truncated" in bad[0].error or "not a readable image" in bad[0].error
    for r in reports:
        if r.ok:
            name = os.path.basename(r.output)
            assert same_file(out_dir / name, expected / name), name
            assert r.seconds > 0 and r.summary.startswith("brightened")
    # Nothing else: no output of the corrupt file, no temporary left behind.
    assert sorted(os.listdir(out_dir)) == sorted(os.listdir(expected))
    assert "scan.tif" in os.listdir(out_dir)
    # Both workers took files.
    assert len({r.worker for r in reports if r.seconds > 0}) == 2


def test_correct_keeps_16_bits_and_settings_reach_the_workers(client, inputs, run, tmp_path):
    sixteen = [i for i in inputs if i.endswith(("s06_indoor_backlit_room_16bit.png", "alpha16.tif"))]
    run("correct", *sixteen, "-d", tmp_path / "cmd", "--brighten", "50", "--quality", "100")
    reports = correct_files(sixteen, tmp_path / "out", client=client, command="correct", brighten=50, quality=100)
    assert all(r.ok for r in reports)
    for r in reports:
        name = os.path.basename(r.output)
        assert same_file(tmp_path / "out" / name, tmp_path / "cmd" / name)
        assert "16-bit" in r.summary


def test_whole_batch_problems_are_refused_before_any_work(tmp_path):
    a, b = tmp_path / "a", tmp_path / "b"
    a.mkdir(), b.mkdir()
    for d in (a, b):
        shutil.copy(samples("s06*")[0], d / "x.png")
    with pytest.raises(ValueError, match="would both be written to"):
        correct_files([a / "x.png", b / "x.png"], tmp_path / "out")
    with pytest.raises(ValueError, match="'target' must be a multiple of 5"):
        correct_files([a / "x.png"], tmp_path / "out2", target=57)
    assert not (tmp_path / "out" / "x.png").exists()
    for limits in ({"max_memory": float("inf")}, {"max_memory": 0.05}, {"max_megapixels": float("nan")},
                   {"max_megapixels": 300}):
        with pytest.raises(ValueError, match="max_m"):
            correct_files([a / "x.png"], tmp_path / "out3", **limits)
    assert not (tmp_path / "out3").exists()
    # An output that would replace its input is a problem of that file only.
    reports = correct_files([a / "x.png"], a, workers=1)
    assert not reports[0].ok and "replace the input" in reports[0].error
    # One path, not a list of them, would be taken a character at a time.
    with pytest.raises(TypeError, match="pass \\[path\\]"):
        correct_files(str(a / "x.png"), tmp_path / "out4")
    with pytest.raises(ValueError, match="embedded null byte"):
        correct_files([str(a / "x.png") + "\0.jpg"], tmp_path / "out4")
    assert not (tmp_path / "out4").exists()


def test_a_name_that_is_not_utf8_is_corrected(tmp_path):
    odd = os.path.join(tmp_path, os.fsdecode(b"lat\xe9.png"))
    shutil.copy(samples("s06*")[0], odd)
    [report] = correct_files([odd], tmp_path / "out", workers=1)
    assert report.ok, report.error
    assert report.output == os.path.join(tmp_path / "out", os.fsdecode(b"lat\xe9.png"))
    assert os.path.exists(report.output)


def test_command_line_on_the_cluster(client, inputs, expected, tmp_path):
    p = subprocess.run([sys.executable, "-m", "lumarex.batch", *inputs, "-d", str(tmp_path / "out"),
                        "--scheduler", client.scheduler.address], capture_output=True, text=True, timeout=240)
    assert p.returncode == 1, p.stderr
    assert p.stderr.count("lumarex: ") == 1 and "corrupt.jpg" in p.stderr
    assert len(p.stdout.splitlines()) == len(inputs) - 1
    assert sorted(os.listdir(tmp_path / "out")) == sorted(os.listdir(expected))
    usage = subprocess.run([sys.executable, "-m", "lumarex.batch", inputs[0], "-d", str(tmp_path / "o2"),
                            "--black-clip", "9"], capture_output=True, text=True)
    assert usage.returncode == 2 and "black_clip" in usage.stderr


def test_a_worker_that_dies_fails_its_own_file_only(tmp_path):
    names = ["a.png", "dies.png", "c.png", "d.png"]
    tasks = [(str(tmp_path / n), str(tmp_path / "out" / n), "", "auto", 95, 200.0, 0.0, {}) for n in names]
    reports = _run_locally(tasks, 2, work=dies_on_its_file)
    assert [r.ok for r in reports] == [True, False, True, True]
    assert "the worker failed" in reports[1].error


def test_the_package_imports_without_docstrings():
    p = subprocess.run([sys.executable, "-OO", "-c", "import lumarex, lumarex.batch"], capture_output=True, text=True)
    assert p.returncode == 0, p.stderr
