# SPDX-License-Identifier: MIT
# The module against the command: the same pixels for the same file and
# settings, the command's checks on settings and arrays before any work, and
# the GIL, progress and stop behaviour a script relies on.
import json
import os
import signal
import threading
import time

import numpy as np
import pytest

import lumarex
from conftest import read_pixels, samples, scene, write_image


# --- the same pixels as the command --------------------------------------------

@pytest.mark.parametrize("sample", [p.name for p in samples("*.jpg")])
def test_auto_gives_the_commands_pixels(sample, run, tmp_path):
    path = samples(sample)[0]
    run("auto", path, "-o", tmp_path / "cmd.png")
    assert np.array_equal(lumarex.auto(lumarex.read_photo(path)), read_pixels(tmp_path / "cmd.png"))


def test_settings_reach_the_correction_as_the_commands_options(run, tmp_path):
    path = samples("s03*")[0]
    opts = {"cast": "on", "cast_method": "average", "black_clip": 0.5, "target": 65, "local_contrast": False,
            "sharpen": 1, "look": "contrast"}
    args = []
    for k, v in opts.items():
        args += ["--" + k.replace("_", "-"), {False: "off"}.get(v, v)]
    run("auto", path, "-o", tmp_path / "cmd.png", *args)
    mine = lumarex.auto(lumarex.read_photo(path), **opts)
    assert np.array_equal(mine, read_pixels(tmp_path / "cmd.png"))
    assert not np.array_equal(mine, lumarex.auto(lumarex.read_photo(path)))


def test_correct_of_16_bit_whole_and_region_as_the_command(run, tmp_path):
    path = samples("s06*")[0]
    photo = lumarex.read_photo(path, bits=16)
    assert photo.dtype == np.uint16
    run("correct", path, "-o", tmp_path / "whole.png", "--brighten", "80")
    run("correct", path, "-o", tmp_path / "part.png", "--region", "100,50,300,200")
    with lumarex.analyse(photo) as a:
        assert np.array_equal(a.apply(brighten=80), read_pixels(tmp_path / "whole.png"))
        part = a.apply(region=(100, 50, 300, 200))
        assert part.shape == (200, 300, 3) and part.dtype == np.uint16
        assert np.array_equal(part, read_pixels(tmp_path / "part.png"))


def test_record_holds_what_lumarex_analyse_prints(run):
    path = samples("s08*")[0]
    printed = json.loads(run("analyse", path).stdout)[0]
    del printed["file"]
    with lumarex.analyse(lumarex.read_photo(path)) as a:
        assert a.record == printed
        assert list(a.record) == list(printed)


def test_read_photo_turns_a_photo_upright_as_the_command_does(tmp_path):
    stored = scene(20, 30)
    write_image(tmp_path / "turned.tif", stored, Orientation=6)
    shown = lumarex.read_photo(tmp_path / "turned.tif")
    # Orientation 6: the stored picture turned 90 degrees clockwise.
    assert shown.shape == (30, 20, 3)
    assert np.array_equal(shown, np.rot90(stored, k=-1))
    with pytest.raises(ValueError, match="no such file"):
        lumarex.read_photo(tmp_path / "missing.jpg")


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
    (np.zeros((8, 8, 3), np.float32), TypeError, "uint8"),
    (np.zeros((8, 8, 3), np.uint16), TypeError, "uint8"),
    ([[[0, 0, 0]]], TypeError, "numpy array"),
    (np.zeros((8, 8), np.uint8), ValueError, "height x width x 3"),
    (np.zeros((8, 8, 4), np.uint8), ValueError, r"\(8, 8, 4\)"),
    (np.zeros((0, 8, 3), np.uint8), ValueError, "rows and columns"),
])
def test_wrong_arrays_are_refused_before_any_work(image, error, text):
    calls = []
    with pytest.raises(error, match=text):
        lumarex.auto(image, progress=calls.append)
    assert calls == []


@pytest.mark.parametrize("settings, error, text", [
    ({"black_clip": 6}, ValueError, "'black_clip' must be between 0 and 5, got '6'"),
    ({"black_clip": 0.15}, ValueError, "'black_clip' must be a multiple of 0.1"),
    ({"target": 62}, ValueError, "'target' must be a multiple of 5"),
    ({"cast_method": "greyworld"}, ValueError, "'cast_method' expects nearest|box|adaptive|average"),
    ({"blackclip": 1}, ValueError, "unknown setting 'blackclip'"),
    ({"denoise": 2}, ValueError, "unknown setting 'denoise' for auto"),
    ({"sharpen": [1]}, TypeError, "'sharpen' takes a number or a word"),
])
def test_wrong_settings_are_refused_naming_them(settings, error, text):
    calls = []
    with pytest.raises(error, match=text):
        lumarex.auto(scene(8, 8), progress=calls.append, **settings)
    assert calls == []


def test_words_numbers_and_booleans_are_the_commands_values():
    img = scene(40, 50)
    assert np.array_equal(lumarex.auto(img, local_contrast=False), lumarex.auto(img, local_contrast="off"))
    assert np.array_equal(lumarex.auto(img, cast=True), lumarex.auto(img, cast="on"))
    assert np.array_equal(lumarex.auto(img, black_clip=0.3), lumarex.auto(img, black_clip="0.3"))


# --- analysis, noise, version, help -------------------------------------------------

def test_analysis_checks_its_image_region_and_life():
    img = scene(40, 50, dtype=np.uint16)
    a = lumarex.analyse(img)
    assert a.bits == 16 and a.record["width"] == 50 and a.record["height"] == 40
    with pytest.raises(ValueError, match="analysed picture's shape"):
        a.apply(scene(40, 50))
    with pytest.raises(ValueError, match="leaves the 50x40 photo"):
        a.apply(region=(40, 0, 20, 10))
    with pytest.raises(ValueError, match="unknown setting 'min_brighten' for correct"):
        a.apply(min_brighten=0)
    # Another picture of the same size corrected with this analysis.
    assert a.apply(img).shape == img.shape
    a.close()
    with pytest.raises(ValueError, match="closed"):
        a.apply()


def test_one_analysis_applied_from_two_threads_with_callbacks():
    img = scene(300, 400)
    results = {}
    with lumarex.analyse(img) as a:
        def go(k):
            results[k] = a.apply(brighten=20 * k, progress=lambda done: time.sleep(0.001))
        threads = [threading.Thread(target=go, args=(k,), daemon=True) for k in (1, 2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        assert not any(t.is_alive() for t in threads), "the two calls wait on each other"
        assert np.array_equal(results[1], a.apply(brighten=20))
        assert np.array_equal(results[2], a.apply(brighten=40))


def test_detect_noise_measures_without_changing_the_picture():
    img = scene(64, 64)
    before = img.copy()
    assert lumarex.detect_noise(img, denoise=2) is True
    assert np.array_equal(img, before)
    with pytest.raises(ValueError, match="unknown setting 'sharpen' for detect_noise"):
        lumarex.detect_noise(img, sharpen=1)


def test_version_and_help_read_like_the_command(run):
    assert run("--version").stdout.startswith(f"lumarex {lumarex.version()} (")
    doc = lumarex.auto.__doc__
    assert "black_clip=0..5 in steps of 0.1" in doc
    assert "Share of the darkest samples set to pure black" in doc and "Default: 0.1." in doc
    assert "min_brighten=" in doc and "denoise=" not in doc
    assert "denoise=-1..4" in lumarex.Analysis.apply.__doc__


# --- the GIL, progress and stopping ---------------------------------------------------

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


def test_the_gil_is_free_while_the_library_works():
    img = scene(1500, 2000)
    done = threading.Event()
    worker = threading.Thread(target=lambda: (lumarex.auto(img), done.set()))
    ticks = 0
    start = time.perf_counter()
    worker.start()
    while not done.is_set():
        ticks += 1
        time.sleep(0.001)
    worker.join()
    # Held, the GIL would leave this loop a handful of turns in the call's
    # time; free, it turns about once a millisecond.
    assert ticks > 0.3 * (time.perf_counter() - start) * 1000
