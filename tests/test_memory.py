"""Every function, method and property called many times on its success and
error paths: the process's resident memory stays flat, the interpreter's
allocated blocks do not grow, and the reference counts of the arguments are
unchanged. The table of calls comes from the registration (entry_table.py)."""

import gc
import os
import sys

import pytest

import entry_table as E
import nacrel
from helpers import panic_type

ROUNDS = int(os.environ.get("NACREL_MEMORY_ROUNDS", "200"))
WARMUP = 50


PANIC = panic_type()


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def bad_value(kind, s):
    """A value that fails the conversion of kind (and the exception it raises)."""
    return {
        "I32": (2**31, OverflowError),
        "Usize": (-1, OverflowError),
        "Str": (b"00", TypeError),
        "Bytes32": ([0] * 31, ValueError),
    }.get(kind, (s.hx if kind != "Hx" else s.c, TypeError))


def call_table(s):
    """[(label, function, args, expected exception or None)]: each function's
    and method's valid call, each parameter with a failing value, missing
    arguments, and the failures of the core (texts that do not decode, n_bit
    not a power of two or above the maximum)."""
    out = []
    for name, params in E.FUNCTIONS:
        fn = getattr(nacrel, name)
        good = s.args(name)
        out.append((name, fn, good, None))
        if params:
            out.append((name + " missing", fn, (), TypeError))
        for i, (param, kind) in enumerate(params):
            value, exc = bad_value(kind, s)
            out.append(("%s %s=bad" % (name, param), fn, good[:i] + (value,) + good[i + 1:], exc))
            if kind == "Str":
                out.append(("%s %s=zz" % (name, param), fn, good[:i] + ("zz",) + good[i + 1:], PANIC))
            if kind == "Usize":
                # Proofs stop first on a size that is not a power of two.
                cases = [(2**40, ValueError)] + ([(65537, ValueError)] if name == "ghvec" else [(3, PANIC), (65537, PANIC)])
                for n_bit, exc in cases:
                    out.append(("%s %s=%d" % (name, param, n_bit), fn, good[:i] + (n_bit,) + good[i + 1:], exc))
    for cls, name, params in E.METHODS:
        self = s.instance(cls)
        fn = getattr(self, name)
        good = s.method_args(cls, name)
        out.append(("%s.%s" % (cls, name), fn, good, None))
        for i, (param, kind) in enumerate(params):
            value, exc = bad_value(kind, s)
            out.append(("%s.%s %s=bad" % (cls, name, param), fn, good[:i] + (value,) + good[i + 1:], exc))
        # A self of another class through the class attribute.
        other = s.c if cls != "Commit" else s.t
        out.append(("%s.%s foreign self" % (cls, name), getattr(getattr(nacrel, cls), name), (other,) + good,
                    TypeError))
    for cls, attr in E.GETTERS:
        out.append(("%s.%s" % (cls, attr), getattr, (s.instance(cls), attr), None))
    out.append(("no constructor", nacrel.Commit, (), TypeError))
    return out


def run_all(table):
    for label, fn, args, exc in table:
        try:
            fn(*args)
        except BaseException as e:  # noqa: B036 - PanicException included
            if exc is None or not isinstance(e, exc):
                raise AssertionError("%s: unexpected %r" % (label, e)) from e
        else:
            if exc is not None:
                raise AssertionError("%s: no %s" % (label, exc.__name__))


def test_table_covers_every_callable():
    s = E.Samples()
    labels = {label for label, _, _, _ in call_table(s)}
    assert {name for name, _ in E.FUNCTIONS} <= labels
    assert len(E.FUNCTIONS) == 52
    assert {"%s.%s" % (c, m) for c, m, _ in E.METHODS} <= labels
    assert {"%s.%s" % (c, a) for c, a in E.GETTERS} <= labels
    assert sorted(n for n in dir(nacrel) if not n.startswith("_")) == sorted(
        [name for name, _ in E.FUNCTIONS] + E.CLASSES)


def test_memory_and_reference_counts_stay_flat(capfd):
    s = E.Samples()
    table = call_table(s)
    # Every argument object the calls share; small ints are left out (shared
    # by the whole interpreter, their counts move on their own).
    watched = {id(a): a for _, _, args, _ in table for a in args if not isinstance(a, (int, type(None)))}
    watched.update({id(v): v for v in (s.gh, s.gh2, s.r, s.k, s.c, s.t, s.hx, s.sum_tokens)})
    for _ in range(WARMUP):
        run_all(table)
    capfd.readouterr()
    gc.collect()

    def refcounts():
        return {key: sys.getrefcount(watched[key]) for key in watched}

    counts = refcounts()
    rss0 = resident_bytes()
    blocks0 = sys.getallocatedblocks()
    for i in range(ROUNDS):
        run_all(table)
        if i % 20 == 0:
            capfd.readouterr()  # drops the printed diagnostics as they come
    capfd.readouterr()
    gc.collect()
    blocks = sys.getallocatedblocks() - blocks0
    rss = resident_bytes() - rss0
    after = refcounts()
    changed = [(type(watched[key]).__name__, counts[key], after[key]) for key in counts if after[key] != counts[key]]
    calls = ROUNDS * len(table)
    print("memory: %d calls, resident %+d KiB, allocated blocks %+d" % (calls, rss // 1024, blocks))
    assert changed == []
    # A leaked object per call would add thousands of blocks.
    assert blocks < ROUNDS, blocks
    assert rss < 8 * 1024 * 1024, rss


@pytest.mark.parametrize("n_bit", [8, 64])
def test_range_proof_memory_flat(n_bit):
    # The generator cache fills once; repeated proofs of one size then add nothing.
    gh, r = nacrel.gen_GH(), nacrel.gen_r()
    c = nacrel.commit(200, r, gh)
    for _ in range(5):
        nacrel.range_proof_single_verify(nacrel.range_proof_single(n_bit, 200, gh, r), n_bit, gh, c)
    rss0 = resident_bytes()
    for _ in range(100 if n_bit == 8 else 25):
        assert nacrel.range_proof_single_verify(nacrel.range_proof_single(n_bit, 200, gh, r), n_bit, gh, c)
    assert resident_bytes() - rss0 < 4 * 1024 * 1024
