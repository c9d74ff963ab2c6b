"""Timing helper shared by the Python benchmarks."""
import time


def best_of_rounds(fn, seconds, rounds=3):
    """Best-of-`rounds` mean time of one call, each round running for about `seconds`."""
    fn()
    best = float("inf")
    for _ in range(rounds):
        n, start = 0, time.perf_counter()
        while True:
            fn()
            n += 1
            elapsed = time.perf_counter() - start
            if elapsed >= seconds:
                break
        best = min(best, elapsed / n)
    return best
