#!/usr/bin/python3
"""The yardstick for quillex-export: the levels a user would compute with plain numpy.

    numpy_yardstick.py RECORDING.spk [EXPONENT]

For every record of the file (16392 bytes: an 8-byte stamp, then 8192 int16 samples):
the first 2N samples times 2, a Hann window, a real FFT, the magnitudes of bins
0 .. N-1 scaled by 1/N, and 20*log10(m / 16384 + 1e-9) in dBm. Frames are processed a
thousand at a time, so memory stays bounded. Prints the frame count and a checksum.
"""
import sys

import numpy as np

RECORD = 16392


def main():
    path = sys.argv[1]
    n = 1 << (int(sys.argv[2]) if len(sys.argv) > 2 else 12)
    data = np.memmap(path, dtype=np.uint8, mode="r")
    records = data.size // RECORD
    window = (0.5 - 0.5 * np.cos(2 * np.pi * np.arange(2 * n) / (2 * n))).astype(np.float32)
    total = 0.0
    for first in range(0, records, 1000):
        chunk = np.asarray(data[first * RECORD:min(records, first + 1000) * RECORD])
        chunk = chunk.reshape(-1, RECORD)[:, 8:8 + 4 * n].view("<i2")
        x = chunk.astype(np.float32) * 2 * window
        m = np.abs(np.fft.rfft(x, axis=1)[:, :n]) / n
        levels = 20 * np.log10(m / 16384 + 1e-9)
        total += float(levels[:, n // 2].sum())
    print(records, total)


if __name__ == "__main__":
    main()
