"""The machine's own two-process ceiling, printed beside every figure of two workers: how
much faster two processes of pure arithmetic finish than one, measured in the same run."""
import multiprocessing
import time


def spin(rounds=3_000_000):
    total = 0
    for number in range(rounds):
        total += number * number % 7
    return total


def machine_scaling():
    """How much faster two processes of pure arithmetic finish than one: the most two
    workers can gain on this machine right now, whatever the code."""
    with multiprocessing.Pool(2) as pool:
        pool.map(spin, [1000, 1000])  # start both processes before timing
        started = time.perf_counter()
        pool.map(spin, [3_000_000])
        one = time.perf_counter() - started
        started = time.perf_counter()
        pool.map(spin, [3_000_000, 3_000_000], chunksize=1)
        two = time.perf_counter() - started
    return 2 * one / two
