// Sigma proofs: challenge transcripts against independently computed values,
// prove/verify round trips, tampering, text layout and reading errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "failure_util.hpp"
#include "group/sha2.hpp"
#include "sigma/api.hpp"
#include "sigma/challenge.hpp"
#include "sigma/consistency.hpp"
#include "sigma/dlog_eq.hpp"
#include "sigma/dlog_eq_ped.hpp"
#include "sigma/dlog_explicit.hpp"
#include "sigma_vectors.hpp"

using namespace nacrel;
using namespace nacrel::sigma;

using test_util::failure_of;
using test_util::unwrapped;

namespace {

Point mulG(int64_t k) {
  if (k == 0) return Point::identity();
  Point p = Point::generator() * Scalar::from_i64(k < 0 ? -k : k);
  return k < 0 ? -p : p;
}

Scalar sc(int64_t k) { return Scalar::from_i64(k); }

std::string hex_of(const Scalar& s) { return parse_scep256k1scalar_to_string(s); }

const Point& H() {
  static const Point h = mulG(static_cast<int64_t>(sigma_vectors::kH));
  return h;
}
const Point& PK() {
  static const Point pk = mulG(static_cast<int64_t>(sigma_vectors::kSecret));
  return pk;
}

}  // namespace

// ---------------------------------------------------------------- challenges

TEST(Challenge, MatchesIndependentTranscriptHashes) {
  for (const auto& v : sigma_vectors::kChallenges) {
    std::vector<Point> pts;
    for (int i = 0; i < v.count; ++i) pts.push_back(mulG(v.multipliers[i]));
    std::vector<const Point*> ptrs;
    for (const Point& p : pts) ptrs.push_back(&p);
    EXPECT_EQ(hex_of(challenge_scalar<Sha256>(ptrs.data(), ptrs.size())), v.sha256) << v.name;
    EXPECT_EQ(hex_of(challenge_scalar<Sha512>(ptrs.data(), ptrs.size())), v.sha512) << v.name;
  }
}

TEST(Challenge, GeneratorAloneReducesTheSha256Digest) {
  const Point& g = Point::generator();
  // The SHA-256 digest 4c2f...7244 exceeds r; the challenge is its reduction.
  EXPECT_EQ(hex_of(challenge_scalar<Sha256>({&g})), "1bcb661b301089f2b094b5521376e9dfa3cd7c500858b562f6d8874330b17243");
  EXPECT_EQ(hex_of(challenge_scalar<Sha512>({&g})), "1f7a46492ad527b1c8043c39d9e59c59940e27e55519984248d9c0f34af25c92");
}

// ------------------------------------------------- fixed proofs from Python

template <class Record>
void expect_same_text(const char* text) {
  Record rec = Record::from_text(text);
  EXPECT_EQ(rec.to_text(), std::string(text));
}

TEST(FixedProofs, ExplicitVerifiesOnlyWithItsHashAndRewritesByteExact) {
  const Point g = mulG(5);
  expect_same_text<DLogProofExplicit<Sha256>>(sigma_vectors::kDLogExplicit256);
  expect_same_text<DLogProofExplicit<Sha512>>(sigma_vectors::kDLogExplicit512);
  EXPECT_TRUE(DLogProofExplicit<Sha256>::from_text(sigma_vectors::kDLogExplicit256).verify(g, g * sc(sigma_vectors::kSecret)));
  EXPECT_TRUE(DLogProofExplicit<Sha512>::from_text(sigma_vectors::kDLogExplicit512).verify(g, g * sc(sigma_vectors::kSecret)));
  EXPECT_FALSE(DLogProofExplicit<Sha512>::from_text(sigma_vectors::kDLogExplicit256).verify(g, g * sc(sigma_vectors::kSecret)));
  EXPECT_FALSE(DLogProofExplicit<Sha256>::from_text(sigma_vectors::kDLogExplicit512).verify(g, g * sc(sigma_vectors::kSecret)));
}

TEST(FixedProofs, DLogEqVerifiesOnlyWithItsHashAndRewritesByteExact) {
  const Point g1 = mulG(5), g2 = mulG(7);
  expect_same_text<DLogEqProof<Sha256>>(sigma_vectors::kDLogEq256);
  expect_same_text<DLogEqProof<Sha512>>(sigma_vectors::kDLogEq512);
  EXPECT_TRUE(DLogEqProof<Sha256>::from_text(sigma_vectors::kDLogEq256).verify(g1, g2));
  EXPECT_TRUE(DLogEqProof<Sha512>::from_text(sigma_vectors::kDLogEq512).verify(g1, g2));
  EXPECT_FALSE(DLogEqProof<Sha512>::from_text(sigma_vectors::kDLogEq256).verify(g1, g2));
  EXPECT_FALSE(DLogEqProof<Sha256>::from_text(sigma_vectors::kDLogEq512).verify(g1, g2));
  EXPECT_FALSE(DLogEqProof<Sha256>::from_text(sigma_vectors::kDLogEq256).verify(g2, g1));
}

TEST(FixedProofs, PedersenEqualityAndConsistencyVerifyAndRewriteByteExact) {
  expect_same_text<DLogEqProofPed>(sigma_vectors::kDLogEqPed);
  expect_same_text<ConsistencyProof>(sigma_vectors::kConsistency);
  const Point& g = Point::generator();
  EXPECT_TRUE(DLogEqProofPed::from_text(sigma_vectors::kDLogEqPed).verify(g, H()));
  EXPECT_FALSE(DLogEqProofPed::from_text(sigma_vectors::kDLogEqPed).verify(H(), g));
  const Point cm = lincomb_ct(g, sc(42), H(), sc(99));
  const Point token = PK() * sc(99);
  EXPECT_TRUE(ConsistencyProof::from_text(sigma_vectors::kConsistency).verify(g, H(), cm, PK(), token));
  EXPECT_FALSE(ConsistencyProof::from_text(sigma_vectors::kConsistency).verify(g, H(), cm, PK(), token + g));
}

// ------------------------------------------------------- explicit dlog proof

template <class Hash>
void explicit_round_trip() {
  const Point g = mulG(11);
  const Scalar x = Scalar::random();
  const Point pk = g * x;
  auto proof = DLogProofExplicit<Hash>::prove(x, g);
  EXPECT_EQ(proof.pk, pk);
  EXPECT_TRUE(proof.verify(g, pk));
  EXPECT_TRUE(DLogProofExplicit<Hash>::from_text(proof.to_text()).verify(g, pk));
  EXPECT_FALSE(proof.verify(g, pk + g)) << "pk other than the expected one";
  EXPECT_FALSE(proof.verify(g + g, pk)) << "other base";

  using Tamper = std::function<void(DLogProofExplicit<Hash>&)>;
  const std::vector<std::pair<const char*, Tamper>> tampers = {
      {"pk", [&](auto& p) { p.pk = p.pk + g; }},
      {"pk_t_rand_commitment", [&](auto& p) { p.pk_t_rand_commitment = p.pk_t_rand_commitment + g; }},
      {"challenge_response", [&](auto& p) { p.challenge_response = p.challenge_response + sc(1); }},
  };
  for (const auto& [name, tamper] : tampers) {
    auto bad = proof;
    tamper(bad);
    EXPECT_FALSE(bad.verify(g, bad.pk)) << name;
  }
}

TEST(DLogExplicit, RoundTripAndTamperingSha256) { explicit_round_trip<Sha256>(); }
TEST(DLogExplicit, RoundTripAndTamperingSha512) { explicit_round_trip<Sha512>(); }

TEST(DLogExplicit, FreshNoncePerProof) {
  const Point g = mulG(3);
  const Scalar x = sc(77);
  auto a = DLogProofExplicit<Sha256>::prove(x, g), b = DLogProofExplicit<Sha256>::prove(x, g);
  EXPECT_EQ(a.pk, b.pk);
  EXPECT_NE(a.pk_t_rand_commitment, b.pk_t_rand_commitment);
  EXPECT_NE(a.challenge_response, b.challenge_response);
}

TEST(DLogExplicit, WitnessProductsAddUpToTheNonceCommitment) {
  const Point g = mulG(9);
  auto proof = DLogProofExplicit<Sha256>::prove(Scalar::random(), g);
  DLogProofExplicitMulWitness w = generate_mul_witness(proof, g);
  EXPECT_EQ(w.chalrsph2r + w.challengepk, proof.pk_t_rand_commitment);
  EXPECT_EQ(w.chalrsph2r, g * proof.challenge_response);
}

// ---------------------------------------------------- dlog equality proof

template <class Hash>
void dlog_eq_round_trip() {
  const Point g1 = mulG(13), g2 = H();
  const Scalar x = Scalar::random();
  auto proof = DLogEqProof<Hash>::prove(x, g1, g2);
  EXPECT_EQ(proof.pk_l, g1 * x);
  EXPECT_EQ(proof.pk_r, g2 * x);
  EXPECT_EQ(proof.challenge_response_l, proof.challenge_response_r);
  EXPECT_TRUE(proof.verify(g1, g2));
  EXPECT_TRUE(DLogEqProof<Hash>::from_text(proof.to_text()).verify(g1, g2));
  EXPECT_FALSE(proof.verify(g2, g1));

  using Tamper = std::function<void(DLogEqProof<Hash>&)>;
  const Point& g = Point::generator();
  const std::vector<std::pair<const char*, Tamper>> tampers = {
      {"pk_l", [&](auto& p) { p.pk_l = p.pk_l + g; }},
      {"pk_r", [&](auto& p) { p.pk_r = p.pk_r + g; }},
      {"pk_t_rand_commitment_l", [&](auto& p) { p.pk_t_rand_commitment_l = p.pk_t_rand_commitment_l + g; }},
      {"pk_t_rand_commitment_r", [&](auto& p) { p.pk_t_rand_commitment_r = p.pk_t_rand_commitment_r + g; }},
      {"challenge_response_l", [&](auto& p) { p.challenge_response_l = p.challenge_response_l + sc(1); }},
      {"challenge_response_r", [&](auto& p) { p.challenge_response_r = p.challenge_response_r + sc(1); }},
      // The equations use the recomputed challenge; only the final comparison sees this.
      {"challenge", [&](auto& p) { p.challenge = p.challenge + sc(1); }},
  };
  for (const auto& [name, tamper] : tampers) {
    auto bad = proof;
    tamper(bad);
    EXPECT_FALSE(bad.verify(g1, g2)) << name;
  }
}

TEST(DLogEq, RoundTripAndTamperingSha256) { dlog_eq_round_trip<Sha256>(); }
TEST(DLogEq, RoundTripAndTamperingSha512) { dlog_eq_round_trip<Sha512>(); }

TEST(DLogEq, EqualBasesNeverVerify) {
  const Point g = mulG(4);
  auto proof = DLogEqProof<Sha256>::prove(sc(5), g, g);
  EXPECT_FALSE(proof.verify(g, g));
}

// Two different secrets, each with its own nonce, satisfy both equations
// separately; the single shared response is what ties them together.
TEST(DLogEq, DifferentSecretsWithTwoResponsesAreRejected) {
  const Point g1 = mulG(13), g2 = H();
  const Scalar x = sc(1000), y = sc(2000), k1 = sc(31), k2 = sc(37);
  DLogEqProof<Sha256> forged;
  forged.pk_l = g1 * x;
  forged.pk_r = g2 * y;
  forged.pk_t_rand_commitment_l = g1 * k1;
  forged.pk_t_rand_commitment_r = g2 * k2;
  forged.challenge = challenge_scalar<Sha256>(
      {&forged.pk_t_rand_commitment_l, &forged.pk_t_rand_commitment_r, &g1, &g2, &forged.pk_l, &forged.pk_r});
  forged.challenge_response_l = k1 - forged.challenge * x;
  forged.challenge_response_r = k2 - forged.challenge * y;
  // Both equations hold on their own ...
  EXPECT_EQ(g1 * forged.challenge_response_l + forged.pk_l * forged.challenge, forged.pk_t_rand_commitment_l);
  EXPECT_EQ(g2 * forged.challenge_response_r + forged.pk_r * forged.challenge, forged.pk_t_rand_commitment_r);
  // ... but the logarithms differ, so the proof must not pass.
  EXPECT_FALSE(forged.verify(g1, g2));
}

// ------------------------------------------------- Pedersen equality proof

TEST(DLogEqPed, ProofRelationsRoundTripAndTampering) {
  const Point& g = Point::generator();
  const Point h = H();
  const Scalar x = sc(-1);  // r - 1: its square is 1
  auto proof = DLogEqProofPed::prove(x, g, h, PK());
  EXPECT_EQ(proof.cm3, proof.cm1);
  EXPECT_EQ(proof.token, PK() * proof.r1);
  EXPECT_EQ(proof.cm1, g + h * proof.r1);
  EXPECT_EQ(proof.cm2, g * x + h * proof.r2);
  EXPECT_TRUE(proof.verify(g, h));
  EXPECT_TRUE(DLogEqProofPed::from_text(proof.to_text()).verify(g, h));
  EXPECT_FALSE(proof.verify(g + g, h));
  EXPECT_FALSE(proof.verify(g, h + g));

  using Tamper = std::function<void(DLogEqProofPed&)>;
  struct Case {
    const char* name;
    Tamper tamper;
    bool still_verifies;
  };
  // cm1, token, r1 and r2 are carried along but take no part in verification.
  const std::vector<Case> cases = {
      {"cm1", [&](auto& p) { p.cm1 = p.cm1 + g; }, true},
      {"token", [&](auto& p) { p.token = p.token + g; }, true},
      {"r1", [&](auto& p) { p.r1 = p.r1 + sc(1); }, true},
      {"r2", [&](auto& p) { p.r2 = p.r2 + sc(1); }, true},
      {"cm2", [&](auto& p) { p.cm2 = p.cm2 + g; }, false},
      {"cm3", [&](auto& p) { p.cm3 = p.cm3 + g; }, false},
      {"challenge", [&](auto& p) { p.challenge = p.challenge + sc(1); }, false},
      {"challenge_response_D", [&](auto& p) { p.challenge_response_D = p.challenge_response_D + sc(1); }, false},
      {"challenge_response_D1", [&](auto& p) { p.challenge_response_D1 = p.challenge_response_D1 + sc(1); }, false},
      {"challenge_response_D2", [&](auto& p) { p.challenge_response_D2 = p.challenge_response_D2 + sc(1); }, false},
  };
  for (const Case& c : cases) {
    DLogEqProofPed bad = proof;
    c.tamper(bad);
    EXPECT_EQ(bad.verify(g, h), c.still_verifies) << c.name;
  }
}

TEST(DLogEqPed, WitnessRebuildsTheNonceCommitments) {
  const Point& g = Point::generator();
  auto proof = DLogEqProofPed::prove(sc(12345), g, H(), PK());
  auto w = DLogEqProofPedMulWitness::of(proof, g, H());
  const Point a1 = w.chalRspDg + w.chalRspD1h - w.challengecm2;
  const Point a2 = w.chalRspDcm2 + w.chalRspD2h - w.challengecm3;
  EXPECT_EQ(challenge_scalar<Sha256>({&a1, &a2}), proof.challenge);
}

// ------------------------------------------------------- consistency proof

TEST(Consistency, RoundTripTamperingAndWitness) {
  const Point& g = Point::generator();
  const Point h = H();
  const Scalar m = sc(42), r = Scalar::random();
  const Point cm = lincomb_ct(g, m, h, r);
  const Point token = PK() * r;
  auto proof = ConsistencyProof::prove(m, r, g, h, cm, PK(), token);
  EXPECT_TRUE(proof.verify(g, h, cm, PK(), token));
  EXPECT_TRUE(ConsistencyProof::from_text(proof.to_text()).verify(g, h, cm, PK(), token));
  EXPECT_FALSE(proof.verify(g, h, cm + g, PK(), token));
  EXPECT_FALSE(proof.verify(g, h, cm, PK() + g, token));
  EXPECT_FALSE(proof.verify(g, h, cm, PK(), token + g));

  using Tamper = std::function<void(ConsistencyProof&)>;
  const std::vector<std::pair<const char*, Tamper>> tampers = {
      {"t1", [&](auto& p) { p.t1 = p.t1 + g; }},
      {"t2", [&](auto& p) { p.t2 = p.t2 + g; }},
      {"s1", [&](auto& p) { p.s1 = p.s1 + sc(1); }},
      {"s2", [&](auto& p) { p.s2 = p.s2 + sc(1); }},
      {"challenge", [&](auto& p) { p.challenge = p.challenge + sc(1); }},
  };
  for (const auto& [name, tamper] : tampers) {
    ConsistencyProof bad = proof;
    tamper(bad);
    EXPECT_FALSE(bad.verify(g, h, cm, PK(), token)) << name;
  }

  auto w = ConsistencyProofMulWitness::of(proof, m, r, g, h, PK(), token);
  EXPECT_EQ(w.chalcm, cm * proof.challenge);
  EXPECT_EQ(w.s1g + w.s2h - w.chalcm, proof.t1);
  EXPECT_EQ(w.s2pubkey - w.chaltk, proof.t2);
}

TEST(Consistency, ProverAssertsTheCommitmentOnly) {
  const Point& g = Point::generator();
  const Point h = H();
  const Scalar m = sc(7), r = sc(1234);
  const Point cm = lincomb_ct(g, m, h, r);
  EXPECT_EQ(failure_of([&] { ConsistencyProof::prove(m + sc(1), r, g, h, cm, PK(), PK() * r); }),
            "assertion failed: false");
  EXPECT_EQ(failure_of([&] { ConsistencyProof::prove(m, r + sc(1), g, h, cm, PK(), PK() * r); }),
            "assertion failed: false");
  // A token with another blinding still gets a proof, which then fails.
  const Point wrong_token = PK() * (r + sc(1));
  auto proof = ConsistencyProof::prove(m, r, g, h, cm, PK(), wrong_token);
  EXPECT_FALSE(proof.verify(g, h, cm, PK(), wrong_token));
}

// ------------------------------------------------------------ text layout

TEST(Layout, PrettyObjectWithNestedPointAndScalarObjects) {
  DLogProofExplicit<Sha256> p{Point::generator(), Point::identity(), sc(1)};
  const std::string one = std::string(63, '0') + "1";
  const std::string expected = "{\n"
                               "  \"pk\": {\n"
                               "    \"curve\": \"bn254\",\n"
                               "    \"point\": \"" + one + "\"\n"
                               "  },\n"
                               "  \"pk_t_rand_commitment\": {\n"
                               "    \"curve\": \"bn254\",\n"
                               "    \"point\": \"40" + std::string(62, '0') + "\"\n"
                               "  },\n"
                               "  \"challenge_response\": {\n"
                               "    \"curve\": \"bn254\",\n"
                               "    \"scalar\": \"" + one + "\"\n"
                               "  }\n"
                               "}";
  EXPECT_EQ(p.to_text(), expected);
}

TEST(Layout, WitnessMergeSortsMembersByName) {
  const Point& g = Point::generator();
  auto proof = DLogEqProofPed::prove(sc(3), g, H(), PK());
  json::Value merged = json::merge_sorted(proof.to_json(), DLogEqProofPedMulWitness::of(proof, g, H()).to_json());
  std::vector<std::string> names;
  for (const auto& m : merged.members()) names.push_back(m.first);
  const std::vector<std::string> expected = {
      "chalRspD1h", "chalRspD2h", "chalRspDcm2", "chalRspDg", "challenge", "challenge_response_D",
      "challenge_response_D1", "challenge_response_D2", "challengecm2", "challengecm3", "cm1", "cm2", "cm3", "r1",
      "r2", "token"};
  EXPECT_EQ(names, expected);
}

// ---------------------------------------------------------------- reading

namespace {

// The three member values of a fixed explicit proof, as compact JSON texts.
struct ExplicitParts {
  std::string pk, a, s;
};

ExplicitParts explicit_parts() {
  auto p = DLogProofExplicit<Sha256>::from_text(sigma_vectors::kDLogExplicit256);
  return {json::write_compact(point_json(p.pk)), json::write_compact(point_json(p.pk_t_rand_commitment)),
          json::write_compact(scalar_json(p.challenge_response))};
}

}  // namespace

TEST(Reading, AnyOrderUnknownMembersAndArrayFormReadTheSameRecord) {
  const ExplicitParts e = explicit_parts();
  const Point g = mulG(5), pk = g * sc(sigma_vectors::kSecret);
  const std::vector<std::string> texts = {
      "{\"challenge_response\":" + e.s + ",\"pk\":" + e.pk + ",\"pk_t_rand_commitment\":" + e.a + "}",
      " { \"x\" : [1, {\"y\": null}], \"pk\" :" + e.pk + ",\n\"pk_t_rand_commitment\":" + e.a +
          ",\"challenge\":true,\"challenge_response\":" + e.s + "}\n",
      "[" + e.pk + "," + e.a + "," + e.s + "]",
  };
  for (const std::string& t : texts) {
    auto p = DLogProofExplicit<Sha256>::from_text(t);
    EXPECT_TRUE(p.verify(g, pk)) << t;
    EXPECT_EQ(p.to_text(), std::string(sigma_vectors::kDLogExplicit256)) << t;
  }
}

TEST(Reading, ErrorTexts) {
  const ExplicitParts e = explicit_parts();
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"{}", "missing field `pk`"},
      {"{\"pk\":" + e.pk + "}", "missing field `pk_t_rand_commitment`"},
      {"{\"pk\":" + e.pk + ",\"pk_t_rand_commitment\":" + e.a + "}", "missing field `challenge_response`"},
      {"{\"pk\":" + e.pk + ",\"pk\":" + e.pk + "}", "duplicate field `pk`"},
      {"[]", "invalid length 0, expected struct DLogProofExplicit with 3 elements"},
      {"[" + e.pk + "," + e.a + "]", "invalid length 2, expected struct DLogProofExplicit with 3 elements"},
      {"[" + e.pk + "," + e.a + "," + e.s + "," + e.s + "]",
       "invalid length 4, expected struct DLogProofExplicit with 3 elements"},
      {"[" + e.pk + "," + e.a + "," + e.s + "] x", "trailing characters"},
      {"{\"pk\":{\"curve\":\"bn254\",\"point\":\"00\"}}", "invalid point"},
      {"{\"pk\":{\"curve\":\"bn254\",\"point\":\"" + std::string(64, '0') + "\"}}",
       "invalid point: failed to deserialize the point"},
      {"{\"pk\":{\"curve\":\"secp256k1\",\"point\":\"00\"}}", "belongs to secp256k1 curve, expected bn254 curve"},
      {"[" + e.pk + "," + e.a + ",{\"curve\":\"bn254\",\"scalar\":\"" + std::string(63, 'g') + "g\"}]",
       "malformed hex encoding"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(unwrapped(failure_of([&] { DLogProofExplicit<Sha512>::from_text(c.text); })), c.message) << c.text;

  // Not an object or array: the reader's invalid-type message naming the record.
  const std::string m = unwrapped(failure_of([] { DLogProofExplicit<Sha256>::from_text("\"abc\""); }));
  EXPECT_EQ(m.rfind("invalid type: ", 0), 0u) << m;
  EXPECT_NE(m.find("expected struct DLogProofExplicit"), std::string::npos) << m;
  // Syntax errors carry the position as well.
  EXPECT_EQ(failure_of([] { DLogProofExplicit<Sha256>::from_text("{"); }).rfind(kUnwrapPrefix, 0), 0u);
}

TEST(Reading, ArrayLengthNamesEachRecord) {
  const struct {
    std::function<void()> read;
    const char* message;
  } cases[] = {
      {[] { DLogEqProof<Sha256>::from_text("[]"); }, "invalid length 0, expected struct DLogEqProof with 7 elements"},
      {[] { DLogEqProofPed::from_text("[]"); }, "invalid length 0, expected struct DLogEqProofPed with 10 elements"},
      {[] { ConsistencyProof::from_text("[]"); }, "invalid length 0, expected struct ConsistencyProof with 5 elements"},
      {[] { DLogEqProof<Sha512>::from_text("{}"); }, "missing field `pk_l`"},
      {[] { DLogEqProofPed::from_text("{}"); }, "missing field `cm1`"},
      {[] { ConsistencyProof::from_text("{}"); }, "missing field `t1`"},
  };
  for (const auto& c : cases) EXPECT_EQ(unwrapped(failure_of(c.read)), c.message);
}

TEST(Reading, WitnessMembersAreIgnoredByTheProofReader) {
  const Point& g = Point::generator();
  const Point cm = lincomb_ct(g, sc(5), H(), sc(6));
  auto proof = ConsistencyProof::prove(sc(5), sc(6), g, H(), cm, PK(), PK() * sc(6));
  auto w = ConsistencyProofMulWitness::of(proof, sc(5), sc(6), g, H(), PK(), PK() * sc(6));
  const std::string text = json::write_pretty(json::merge_sorted(proof.to_json(), w.to_json()));
  EXPECT_TRUE(ConsistencyProof::from_text(text).verify(g, H(), cm, PK(), PK() * sc(6)));
}

// ------------------------------------------- operations behind the functions

TEST(Operations, TokenChecksOfTheKeyedEqualityProof) {
  const Point h = H();
  const Point h_sum_r = mulG(21);
  const Scalar sk = sc(987654321);
  const Point sum_tokens = h_sum_r * sk;
  for (bool sha512 : {false, true}) {
    const std::string text = dlog_eq_key_prove(sha512, sum_tokens, sk, h, h_sum_r);
    EXPECT_TRUE(dlog_eq_key_verify(sha512, text, h, h_sum_r, sum_tokens));
    EXPECT_FALSE(dlog_eq_key_verify(!sha512, text, h, h_sum_r, sum_tokens));
    EXPECT_EQ(failure_of([&] { dlog_eq_key_prove(sha512, sum_tokens + h, sk, h, h_sum_r); }),
              "assertion failed: false");
    // A valid proof checked against another token raises rather than answering.
    EXPECT_EQ(failure_of([&] { dlog_eq_key_verify(sha512, text, h, h_sum_r, sum_tokens + h); }),
              "assertion failed: false");
  }
}

TEST(Operations, TextArgumentsAndWitnessForms) {
  const Point& g = Point::generator();
  const Point h = H();
  const std::string pk_text = parse_scep256k1point_to_string(PK());
  EXPECT_EQ(failure_of([&] { dlog_eq_ped_prove(1, g, h, "abc"); }).rfind(std::string(kUnwrapPrefix) + "invalid point at line ", 0), 0u);
  const std::string ped = dlog_eq_ped_prove_with_witness(-1, g, h, pk_text);
  EXPECT_TRUE(dlog_eq_ped_verify(ped, g, h));
  EXPECT_EQ(ped.rfind("{\n  \"chalRspD1h\": {\n    \"curve\": \"bn254\",\n    \"point\": \"", 0), 0u);

  const Scalar r = sc(555);
  const Point cm = lincomb_ct(g, sc(-3), h, r);
  const Point token = PK() * r;
  const std::string cons = consistency_prove_with_witness(-3, r, g, h, cm, token, pk_text);
  EXPECT_EQ(cons.rfind("{\n  \"chalcm\": {", 0), 0u);
  EXPECT_TRUE(consistency_verify(cons, g, h, cm, token, pk_text));
  EXPECT_FALSE(consistency_verify(consistency_prove(-3, r, g, h, cm, token, pk_text), g, h, cm, token,
                                  parse_scep256k1point_to_string(PK() + g)));
  EXPECT_EQ(failure_of([&] { consistency_prove(3, r, g, h, cm, token, pk_text); }), "assertion failed: false");

  const std::string expl = dlog_explicit_prove_with_witness(sc(8), cm);
  EXPECT_EQ(expl.rfind("{\n  \"challenge_response\": {", 0), 0u);
  EXPECT_TRUE(dlog_explicit_verify(false, expl, cm, cm * sc(8)));
  EXPECT_FALSE(dlog_explicit_verify(true, expl, cm, cm * sc(8)));

  const std::string same = dlog_eq_same_secret_prove(-7, g, h);
  EXPECT_TRUE(dlog_eq_same_secret_verify(same, g, h));
  EXPECT_EQ(DLogEqProof<Sha256>::from_text(same).pk_l, -(g * sc(7)));
}
