# SPDX-License-Identifier: MIT
# The module against the command (same pixels, same checks before any work),
# and the GIL, progress, stop, re-entry and out-of-memory behaviour.
import json
import re
import os
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
import zlib

import numpy as np
import pytest

import lumarex
from conftest import QUALITY_SAMPLES, read_pixels, samples, scene, write_image
from icc_profiles import DISPLAY_P3, display_profile, in_display_p3, with_png_profile


# --- the same pixels as the command --------------------------------------------

@pytest.mark.parametrize("sample, opts", [("s01_tungsten_indoor_wine.jpg", {}), (
    "s03_hazy_lifted_blacks_bridge.jpg", {"cast": "on", "cast_method": "average", "black_clip": 0.5,
                                          "target": 65, "local_contrast": False, "sharpen": 1, "look": "contrast"})])
def test_auto_and_its_settings_give_the_commands_pixels(sample, opts, run, tmp_path):
    path = samples(sample)[0]
    args = [a for k, v in opts.items() for a in ("--" + k.replace("_", "-"), {False: "off"}.get(v, v))]
    run("auto", path, "-o", tmp_path / "cmd.png", *args)
    assert np.array_equal(lumarex.auto(lumarex.read_photo(path), **opts), read_pixels(tmp_path / "cmd.png"))


def test_correct_of_16_bit_whole_and_region_as_the_command(run, tmp_path):
    path = samples("s06*")[0]
    photo, profile = lumarex.read_photo(path, bits=16, with_profile=True)
    assert photo.dtype == np.uint16 and profile is not None  # its own, a Rec. 2020 one
    run("correct", path, "-o", tmp_path / "whole.png", "--brighten", "80")
    run("correct", path, "-o", tmp_path / "part.png", "--region", "100,50,300,200")
    with lumarex.analyse(photo, profile=profile) as a:
        assert np.array_equal(a.apply(brighten=80), read_pixels(tmp_path / "whole.png"))
        part = a.apply(region=(100, 50, 300, 200))
        assert part.shape == (200, 300, 3) and part.dtype == np.uint16
        assert np.array_equal(part, read_pixels(tmp_path / "part.png"))
    with pytest.raises(ValueError, match="no such file"):
        lumarex.read_photo(tmp_path / "missing.jpg")


def test_a_frame_is_kept_and_the_photo_inside_analysed_alone(run, tmp_path):
    # A black letterbox around the tungsten room: the record and the pixels
    # inside are those of the room alone, the bars stay black, and the
    # command does the same to the file.
    room = lumarex.read_photo(samples("s01*")[0])[::4, ::4].copy()
    framed = np.zeros((room.shape[0] + 60, room.shape[1], 3), np.uint8)
    framed[30:-30] = room
    with lumarex.analyse(framed) as a, lumarex.analyse(room) as alone:
        mine, its = a.record, alone.record
        reasons = mine.pop("choice")["reasons"]
        assert reasons[0].startswith("frame: 0, 30, 0 and 30 pixels") and reasons[1:] == its.pop("choice")["reasons"]
        assert mine == its
        out = a.apply()
        assert np.array_equal(out[30:-30], alone.apply()) and not out[:30].any() and not out[-30:].any()
    run("correct", write_image(tmp_path / "framed.png", framed), "-o", tmp_path / "cmd.png")
    assert np.array_equal(read_pixels(tmp_path / "cmd.png"), out)


def test_a_photos_profile_is_measured_in_as_the_command_does(run, tmp_path):
    # The raspberries in Display P3's numbers, with the profile that says so:
    # given the profile read_photo hands back, the module chooses as the
    # command does for the file (low key, left alone); measured as sRGB, the
    # photo would be lifted fully.
    p3 = display_profile("Display P3 for the tests", DISPLAY_P3)
    path = write_image(tmp_path / "p3.png", in_display_p3(lumarex.read_photo(QUALITY_SAMPLES / "u14_raspberries_red.jpg")))
    with_png_profile(path, p3)
    run("auto", path, "-o", tmp_path / "cmd.png")
    photo, profile = lumarex.read_photo(path, with_profile=True)
    assert profile == p3
    assert np.array_equal(lumarex.auto(photo, profile=profile), read_pixels(tmp_path / "cmd.png"))
    assert not np.array_equal(lumarex.auto(photo), read_pixels(tmp_path / "cmd.png"))
    assert lumarex.read_photo(samples("s01*")[0], with_profile=True)[1] is None
    with pytest.raises(TypeError, match="profile must be bytes"):
        lumarex.auto(photo, profile="Display P3")


def test_the_module_exports_its_entry_point_only():
    names = subprocess.run(["nm", "-D", "--defined-only", lumarex._lumarex.__file__], capture_output=True,
                           text=True, check=True).stdout.split()
    assert [n for n in names if not re.fullmatch(r"[0-9a-f]+|[A-Za-z]", n)] == ["PyInit__lumarex"]


def test_record_holds_what_lumarex_analyse_prints(run, tmp_path):
    path = tmp_path / 'a "quoted" \\ name.jpg'  # a name that JSON must escape
    shutil.copy(samples("s08*")[0], path)
    p = run("analyse", path, tmp_path / "missing.png", check=False)
    assert p.returncode == 1 and "missing.png: no such file" in p.stderr
    printed = json.loads(p.stdout)
    assert len(printed) == 1 and printed[0].pop("file") == str(path)
    with lumarex.analyse(lumarex.read_photo(path)) as a:
        assert a.record == printed[0]
        assert list(a.record) == list(printed[0])


# --- arrays -----------------------------------------------------------------------

def test_strided_views_and_out_give_the_contiguous_result():
    img = scene(60, 80)
    bgr = np.ascontiguousarray(img[..., ::-1])
    flipped = bgr[..., ::-1]  # a view of negative channel stride
    assert np.array_equal(lumarex.auto(flipped), lumarex.auto(img))
    crop = img[10:50:2, 5:70]
    assert np.array_equal(lumarex.auto(crop), lumarex.auto(np.ascontiguousarray(crop)))
    before = img.copy()
    out = np.zeros((80, 60, 3), np.uint8).transpose(1, 0, 2)  # strided out
    assert lumarex.auto(img, out=out) is out
    assert np.array_equal(out, lumarex.auto(img))
    assert np.array_equal(img, before)
    calls = []
    with pytest.raises(ValueError, match="out must have the result's shape 60x80x3"):
        lumarex.auto(img, out=np.zeros((60, 81, 3), np.uint8), progress=calls.append)
    assert calls == []


@pytest.mark.parametrize("image, error, text", [
    (np.zeros((8, 8, 3), np.uint16), TypeError, "uint8"),
    ([[[0, 0, 0]]], TypeError, "numpy array"),
    (np.zeros((8, 8), np.uint8), ValueError, "height x width x 3"),
    (np.zeros((8, 8, 4), np.uint8), ValueError, r"\(8, 8, 4\)"),
    (np.zeros((0, 8, 3), np.uint8), ValueError, "rows and columns"),
    (np.zeros((8, 0, 3), np.uint8), ValueError, "rows and columns"),
])
def test_wrong_arrays_are_refused_before_any_work(image, error, text):
    calls = []
    with pytest.raises(error, match=text):
        lumarex.auto(image, progress=calls.append)
    assert calls == []


@pytest.mark.parametrize("settings, error, text", [
    ({"cast_method": "greyworld"}, ValueError, "'cast_method' expects nearest|box|adaptive|average"),
    ({"blackclip": 1}, ValueError, "unknown setting 'blackclip'"),
    ({"denoise": 2}, ValueError, "unknown setting 'denoise' for auto"),
    ({"sharpen": np.array(1.0)}, TypeError, "'sharpen' takes a number or a word, got ndarray"),
    ({"black_clip": np.int64(6)}, ValueError, "'black_clip' must be between 0 and 5, got '6'"),
    ({"target": np.uint8(62)}, ValueError, "'target' must be a multiple of 5, got '62'"),
    ({"black_clip": 0.3, "black-clip": 0.5}, ValueError, "'black-clip' given twice \\(also as 'black_clip'\\)"),
])
def test_wrong_settings_are_refused_naming_them(settings, error, text):
    calls = []
    with pytest.raises(error, match=text):
        lumarex.auto(scene(8, 8), progress=calls.append, **settings)
    assert calls == []


def test_words_booleans_and_numpy_scalars_are_the_values_they_stand_for():
    img = scene(120, 160)
    assert np.array_equal(lumarex.auto(img, local_contrast=False), lumarex.auto(img, local_contrast="off"))
    assert np.array_equal(lumarex.auto(img, cast=True), lumarex.auto(img, cast="on"))
    assert np.array_equal(lumarex.auto(img, black_clip=0.3), lumarex.auto(img, black_clip="0.3"))
    base = {"cast": "on", "key": "off"}  # the cast and the lift as measured, whatever the photo
    default = lumarex.auto(img, **base)
    for keyword, value in [("flatten", np.bool_(True)), ("sharpen", np.int64(3)), ("shadow_floor", np.uint8(30)),
                           ("cast_strength", np.float32(0.3)), ("warm_tone", np.float16(0.5))]:
        python = value.item()  # the Python bool, int or float it stands for
        mine = lumarex.auto(img, **base, **{keyword: value})
        assert np.array_equal(mine, lumarex.auto(img, **base, **{keyword: python})), keyword
        assert not np.array_equal(mine, default), f"{keyword}={value!r} changed nothing"
    # A float32 is the float it holds, 0.30000001192..., on the step of 0.1.
    assert np.array_equal(lumarex.auto(img, black_clip=np.float32(0.3)), lumarex.auto(img, black_clip=0.3))


# --- analysis -----------------------------------------------------------------

def test_analysis_checks_its_image_region_and_life():
    img = scene(40, 50, dtype=np.uint16)
    a = lumarex.analyse(img)
    assert a.bits == 16 and a.record["width"] == 50 and a.record["height"] == 40
    a.record["width"] = 7  # the caller's copy, not the analysis'
    assert a.record["width"] == 50
    with pytest.raises(TypeError, match="analysed picture's dtype .40x50x3, uint16"):
        a.apply(scene(40, 50))
    with pytest.raises(ValueError, match="analysed picture's shape .40x50x3, uint16"):
        a.apply(scene(40, 51, dtype=np.uint16))
    with pytest.raises(ValueError, match="leaves the 50x40 photo"):
        a.apply(region=(40, 0, 20, 10))
    with pytest.raises(ValueError, match="leaves the 50x40 photo"):  # before the memory it would need
        a.apply(region=(0, 0, 10**6, 10**6))
    with pytest.raises(ValueError, match="unknown setting 'min_brighten' for correct"):
        a.apply(min_brighten=0)
    # Another picture of the same size corrected with this analysis.
    assert a.apply(img).shape == img.shape
    a.close()
    with pytest.raises(ValueError, match="closed"):
        a.apply()


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_close_gives_back_the_working_copy_while_the_analysis_is_still_held():
    img = scene(3000, 4000, dtype=np.uint16)  # 72 MB
    a = lumarex.analyse(img)
    del img
    held = resident_bytes()
    a.close()
    assert held - resident_bytes() > 60e6


# --- files --------------------------------------------------------------------

def test_read_photo_takes_the_path_as_the_process_sees_it_now(tmp_path, monkeypatch):
    # The reader is a process of its own, started once: a relative path
    # after os.chdir still names the file in the new folder.
    for name, sample in (("first", "s01*"), ("second", "s03*")):
        (tmp_path / name).mkdir()
        shutil.copy(samples(sample)[0], tmp_path / name / "x.jpg")
    monkeypatch.chdir(tmp_path / "first")
    first = lumarex.read_photo("x.jpg")
    monkeypatch.chdir(tmp_path / "second")
    assert np.array_equal(lumarex.read_photo("x.jpg"), lumarex.read_photo(tmp_path / "second" / "x.jpg"))
    assert lumarex.read_photo(b"x.jpg").shape != first.shape
    # A name that is not UTF-8, as os.listdir gives it, is read; the message
    # of one missing names it with the bytes escaped.
    odd = os.fsdecode(b"lat\xe9.jpg")
    shutil.copy("x.jpg", odd)
    assert lumarex.read_photo(odd).shape == lumarex.read_photo("x.jpg").shape
    with pytest.raises(ValueError, match=r"^gone\\xe9\.jpg: no such file"):
        lumarex.read_photo(os.fsdecode(b"gone\xe9.jpg"))
    # As open() takes paths: a NUL is refused rather than cutting the name.
    with pytest.raises(ValueError, match="embedded null byte"):
        lumarex.read_photo("x.jpg\0.png")
    with pytest.raises(TypeError):
        lumarex.read_photo(None)


# --- the GIL, progress, stopping and callbacks ------------------------------------

def test_progress_rises_to_one_and_true_cancels_leaving_input_untouched():
    img = scene(120, 160)
    seen = []
    lumarex.auto(img, progress=seen.append)
    assert seen == sorted(seen) and seen[-1] == pytest.approx(1.0) and len(seen) >= 12
    before = img.copy()
    out = np.full_like(img, 7)
    with pytest.raises(lumarex.Cancelled):
        lumarex.auto(img, out=out, progress=lambda done: done > 0.3)
    assert np.array_equal(img, before) and (out == 7).all()
    # Something that cannot be called is refused before any work, not at
    # the first step.
    for call in (lambda: lumarex.auto(img, progress=5), lambda: lumarex.analyse(img, progress="x"),
                 lambda: lumarex.read_photo(samples("s01*")[0], progress=[])):
        with pytest.raises(TypeError, match="progress must be callable or None"):
            call()


def test_ctrl_c_stops_at_the_next_step():
    img = scene(1500, 2000)
    before = img.copy()
    seen = []
    started = threading.Event()

    def progress(done):
        seen.append(done)
        started.set()

    def interrupt():
        started.wait(30)
        os.kill(os.getpid(), signal.SIGINT)

    t = threading.Thread(target=interrupt)
    t.start()
    with pytest.raises(KeyboardInterrupt):
        lumarex.auto(img, progress=progress)
    t.join()
    assert len(seen) <= 3 and np.array_equal(img, before)


def test_the_gil_is_free_and_a_callback_may_not_close_or_reapply_its_own_analysis():
    # Held (no callback hands it back), the GIL would leave this loop a turn
    # or two in a call of a quarter of a second or more; free, it turns every
    # millisecond or few.
    worker = threading.Thread(target=lumarex.auto, args=(scene(1500, 2000),))
    ticks, start = 0, time.perf_counter()
    worker.start()
    while worker.is_alive():
        ticks += 1
        time.sleep(0.001)
    assert ticks > 20, f"{ticks} turns in {time.perf_counter() - start:.2f} s"
    # From its own apply()'s callback both would wait for ever: refused, and
    # caught there, the outer call finishes as it would have.
    a = lumarex.analyse(scene(120, 160))
    expected, refused = a.apply(brighten=20), []

    def progress(done):
        for method in ("close", "apply"):
            with pytest.raises(RuntimeError, match=rf"^Analysis\.{method}\(\) called from inside its own apply\(\)'s "
                                                   r"progress callback; call it after apply\(\) returns$"):
                getattr(a, method)()
        refused.append(done)

    # Bounded: a regression into the wait would hang here, not in CTest.
    result = {}

    def reapply():
        try:
            result["image"] = a.apply(brighten=20, progress=progress)
        except BaseException as e:  # raised again in the test's own thread below
            result["error"] = e

    t = threading.Thread(target=reapply, daemon=True)
    t.start()
    t.join(60)
    assert not t.is_alive(), "apply() did not return in 60 s: close()/apply() from its callback waited for it"
    try:
        if "error" in result:
            raise result["error"]
        assert np.array_equal(result["image"], expected)
        assert len(refused) >= 6 and not a.closed
    finally:
        a.close()


def test_callbacks_on_two_threads_that_apply_each_others_analysis_do_not_wait_for_ever():
    # Thread 1 inside A's apply() calls B's, thread 2 inside B's calls A's:
    # each would wait for the other. The second to wait is refused; its
    # apply() stops with the error, and the first then finishes.
    a, b = lumarex.analyse(scene(120, 160)), lumarex.analyse(scene(120, 160, seed=2))
    both_inside = threading.Barrier(2, timeout=30)
    results = {}

    def run(name, mine, other):
        asked = []

        def progress(done):
            if not asked:
                asked.append(done)
                both_inside.wait()
                other.apply(brighten=10)

        try:
            results[name] = mine.apply(progress=progress)
        except BaseException as e:
            results[name] = e

    threads = [threading.Thread(target=run, args=(n, m, o), daemon=True) for n, m, o in (("a", a, b), ("b", b, a))]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert not any(t.is_alive() for t in threads), "the two apply() calls waited for each other"
    errors = [r for r in results.values() if isinstance(r, BaseException)]
    assert len(errors) == 1 and isinstance(errors[0], RuntimeError), results
    assert "would wait for a call on another thread that waits for this thread's own call" in str(errors[0])
    assert sum(isinstance(r, np.ndarray) for r in results.values()) == 1
    a.close(), b.close()


# --- running out of memory ----------------------------------------------------------------

SIZE = r"(about )?\d+(\.\d)? (bytes|kB|MB|GB|TB)"
HUGE = (900_000, 900_000, 3)  # 2.4 TB a copy at 8 bits, checked before any is taken


def png_header(path, width, height):
    """A PNG that declares width x height pixels and holds none."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                     chunk(b"IDAT", zlib.compress(b"")) + chunk(b"IEND", b""))
    return path


@pytest.mark.parametrize("call, what", [
    (lambda progress, folder: lumarex.auto(np.broadcast_to(np.zeros(3, np.uint8), HUGE), progress=progress),
     "the correction of a 900000 x 900000 x 3 uint8 photo"),
    (lambda progress, folder: lumarex.analyse(np.broadcast_to(np.zeros(3, np.uint16), HUGE), progress=progress),
     "the analysis of a 900000 x 900000 x 3 uint16 photo"),
    (lambda progress, folder: lumarex.detect_noise(np.broadcast_to(np.zeros(3, np.uint8), HUGE)),
     "the noise measurement of a 900000 x 900000 x 3 uint8 photo"),
    (lambda progress, folder: lumarex.read_photo(png_header(folder / "huge.png", 900_000, 900_000),
                                                 progress=progress),
     "reading .*huge.png \\(a 900000 x 900000 x 3 uint8 photo\\)"),
])
def test_a_photo_larger_than_the_machine_is_refused_naming_its_size(call, what, tmp_path):
    calls = []
    with pytest.raises(MemoryError, match=f"^cannot allocate about \\d+\\.\\d TB for {what}: "
                                          r"more than the machine's \d+\.\d [GT]B of memory$"):
        call(calls.append, tmp_path)
    assert calls == []


# Run in a child whose address space is capped a little above what it uses,
# raised step by step: each call either gives the right pixels or fails with
# a MemoryError naming the size and what it was for, wherever the cap falls
# (a copy, the library's blocks, the result array). The child's malloc gives
# freed blocks back at once, so that what it has mapped is what it uses.
CAPPED = r"""
import json, resource, sys
import numpy as np
sys.path.insert(0, sys.argv[1])
import lumarex
from conftest import scene

img = scene(600, 800)
expected = {"auto": lumarex.auto(img)}
a = lumarex.analyse(img)
expected["apply"] = a.apply(brighten=40)
expected["analyse"] = lumarex.analyse(img).apply(brighten=40)
calls = {"auto": lambda: lumarex.auto(img), "apply": lambda: a.apply(brighten=40),
         "analyse": lambda: lumarex.analyse(img).apply(brighten=40)}

def mapped():
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))

_, hard = resource.getrlimit(resource.RLIMIT_AS)
base = mapped()
seen = []
for extra in list(range(0, 16 << 20, 256 << 10)) + [400 << 20]:
    for name, call in calls.items():
        resource.setrlimit(resource.RLIMIT_AS, (base + extra, hard))
        try:
            outcome = "ok" if np.array_equal(call(), expected[name]) else "wrong pixels"
        except MemoryError as e:
            outcome = "MemoryError: " + str(e)
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
        seen.append([name, extra, outcome])
print(json.dumps(seen))
"""


def test_every_memory_error_says_how_much_and_what_for():
    here = os.path.dirname(os.path.abspath(__file__))
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_="65536", MALLOC_TRIM_THRESHOLD_="65536", MALLOC_ARENA_MAX="1")
    p = subprocess.run([sys.executable, "-c", CAPPED, here], capture_output=True, text=True, timeout=240, env=env)
    assert p.returncode == 0, p.stderr
    seen = json.loads(p.stdout)
    failures = [o for _, _, o in seen if o != "ok"]
    for outcome in failures:
        assert re.fullmatch(f"MemoryError: cannot allocate {SIZE}( \\(a block of the library's working memory\\))? "
                            r"for the (correction|analysis|working copy|corrected copy|result).* photo",
                            outcome), outcome
    for name in ("auto", "apply", "analyse"):
        assert any(n == name and o != "ok" for n, _, o in seen), f"{name} never ran out: the cap is too loose"
        assert [o for n, _, o in seen if n == name][-1] == "ok"
    # The cap fell on more than one kind of allocation.
    assert len({re.sub(r"^.*? for (the \w+).*$", r"\1", o) for o in failures}) >= 2, failures


def children(pid, name=None):
    """The processes whose parent is `pid` (named `name`, if given)."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except (OSError, ValueError):
            continue
        comm, rest = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 1:].split()
        if int(rest[1]) == pid and (name is None or comm == name):
            found.append(int(entry))
    return found


def test_a_decoder_that_crashes_or_hangs_costs_that_file_not_the_interpreter(tmp_path):
    # Large enough that reading it lasts well past the first progress call.
    photo = write_image(tmp_path / "big.png", scene(2400, 3200, 5))
    expected = lumarex.read_photo(photo)
    (zygote,) = children(os.getpid(), "lumarex-reader")
    assert children(zygote) == []

    def on_reader(act):
        """A progress callback that does `act` to the photo's reader once."""
        done = []

        def progress(_):
            if not done:
                (reader,) = children(zygote)
                done.append(act(reader))
            return done[0]
        return progress

    crash = on_reader(lambda reader: os.kill(reader, signal.SIGSEGV))
    with pytest.raises(ValueError, match=r"big\.png: reading it crashed the image decoder \(SIGSEGV\); "
                                         r"the file is likely damaged"):
        lumarex.read_photo(photo, progress=crash)
    r = lumarex._lumarex.correct_file(str(photo), str(tmp_path / "out.png"), "auto", 95, 200.0, 0.0,
                                      on_reader(lambda reader: os.kill(reader, signal.SIGABRT)), {})
    assert not r["ok"] and "crashed the image decoder (SIGABRT)" in r["error"]
    assert not (tmp_path / "out.png").exists()
    # A reader that hangs: the caller stops waiting, and it is ended.
    with pytest.raises(lumarex.Cancelled):
        lumarex.read_photo(photo, progress=on_reader(lambda reader: os.kill(reader, signal.SIGSTOP) or True))
    assert children(zygote) == []
    # The zygote killed: the next photo starts another.
    os.kill(zygote, signal.SIGKILL)
    assert np.array_equal(lumarex.read_photo(photo), expected)
    assert children(os.getpid(), "lumarex-reader") not in ([], [zygote])


def test_ctrl_c_stops_a_read_whose_reader_does_not_answer(tmp_path):
    photo = samples("s03*")[0]
    out = tmp_path / "out.png"
    expected = lumarex.read_photo(photo)
    (zygote,) = children(os.getpid(), "lumarex-reader")
    # A zygote that forks no reader (stopped here) is waited for only until
    # Ctrl-C, by a read and by a batch's worker.
    reads = [lambda: lumarex.read_photo(photo),
             lambda: lumarex._lumarex.correct_file(str(photo), str(out), "auto", 95, 200.0, 0.0, None, {})]
    for read in reads:
        os.kill(zygote, signal.SIGSTOP)
        # Let go after 5 s, so that a read deaf to Ctrl-C fails rather than hangs.
        release = threading.Timer(5, os.kill, (zygote, signal.SIGCONT))
        try:
            release.start()
            timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
            timer.start()
            start = time.monotonic()
            with pytest.raises(KeyboardInterrupt):
                read()
            assert time.monotonic() - start < 4
            timer.join()
        finally:
            release.cancel()
            os.kill(zygote, signal.SIGCONT)
    assert not out.exists()
    assert np.array_equal(lumarex.read_photo(photo), expected)
    assert children(zygote) == []
