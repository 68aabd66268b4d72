# SPDX-License-Identifier: MIT
"""Correcting many files: on a local process pool, or one task per file on
a Dask cluster.

    from lumarex.batch import correct_files
    reports = correct_files(["a.jpg", "b.jpg"], "fixed/")                 # local processes
    reports = correct_files(paths, "/shared/fixed", client=Client("tcp://scheduler:8786"))

Each file is read, corrected and written by a worker exactly as
``lumarex auto FILE -d OUT`` does it (``command="correct"`` for ``lumarex
correct``): the same names in the output folder, the same bytes, written to a
hidden temporary and renamed into place only when complete. Only paths and
small reports travel; on a cluster the workers must see the inputs and the
output folder under the same paths (a shared file system). A bad file never
stops the batch: its report says why.

From a shell:  python -m lumarex.batch IN... -d OUT [--scheduler ADDRESS]
"""

import argparse
import dataclasses
import os
import socket
import sys
import time

from . import _lumarex

__all__ = ["FileReport", "correct_files", "main"]


@dataclasses.dataclass(frozen=True)
class FileReport:
    """What became of one input."""

    input: str
    output: str  # where the result is (or would have been) written
    ok: bool
    error: str  # why it failed, empty when ok
    summary: str  # what the correction did ("brightened 40 %, cast removed"), empty on failure
    seconds: float  # the worker's time for the file
    worker: str  # host and process that did it

    def __str__(self):
        if self.ok:
            return f"{self.input} -> {self.output}  {self.summary}"
        return f"lumarex: {self.input}: {self.error}"


def _correct_one(task):
    """One file, in a worker process. Never raises for a problem of the file."""
    input_path, output_path, problem, command, quality, max_megapixels, max_memory, settings = task
    worker = f"{socket.gethostname()}:{os.getpid()}"
    start = time.perf_counter()
    if problem:
        return FileReport(input_path, output_path, False, problem, "", 0.0, worker)
    try:
        r = _lumarex.correct_file(
            os.fsencode(input_path), os.fsencode(output_path), command, quality, max_megapixels, max_memory, None,
            settings
        )
        ok, error, summary = r["ok"], r["error"], r["summary"]
    except Exception as e:  # a worker keeps going whatever one file does
        ok, error, summary = False, f"{type(e).__name__}: {e}", ""
    return FileReport(input_path, output_path, ok, error, summary, time.perf_counter() - start, worker)


def _report_of(future, task):
    """A future's report; a worker that died on the file (a crash, a lost
    machine) fails that file only."""
    try:
        return future.result()
    except Exception as e:
        return FileReport(task[0], task[1], False, f"the worker failed: {type(e).__name__}: {e}", "", 0.0, "")


def _run_locally(tasks, workers, work=_correct_one):
    """The reports of ``work`` over ``tasks`` on local processes."""
    import multiprocessing

    # Fresh interpreters: a forked copy of a process with threads (a
    # notebook's, a Dask client's) may inherit a held lock.
    context = multiprocessing.get_context("spawn")
    n = min(workers or os.cpu_count() or 1, len(tasks))
    reports = [None] * len(tasks)
    # A process that dies (a crash, the out-of-memory killer) breaks its
    # pool, and every file the pool had not finished fails with it. Those
    # are tried again on a fresh pool, and the ones that break that one too
    # each alone in a process of its own: only the file that kills its
    # worker fails.
    broken = _run_pool(context, n, tasks, range(len(tasks)), reports, work)
    if broken:
        broken = _run_pool(context, n, tasks, broken, reports, work)
    for k in broken:
        _run_pool(context, 1, tasks, [k], reports, work, last=True)
    return reports


def _run_pool(context, n, tasks, which, reports, work, last=False):
    """Runs tasks[k] for k in ``which`` on a pool of ``n`` processes into
    ``reports``; returns the k whose pool broke before they were done (with
    ``last``, they get a failed report instead)."""
    import concurrent.futures
    from concurrent.futures.process import BrokenProcessPool

    broken = []
    pool = concurrent.futures.ProcessPoolExecutor(min(n, len(which)), mp_context=context)
    try:
        futures = {k: pool.submit(work, tasks[k]) for k in which}
        for k, f in futures.items():
            try:
                reports[k] = f.result()
            except BrokenProcessPool:
                if last:
                    reports[k] = _report_of(f, tasks[k])
                else:
                    broken.append(k)
            except Exception:
                reports[k] = _report_of(f, tasks[k])
    finally:
        # On Ctrl-C the files not started are dropped; those under way end
        # whole or not at all.
        pool.shutdown(wait=True, cancel_futures=True)
    return broken


def correct_files(
    inputs,
    out_dir,
    *,
    client=None,
    command="auto",
    quality=95,
    overwrite=False,
    workers=None,
    max_megapixels=_lumarex.DEFAULT_MAX_MEGAPIXELS,
    max_memory=0.0,
    **settings,
):
    """Corrects every file of ``inputs`` into the folder ``out_dir`` (created
    when missing) and returns one :class:`FileReport` per input, in order.

    Without ``client`` the files are shared out over ``workers`` local
    processes (default: one per core), fresh interpreters that import the
    caller's main script as multiprocessing's "spawn" does: a script that
    calls this at its top level needs the ``if __name__ == "__main__":``
    guard (a notebook does not). With a ``dask.distributed.Client``
    each file is one task on the cluster's workers. ``command`` is 'auto'
    (8-bit, as ``lumarex auto``) or 'correct' (16-bit stays 16-bit);
    ``quality`` the quality of lossy outputs (JPEG, WebP, AVIF, HEIC); ``overwrite`` lets an output replace its
    own input or an existing read-only file; ``max_megapixels`` and ``max_memory`` (GB, 0: half of each
    worker's memory) limit what one file may take. Settings are those of the
    command, as for :func:`lumarex.auto`.

    Raises ValueError before any work for a wrong setting or limit, or when
    two inputs would be written to the same file; a file that cannot be read, corrected
    or written only gets a failed report.
    """
    if isinstance(inputs, (str, bytes, os.PathLike)):
        raise TypeError("inputs is a list of paths; for one photo, pass [path]")
    inputs = [os.fspath(p) for p in inputs]
    out_dir = os.fspath(out_dir)
    if any("\0" in os.fsdecode(p) for p in [*inputs, out_dir]):
        raise ValueError("embedded null byte")  # as open() says
    _lumarex.check_settings(command, settings)
    _lumarex.check_limits(float(max_megapixels), float(max_memory))
    if not 1 <= int(quality) <= 100:
        raise ValueError("quality must be between 1 and 100")
    if not inputs:
        return []
    # Names go as the file system spells them, which need not be UTF-8.
    outputs, problems = _lumarex.plan_outputs([os.fsencode(i) for i in inputs], os.fsencode(out_dir), overwrite)
    outputs = [os.fsdecode(o) for o in outputs]
    # Absolute paths: a cluster's workers do not share this process' folder.
    tasks = [
        (os.path.abspath(i), os.path.abspath(o), p, command, int(quality), float(max_megapixels),
         float(max_memory), dict(settings))
        for i, o, p in zip(inputs, outputs, problems)
    ]
    if client is not None:
        futures = client.map(_correct_one, tasks, pure=False)
        try:
            reports = [_report_of(f, t) for f, t in zip(futures, tasks)]
        except KeyboardInterrupt:
            client.cancel(futures)  # files under way are finished whole or not at all
            raise
    else:
        reports = _run_locally(tasks, workers)
    # The reports name the inputs as the caller gave them.
    return [dataclasses.replace(r, input=i, output=o) for r, i, o in zip(reports, inputs, outputs)]


def _parser():
    p = argparse.ArgumentParser(
        prog="python -m lumarex.batch",
        description="Corrects photos as `lumarex auto` (or `lumarex correct`) does, on local processes or "
        "on a Dask cluster; one line per file, as the command prints.",
    )
    p.add_argument("inputs", nargs="+", metavar="IN", help="the photos: any format the lumarex command reads")
    p.add_argument("-d", "--dir", required=True, metavar="OUT", help="the output folder (created when missing)")
    p.add_argument("--scheduler", metavar="ADDRESS", help="a Dask scheduler, e.g. tcp://host:8786; "
                   "without it, local processes")
    p.add_argument("-j", "--workers", type=int, metavar="N", help="local processes (default: one per core)")
    p.add_argument("--command", choices=("auto", "correct"), default="auto")
    p.add_argument("--quality", type=int, default=95, help="quality of lossy outputs (JPEG, WebP, AVIF, HEIC), 1..100 (default 95)")
    p.add_argument("--overwrite", action="store_true",
                   help="allow an output to replace its own input, or an existing read-only file")
    p.add_argument("--quiet", action="store_true", help="print only errors")
    seen = set()
    for t in _lumarex.settings_table():
        if t["name"] not in seen:
            seen.add(t["name"])
            p.add_argument("--" + t["name"], dest="setting_" + t["keyword"], metavar=t["range"].split(" ")[0],
                           help=t["help_correct" if t["correct"] else "help_auto"].replace("%", "%%"))
    return p


def main(argv=None):
    """The command line; returns the exit status: 0 all corrected, 1 some
    file failed, 2 a usage error, 130 stopped by Ctrl-C."""
    args = _parser().parse_args(argv)
    settings = {k[len("setting_"):]: v for k, v in vars(args).items() if k.startswith("setting_") and v is not None}
    client = None
    try:
        if args.scheduler:
            from dask.distributed import Client

            client = Client(args.scheduler)
        reports = correct_files(args.inputs, args.dir, client=client, command=args.command, quality=args.quality,
                                overwrite=args.overwrite, workers=args.workers, **settings)
    except ValueError as e:
        print(f"lumarex.batch: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("lumarex.batch: stopped; files still being written were not put in place", file=sys.stderr)
        return 130
    finally:
        if client is not None:
            client.close()
    for r in reports:
        if not r.ok:
            print(r, file=sys.stderr)
        elif not args.quiet:
            print(f"{r}  ({r.seconds:.2f} s)")
    return 0 if all(r.ok for r in reports) else 1


if __name__ == "__main__":
    # Run from the imported module, so that what travels to the workers
    # (the task function, the reports) is lumarex.batch's, not __main__'s.
    from lumarex.batch import main as _main

    sys.exit(_main())
