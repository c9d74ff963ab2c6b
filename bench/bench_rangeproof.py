"""Timings of range_proof_single and range_proof_single_verify at 8, 32 and 64
bits, with the verify/prove ratio measured side by side, plus ghvec (the
generator derivation every call does, served from the process-wide cache after
the first call).

    python bench/bench_rangeproof.py [--seconds S]
"""
import argparse
import time

import nacrel


def per_call(fn, seconds):
    """Best-of-three mean time of one call, each round running for about `seconds`."""
    fn()
    best = float("inf")
    for _ in range(3):
        n, start = 0, time.perf_counter()
        while True:
            fn()
            n += 1
            elapsed = time.perf_counter() - start
            if elapsed >= seconds:
                break
        best = min(best, elapsed / n)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=0.5)
    s = ap.parse_args().seconds

    gh = nacrel.gen_GH()
    r = nacrel.gen_r()
    print("%6s %12s %12s %12s %10s" % ("n_bit", "prove ms", "verify ms", "ghvec ms", "verify/prove"))
    for n in (8, 32, 64):
        val = 2**min(n, 31) - 1
        cm = nacrel.commit(val, r, gh)
        text = nacrel.range_proof_single(n, val, gh, r)
        assert nacrel.range_proof_single_verify(text, n, gh, cm)
        t_prove = per_call(lambda: nacrel.range_proof_single(n, val, gh, r), s)
        t_verify = per_call(lambda: nacrel.range_proof_single_verify(text, n, gh, cm), s)
        t_gen = per_call(lambda: nacrel.ghvec(n), s)
        print("%6d %12.3f %12.3f %12.3f %10.3f" % (n, t_prove * 1e3, t_verify * 1e3, t_gen * 1e3, t_verify / t_prove))


if __name__ == "__main__":
    main()
