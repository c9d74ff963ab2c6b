"""Commitment, token and value-recovery speed of nacrel, measured side by side
in one run against a pure-Python baseline on py_ecc's alt_bn128 and against
one constant-time scalar multiplication of nacrel itself.

    python bench/bench_protocol.py [--quick]

The first block prints both times per operation and the ratio baseline /
nacrel. The value-recovery baseline walks the candidates 0, 1, -1, 2, -2, ...
with a running sum (one addition per candidate and side), the cheapest plain
walk; the searched value lies outside the window, so both sides cover all of it.

The second block prints commit and get_brut_v as multiples of one product
p_to_x (a commitment point times a blinding, constant time), beside their
targets: commit at most 2.5 products, get_brut_v over the widest window
(R = 2^31 - 1) under 100 ms without a match and under 1 ms for |v| < 1000.
Every time is the minimum over several batches: other load on the machine
only ever adds time.
"""

import argparse
import time

import nacrel
from py_ecc import optimized_bn128 as bn

Q = 21888242871839275222246405745257275088548364400416034343698204186575808495617


def per_call(fn, min_time, batches=10):
    """Seconds per call of fn: the fastest of `batches` batches that together
    take about min_time (a single call when that alone takes longer)."""
    start = time.perf_counter()
    fn()
    best = time.perf_counter() - start
    if best >= min_time:
        return best
    n = max(1, int(min_time / batches / best))
    for _ in range(batches):
        start = time.perf_counter()
        for _ in range(n):
            fn()
        best = min(best, (time.perf_counter() - start) / n)
    return best


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


def report_target(name, t, unit, ok, target):
    print("%-36s %10.1f us %9.2fx   %-16s %s" % (name, t * 1e6, t / unit, target, "ok" if ok else "MISSED"))


def against_scalar_mul(gh, r, k, t_min):
    """commit and get_brut_v beside one constant-time product, with the targets."""
    widest = 2**31 - 1
    point = nacrel.commit(5, r, gh)
    unit = per_call(lambda: nacrel.p_to_x(point, r), t_min)
    print()
    print("%-36s %13s %10s   %s" % ("against one scalar mul (p_to_x)", "time", "ratio", "target"))
    report_target("scalar mul (p_to_x), constant time", unit, unit, True, "")
    t_commit = per_call(lambda: nacrel.commit(123456, r, gh), t_min)
    report_target("commit", t_commit, unit, t_commit <= 2.5 * unit, "<= 2.5x")

    # R itself lies outside the open window (-R, R): no candidate matches.
    miss = nacrel.commit(widest, r, gh)
    token = k.to_token(r)
    assert nacrel.get_brut_v(miss, token, gh, k, widest) == -1
    t_miss = per_call(lambda: nacrel.get_brut_v(miss, token, gh, k, widest), t_min, batches=5)
    report_target("get_brut_v R=2^31-1, no match", t_miss, unit, t_miss < 0.1, "< 100 ms")
    for v in (0, 999, -999):
        c = nacrel.commit(v, r, gh)
        assert nacrel.get_brut_v(c, token, gh, k, widest) == v
        t_small = per_call(lambda: nacrel.get_brut_v(c, token, gh, k, widest), t_min)
        report_target("get_brut_v R=2^31-1, v=%d" % v, t_small, unit, t_small < 0.001, "< 1 ms")


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

    against_scalar_mul(gh, r, k, t_min)

    ok = nacrel.commit(-999, r, gh)
    assert nacrel.get_brut_v(ok, k.to_token(r), gh, k, 1000) == -999
    assert ref_walk(ref_point(ok), ref_point(nacrel.from_str(k.to_token(r).get)), g, sk, 1000) == -999


if __name__ == "__main__":
    main()
