"""Hostile arguments, each answered by a clear Python exception and never a
crash: texts of 100 MB, NUL bytes, lone surrogates, deep nesting, n_bit and
the search range at their extremes, and every class passed where another (or
a plain value) is expected, swept over the registered parameter lists."""

import json

import pytest

import entry_table as E
import nacrel
from helpers import panic_type

MB100 = 100 * 1024 * 1024
UNWRAP = "called `Result::unwrap()` on an `Err` value: "


PANIC = panic_type()


@pytest.fixture(scope="module")
def s():
    return E.Samples()


def outcome(fn, *args):
    """(exception type or None, message or result) of fn(*args)."""
    try:
        return None, fn(*args)
    except BaseException as e:  # noqa: B036 - PanicException derives from BaseException
        return type(e), str(e)


def call_with(s, name, param, value):
    """name() called with its valid arguments, param replaced by value."""
    args = list(s.args(name))
    args[[p for p, _ in E.FUNCTION_PARAMS[name]].index(param)] = value
    return outcome(getattr(nacrel, name), *args)


STR_PARAMS = [(name, p) for name, ps in E.FUNCTIONS for p, kind in ps if kind == "Str"]


# ---- long texts ----

@pytest.fixture(scope="module")
def zeros():
    return "0" * MB100


# One function per reader: point text, scalar text, the pubkey of a prover and
# each proof kind.
LONG_TEXT_CASES = [
    ("from_str", "str_point"), ("to_scalar_from_str", "str_scalar"), ("consistency_proof", "pubkey"),
    ("sigma_eq_dlog_verify", "ser_dlog_eq_proof"), ("consistency_proof_verify", "proof"),
    ("sigma_dlog_proof_explicit_verify", "ser_proof"), ("sigma_eq_dlog_verify_same_secret", "ser_dlog_eq_proof"),
    ("sigma_eq_dlog_ped_verify", "ser_dlog_eq_proof"), ("range_proof_single_verify", "range_proof"),
]


@pytest.mark.parametrize("name,param", LONG_TEXT_CASES)
def test_100mb_text_is_refused(s, zeros, name, param):
    exc, message = call_with(s, name, param, zeros)
    assert exc is PANIC, (exc, message[:200])
    assert message.startswith(UNWRAP)
    assert len(message) < 200  # names the position, does not echo the text


def test_100mb_of_whitespace_around_a_valid_proof(s):
    pad = " " * (MB100 // 2)
    text = pad + s.proofs["sigma_eq_dlog_verify"] + pad
    assert nacrel.sigma_eq_dlog_verify(text, s.gh, s.c, s.sum_tokens) is True


def test_100mb_member_inside_a_proof(s):
    obj = json.loads(s.proofs["sigma_dlog_proof_explicit_verify"])
    obj["unknown"] = "x" * MB100  # unknown members are skipped
    assert nacrel.sigma_dlog_proof_explicit_verify(json.dumps(obj), s.c, s.sum_tokens) is True


# ---- NUL bytes and lone surrogates in every text parameter ----

def valid_text(s, name, param):
    return s.args(name)[[p for p, _ in E.FUNCTION_PARAMS[name]].index(param)]


@pytest.mark.parametrize("name,param", STR_PARAMS)
def test_nul_bytes_are_refused(s, name, param):
    good = valid_text(s, name, param)
    for bad in ("\x00" + good, good[:10] + "\x00" + good[10:], good + "\x00", "\x00" * 64):
        exc, message = call_with(s, name, param, bad)
        assert exc is PANIC, (bad[:20], exc, message)
        assert message.startswith(UNWRAP) or message.startswith("assertion failed")


@pytest.mark.parametrize("name,param", STR_PARAMS)
def test_lone_surrogates_are_refused(s, name, param):
    good = valid_text(s, name, param)
    for bad in ("\ud800", good[:10] + "\udfff" + good[10:], good + "\udc80"):
        exc, message = call_with(s, name, param, bad)
        assert exc is UnicodeEncodeError, (exc, message)
        assert "surrogates not allowed" in message


# ---- deep nesting ----

NESTINGS = [
    "[" * 100000,
    '{"a":' * 100000,
    "[{" * 50000,
    "[" * 100000 + "]" * 100000,
]


@pytest.mark.parametrize("name", E.VERIFIERS)
def test_deep_nesting_is_refused(s, name):
    param = E.FUNCTION_PARAMS[name][0][0]
    for text in NESTINGS:
        exc, message = call_with(s, name, param, text)
        assert exc is PANIC, (text[:10], exc, message)
    # Deep nesting where an unknown member is skipped, and inside a point object.
    obj = json.loads(s.args(name)[0])
    for where, member in (("skipped", "unknown"), ("value", next(iter(obj)))):
        nested = dict(obj)
        nested[member] = "@nest@"
        text = json.dumps(nested).replace('"@nest@"', "[" * 100000 + "]" * 100000)
        exc, message = call_with(s, name, param, text)
        assert exc is PANIC, (where, exc, message)
        if where == "skipped":
            assert "recursion limit exceeded" in message, message


@pytest.mark.parametrize("name,param", [("from_str", "str_point"), ("to_scalar_from_str", "str_scalar"),
                                        ("consistency_proof", "pubkey")])
def test_deep_nesting_in_point_and_scalar_texts(s, name, param):
    for text in NESTINGS + ['", "x": ' + "[" * 100000]:
        exc, message = call_with(s, name, param, text)
        assert exc is PANIC, (exc, message)


# ---- n_bit and the search range at their extremes ----

POW2 = "assertion failed: n.is_power_of_two()"
TOO_BIG = "exceeds the supported maximum of 65536 bits"
NEGATIVE = "can't convert negative int to unsigned"
TOO_WIDE = "int too big to convert"
N_BIT_CASES = [
    # n_bit, ghvec, range_proof_single, range_proof_single_verify of an 8-bit proof, range_proof_test
    (0, None, POW2, POW2, POW2),
    (1, None, None, None, None),
    (2, None, None, None, None),
    (3, None, POW2, POW2, POW2),
    (2**31 - 1, TOO_BIG, POW2, POW2, POW2),
    (2**31, TOO_BIG, TOO_BIG, TOO_BIG, TOO_BIG),
    (65536 + 1, TOO_BIG, POW2, POW2, POW2),
    (2**32, TOO_BIG, TOO_BIG, TOO_BIG, TOO_BIG),
    (2**64 - 1, TOO_BIG, POW2, POW2, POW2),
    (-1,) + (NEGATIVE,) * 4,
    (2**64,) + (TOO_WIDE,) * 4,
]


def expected_type(message):
    return {None: None, POW2: PANIC, TOO_BIG: ValueError}.get(message, OverflowError)


@pytest.mark.parametrize("case", N_BIT_CASES, ids=lambda c: str(c[0]))
def test_n_bit_extremes(s, case, capfd):
    n_bit, *expected = case
    calls = [
        lambda: nacrel.ghvec(n_bit),
        lambda: nacrel.range_proof_single(n_bit, 1, s.gh, s.r),
        lambda: nacrel.range_proof_single_verify(s.proofs["range_proof_single_verify"], n_bit, s.gh, s.c),
        lambda: nacrel.range_proof_test(n_bit, 1),
    ]
    for call, message in zip(calls, expected):
        exc, got = outcome(call)
        assert exc is expected_type(message), (n_bit, exc, got)
        if message is not None:
            assert message in got, got
    capfd.readouterr()


def test_n_bit_small_sizes_give_proofs_that_verify(s):
    for n_bit in (1, 2):
        r = nacrel.gen_r()
        proof = nacrel.range_proof_single(n_bit, 1, s.gh, r)
        assert nacrel.range_proof_single_verify(proof, n_bit, s.gh, nacrel.commit(1, r, s.gh)) is True


@pytest.mark.parametrize("r_value,val,expected", [
    (0, 5, -1), (-1, 5, -1), (-2**31, 5, -1), (1, 0, 0), (1, 5, -1),
    (2**31 - 1, 5, 5), (2**31 - 1, -5, -5),
    # The widest window searched through once, both signs (tens of milliseconds each).
    (2**31 - 1, 2**31 - 2, 2**31 - 2), (2**31 - 1, -(2**31 - 2), -(2**31 - 2)),
    (2**31 - 1, 2**31 - 1, -1),
])
def test_search_range_extremes(s, r_value, val, expected):
    c = nacrel.commit(val, s.r, s.gh)
    assert nacrel.get_brut_v(c, s.t, s.gh, s.k, r_value) == expected


@pytest.mark.parametrize("r_value", [2**31, -2**31 - 1, 2**63, 2**64])
def test_search_range_out_of_i32(s, r_value):
    exc, message = outcome(nacrel.get_brut_v, s.c, s.t, s.gh, s.k, r_value)
    assert exc is OverflowError, (exc, message)


# ---- every class, and plain values, where another kind is expected ----

def wrong_values(s, kind):
    """(value, type name) pairs that kind must refuse."""
    out = [(s.instance(cls), cls) for cls in E.CLASSES if E.CLASS_OF_KIND.get(kind) != cls]
    out += [(None, "NoneType"), (1.5, "float"), (object(), "object")]
    if kind not in ("I32", "Usize"):
        out.append((7, "int"))
    if kind not in ("Str", "Bytes32"):
        out.append(("text", "str"))
    if kind != "Bytes32":  # a list of 32 small ints is its valid form
        out.append(([1] * 32, "list"))
    return out


TARGET = {"Str": "PyString", "Bytes32": "Sequence"}


def check_refused(label, param, kind, type_name, fn, args):
    exc, message = outcome(fn, *args)
    assert exc is TypeError, (label, param, type_name, exc, message)
    assert message.startswith("argument '%s': " % param), (label, message)
    if kind in ("I32", "Usize"):
        # The interpreter's own message (it names a class as 'builtins.Commit').
        assert type_name in message and "object cannot be interpreted as an integer" in message, message
    else:
        target = TARGET.get(kind, E.CLASS_OF_KIND.get(kind))
        assert message == "argument '%s': '%s' object cannot be converted to '%s'" % (param, type_name, target), \
            message


@pytest.mark.parametrize("name", [n for n, ps in E.FUNCTIONS if ps])
def test_every_parameter_refuses_other_kinds(s, name, capfd):
    good = s.args(name)
    fn = getattr(nacrel, name)
    for i, (param, kind) in enumerate(E.FUNCTION_PARAMS[name]):
        for value, type_name in wrong_values(s, kind):
            check_refused(name, param, kind, type_name, fn, good[:i] + (value,) + good[i + 1:])
    capfd.readouterr()


@pytest.mark.parametrize("cls,method,params", E.METHODS, ids=lambda v: str(v) if isinstance(v, str) else "")
def test_every_method_refuses_other_kinds(s, cls, method, params):
    self = s.instance(cls)
    good = s.method_args(cls, method)
    for i, (param, kind) in enumerate(params):
        for value, type_name in wrong_values(s, kind):
            check_refused(method, param, kind, type_name, getattr(self, method),
                          good[:i] + (value,) + good[i + 1:])
    # Reached through the class with a self of another class.
    for other in E.CLASSES:
        if other != cls:
            exc, message = outcome(getattr(getattr(nacrel, cls), method), s.instance(other), *good)
            assert exc is TypeError, (cls, method, other, exc, message)


@pytest.mark.parametrize("cls,attr", E.GETTERS)
def test_properties_refuse_another_class(s, cls, attr):
    descriptor = getattr(nacrel, cls).__dict__[attr]
    for other in E.CLASSES:
        if other != cls:
            exc, message = outcome(descriptor.__get__, s.instance(other))
            assert exc is TypeError, (cls, attr, other, exc, message)
