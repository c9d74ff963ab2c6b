"""Commitment, token and value-recovery speed of nacrel against a pure-Python
baseline on py_ecc's alt_bn128, measured side by side in one run.

    python bench/bench_protocol.py [--quick]

Each line prints both times per operation and the ratio baseline / nacrel.
The value-recovery baseline walks the candidates 0, 1, -1, 2, -2, ... with a
running sum (one addition per candidate and side), the cheapest plain walk; the
searched value lies outside the window, so both sides cover all of it.
"""

import argparse
import time

import nacrel
from py_ecc import optimized_bn128 as bn

Q = 21888242871839275222246405745257275088548364400416034343698204186575808495617


def per_call(fn, min_time):
    """Seconds per call of fn, repeated until min_time has passed."""
    n, start = 0, time.perf_counter()
    while True:
        fn()
        n += 1
        elapsed = time.perf_counter() - start
        if elapsed >= min_time:
            return elapsed / n


def ref_point(c):
    return (bn.FQ(int(c.x)), bn.FQ(int(c.y)), bn.FQ.one())


def ref_walk(c, t, g, sk, rng):
    d = bn.add(bn.multiply(c, sk), bn.neg(t))
    q = bn.multiply(g, sk)
    pos, neg = bn.Z1, bn.Z1
    neg_q = bn.neg(q)
    for i in range(max(rng, 0)):
        if bn.eq(pos, d):
            return i
        if bn.eq(neg, d):
            return -i
        pos, neg = bn.add(pos, q), bn.add(neg, neg_q)
    return -1


def report(name, ours, base):
    print("%-28s nacrel %10.1f us   py_ecc %12.1f us   ratio %8.1fx" % (name, ours * 1e6, base * 1e6, base / ours))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="shorter timing windows")
    args = ap.parse_args()
    t_min = 0.2 if args.quick else 1.0

    gh = nacrel.gen_GH()
    g = ref_point(nacrel.from_str(gh.g))
    h = bn.G1
    r = nacrel.gen_r()
    r_int = int(r.get, 16)
    k = nacrel.gen_pb_sk(gh)
    sk = int(k.get_sk(), 16)
    pk = bn.multiply(h, sk)
    val = 123456

    report("commit", per_call(lambda: nacrel.commit(val, r, gh), t_min),
           per_call(lambda: bn.add(bn.multiply(g, val), bn.multiply(h, r_int)), t_min))
    report("token (PbSk.to_token)", per_call(lambda: k.to_token(r), t_min),
           per_call(lambda: bn.multiply(pk, r_int), t_min))

    for rng in (1000, 100000):
        v = rng + 7  # outside the window: a full search on both sides
        c = nacrel.commit(v, r, gh)
        t = k.to_token(r)
        assert nacrel.get_brut_v(c, t, gh, k, rng) == -1
        rc, rt = ref_point(c), ref_point(nacrel.from_str(t.get))
        ours = per_call(lambda: nacrel.get_brut_v(c, t, gh, k, rng), t_min)
        base = per_call(lambda: ref_walk(rc, rt, g, sk, rng), t_min if rng <= 1000 else 0)
        report("get_brut_v range %d" % rng, ours, base)

    ok = nacrel.commit(-999, r, gh)
    assert nacrel.get_brut_v(ok, k.to_token(r), gh, k, 1000) == -999
    assert ref_walk(ref_point(ok), ref_point(nacrel.from_str(k.to_token(r).get)), g, sk, 1000) == -999


if __name__ == "__main__":
    main()
