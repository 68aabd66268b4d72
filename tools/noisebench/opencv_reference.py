#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""OpenCV's denoisers on the noise benchmark's cases, for comparison.

    build/tools/noisebench/lumarex_noisebench --export /tmp/noisecases
    /usr/bin/python3 tools/noisebench/opencv_reference.py /tmp/noisecases

Needs Debian's python3-opencv (apt-get install python3-opencv); it is not a
build dependency. Each case of cases.txt (clean file, noisy file, case
name, true noise deviation per channel) goes through

  - fastNlMeansDenoisingColored with h = hColor = the true deviation (which
    our library is not told), 7 x 7 patches, 21 x 21 search window;
  - bilateralFilter, 9 pixels across, colour sigma twice the true deviation,
    space sigma 3.

Both run on one thread. PSNR and SSIM are computed as lumarex_noisebench computes them: PSNR over
every sample; SSIM with an 11 x 11 Gaussian window of deviation 1.5, K1 0.01,
K2 0.03, over pixels at least 5 from the border, averaged over R, G, B.
"""
import os
import sys
import time

import cv2
import numpy as np


def psnr(clean, img):
    mse = np.mean((clean.astype(np.float64) - img.astype(np.float64)) ** 2)
    return 99.0 if mse == 0 else 10.0 * np.log10(255.0 * 255.0 / mse)


def ssim(clean, img):
    k = np.exp(-np.arange(-5, 6) ** 2 / (2.0 * 1.5 * 1.5))
    k = (k / k.sum()).reshape(-1, 1)
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2

    def blur(x):  # only pixels whose whole window is inside are kept
        return cv2.sepFilter2D(x, cv2.CV_64F, k, k, borderType=cv2.BORDER_REFLECT)[5:-5, 5:-5]

    total = 0.0
    for c in range(3):
        a = clean[..., c].astype(np.float64)
        b = img[..., c].astype(np.float64)
        ma, mb = blur(a), blur(b)
        va, vb, cov = blur(a * a) - ma * ma, blur(b * b) - mb * mb, blur(a * b) - ma * mb
        total += np.mean(((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2)))
    return total / 3.0


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: opencv_reference.py EXPORT_DIR (from lumarex_noisebench --export)")
    folder = sys.argv[1]
    cv2.setNumThreads(1)  # MP/s on one thread, as the library runs
    rows, seconds, megapixels = [], {"nlm": 0.0, "bilateral": 0.0}, 0.0
    with open(os.path.join(folder, "cases.txt")) as cases:
        for line in cases:
            clean_name, noisy_name, case, sigma = line.split()
            sigma = float(sigma)
            clean = cv2.imread(os.path.join(folder, clean_name), cv2.IMREAD_COLOR)
            noisy = cv2.imread(os.path.join(folder, noisy_name), cv2.IMREAD_COLOR)
            megapixels += clean.shape[0] * clean.shape[1] * 1e-6
            t0 = time.perf_counter()
            nlm = cv2.fastNlMeansDenoisingColored(noisy, None, sigma, sigma, 7, 21)
            t1 = time.perf_counter()
            bilateral = cv2.bilateralFilter(noisy, 9, 2.0 * sigma, 3.0)
            t2 = time.perf_counter()
            seconds["nlm"] += t1 - t0
            seconds["bilateral"] += t2 - t1
            rows.append((noisy_name.split("_")[0], case, psnr(clean, noisy), ssim(clean, noisy), psnr(clean, nlm),
                         ssim(clean, nlm), psnr(clean, bilateral), ssim(clean, bilateral)))
            print(f"{rows[-1][0]} {case}", file=sys.stderr, flush=True)

    print("| photo | noise | noisy | OpenCV non-local means | OpenCV bilateral |")
    print("|---|---|---|---|---|")
    for r in rows:
        print(f"| {r[0]} | {r[1]} | {r[2]:.2f} / {r[3]:.3f} | {r[4]:.2f} / {r[5]:.3f} | {r[6]:.2f} / {r[7]:.3f} |")
    print()
    print("| filter | mean PSNR gain (dB) | least gain (dB) | mean SSIM gain | MP/s |")
    print("|---|---|---|---|---|")
    for name, col in (("nlm", 4), ("bilateral", 6)):
        gains = [r[col] - r[2] for r in rows]
        ssim_gains = [r[col + 1] - r[3] for r in rows]
        print(f"| {name} | {np.mean(gains):.2f} | {np.min(gains):.2f} | {np.mean(ssim_gains):.3f} "
              f"| {megapixels / seconds[name]:.1f} |")


if __name__ == "__main__":
    main()
