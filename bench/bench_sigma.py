"""Timings of the sigma provers and verifiers through the Python API, with
ratios measured side by side, also to one constant-time product (p_to_x).
The same comparison without the Python layer, with the targets, is
bench/bench_sigma.cpp.

    python bench/bench_sigma.py [--seconds S]
"""
import argparse

import nacrel
from timing import best_of_rounds as per_call


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=0.3)
    s = ap.parse_args().seconds

    gh = nacrel.gen_GH()
    gh2 = nacrel.gen_new_GH(nacrel.g_to_x(gh, 5), nacrel.g_to_x(gh, 7))
    pbsk = nacrel.gen_pb_sk(gh)
    r = nacrel.gen_r()
    cm = nacrel.commit(1234, r, gh)
    token = pbsk.to_token(r)
    sk = nacrel.to_scalar_from_str(pbsk.get_sk())
    st = nacrel.to_token_from_str(nacrel.p_to_x(cm, sk).get)
    pk = pbsk.get_pk()

    e512 = nacrel.sigma_dlog_proof_explicit(st, pbsk, cm)
    e256 = nacrel.sigma_dlog_proof_explicit_sha256(st, pbsk, cm)
    q512 = nacrel.sigma_eq_dlog_proof(st, pbsk, gh, cm)
    q256 = nacrel.sigma_eq_dlog_proof_sha256(st, pbsk, gh, cm)
    ped = nacrel.sigma_eq_dlog_ped_proof(77, gh, gh2, pk)
    cons = nacrel.consistency_proof(1234, r, gh, cm, token, pk)

    rows = [
        ("dlog explicit sha512", lambda: nacrel.sigma_dlog_proof_explicit(st, pbsk, cm),
         lambda: nacrel.sigma_dlog_proof_explicit_verify(e512, cm, st)),
        ("dlog explicit sha256", lambda: nacrel.sigma_dlog_proof_explicit_sha256(st, pbsk, cm),
         lambda: nacrel.sigma_dlog_proof_explicit_verify_sha256(e256, cm, st)),
        ("dlog eq sha512", lambda: nacrel.sigma_eq_dlog_proof(st, pbsk, gh, cm),
         lambda: nacrel.sigma_eq_dlog_verify(q512, gh, cm, st)),
        ("dlog eq sha256", lambda: nacrel.sigma_eq_dlog_proof_sha256(st, pbsk, gh, cm),
         lambda: nacrel.sigma_eq_dlog_verify_sha256(q256, gh, cm, st)),
        ("pedersen eq", lambda: nacrel.sigma_eq_dlog_ped_proof(77, gh, gh2, pk),
         lambda: nacrel.sigma_eq_dlog_ped_verify(ped, gh, gh2)),
        ("consistency", lambda: nacrel.consistency_proof(1234, r, gh, cm, token, pk),
         lambda: nacrel.consistency_proof_verify(cons, gh, cm, token, pk)),
    ]
    results = {}
    print("%-22s %12s %12s %14s" % ("proof", "prove us", "verify us", "verify/prove"))
    for name, prove, verify in rows:
        tp, tv = per_call(prove, s), per_call(verify, s)
        results[name] = (tp, tv)
        print("%-22s %12.1f %12.1f %14.2f" % (name, tp * 1e6, tv * 1e6, tv / tp))
    print()
    for kind in ("dlog explicit", "dlog eq"):
        p256, v256 = results[kind + " sha256"]
        p512, v512 = results[kind + " sha512"]
        print("%-22s sha256/sha512: prove %.2f, verify %.2f" % (kind, p256 / p512, v256 / v512))
    base = per_call(lambda: nacrel.p_to_x(cm, r), s)
    print("%-22s %12.1f us (one constant-time product)" % ("p_to_x", base * 1e6))
    for name, (tp, tv) in results.items():
        print("%-22s prove/p_to_x %.2f, verify/p_to_x %.2f" % (name, tp / base, tv / base))


if __name__ == "__main__":
    main()
