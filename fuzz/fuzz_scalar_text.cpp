// Scalar texts: the bare 64-digit hex text of the Python functions and the
// scalar JSON value nested in every proof record (object or [curve, scalar]
// array). Accepted scalars must survive encode -> decode unchanged and agree
// with the 32-byte decoder.
#include "fuzz_util.hpp"
#include "group/encoding.hpp"

using namespace nacrel;

namespace {

void check_round_trip(const Scalar& s) {
  const std::string hex = parse_scep256k1scalar_to_string(s);
  fuzz::require(hex.size() == 64, "scalar text is not 64 digits");
  Scalar again;
  fuzz::succeeds([&] { again = parse_string_to_scep256k1scalar(hex); }, true);
  fuzz::require(again == s, "scalar text round trip changed the scalar");
  fuzz::require(parse_scep256k1scalar_to_string(again) == hex, "scalar text not canonical");
  const std::string doc = json::write_compact(scalar_json(s));
  Scalar from_doc = parse_document(doc, [](json::Reader& r) { return read_scalar(r); });
  fuzz::require(from_doc == s, "scalar JSON round trip changed the scalar");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::text_of(data, size);

  Scalar s;
  if (fuzz::succeeds([&] { s = parse_string_to_scep256k1scalar(text); }, true)) {
    check_round_trip(s);
    if (size == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
      uint8_t bytes[32];
      fuzz::require(hex_decode(text, bytes), "hex text not decodable");
      Scalar k;
      fuzz::require(Scalar::deserialize(bytes, 32, k) && k == s, "text and byte decoders disagree");
    }
  }

  if (fuzz::succeeds([&] { s = parse_document(text, [](json::Reader& r) { return read_scalar(r); }); }, true))
    check_round_trip(s);
  return 0;
}
