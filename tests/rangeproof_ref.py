"""Independent pure-Python model of the range-proof layer over BN254 G1.

Generator derivation (SHA-512 of the counter label, SvdW map), the SHA-256
challenges, the inner product argument prover, and the range-proof verifier
step by step (halving recursion, no multiscalar shortcut). Used to produce the
fixed vectors of the C++ tests and to check proofs made by the module.
"""
import hashlib

P = 0x30644E72E131A029B85045B68181585D97816A916871CA8D3C208C16D87CFD47
R = 0x30644E72E131A029B85045B68181585D2833E84879B9709143E1F593F0000001
LABEL = int.from_bytes(b"Qelt", "big")
INF = None
B = (1, 2)

# SvdW constants for y^2 = x^3 + 3 with Z = 1.
C1 = 4
C2 = (P - 1) // 2
C3 = pow(-12 % P, (P + 1) // 4, P)
if C3 % 2:
    C3 = P - C3
C4 = (-16 * pow(3, P - 2, P)) % P
assert C3 * C3 % P == (-12) % P


def inv(a, m):
    a %= m
    if a == 0:
        raise ZeroDivisionError("no inverse")
    return pow(a, m - 2, m)


def on_curve(pt):
    return pt is INF or (pt[1] * pt[1] - pt[0] ** 3 - 3) % P == 0


# Jacobian arithmetic; points outside are affine tuples or INF.
def _jac(pt):
    return (0, 1, 0) if pt is INF else (pt[0], pt[1], 1)


def _aff(j):
    X, Y, Z = j
    if Z == 0:
        return INF
    zi = inv(Z, P)
    return (X * zi * zi % P, Y * zi * zi * zi % P)


def _jdbl(j):
    X, Y, Z = j
    if Z == 0 or Y == 0:
        return (0, 1, 0)
    A = X * X % P
    Bq = Y * Y % P
    C = Bq * Bq % P
    D = 2 * ((X + Bq) ** 2 - A - C) % P
    E = 3 * A % P
    X3 = (E * E - 2 * D) % P
    return (X3, (E * (D - X3) - 8 * C) % P, 2 * Y * Z % P)


def _jadd(p, q):
    if p[2] == 0:
        return q
    if q[2] == 0:
        return p
    X1, Y1, Z1 = p
    X2, Y2, Z2 = q
    Z1Z1, Z2Z2 = Z1 * Z1 % P, Z2 * Z2 % P
    U1, U2 = X1 * Z2Z2 % P, X2 * Z1Z1 % P
    S1, S2 = Y1 * Z2 * Z2Z2 % P, Y2 * Z1 * Z1Z1 % P
    if U1 == U2:
        return _jdbl(p) if S1 == S2 else (0, 1, 0)
    H = (U2 - U1) % P
    I = 4 * H * H % P
    J = H * I % P
    r = 2 * (S2 - S1) % P
    V = U1 * I % P
    X3 = (r * r - J - 2 * V) % P
    Y3 = (r * (V - X3) - 2 * S1 * J) % P
    return (X3, Y3, ((Z1 + Z2) ** 2 - Z1Z1 - Z2Z2) * H % P)


def add(p, q):
    return _aff(_jadd(_jac(p), _jac(q)))


def neg(p):
    return INF if p is INF else (p[0], (-p[1]) % P)


def mul(p, k):
    k %= R
    acc = (0, 1, 0)
    base = _jac(p)
    for bit in bin(k)[2:]:
        acc = _jdbl(acc)
        if bit == "1":
            acc = _jadd(acc, base)
    return _aff(acc)


def msum(terms):
    acc = (0, 1, 0)
    for pt, k in terms:
        k %= R
        base = _jac(pt)
        part = (0, 1, 0)
        for bit in bin(k)[2:]:
            part = _jdbl(part)
            if bit == "1":
                part = _jadd(part, base)
        acc = _jadd(acc, part)
    return _aff(acc)


def min_bytes(n):
    n = abs(n)
    return b"\x00" if n == 0 else n.to_bytes((n.bit_length() + 7) // 8, "big")


def svdw(u):
    u %= P
    t1 = u * u * C1 % P
    t2 = (1 + t1) % P
    t1 = (1 - t1) % P
    t3 = inv(t1 * t2, P)
    t4 = u * t1 * t3 * C3 % P
    x1 = (C2 - t4) % P
    x2 = (C2 + t4) % P
    x3 = (pow(t2 * t2 * t3, 2, P) * C4 + 1) % P
    e1 = pow((x1 ** 3 + 3) % P, (P - 1) // 2, P) == 1
    e2 = pow((x2 ** 3 + 3) % P, (P - 1) // 2, P) == 1
    x = x1 if e1 else (x2 if e2 else x3)
    gx = (x ** 3 + 3) % P
    y = pow(gx, (P + 1) // 4, P)
    assert y * y % P == gx
    if (u & 1) != (y & 1):
        y = P - y
    return (x, y)


def generate_random_point(data):
    return svdw(int.from_bytes(data, "big"))


def derive_generator(k):
    digest = hashlib.sha512(min_bytes(k)).digest()
    return generate_random_point(min_bytes(int.from_bytes(digest, "big")))


def derive_generator_vectors(n):
    return ([derive_generator(LABEL + i) for i in range(n)],
            [derive_generator(LABEL + n + i) for i in range(n)])


def range_test_h():
    return derive_generator(1)


def compressed(pt):
    if pt is INF:
        return bytes([0x40]) + bytes(31)
    b = bytearray(pt[0].to_bytes(32, "big"))
    if pt[1] > (P - 1) // 2:
        b[0] |= 0x80
    return bytes(b)


def decompress(hexstr):
    b = bytearray(bytes.fromhex(hexstr))
    if b[0] & 0x40:
        return INF
    negative = bool(b[0] & 0x80)
    b[0] &= 0x3F
    x = int.from_bytes(b, "big")
    gx = (x ** 3 + 3) % P
    y = pow(gx, (P + 1) // 4, P)
    assert y * y % P == gx, "not on the curve"
    if (y > (P - 1) // 2) != negative:
        y = P - y
    return (x, y)


def uncompressed(pt):
    if pt is INF:
        return bytes([0x40]) + bytes(63)
    return pt[1].to_bytes(32, "big") + pt[0].to_bytes(32, "big")


def point_challenge(*pts):
    data = b"".join(uncompressed(p) for p in pts) + bytes(4)
    return int.from_bytes(hashlib.sha256(data).digest(), "big") % R


def integer_challenge(*ints):
    data = b"".join(min_bytes(k) for k in ints) + bytes(4)
    return int.from_bytes(hashlib.sha256(data).digest(), "big") % R


def ipa_prove(G, H, ux, a, b):
    """Returns (L, R, a_tag, b_tag)."""
    Ls, Rs = [], []
    while len(G) > 1:
        m = len(G) // 2
        a_lo, a_hi, b_lo, b_hi = a[:m], a[m:], b[:m], b[m:]
        G_lo, G_hi, H_lo, H_hi = G[:m], G[m:], H[:m], H[m:]
        c_lo = sum(x * y for x, y in zip(a_lo, b_hi)) % R
        c_hi = sum(x * y for x, y in zip(a_hi, b_lo)) % R
        Lp = msum(list(zip(G_hi, a_lo)) + list(zip(H_lo, b_hi)) + [(ux, c_lo)])
        Rp = msum(list(zip(G_lo, a_hi)) + list(zip(H_hi, b_lo)) + [(ux, c_hi)])
        x = point_challenge(Lp, Rp, ux)
        xi = inv(x, R)
        a = [(a_lo[i] * x + a_hi[i] * xi) % R for i in range(m)]
        b = [(b_hi[i] * x + b_lo[i] * xi) % R for i in range(m)]
        G = [add(mul(G_lo[i], xi), mul(G_hi[i], x)) for i in range(m)]
        H = [add(mul(H_lo[i], x), mul(H_hi[i], xi)) for i in range(m)]
        Ls.append(Lp)
        Rs.append(Rp)
    return Ls, Rs, a[0], b[0]


def ipa_verify(Ls, Rs, a_tag, b_tag, G, H, ux, Pt):
    """The recursive halving verification; IndexError when L/R run out."""
    j = 0
    while len(G) > 1:
        m = len(G) // 2
        x = point_challenge(Ls[j], Rs[j], ux)
        xi = inv(x, R)
        G = [add(mul(G[i], xi), mul(G[m + i], x)) for i in range(m)]
        H = [add(mul(H[i], x), mul(H[m + i], xi)) for i in range(m)]
        Pt = msum([(Ls[j], x * x), (Rs[j], xi * xi), (Pt, 1)])
        j += 1
    a, b = a_tag % R, b_tag % R
    return Pt == msum([(G[0], a), (H[0], b), (ux, a * b)])


def parse_proof(doc):
    """RangeProof JSON (as loaded by json.loads) to plain values."""
    pt = lambda o: decompress(o["point"])
    sc = lambda o: int(o["scalar"], 16) % R
    ipa = doc["inner_product_proof"]
    return {
        "A": pt(doc["A"]), "S": pt(doc["S"]), "T1": pt(doc["T1"]), "T2": pt(doc["T2"]),
        "tau_x": sc(doc["tau_x"]), "miu": sc(doc["miu"]), "tx": sc(doc["tx"]),
        "L": [pt(o) for o in ipa["L"]], "R": [pt(o) for o in ipa["R"]],
        "a_tag": int(ipa["a_tag"] or "0", 16), "b_tag": int(ipa["b_tag"] or "0", 16),
    }


def range_verify(proof, g_vec, h_vec, G, H, Vs, n):
    """The verification step by step; True when both checks hold."""
    m = len(Vs)
    N = n * m
    y = point_challenge(proof["A"], proof["S"])
    z = point_challenge(mul(B, y))
    delta = ((z - z * z) * sum(pow(y, i, R) for i in range(N))
             - sum(pow(z, j + 3, R) for j in range(m)) * sum(1 << k for k in range(n))) % R
    h_prime = [mul(h_vec[i], inv(pow(y, i, R), R)) for i in range(N)]
    x = point_challenge(proof["T1"], proof["T2"], G, H, *Vs)
    left = msum([(G, proof["tx"]), (H, proof["tau_x"])])
    right = msum([(V, pow(z, j + 2, R)) for j, V in enumerate(Vs)]
                 + [(G, delta), (proof["T1"], x), (proof["T2"], x * x)])
    ux = integer_challenge(proof["tau_x"], proof["miu"], proof["tx"])
    Gx = mul(G, ux)
    terms = [(H, -proof["miu"]), (Gx, proof["tx"]), (proof["A"], 1), (proof["S"], x)]
    terms += [(g, -z) for g in g_vec[:N]]
    terms += [(h_prime[i], z * pow(y, i, R) + pow(z, i // n + 2, R) * (1 << (i % n))) for i in range(N)]
    Pt = msum(terms)
    ok = ipa_verify(proof["L"], proof["R"], proof["a_tag"], proof["b_tag"], g_vec[:N], h_prime, Gx, Pt)
    return ok and left == right
