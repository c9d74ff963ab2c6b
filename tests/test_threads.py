"""Calls from several Python threads at once: every result checked, proofs
verified by other threads than their makers, the interpreter lock released
during long computations (other threads make progress, two range proofs run
side by side on two cores)."""

import os
import random
import threading
import time

import pytest

import nacrel

THREADS = 8
# Wall time of the stress run; NACREL_STRESS_SECONDS lengthens it.
STRESS_SECONDS = float(os.environ.get("NACREL_STRESS_SECONDS", "8"))


class Shared:
    """Proofs made by each thread, for the others to verify."""

    def __init__(self):
        self.lock = threading.Lock()
        self.proofs = []  # (maker, kind, proof text, statement)

    def put(self, item):
        with self.lock:
            self.proofs.append(item)
            if len(self.proofs) > 256:
                del self.proofs[:128]

    def pick_foreign(self, me, rng):
        with self.lock:
            foreign = [p for p in self.proofs[-64:] if p[0] != me]
        return rng.choice(foreign) if foreign else None


def verify(kind, proof, st):
    """Verifies a proof of the given kind against its statement tuple."""
    n = nacrel
    kind = kind.split(" ")[0]
    if kind == "eq_dlog":
        return n.sigma_eq_dlog_verify(proof, st["gh"], st["c"], st["sum_tokens"])
    if kind == "eq_dlog_sha256":
        return n.sigma_eq_dlog_verify_sha256(proof, st["gh"], st["c"], st["sum_tokens"])
    if kind == "explicit":
        return n.sigma_dlog_proof_explicit_verify(proof, st["c"], st["sum_tokens"])
    if kind == "explicit_sha256":
        return n.sigma_dlog_proof_explicit_verify_sha256(proof, st["c"], st["sum_tokens"])
    if kind == "consistency":
        return n.consistency_proof_verify(proof, st["gh"], st["c"], st["t"], st["pk"])
    if kind == "same_secret":
        return n.sigma_eq_dlog_verify_same_secret(proof, st["gh"], st["gh2"])
    if kind == "ped":
        return n.sigma_eq_dlog_ped_verify(proof, st["gh"], st["gh2"])
    if kind == "range":
        return n.range_proof_single_verify(proof, st["n_bit"], st["gh"], st["c"])
    raise AssertionError(kind)


def one_round(me, rng, shared, gh, gh2, counts):
    """Makes and checks one of everything; returns nothing, raises on a wrong result."""
    n = nacrel
    val = rng.randrange(0, 256)  # in range of both proof sizes below
    r = n.gen_r()
    c = n.commit(val, r, gh)
    # Homomorphism and text round trips.
    r2 = n.gen_r()
    c2 = n.commit(7, r2, gh)
    assert n.add(c, c2).get == n.commit(val + 7, r.sum(r2), gh).get
    assert n.sub(c, c2).get == n.commit(val - 7, r.sub(r2), gh).get
    assert n.from_str(c.get).get == c.get
    assert n.add_value_commits(c.get, c2.get) == n.add(c, c2).get
    assert n.to_scalar_from_str(r.get).get == r.get
    # Keys and tokens.
    k = n.gen_pb_sk(gh)
    pk = k.get_pk()
    assert n.regen_pb_sk(gh, n.to_scalar_from_str(k.get_sk())).get_pk() == pk
    t = k.to_token(r)
    assert n.to_token_from_pk(pk, r).get == t.get
    assert n.add_token(t, n.to_token_from_pk(pk, r2)).get == k.to_token(r.sum(r2)).get
    assert n.get_brut_v(c, t, gh, k, 1000) == val
    sk = n.to_scalar_from_str(k.get_sk())
    sum_tokens = n.to_token_from_str(n.p_to_x(c, sk).get)
    counts["commitments"] += 1
    # Every sigma proof kind (both hashes where there are two) and a range proof.
    n_bit = rng.choice([8, 16])
    st = {"gh": gh, "gh2": gh2, "c": c, "t": t, "pk": pk, "sum_tokens": sum_tokens, "n_bit": n_bit}
    made = {
        "eq_dlog": n.sigma_eq_dlog_proof(sum_tokens, k, gh, c),
        "eq_dlog_sha256": n.sigma_eq_dlog_proof_sha256(sum_tokens, k, gh, c),
        "explicit": n.sigma_dlog_proof_explicit(sum_tokens, k, c),
        "explicit_sha256": n.sigma_dlog_proof_explicit_sha256(sum_tokens, k, c),
        "consistency": n.consistency_proof(val, r, gh, c, t, pk),
        "same_secret": n.sigma_eq_dlog_same_secret(val, gh, gh2),
        "ped": n.sigma_eq_dlog_ped_proof(val, gh, gh2, pk),
        "range": n.range_proof_single(n_bit, val, gh, r),
        # The forms with witness members read as the plain proofs.
        "explicit_sha256 witness": n.sigma_dlog_proof_explicit_sha256_with_witness(sum_tokens, k, c),
        "consistency witness": n.consistency_proof_with_witness(val, r, gh, c, t, pk),
        "ped witness": n.sigma_eq_dlog_ped_proof_with_witness(val, gh, gh2, pk),
    }
    for kind, proof in made.items():
        assert verify(kind, proof, st) is True, kind
        shared.put((me, kind, proof, st))
        counts["proofs"] += 1
    # A wrong statement is refused.
    assert n.range_proof_single_verify(made["range"], n_bit, gh, c2) is False
    assert n.sigma_eq_dlog_verify_same_secret(made["same_secret"], gh2, gh) is False
    # Proofs made by other threads.
    for _ in range(3):
        item = shared.pick_foreign(me, rng)
        if item is None:
            break
        _, kind, proof, theirs = item
        assert verify(kind, proof, theirs) is True, "foreign " + kind
        counts["foreign"] += 1


def test_stress_threads_make_and_verify_everything():
    gh = nacrel.gen_GH()
    gh2 = nacrel.gen_new_GH(nacrel.g_to_x(gh, 5), nacrel.g_to_x(gh, 7))
    shared = Shared()
    errors = []
    per_thread = [dict(commitments=0, proofs=0, foreign=0, rounds=0) for _ in range(THREADS)]
    start = threading.Barrier(THREADS)
    deadline = [0.0]

    def worker(me):
        rng = random.Random(me)
        try:
            start.wait()
            while time.monotonic() < deadline[0]:
                one_round(me, rng, shared, gh, gh2, per_thread[me])
                per_thread[me]["rounds"] += 1
        except BaseException as e:  # noqa: B036 - a PanicException must be reported too
            errors.append((me, repr(e)))

    deadline[0] = time.monotonic() + STRESS_SECONDS
    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for th in threads:
        th.start()
    for th in threads:
        th.join(STRESS_SECONDS + 120)
    assert not any(th.is_alive() for th in threads), "a thread did not finish"
    assert errors == []
    assert all(c["rounds"] >= 1 for c in per_thread), per_thread
    total = {key: sum(c[key] for c in per_thread) for key in per_thread[0]}
    assert total["foreign"] >= THREADS
    print("stress: %d threads, %.1f s, %s" % (THREADS, STRESS_SECONDS, total))


def test_other_threads_progress_during_long_calls():
    # While one thread sits in a long call, a pure-Python loop in another
    # thread keeps running: the lock is released for the call's duration.
    gh = nacrel.gen_GH()
    k = nacrel.gen_pb_sk(gh)
    r = nacrel.gen_r()
    # No value in the window matches: the search runs through all of it.
    miss = nacrel.commit(2**31 - 1, r, gh)
    t = k.to_token(r)
    gh2 = nacrel.gen_new_GH(nacrel.g_to_x(gh, 5), nacrel.g_to_x(gh, 7))
    long_text = "0" * (16 * 1024 * 1024)
    padded = " " * len(long_text) + nacrel.sigma_eq_dlog_same_secret(3, gh, gh2)

    def refused(fn, *args):
        try:
            fn(*args)
        except BaseException as e:  # noqa: B036 - the PanicException
            return type(e).__name__
        return None

    calls = [
        ("get_brut_v", lambda: nacrel.get_brut_v(miss, t, gh, k, 2**31 - 1), -1),
        ("range_proof_single", lambda: len(nacrel.range_proof_single(256, 3, gh, r)) > 0, True),
        # Decoding a long text (the copy out of the str object keeps the lock).
        ("from_str", lambda: refused(nacrel.from_str, long_text), "PanicException"),
        ("verify", lambda: nacrel.sigma_eq_dlog_verify_same_secret(padded, gh, gh2), True),
    ]
    for name, call, expected in calls:
        window = {}

        def run():
            window["t0"] = time.perf_counter()
            window["result"] = call()
            window["t1"] = time.perf_counter()

        th = threading.Thread(target=run)
        ticks = []
        th.start()
        while th.is_alive():
            ticks.append(time.perf_counter())
        th.join()
        assert window["result"] == expected, name
        inside = [x for x in ticks if window["t0"] < x < window["t1"]]
        # Held throughout, the loop would get at most a switch interval's worth.
        print("%s: %.1f ms, %d ticks of the other thread meanwhile" % (name, 1e3 * (window["t1"] - window["t0"]),
                                                                      len(inside)))
        assert len(inside) > 1000, (name, len(inside), window["t1"] - window["t0"])


def _range_proofs(gh, r, count, failures):
    for _ in range(count):
        if not nacrel.range_proof_single(64, 12345, gh, r).startswith("{"):
            failures.append("no proof")


@pytest.mark.skipif((os.cpu_count() or 1) < 2, reason="needs two cores")
def test_two_threads_prove_faster_than_one():
    # 2k range proofs in one thread against k in each of two threads. The
    # machine may be shared, so each side is the best of several tries and the
    # test passes on the first try that shows the speed-up. A try whose serial
    # run got less than 85% of a core tells nothing about two cores: when every
    # try was like that, the comparison is skipped instead of guessed.
    gh = nacrel.gen_GH()
    r = nacrel.gen_r()
    k = 8
    failures = []
    _range_proofs(gh, r, 1, failures)  # generators and tables built before timing
    best_serial = best_parallel = float("inf")
    best_share = 0.0
    for _ in range(8):
        c0, t0 = _cpu(), time.perf_counter()
        _range_proofs(gh, r, 2 * k, failures)
        serial = time.perf_counter() - t0
        best_share = max(best_share, (_cpu() - c0) / serial)
        best_serial = min(best_serial, serial)
        threads = [threading.Thread(target=_range_proofs, args=(gh, r, k, failures)) for _ in range(2)]
        t0 = time.perf_counter()
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        best_parallel = min(best_parallel, time.perf_counter() - t0)
        if best_parallel < 0.8 * best_serial:
            break
    print("range proofs n=64: %d in one thread %.1f ms, %d in each of two threads %.1f ms (ratio %.2f)"
          % (2 * k, best_serial * 1e3, k, best_parallel * 1e3, best_parallel / best_serial))
    assert failures == []
    if best_parallel >= 0.8 * best_serial and best_share < 0.85:
        pytest.skip("machine too busy: the serial run got at most %.0f%% of a core" % (100 * best_share))
    assert best_parallel < 0.8 * best_serial


def _cpu():
    t = os.times()
    return t.user + t.system
