// Constant-time check under valgrind memcheck: the secret inputs are marked
// undefined, so any conditional jump or memory index that depends on them is
// reported as use of uninitialised values. Run as
//   valgrind --error-exitcode=1 ./ct_valgrind
// Outside valgrind the client requests do nothing and the program only runs.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>

#include "group/curve.hpp"
#include "group/field.hpp"

using namespace nacrel;

namespace {

template <class T>
void secret(T& v) {
  VALGRIND_MAKE_MEM_UNDEFINED(&v, sizeof v);
}

template <class T>
void release(T& v) {
  VALGRIND_MAKE_MEM_DEFINED(&v, sizeof v);
}

}  // namespace

int main() {
  int failures = 0;
  // Both field product paths (the mulx/adx one only where available).
  for (int round = 0; round < 6; ++round) {
    set_fast_field_mul(round >= 3);
    uint8_t bytes[32];
    os_random_bytes(bytes, sizeof bytes);
    if (round % 3 == 1) std::memset(bytes, 0, sizeof bytes);  // the zero scalar too
    secret(bytes);

    // Scalar from secret bytes, arithmetic and inversion in Fr.
    Fr k = Fr::from_be_bytes_reduce(bytes, sizeof bytes);
    Fr k2 = (k * k + k - Fr::one()) * -k;
    Fr kinv = k2.inverse_ct();

    // Products with a secret scalar and their constant-time normalisation.
    G1Affine base = G1Affine::generator();
    G1Affine p = to_affine(mul_ct(base, k));
    G1Affine q = to_affine(mul_ct(p, kinv));  // p is secret-derived too

    // A sum of products with secret scalars, one of the points secret-derived.
    G1Affine bases[3] = {base, p, G1Affine::identity()};
    Fr ks[3] = {k, k2, kinv};
    G1Affine sum = to_affine(msm_ct(bases, ks, 3));

    // The same sum over public bases (shared-inversion affine additions).
    G1Affine pub[3] = {base, G1Affine::generator(), to_affine_vartime(mul_vartime(base, Fr::from_u64(7)))};
    pub[1].y = -pub[1].y;
    G1Affine sum_pub = to_affine(msm_ct_public_bases(pub, ks, 3));

    // Fq inversion and square of a secret-derived coordinate.
    Fq x = p.x.inverse_ct() * p.y.sqr() - p.x;

    release(k);
    release(kinv);
    release(k2);
    release(ks);
    release(p);
    release(q);
    release(x);
    release(sum);
    release(sum_pub);
    // Cross-check with the variable-time path on the released values.
    G1Affine want = to_affine_vartime(mul_vartime(G1Affine::generator(), k));
    G1Affine want_sum = to_affine_vartime(add(mul_vartime(base, k), mul_vartime(p, k2)));
    G1Affine want_pub = to_affine_vartime(msm_vartime(pub, ks, 3));
    if (p != want || sum != want_sum || sum_pub != want_pub || (!k2.is_zero() && k2 * kinv != Fr::one())) ++failures;
    std::printf("round %d (%s field code): %s\n", round, fast_field_mul_active() ? "mulx/adx" : "portable",
                p == want ? "ok" : "MISMATCH");
  }
  return failures == 0 ? 0 : 1;
}
