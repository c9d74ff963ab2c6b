// Point texts: the bare hex text of the Python functions (compressed or
// uncompressed, either case), the point JSON value nested in every proof
// record (object or [curve, point] array) and lists of them. Accepted points
// must survive encode -> decode unchanged, and the text and byte decoders must
// agree.
#include <vector>

#include "fuzz_util.hpp"
#include "group/encoding.hpp"

using namespace nacrel;

namespace {

void check_round_trip(const Point& p) {
  const std::string hex = parse_scep256k1point_to_string(p);
  fuzz::require(hex.size() == 64, "point text is not 64 digits");
  Point again;
  fuzz::succeeds([&] { again = parse_string_to_scep256k1point(hex); }, true);
  fuzz::require(again == p, "point text round trip changed the point");
  // The JSON value of the point reads back as the same point.
  const std::string doc = json::write_compact(point_json(p));
  Point from_doc = parse_document(doc, [](json::Reader& r) { return read_point(r); });
  fuzz::require(from_doc == p, "point JSON round trip changed the point");
  // The byte decoder accepts the bytes behind the text.
  const std::array<uint8_t, 32> c = p.serialize_compressed();
  Point from_bytes;
  fuzz::require(Point::deserialize(c.data(), c.size(), from_bytes) && from_bytes == p,
                "compressed bytes of an accepted point do not decode to it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::text_of(data, size);

  Point p;
  if (fuzz::succeeds([&] { p = parse_string_to_scep256k1point(text); }, true)) {
    check_round_trip(p);
    // A plain hex text decodes as its bytes do.
    if ((size == 64 || size == 128) && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
      uint8_t bytes[64];
      fuzz::require(hex_decode(text, bytes), "hex text not decodable");
      Point q;
      fuzz::require(Point::deserialize(bytes, size / 2, q) && q == p, "text and byte decoders disagree");
    }
  }

  if (fuzz::succeeds([&] { p = parse_document(text, [](json::Reader& r) { return read_point(r); }); }, true))
    check_round_trip(p);

  std::vector<Point> list;
  if (fuzz::succeeds([&] { list = parse_document(text, [](json::Reader& r) { return read_point_list(r); }); },
                     true))
    for (const Point& q : list) check_round_trip(q);
  return 0;
}
