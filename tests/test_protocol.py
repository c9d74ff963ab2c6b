"""Commitments, keys and tokens, coordinates and diagnostics, and value recovery,
checked through the Python API and against py_ecc's alt_bn128 as an independent
implementation of the same group."""

import hashlib
import io
import subprocess
import sys

import pytest

import nacrel

bn128 = pytest.importorskip("py_ecc.optimized_bn128")

P = 21888242871839275222246405745257275088696311157297823662689037894645226208583
Q = 21888242871839275222246405745257275088548364400416034343698204186575808495617
INFINITY_TEXT = "40" + "0" * 62
G_TEXT = "0" * 63 + "1"
UNWRAP = "called `Result::unwrap()` on an `Err` value: "
I32_MIN, I32_MAX = -(2**31), 2**31 - 1

Panic = BaseException  # PanicException derives from BaseException only


# ---- independent reference arithmetic (py_ecc) ----

def ref_point(c):
    """py_ecc point of a Commit (identity as the py_ecc zero)."""
    if c.is_zero():
        return bn128.Z1
    return (bn128.FQ(int(c.x)), bn128.FQ(int(c.y)), bn128.FQ.one())


def ref_affine(p):
    if bn128.is_inf(p):
        return None
    x, y = bn128.normalize(p)
    return int(x), int(y)


def ref_text(p):
    """Point text of a py_ecc point: x big-endian, 0x80 when y > (p-1)/2, 0x40 for the identity."""
    a = ref_affine(p)
    if a is None:
        return INFINITY_TEXT
    x, y = a
    flag = 0x80 if y > (P - 1) // 2 else 0
    b = bytearray(x.to_bytes(32, "big"))
    b[0] |= flag
    return b.hex()


def ref_mul(p, k):
    k %= Q
    return bn128.Z1 if k == 0 else bn128.multiply(p, k)


def scalar_of(rr):
    return int(rr.get, 16)


def scalar_text(n):
    return format(n % Q, "064x")


def uncompressed(c):
    return bytes(c.to_bytes())


@pytest.fixture(scope="module")
def gh():
    return nacrel.gen_GH()


@pytest.fixture(scope="module")
def ref_g(gh):
    return ref_point(nacrel.from_str(gh.g))


REF_H = bn128.G1


def debug_lines(out):
    return out.split("\n")


# ---- commitments ----

def test_gen_GH_is_fixed(gh):
    other = nacrel.gen_GH()
    assert (other.g, other.h) == (gh.g, gh.h)
    assert gh.h == G_TEXT
    assert gh.g != gh.h
    assert bn128.is_on_curve(ref_point(nacrel.from_str(gh.g)), bn128.b)


def test_gen_new_GH_copies_and_swaps(gh):
    g, h = nacrel.from_str(gh.g), nacrel.from_str(gh.h)
    same = nacrel.gen_new_GH(g, h)
    assert (same.g, same.h) == (gh.g, gh.h)
    swapped = nacrel.gen_new_GH(h, g)
    assert (swapped.g, swapped.h) == (gh.h, gh.g)
    inf = nacrel.sub(g, g)
    degenerate = nacrel.gen_new_GH(inf, inf)
    assert degenerate.g == degenerate.h == INFINITY_TEXT


@pytest.mark.parametrize("val", [0, 1, -1, 2, 12345, -98765, I32_MAX, I32_MIN])
def test_commit_matches_reference(gh, ref_g, val):
    r = nacrel.gen_r()
    c = nacrel.commit(val, r, gh)
    expected = bn128.add(ref_mul(ref_g, val), ref_mul(REF_H, scalar_of(r)))
    assert c.get == ref_text(expected)
    assert (int(c.x), int(c.y)) == ref_affine(expected)


def test_commit_special_blindings(gh):
    r = nacrel.gen_r()
    zero = nacrel.to_scalar_from_str("0" * 64)
    assert nacrel.commit(0, r, gh).get == nacrel.p_to_x(nacrel.from_str(gh.h), r).get
    assert nacrel.commit(5, zero, gh).get == nacrel.g_to_x(gh, 5).get
    assert nacrel.commit(0, zero, gh).is_zero()


def test_commit_homomorphism(gh):
    r1, r2 = nacrel.gen_r(), nacrel.gen_r()
    lhs = nacrel.add(nacrel.commit(-1, r1, gh), nacrel.commit(1, r2, gh))
    assert lhs.get == nacrel.commit(0, r1.sum(r2), gh).get
    diff = nacrel.sub(nacrel.commit(7, r1, gh), nacrel.commit(10, r2, gh))
    assert diff.get == nacrel.commit(-3, r1.sub(r2), gh).get


def test_add_sub_and_text_twins(gh):
    c = nacrel.commit(3, nacrel.gen_r(), gh)
    d = nacrel.commit(-8, nacrel.gen_r(), gh)
    rc, rd = ref_point(c), ref_point(d)
    assert nacrel.add(c, d).get == nacrel.add_value_commits(c.get, d.get) == ref_text(bn128.add(rc, rd))
    assert nacrel.sub(c, d).get == nacrel.sub_value_commits(c.get, d.get) == ref_text(bn128.add(rc, bn128.neg(rd)))
    assert nacrel.sub(d, c).get == nacrel.sub_value_commits(d.get, c.get)
    assert nacrel.sub(c, c).is_zero()
    assert nacrel.sub_value_commits(c.get, c.get) == INFINITY_TEXT
    # Doubling through the sum of a point with itself.
    assert nacrel.add(c, c).get == ref_text(bn128.double(rc))


def test_from_str_round_trips(gh):
    c = nacrel.commit(42, nacrel.gen_r(), gh)
    inf = nacrel.sub(c, c)
    for p in (c, inf, nacrel.from_str(gh.g)):
        assert nacrel.from_str(p.get).get == p.get
        assert nacrel.from_str(p.get.upper()).get == p.get
        assert nacrel.from_str(uncompressed(p).hex()).get == p.get


def test_scalar_text_round_trips():
    s = nacrel.gen_r()
    assert nacrel.to_scalar_from_str(s.get).get == s.get
    assert nacrel.to_scalar_from_str("0" * 64).is_zero()
    # Values at or above the group order are reduced.
    assert nacrel.to_scalar_from_str(format(Q, "064x")).is_zero()
    assert nacrel.to_scalar_from_str(format(Q + 5, "064x")).get == scalar_text(5)
    assert nacrel.to_scalar_from_str("F" * 64).get == scalar_text(2**256 - 1)


def test_from_coords(gh):
    assert nacrel.from_coords(scalar_text(1), scalar_text(2)).get == G_TEXT
    g = nacrel.from_str(gh.g)
    x, y = int(g.x), int(g.y)
    if x < Q and y < Q:
        assert nacrel.from_coords(scalar_text(x), scalar_text(y)).get == gh.g
    # Coordinates arrive as scalar texts and are reduced modulo the group order.
    assert nacrel.from_coords(format(1 + Q, "064x"), format(2 + Q, "064x")).get == G_TEXT
    with pytest.raises(Panic) as e:
        nacrel.from_coords(scalar_text(1), scalar_text(3))
    assert type(e.value).__name__ == "PanicException"
    assert e.value.args == ("assertion failed: point.is_on_curve()",)


BAD_POINT_TEXTS = [
    ("0" * 63, "invalid point"),
    ("0" * 65, "invalid point"),
    ("", "invalid point"),
    ("g" + "0" * 63, "malformed hex encoding"),
    ("0" * 64, "invalid point: failed to deserialize the point"),
    ("c0" + "0" * 62, "invalid point: failed to deserialize the point"),
]


def point_readers():
    r = nacrel.gen_r()
    good = G_TEXT
    return [
        ("from_str", lambda s: nacrel.from_str(s)),
        ("to_token_from_str", lambda s: nacrel.to_token_from_str(s)),
        ("to_token_from_pk", lambda s: nacrel.to_token_from_pk(s, r)),
        ("add_value_commits left", lambda s: nacrel.add_value_commits(s, good)),
        ("add_value_commits right", lambda s: nacrel.add_value_commits(good, s)),
        ("sub_value_commits left", lambda s: nacrel.sub_value_commits(s, good)),
        ("sub_value_commits right", lambda s: nacrel.sub_value_commits(good, s)),
    ]


@pytest.mark.parametrize("text,words", BAD_POINT_TEXTS)
def test_bad_point_texts_panic(text, words):
    for name, reader in point_readers():
        with pytest.raises(Panic) as e:
            reader(text)
        assert not isinstance(e.value, Exception), name
        msg = e.value.args[0]
        assert msg.startswith(UNWRAP), (name, msg)
        assert words in msg, (name, msg)


def test_value_commits_report_left_error_first():
    with pytest.raises(Panic) as e:
        nacrel.add_value_commits("0" * 63, "g" * 64)
    assert "invalid point" in e.value.args[0] and "malformed hex encoding" not in e.value.args[0]
    with pytest.raises(Panic) as e:
        nacrel.sub_value_commits("g" * 64, "0" * 63)
    assert "malformed hex encoding" in e.value.args[0]


@pytest.mark.parametrize("text,words", [
    ("0" * 62, "64"),
    ("0" * 66, "64"),
    ("x" * 64, "malformed hex encoding"),
])
def test_bad_scalar_texts_panic(text, words):
    for reader in (nacrel.to_scalar_from_str,
                   lambda s: nacrel.from_coords(s, scalar_text(2)),
                   lambda s: nacrel.from_coords(scalar_text(1), s)):
        with pytest.raises(Panic) as e:
            reader(text)
        assert e.value.args[0].startswith(UNWRAP)
        assert words in e.value.args[0]


def test_gen_r_is_never_zero():
    values = {nacrel.gen_r().get for _ in range(50)}
    assert len(values) == 50
    assert "0" * 64 not in values


# ---- printed forms (fd 1, not sys.stdout) ----

def printed_labels(gh):
    r = nacrel.gen_r()
    c = nacrel.commit(9, r, gh)
    d = nacrel.commit(-4, nacrel.gen_r(), gh)
    return [
        (c, "scalar_mul"),
        (nacrel.add(c, d), "add_point"),
        (c.sum(d), "add_point"),
        (nacrel.sub(c, d), "sub_point"),
        (c.sub(d), "sub_point"),
        (nacrel.from_str(c.get), "deserialized point"),
        (nacrel.from_coords(scalar_text(1), scalar_text(2)), "point_from_coords"),
        (nacrel.p_to_x(c, r), "scalar_mul"),
        (nacrel.g_to_x(gh, 3), "scalar_mul"),
        (nacrel.add_commit_token(c, nacrel.to_token_from_str(d.get)), "add_point"),
        (nacrel.sub_commit_token(c, nacrel.to_token_from_str(d.get)), "sub_point"),
    ]


def expected_debug(c, label):
    ge = "infinity" if c.is_zero() else "(%s, %s)" % (c.x, c.y)
    return 'Bn254Point {\n    purpose: "%s",\n    ge: %s,\n}\n' % (label, ge)


def test_print_commit_forms(gh, capfd):
    for c, label in printed_labels(gh):
        capfd.readouterr()
        assert nacrel.print_commit(c) == "ok"
        out, err = capfd.readouterr()
        assert out == expected_debug(c, label), label
        assert err == ""


def test_print_commit_infinity(gh, capfd):
    c = nacrel.commit(1, nacrel.gen_r(), gh)
    inf = nacrel.sub(c, c)
    assert nacrel.print_commit(inf) == "ok"
    out = capfd.readouterr().out
    lines = out.split("\n")
    assert lines == ["Bn254Point {", '    purpose: "sub_point",', "    ge: infinity,", "}", ""]


def test_print_bypasses_sys_stdout(gh, capfd):
    c = nacrel.commit(1, nacrel.gen_r(), gh)
    saved, sys.stdout = sys.stdout, io.StringIO()
    try:
        nacrel.print_commit(c)
        nacrel.print_token(nacrel.to_token_from_str(c.get))
        nacrel.hash_test1(c)
        captured = sys.stdout.getvalue()
    finally:
        sys.stdout = saved
    assert captured == ""
    out = capfd.readouterr().out
    assert out.count("Bn254Point {") == 2 and "a1uncompressed[" in out


def test_print_token_forms(gh, capfd):
    k = nacrel.gen_pb_sk(gh)
    r = nacrel.gen_r()
    c = nacrel.commit(2, r, gh)
    t1 = k.to_token(r)
    t2 = nacrel.to_token_from_str(c.get)
    cases = [
        (t1, "scalar_mul"),
        (nacrel.to_token_from_pk(k.get_pk(), r), "scalar_mul"),
        (t2, "deserialized point"),
        (nacrel.add_token(t1, t2), "add_point"),
        (nacrel.sub_token(t1, t2), "sub_point"),
    ]
    for t, label in cases:
        capfd.readouterr()
        assert nacrel.print_token(t) == "ok"
        out = capfd.readouterr().out
        assert out == expected_debug(nacrel.from_str(t.get), label), label
    # Same point and label print the same way as a commitment.
    nacrel.print_token(t2)
    token_out = capfd.readouterr().out
    nacrel.print_commit(nacrel.from_str(c.get))
    assert capfd.readouterr().out == token_out


# ---- keys and tokens ----

def test_key_pairs(gh):
    k = nacrel.gen_pb_sk(gh)
    sk = int(k.get_sk(), 16)
    assert sk != 0
    assert k.get_pk() == ref_text(ref_mul(REF_H, sk))
    again = nacrel.regen_pb_sk(gh, nacrel.to_scalar_from_str(k.get_sk()))
    assert (again.get_sk(), again.get_pk()) == (k.get_sk(), k.get_pk())
    assert nacrel.gen_pb_sk(gh).get_sk() != k.get_sk()
    zero = nacrel.regen_pb_sk(gh, nacrel.to_scalar_from_str("0" * 64))
    assert zero.get_pk() == INFINITY_TEXT and zero.get_sk() == "0" * 64
    # The key's base is the h of the pair it was made with.
    swapped = nacrel.gen_new_GH(nacrel.from_str(gh.h), nacrel.from_str(gh.g))
    other = nacrel.regen_pb_sk(swapped, nacrel.to_scalar_from_str(k.get_sk()))
    assert other.get_pk() == ref_text(ref_mul(ref_point(nacrel.from_str(gh.g)), sk))


def test_tokens(gh):
    k = nacrel.gen_pb_sk(gh)
    r = nacrel.gen_r()
    t = k.to_token(r)
    assert t.get == nacrel.to_token_from_pk(k.get_pk(), r).get
    assert t.get == ref_text(ref_mul(REF_H, int(k.get_sk(), 16) * scalar_of(r)))
    assert nacrel.to_token_from_str(t.get).get == t.get == t.to_str
    assert nacrel.sub_token(t, t).get == INFINITY_TEXT
    c = nacrel.commit(11, nacrel.gen_r(), gh)
    assert nacrel.add_commit_token(nacrel.sub_commit_token(c, t), t).get == c.get
    rc, rt = ref_point(c), ref_point(nacrel.from_str(t.get))
    assert nacrel.add_commit_token(c, t).get == ref_text(bn128.add(rc, rt))
    assert nacrel.sub_commit_token(c, t).get == ref_text(bn128.add(rc, bn128.neg(rt)))
    t2 = k.to_token(nacrel.gen_r())
    assert nacrel.add_token(t, t2).get == nacrel.add_token(t2, t).get
    assert nacrel.add_token(t, t2).get == ref_text(bn128.add(rt, ref_point(nacrel.from_str(t2.get))))


def test_tokens_add_up_like_commitments(gh):
    k = nacrel.gen_pb_sk(gh)
    r1, r2 = nacrel.gen_r(), nacrel.gen_r()
    assert nacrel.add_token(k.to_token(r1), k.to_token(r2)).get == k.to_token(r1.sum(r2)).get


def test_token_and_commit_are_distinct_types(gh):
    c = nacrel.commit(1, nacrel.gen_r(), gh)
    t = nacrel.to_token_from_str(c.get)
    cases = [
        (lambda: nacrel.add_token(c, t), "argument 'token_l': 'Commit' object cannot be converted to 'Token'"),
        (lambda: nacrel.sub_token(t, c), "argument 'token_r': 'Commit' object cannot be converted to 'Token'"),
        (lambda: nacrel.add_commit_token(t, t), "argument 'commit_l': 'Token' object cannot be converted to 'Commit'"),
        (lambda: nacrel.sub_commit_token(c, c), "argument 'token_r': 'Commit' object cannot be converted to 'Token'"),
        (lambda: nacrel.print_token(c), "argument 'token': 'Commit' object cannot be converted to 'Token'"),
        (lambda: nacrel.print_commit(t), "argument 'com': 'Token' object cannot be converted to 'Commit'"),
        (lambda: nacrel.to_token_from_pk(c.get, 5), "argument 'r': 'int' object cannot be converted to 'rand_r'"),
        (lambda: nacrel.get_brut_v(t, t, gh, None, 5), "argument 'c': 'Token' object cannot be converted to 'Commit'"),
    ]
    for call, msg in cases:
        with pytest.raises(TypeError) as e:
            call()
        assert str(e.value) == msg


def test_to_token_from_pk_wants_bare_text(gh):
    k = nacrel.gen_pb_sk(gh)
    doc = '{"curve":"bn254","point":"%s"}' % k.get_pk()
    with pytest.raises(Panic) as e:
        nacrel.to_token_from_pk(doc, nacrel.gen_r())
    assert e.value.args[0].startswith(UNWRAP)


# ---- coordinates and diagnostics ----

def test_get_y_coord(gh):
    gen = nacrel.from_coords(scalar_text(1), scalar_text(2))
    assert nacrel.get_y_coord(gen) == "2"
    inf = nacrel.sub(gen, gen)
    assert nacrel.get_y_coord(inf) == "0"
    for _ in range(5):
        c = nacrel.commit(1, nacrel.gen_r(), gh)
        y = nacrel.get_y_coord(c)
        assert y == y.lower() and not y.startswith("0")
        assert int(y, 16) == int(c.y) == ref_affine(ref_point(c))[1]


def test_products(gh, ref_g):
    inf_text = INFINITY_TEXT
    assert nacrel.g_to_x(gh, 0).get == inf_text
    assert nacrel.g_to_x(gh, 1).get == gh.g
    assert nacrel.add(nacrel.g_to_x(gh, -1), nacrel.g_to_x(gh, 1)).is_zero()
    for v in (2, -7, I32_MAX, I32_MIN):
        assert nacrel.g_to_x(gh, v).get == ref_text(ref_mul(ref_g, v))
    r = nacrel.gen_r()
    assert nacrel.g_to_x(gh, 77).get == nacrel.sub(nacrel.commit(77, r, gh), nacrel.commit(0, r, gh)).get
    assert nacrel.g_to_r(gh, r).get == nacrel.p_to_x(nacrel.from_str(gh.g), r).get == ref_text(ref_mul(ref_g, scalar_of(r)))
    c = nacrel.commit(5, nacrel.gen_r(), gh)
    assert nacrel.p_to_x(c, r).get == ref_text(ref_mul(ref_point(c), scalar_of(r)))
    assert nacrel.p_to_x(c, nacrel.to_scalar_from_str("0" * 64)).is_zero()
    hx = nacrel.h_to_x(gh, r)
    assert type(hx) is nacrel.hx
    assert [m for m in dir(hx) if not m.startswith("__")] == []


def ref_challenge(*commits):
    data = b"".join(uncompressed(c) for c in commits) + b"\x00\x00\x00\x00"
    return scalar_text(int.from_bytes(hashlib.sha256(data).digest(), "big"))


def ref_uncompressed(c):
    a = ref_affine(ref_point(c))
    if a is None:
        return [64] + [0] * 63
    return list(a[1].to_bytes(32, "big") + a[0].to_bytes(32, "big"))


def expected_listing(label, c):
    return label + "[\n" + "".join("    %d,\n" % b for b in ref_uncompressed(c)) + "]\n"


def test_hash_test_generator_value(capfd):
    gen = nacrel.from_coords(scalar_text(1), scalar_text(2))
    assert nacrel.hash_test1(gen) == "1bcb661b301089f2b094b5521376e9dfa3cd7c500858b562f6d8874330b17243"
    assert capfd.readouterr().out == expected_listing("a1uncompressed", gen)


def test_hash_test_infinity(gh, capfd):
    c = nacrel.commit(1, nacrel.gen_r(), gh)
    inf = nacrel.sub(c, c)
    result = nacrel.hash_test1(inf)
    lines = capfd.readouterr().out.split("\n")
    assert lines[0] == "a1uncompressed["
    assert lines[1:65] == ["    64,"] + ["    0,"] * 63
    assert lines[65:] == ["]", ""]
    assert len(result) == 64 and result == ref_challenge(inf)


def test_hash_test_listings_and_order(gh, capfd):
    a, b, c = (nacrel.commit(v, nacrel.gen_r(), gh) for v in (1, 2, 3))
    cases = [
        (nacrel.hash_test1, (a,), 66),
        (nacrel.hash_test2, (a, b), 132),
        (nacrel.hash_test3, (a, b, c), 198),
    ]
    for fn, args, n_lines in cases:
        capfd.readouterr()
        result = fn(*args)
        out = capfd.readouterr().out
        assert out.count("\n") == n_lines
        assert out == "".join(expected_listing("a%duncompressed" % (i + 1), p) for i, p in enumerate(args))
        assert result == ref_challenge(*args) == fn(*args)
    assert nacrel.hash_test2(a, b) != nacrel.hash_test2(b, a)
    assert nacrel.hash_test3(a, b, c) != nacrel.hash_test3(a, c, b)


# ---- value recovery ----

def brut_setup(gh, v):
    k = nacrel.gen_pb_sk(gh)
    r = nacrel.gen_r()
    return nacrel.commit(v, r, gh), k.to_token(r), k


@pytest.mark.parametrize("v,rng,expected", [
    (0, 1, 0),
    (0, 1000, 0),
    (1, 1000, 1),
    (-1, 1000, -1),
    (5, 6, 5),
    (-5, 6, -5),
    (5, 5, -1),
    (-5, 5, -1),
    (999, 1000, 999),
    (-999, 1000, -999),
    (1000, 1000, -1),
    (-1000, 1000, -1),
    (3, 0, -1),
    (0, 0, -1),
    (0, -1, -1),
    (3, I32_MIN, -1),
    (I32_MAX - 1, I32_MAX, I32_MAX - 1),
    (-(I32_MAX - 1), I32_MAX, -(I32_MAX - 1)),
    (I32_MAX, I32_MAX, -1),
    (I32_MIN, I32_MAX, -1),
    (123456789, I32_MAX, 123456789),
])
def test_get_brut_v(gh, v, rng, expected):
    c, t, k = brut_setup(gh, v)
    assert nacrel.get_brut_v(c, t, gh, k, rng) == expected
    assert nacrel.get_brut_v(c=c, t=t, gh=gh, pbsk=k, range=rng) == expected


def test_get_brut_v_ignores_h_and_pk(gh):
    c, t, k = brut_setup(gh, -17)
    other_h = nacrel.commit(3, nacrel.gen_r(), gh)
    gh2 = nacrel.gen_new_GH(nacrel.from_str(gh.g), other_h)
    k2 = nacrel.regen_pb_sk(gh2, nacrel.to_scalar_from_str(k.get_sk()))
    assert k2.get_pk() != k.get_pk()
    assert nacrel.get_brut_v(c, t, gh2, k2, 100) == -17
    # A different g or secret, or an unrelated token, finds nothing.
    gh3 = nacrel.gen_new_GH(other_h, nacrel.from_str(gh.h))
    assert nacrel.get_brut_v(c, t, gh3, k, 100) == -1
    assert nacrel.get_brut_v(c, t, gh, nacrel.gen_pb_sk(gh), 100) == -1
    assert nacrel.get_brut_v(c, nacrel.gen_pb_sk(gh).to_token(nacrel.gen_r()), gh, k, 100) == -1


def test_get_brut_v_sums(gh):
    k = nacrel.gen_pb_sk(gh)
    r1, r2 = nacrel.gen_r(), nacrel.gen_r()
    c = nacrel.add(nacrel.commit(40, r1, gh), nacrel.commit(-55, r2, gh))
    t = nacrel.add_token(k.to_token(r1), k.to_token(r2))
    assert nacrel.get_brut_v(c, t, gh, k, 100) == -15


def naive_brut_v(c, t, g, sk, rng):
    """The plain walk 0, 1, -1, 2, -2, ... with py_ecc."""
    d = bn128.add(ref_mul(c, sk), bn128.neg(t))
    q = ref_mul(g, sk)
    for i in range(max(rng, 0)):
        if bn128.eq(ref_mul(q, i), d):
            return i
        if bn128.eq(ref_mul(q, -i), d):
            return -i
    return -1


def test_get_brut_v_matches_plain_walk(gh, ref_g):
    k = nacrel.gen_pb_sk(gh)
    sk = int(k.get_sk(), 16)
    r = nacrel.gen_r()
    t = k.to_token(r)
    rt = ref_point(nacrel.from_str(t.get))
    stray = nacrel.commit(1, nacrel.gen_r(), gh)
    for rng in (0, 1, 2, 4):
        for v in range(-rng - 1, rng + 2):
            c = nacrel.commit(v, r, gh)
            assert nacrel.get_brut_v(c, t, gh, k, rng) == naive_brut_v(ref_point(c), rt, ref_g, sk, rng), (rng, v)
        assert nacrel.get_brut_v(stray, t, gh, k, rng) == naive_brut_v(ref_point(stray), rt, ref_g, sk, rng)
    # With a zero secret every candidate is the identity: only a target at the identity matches, at 0.
    zero = nacrel.regen_pb_sk(gh, nacrel.to_scalar_from_str("0" * 64))
    c = nacrel.commit(3, r, gh)
    assert nacrel.get_brut_v(c, t, gh, zero, 10) == naive_brut_v(ref_point(c), rt, ref_g, 0, 10)
    inf_token = nacrel.sub_token(t, t)
    assert nacrel.get_brut_v(c, inf_token, gh, zero, 10) == 0


def test_get_brut_v_range_conversion(gh):
    c, t, k = brut_setup(gh, 1)
    with pytest.raises(OverflowError) as e:
        nacrel.get_brut_v(c, t, gh, k, 2**31)
    assert str(e.value) == "out of range integral type conversion attempted"
    with pytest.raises(TypeError) as e:
        nacrel.get_brut_v(c, t, gh, k, 1.5)
    assert str(e.value).startswith("argument 'range': ")
    assert nacrel.get_brut_v(c, t, gh, k, True) == -1  # window {0}


def test_printed_output_of_a_whole_process():
    """The exact bytes a separate process writes to its standard output."""
    code = (
        "import nacrel\n"
        "g = nacrel.from_coords('%064x' % 1, '%064x' % 2)\n"
        "assert nacrel.print_commit(g) == 'ok'\n"
        "assert nacrel.print_commit(g.sub(g)) == 'ok'\n"
        "assert nacrel.print_token(nacrel.to_token_from_str(g.get)) == 'ok'\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, check=True).stdout
    assert out == (
        b'Bn254Point {\n    purpose: "point_from_coords",\n    ge: (1, 2),\n}\n'
        b'Bn254Point {\n    purpose: "sub_point",\n    ge: infinity,\n}\n'
        b'Bn254Point {\n    purpose: "deserialized point",\n    ge: (1, 2),\n}\n'
    )
