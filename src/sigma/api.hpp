// The operations behind the Python sigma functions, on core values: each
// makes or reads the proof text and applies the checks those functions assert.
// Failures are InternalFailure: "assertion failed: false" for a failed
// assertion, the unwrap message for a text that does not decode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel::sigma {

// Schnorr proof that sum_tokens = h_sumR*sk; the token itself is not read.
// use_sha512 selects the hash (SHA-256 otherwise).
std::string dlog_explicit_prove(bool use_sha512, const Scalar& sk, const Point& h_sumR);
// SHA-256 proof merged with its two witness products, members sorted by name.
std::string dlog_explicit_prove_with_witness(const Scalar& sk, const Point& h_sumR);
bool dlog_explicit_verify(bool use_sha512, std::string_view text, const Point& h_sumR, const Point& sum_tokens);

// Proof that sum_tokens = h_sumR*sk and pk = h*sk share sk; asserts that the
// proof's pk_l is sum_tokens.
std::string dlog_eq_key_prove(bool use_sha512, const Point& sum_tokens, const Scalar& sk, const Point& h,
                              const Point& h_sumR);
// Asserts that the proof's pk_l is sum_tokens, then answers the verification.
bool dlog_eq_key_verify(bool use_sha512, std::string_view text, const Point& h, const Point& h_sumR,
                        const Point& sum_tokens);

// SHA-256 proof that g1*v and g2*v share v.
std::string dlog_eq_same_secret_prove(int32_t v, const Point& g1, const Point& g2);
bool dlog_eq_same_secret_verify(std::string_view text, const Point& g1, const Point& g2);

// Pedersen equality proof for v over (g, h); pk_text is a bare point text.
std::string dlog_eq_ped_prove(int32_t v, const Point& g, const Point& h, std::string_view pk_text);
std::string dlog_eq_ped_prove_with_witness(int32_t v, const Point& g, const Point& h, std::string_view pk_text);
bool dlog_eq_ped_verify(std::string_view text, const Point& g, const Point& h);

// Consistency of cm = g*val + h*r with token = pk*r; pubkey_text is a bare point text.
std::string consistency_prove(int32_t val, const Scalar& r, const Point& g, const Point& h, const Point& cm,
                              const Point& token, std::string_view pubkey_text);
std::string consistency_prove_with_witness(int32_t val, const Scalar& r, const Point& g, const Point& h,
                                           const Point& cm, const Point& token, std::string_view pubkey_text);
bool consistency_verify(std::string_view text, const Point& g, const Point& h, const Point& cm, const Point& token,
                        std::string_view pubkey_text);

}  // namespace nacrel::sigma
