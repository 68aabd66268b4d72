# SPDX-License-Identifier: MIT
"""Throughput of lumarex.batch: the bundled samples, each copied COPIES
times, corrected on a Dask LocalCluster of 1 and then 2 worker processes
(one thread each) and on the local process pool with as many processes.

    PYTHONPATH=build/python LUMAREX_COMMAND=build/lumarex /usr/bin/python3 bench/python_batch.py [COPIES]

Prints files/s and megapixels/s per run, the cluster's start-up excluded
(a cluster is started once and used for many batches); with LUMAREX_COMMAND,
also `lumarex auto -j 1` and `-j 2` on the same files for comparison.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

from dask.distributed import Client, LocalCluster

import lumarex
from lumarex.batch import correct_files

SAMPLES = pathlib.Path(__file__).resolve().parents[1] / "samples"


def main():
    copies = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        inputs, megapixels = [], 0.0
        for k in range(copies):
            d = tmp / f"in{k}"
            d.mkdir()
            for s in sorted(SAMPLES.glob("*.*")):
                if s.suffix in (".jpg", ".png"):
                    inputs.append(str(shutil.copy(s, d / f"{k}_{s.name}")))
                    h, w, _ = lumarex.read_photo(s).shape
                    megapixels += h * w / 1e6
        print(f"{len(inputs)} files, {megapixels:.1f} megapixels, lumarex {lumarex.version()}, "
              f"{os.cpu_count()} cores")
        for n in (1, 2):
            with LocalCluster(n_workers=n, processes=True, threads_per_worker=1, dashboard_address=None) as cluster, \
                    Client(cluster) as client:
                client.run(lambda: __import__("lumarex"))  # the import is not the batch's cost
                start = time.perf_counter()
                reports = correct_files(inputs, tmp / f"dask{n}", client=client)
                seconds = time.perf_counter() - start
            assert all(r.ok for r in reports), [r.error for r in reports if not r.ok]
            print(f"dask, {n} worker{'s' if n > 1 else ' '}: {seconds:6.2f} s  {len(inputs) / seconds:5.2f} files/s  "
                  f"{megapixels / seconds:5.1f} MP/s")
            start = time.perf_counter()
            reports = correct_files(inputs, tmp / f"pool{n}", workers=n)
            seconds = time.perf_counter() - start
            assert all(r.ok for r in reports)
            print(f"pool, {n} process{'es' if n > 1 else '  '}: {seconds:6.2f} s  {len(inputs) / seconds:5.2f} files/s  "
                  f"{megapixels / seconds:5.1f} MP/s  (process start-up included)")
            if os.environ.get("LUMAREX_COMMAND"):
                start = time.perf_counter()
                subprocess.run([os.environ["LUMAREX_COMMAND"], "auto", *inputs, "-d", str(tmp / f"cmd{n}"), "-j",
                                str(n), "--quiet"], check=True)
                seconds = time.perf_counter() - start
                print(f"lumarex auto -j {n}:   {seconds:6.2f} s  {len(inputs) / seconds:5.2f} files/s  "
                      f"{megapixels / seconds:5.1f} MP/s")


if __name__ == "__main__":
    main()
