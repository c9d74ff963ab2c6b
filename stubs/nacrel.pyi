"""Pedersen commitments, keys and tokens, sigma proofs and Bulletproofs range
proofs over the BN254 group G1.

Points and scalars cross the boundary as bare lowercase hexadecimal text (a
point as the 64 digits of its compressed encoding, a scalar as the 64 digits of
its 32 big-endian bytes); proofs as JSON text.

Errors: argument problems raise TypeError, OverflowError or ValueError. A text
that does not decode, or a failed precondition, raises
``pyo3_runtime.PanicException``. That type derives from BaseException, not
Exception, and is not an attribute of this module: it is created on the first
such failure, so catch it as BaseException (or take its type from a first
failure). The docstrings below say "Raises PanicException" where a function
can end that way. A proof that parses but does not verify makes its verifier
return False.

The six classes are final, have no constructor (calling one raises TypeError
"No constructor defined"), and compare and hash by identity: compare their
texts instead.
"""

from collections.abc import Sequence
from typing import final

__all__ = [
    "range_proof_test",
    "commit",
    "print_commit",
    "add",
    "sub",
    "add_value_commits",
    "sub_value_commits",
    "from_str",
    "to_token_from_str",
    "gen_GH",
    "gen_r",
    "range_proof_single",
    "gen_pb_sk",
    "regen_pb_sk",
    "to_scalar_from_str",
    "print_token",
    "add_token",
    "sub_token",
    "sub_commit_token",
    "add_commit_token",
    "h_to_x",
    "g_to_x",
    "g_to_r",
    "p_to_x",
    "sigma_eq_dlog_proof",
    "sigma_eq_dlog_proof_sha256",
    "to_token_from_pk",
    "sigma_eq_dlog_verify",
    "sigma_eq_dlog_verify_sha256",
    "range_proof_single_verify",
    "consistency_proof",
    "consistency_proof_verify",
    "sigma_dlog_proof_explicit",
    "sigma_dlog_proof_explicit_verify",
    "sigma_dlog_proof_explicit_sha256",
    "sigma_dlog_proof_explicit_verify_sha256",
    "get_brut_v",
    "hash_test1",
    "hash_test2",
    "hash_test3",
    "curve_name",
    "ghvec",
    "gen_new_GH",
    "sigma_eq_dlog_same_secret",
    "sigma_eq_dlog_verify_same_secret",
    "sigma_eq_dlog_ped_proof",
    "sigma_eq_dlog_ped_verify",
    "consistency_proof_with_witness",
    "sigma_eq_dlog_ped_proof_with_witness",
    "sigma_dlog_proof_explicit_sha256_with_witness",
    "from_coords",
    "get_y_coord",
    "Commit",
    "rand_r",
    "GH",
    "PbSk",
    "hx",
    "Token",
]

# ---- classes ----

@final
class Commit:
    """A commitment point (also any point read from text or coordinates)."""

    @property
    def get(self) -> str:
        """Point text of the point."""
    @property
    def to_str(self) -> str:
        """The same text as ``get``."""
    @property
    def x(self) -> str:
        """Affine x-coordinate in decimal ("0" for the point at infinity)."""
    @property
    def y(self) -> str:
        """Affine y-coordinate in decimal ("0" for the point at infinity)."""
    def is_zero(self) -> bool:
        """True exactly for the point at infinity."""
    def sum(self, c: Commit) -> Commit:
        """self + c."""
    def sub(self, c: Commit) -> Commit:
        """self - c."""
    def to_bytes(self) -> list[int]:
        """The 64-byte uncompressed encoding (y, then x; flag 0x40 for infinity)."""
    def from_bytes(self, a: Sequence[int]) -> str:
        """The 32 items of ``a`` read as a big-endian number modulo the group
        order, in decimal; ``self`` is not used. Raises ValueError for a length
        other than 32, OverflowError for an item outside 0..255."""

@final
class rand_r:
    """A scalar: a blinding factor, a secret key or an exponent."""

    @property
    def get(self) -> str:
        """Scalar text of the value."""
    @property
    def to_string(self) -> str:
        """The same text as ``get``."""
    def sum(self, r: rand_r) -> rand_r:
        """self + r modulo the group order."""
    def sub(self, r: rand_r) -> rand_r:
        """self - r modulo the group order."""
    def neg(self) -> rand_r:
        """-self modulo the group order."""
    def is_zero(self) -> bool:
        """True exactly when the value is 0."""

@final
class GH:
    """A generator pair: g is the value base, h the blinding base."""

    @property
    def h(self) -> str:
        """Point text of h."""
    @property
    def g(self) -> str:
        """Point text of g."""

@final
class PbSk:
    """A key pair: secret scalar sk and public point pk = h*sk."""

    def to_token(self, r: rand_r) -> Token:
        """The token pk*r."""
    def get_sk(self) -> str:
        """Scalar text of sk."""
    def get_pk(self) -> str:
        """Point text of pk."""

@final
class hx:
    """A product h*x; nothing can be read from it."""

@final
class Token:
    """A token point pk*r."""

    @property
    def get(self) -> str:
        """Point text of the point."""
    @property
    def to_str(self) -> str:
        """The same text as ``get``."""

# ---- commitments ----

def gen_GH() -> GH:
    """The fixed default pair: g hashed to the curve, h the standard generator."""

def gen_new_GH(g: Commit, h: Commit) -> GH:
    """A pair made of the points of g and h."""

def gen_r() -> rand_r:
    """A uniformly random non-zero scalar."""

def commit(val: int, r: rand_r, gh: GH) -> Commit:
    """val*g + r*h; val is a signed 32-bit value (OverflowError outside)."""

def add(com_l: Commit, com_r: Commit) -> Commit:
    """com_l + com_r."""

def sub(com_l: Commit, com_r: Commit) -> Commit:
    """com_l - com_r."""

def add_value_commits(com_l: str, com_r: str) -> str:
    """Point text of com_l + com_r, both given as point text.
    Raises PanicException for a text that does not decode."""

def sub_value_commits(com_l: str, com_r: str) -> str:
    """Point text of com_l - com_r, both given as point text.
    Raises PanicException for a text that does not decode."""

def from_str(str_point: str) -> Commit:
    """The point of a point text (64 or 128 hex digits).
    Raises PanicException for a text that does not decode."""

def from_coords(x_: str, y_: str) -> Commit:
    """The point with these affine coordinates, each given as scalar text.
    Raises PanicException for a text that does not decode or a point off the curve."""

def to_scalar_from_str(str_scalar: str) -> rand_r:
    """The scalar of a scalar text (64 hex digits).
    Raises PanicException for a text that does not decode."""

def print_commit(com: Commit) -> str:
    """Writes the point's debug form to file descriptor 1; returns "ok"."""

# ---- keys and tokens ----

def gen_pb_sk(gh: GH) -> PbSk:
    """A new random key pair for gh's h."""

def regen_pb_sk(gh: GH, sk: rand_r) -> PbSk:
    """The key pair (sk, h*sk)."""

def to_token_from_pk(pk_json_point: str, r: rand_r) -> Token:
    """pk*r for a public key given as bare point text.
    Raises PanicException for a text that does not decode."""

def to_token_from_str(str_point: str) -> Token:
    """The token of a point text.
    Raises PanicException for a text that does not decode."""

def add_token(token_l: Token, token_r: Token) -> Token:
    """token_l + token_r."""

def sub_token(token_l: Token, token_r: Token) -> Token:
    """token_l - token_r."""

def add_commit_token(commit_l: Commit, token_r: Token) -> Commit:
    """commit_l + token_r."""

def sub_commit_token(commit_l: Commit, token_r: Token) -> Commit:
    """commit_l - token_r."""

def print_token(token: Token) -> str:
    """Writes the token point's debug form to file descriptor 1; returns "ok"."""

# ---- coordinates and diagnostics ----

def get_y_coord(a1: Commit) -> str:
    """Affine y-coordinate in lowercase hexadecimal without leading zeros."""

def p_to_x(p: Commit, x: rand_r) -> Commit:
    """p*x."""

def h_to_x(gh: GH, x: rand_r) -> hx:
    """h*x."""

def g_to_r(gh: GH, r: rand_r) -> Commit:
    """g*r."""

def g_to_x(gh: GH, val: int) -> Commit:
    """g*val for a signed 32-bit val."""

def hash_test1(a1: Commit) -> str:
    """Prints a1's encoding to file descriptor 1; returns the SHA-256 challenge
    over a1 as scalar text."""

def hash_test2(a1: Commit, a2: Commit) -> str:
    """As hash_test1, over a1 and a2."""

def hash_test3(a1: Commit, a2: Commit, a3: Commit) -> str:
    """As hash_test1, over a1, a2 and a3."""

def curve_name() -> str:
    """The text "Bn254"."""

# ---- value recovery ----

def get_brut_v(c: Commit, t: Token, gh: GH, pbsk: PbSk, range: int) -> int:
    """The value v with |v| < range committed in c (whose token is t), or -1
    when none matches."""

# ---- sigma proofs ----
# Provers return the proof's JSON text. Verifiers return True or False, and
# raise PanicException for a proof text that does not parse.

def sigma_dlog_proof_explicit(sum_tokens: Token, pbsk: PbSk, h_sumR: Commit) -> str:
    """Proof of the discrete log of sum_tokens to the base h_sumR (SHA-512)."""

def sigma_dlog_proof_explicit_sha256(sum_tokens: Token, pbsk: PbSk, h_sumR: Commit) -> str:
    """As sigma_dlog_proof_explicit, with SHA-256."""

def sigma_dlog_proof_explicit_sha256_with_witness(sum_tokens: Token, pbsk: PbSk, h_sumR: Commit) -> str:
    """As sigma_dlog_proof_explicit_sha256, with the witness in the same JSON object."""

def sigma_dlog_proof_explicit_verify(ser_proof: str, h_sumR: Commit, sum_tokens: Token) -> bool:
    """Verifies a sigma_dlog_proof_explicit proof. Raises PanicException for a
    proof text that does not parse."""

def sigma_dlog_proof_explicit_verify_sha256(ser_proof: str, h_sumR: Commit, sum_tokens: Token) -> bool:
    """Verifies a sigma_dlog_proof_explicit_sha256 proof. Raises PanicException
    for a proof text that does not parse."""

def sigma_eq_dlog_proof(sum_tokens: Token, pbsk: PbSk, gh: GH, h_sumR: Commit) -> str:
    """Proof that sum_tokens and pk share one discrete log to h_sumR and h (SHA-512).
    Raises PanicException when sum_tokens is not h_sumR*sk."""

def sigma_eq_dlog_proof_sha256(sum_tokens: Token, pbsk: PbSk, gh: GH, h_sumR: Commit) -> str:
    """As sigma_eq_dlog_proof, with SHA-256."""

def sigma_eq_dlog_verify(ser_dlog_eq_proof: str, gh: GH, h_sumR: Commit, sum_tokens: Token) -> bool:
    """Verifies a sigma_eq_dlog_proof proof. Raises PanicException for a proof
    text that does not parse or whose pk_l is not sum_tokens."""

def sigma_eq_dlog_verify_sha256(ser_dlog_eq_proof: str, gh: GH, h_sumR: Commit, sum_tokens: Token) -> bool:
    """As sigma_eq_dlog_verify, with SHA-256."""

def sigma_eq_dlog_same_secret(v: int, gh1: GH, gh2: GH) -> str:
    """Proof that gh1's g*v and gh2's g*v share the secret v (SHA-256)."""

def sigma_eq_dlog_verify_same_secret(ser_dlog_eq_proof: str, gh1: GH, gh2: GH) -> bool:
    """Verifies a sigma_eq_dlog_same_secret proof. Raises PanicException for a
    proof text that does not parse."""

def sigma_eq_dlog_ped_proof(v: int, gh1: GH, gh2: GH, pk: str) -> str:
    """Pedersen equality proof for v and v*v. Raises PanicException when pk
    does not decode."""

def sigma_eq_dlog_ped_proof_with_witness(v: int, gh1: GH, gh2: GH, pk: str) -> str:
    """As sigma_eq_dlog_ped_proof, with the witness in the same JSON object."""

def sigma_eq_dlog_ped_verify(ser_dlog_eq_proof: str, gh1: GH, gh2: GH) -> bool:
    """Verifies a Pedersen equality proof. Raises PanicException for a proof
    text that does not parse."""

def consistency_proof(val: int, r: rand_r, gh: GH, ped_cm: Commit, token: Token, pubkey: str) -> str:
    """Proof that ped_cm and token use the same blinding r. Raises
    PanicException when ped_cm is not commit(val, r, gh) or pubkey does not decode."""

def consistency_proof_with_witness(val: int, r: rand_r, gh: GH, ped_cm: Commit, token: Token, pubkey: str) -> str:
    """As consistency_proof, with the witness in the same JSON object."""

def consistency_proof_verify(proof: str, gh: GH, ped_cm: Commit, token: Token, pubkey: str) -> bool:
    """Verifies a consistency proof. Raises PanicException for a proof text
    that does not parse or a pubkey that does not decode."""

# ---- range proofs ----

def range_proof_single(n_bit: int, val: int, gh: GH, r: rand_r) -> str:
    """Proof that commit(val, r, gh) holds a value in [0, 2**n_bit), as JSON
    text. Raises PanicException when n_bit is not a power of two, ValueError
    above 65536."""

def range_proof_single_verify(range_proof: str, n_bit: int, gh: GH, ped_cm: Commit) -> bool:
    """Verifies a range_proof_single proof against ped_cm. Raises
    PanicException for a proof text that does not parse, an n_bit that is not
    a power of two, or too few L/R entries for n_bit."""

def range_proof_test(n_bit: int, val: int) -> str:
    """Proves and verifies val on fixed bases, printing the progress to file
    descriptor 1; returns n_bit in decimal. Raises PanicException when the
    proof does not verify or n_bit is not a power of two."""

def ghvec(n_bit: int) -> str:
    """The two generator vectors for n_bit as JSON text."""
