"""Timings of range_proof_single and range_proof_single_verify at 8, 32 and 64
bits, each also as a multiple of one scalar multiplication measured in the same
run (p_to_x: one constant-time product plus the call overhead; the public
product costs about the same), plus ghvec and the first-call cost of the
generator derivation (later calls read the process-wide cache).
Aggregated proofs are measured through the core by bench/bench_rangeproof.cpp.

    python bench/bench_rangeproof.py [--seconds S]
"""
import argparse
import time

import nacrel
from timing import best_of_rounds as per_call


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=0.5)
    s = ap.parse_args().seconds

    gh = nacrel.gen_GH()
    r = nacrel.gen_r()
    # First call in this process: derives the 128 generators of 64 bits.
    start = time.perf_counter()
    nacrel.range_proof_single(64, 5, gh, r)
    t_first = time.perf_counter() - start
    t_again = per_call(lambda: nacrel.range_proof_single(64, 5, gh, r), s)
    print("first range_proof_single(64): %.3f ms, later calls %.3f ms (generator derivation %.3f ms)"
          % (t_first * 1e3, t_again * 1e3, (t_first - t_again) * 1e3))

    cm0 = nacrel.commit(1, r, gh)
    t_mul = per_call(lambda: nacrel.p_to_x(cm0, r), s)
    print("one scalar multiplication (p_to_x): %.1f us" % (t_mul * 1e6))
    print()
    print("%6s %10s %7s %10s %7s %10s %12s" % ("n_bit", "prove ms", "x mul", "verify ms", "x mul", "ghvec ms",
                                              "verify/prove"))
    for n in (8, 32, 64):
        val = 2**min(n, 31) - 1
        cm = nacrel.commit(val, r, gh)
        text = nacrel.range_proof_single(n, val, gh, r)
        assert nacrel.range_proof_single_verify(text, n, gh, cm)
        t_prove = per_call(lambda: nacrel.range_proof_single(n, val, gh, r), s)
        t_verify = per_call(lambda: nacrel.range_proof_single_verify(text, n, gh, cm), s)
        t_gen = per_call(lambda: nacrel.ghvec(n), s)
        print("%6d %10.3f %7.1f %10.3f %7.1f %10.3f %12.3f" % (n, t_prove * 1e3, t_prove / t_mul, t_verify * 1e3,
                                                              t_verify / t_mul, t_gen * 1e3, t_verify / t_prove))


if __name__ == "__main__":
    main()
