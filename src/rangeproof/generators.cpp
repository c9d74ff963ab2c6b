#include "rangeproof/generators.hpp"

#include <memory>
#include <mutex>
#include <string>

#include "group/error.hpp"
#include "group/hash_to_curve.hpp"
#include "group/sha2.hpp"

namespace nacrel::rangeproof {

namespace {

// Label offsets below this are cached: enough for both vectors up to 1024 bits.
constexpr uint64_t kCachedOffsets = 2048;

Point generator_at_offset(uint64_t offset) {
  return derive_generator(BigInt::from_u64(kGeneratorLabel) + BigInt::from_u64(offset));
}

struct GeneratorCache {
  std::mutex mu;
  std::vector<Point> points;  // points[k] = generator of label + k

  // Extends the cache to `count` entries (count <= kCachedOffsets) and copies
  // entries [begin, end) to out.
  void copy(uint64_t count, uint64_t begin, uint64_t end, std::vector<Point>& out) {
    std::lock_guard<std::mutex> lock(mu);
    if (points.size() < count) {
      points.reserve(count);
      for (uint64_t k = points.size(); k < count; ++k) points.push_back(generator_at_offset(k));
    }
    out.assign(points.begin() + begin, points.begin() + end);
  }

  // Extends the tables to `end` entries (end <= kCachedOffsets) and returns
  // the addresses of entries [begin, end); each table is allocated once and
  // never moves, so the addresses stay valid without the lock.
  std::vector<const FixedTable*> table_range(uint64_t begin, uint64_t end) {
    std::lock_guard<std::mutex> lock(mu);
    if (points.size() < end) {
      points.reserve(end);
      for (uint64_t k = points.size(); k < end; ++k) points.push_back(generator_at_offset(k));
    }
    return range_of(tables, build_fixed_tables, begin, end);
  }

  // The same for the constant-time tables; only entries whose FixedTable
  // exists are asked for, so points[k] is there.
  std::vector<const CtTable*> ct_table_range(uint64_t begin, uint64_t end) {
    std::lock_guard<std::mutex> lock(mu);
    return range_of(ct_tables, build_ct_tables, begin, end);
  }

  // Entries [begin, end) of one kind of table, the missing ones up to end
  // built together from points (held lock, points[end - 1] present).
  template <class T>
  std::vector<const T*> range_of(std::vector<std::unique_ptr<T>>& store, void (*build)(const G1Affine*, T*, size_t),
                                 uint64_t begin, uint64_t end) {
    if (store.size() < end) {
      std::vector<G1Affine> ps;
      for (uint64_t k = store.size(); k < end; ++k) ps.push_back(points[k].ge());
      std::vector<T> built(ps.size());
      build(ps.data(), built.data(), ps.size());
      store.reserve(end);
      for (T& t : built) store.push_back(std::make_unique<T>(t));
    }
    std::vector<const T*> out;
    out.reserve(end - begin);
    for (uint64_t k = begin; k < end; ++k) out.push_back(store[k].get());
    return out;
  }

  // The sums of the generator vectors of length 2^k, built on first use.
  const GeneratorSums* sums_for(uint64_t n) {
    int k = 0;
    while ((uint64_t(1) << k) < n) ++k;
    std::lock_guard<std::mutex> lock(mu);
    std::unique_ptr<GeneratorSums>& slot = sums[size_t(k)];
    if (!slot) slot = std::make_unique<GeneratorSums>(generator_sums(points.data(), points.data() + n, n));
    return slot.get();
  }

  std::vector<std::unique_ptr<FixedTable>> tables;   // tables[k] for points[k]
  std::vector<std::unique_ptr<CtTable>> ct_tables;   // ct_tables[k] for points[k]
  std::unique_ptr<GeneratorSums> sums[12];            // sums[k] for length 2^k
};

GeneratorCache& cache() {
  static GeneratorCache c;  // never destroyed before exit; guarded construction
  return c;
}

}  // namespace

void check_range_bits(uint64_t n) {
  if (n > kMaxRangeBits)
    throw LimitError("n_bit " + std::to_string(n) + " exceeds the supported maximum of " + std::to_string(kMaxRangeBits) +
         " bits");
}

void check_proof_bits(uint64_t n) {
  if (n > kMaxRangeBits) ensure(n != 0 && (n & (n - 1)) == 0, "n.is_power_of_two()");
  check_range_bits(n);
}

Point derive_generator(const BigInt& k) {
  std::vector<uint8_t> label = k.to_bytes();
  std::array<uint8_t, 64> digest = sha512(label.data(), label.size());
  // Leading zero bytes of the digest are dropped; the map reads one big-endian
  // integer, so this never changes the point.
  std::vector<uint8_t> trimmed = BigInt::from_bytes(digest.data(), digest.size()).to_bytes();
  return generate_random_point(trimmed.data(), trimmed.size());
}

GeneratorVectors derive_generator_vectors(uint64_t n) {
  check_range_bits(n);
  GeneratorVectors out;
  if (2 * n <= kCachedOffsets) {
    cache().copy(2 * n, 0, n, out.g_vec);
    cache().copy(2 * n, n, 2 * n, out.h_vec);
    return out;
  }
  out.g_vec.reserve(n);
  out.h_vec.reserve(n);
  for (uint64_t i = 0; i < n; ++i) out.g_vec.push_back(generator_at_offset(i));
  for (uint64_t i = 0; i < n; ++i) out.h_vec.push_back(generator_at_offset(n + i));
  return out;
}

std::vector<const FixedTable*> generator_tables_for(const std::vector<Point>& g, const std::vector<Point>& h) {
  const uint64_t n = g.size();
  if (n == 0 || h.size() != n || 2 * n > kCachedOffsets) return {};
  std::vector<Point> first;
  cache().copy(1, 0, 1, first);
  if (first[0] != g[0]) return {};
  std::vector<const FixedTable*> tables = cache().table_range(0, 2 * n);
  for (uint64_t i = 0; i < n; ++i) {
    if (tables[i]->point() != g[i].ge() || tables[n + i]->point() != h[i].ge()) return {};
  }
  return tables;
}

std::vector<const CtTable*> generator_ct_tables_for(const std::vector<Point>& g, const std::vector<Point>& h) {
  if (generator_tables_for(g, h).empty()) return {};
  return cache().ct_table_range(0, 2 * g.size());
}

GeneratorSums generator_sums(const Point* g, const Point* h, size_t n) {
  std::vector<G1Jac> gh(n + 1);
  G1Jac h_sum = G1Jac::identity();
  for (size_t i = 0; i < n; ++i) {
    gh[i] = add_mixed(to_jacobian(g[i].ge()), h[i].ge());
    h_sum = add_mixed(h_sum, h[i].ge());
  }
  gh[n] = neg(h_sum);
  GeneratorSums out;
  out.gh.resize(n + 1);
  batch_to_affine(gh.data(), out.gh.data(), n + 1);
  out.minus_h = out.gh[n];
  out.gh.pop_back();
  return out;
}

const GeneratorSums* generator_sums_for(const std::vector<Point>& g, const std::vector<Point>& h) {
  const uint64_t n = g.size();
  if ((n & (n - 1)) != 0 || generator_tables_for(g, h).empty()) return nullptr;
  return cache().sums_for(n);
}

const Point& range_test_h() {
  static const Point h = derive_generator(BigInt::one());
  return h;
}

namespace {

// The table of type T of the standard generator or of range_test_h(), built
// once on first use; null for any other point.
template <class T, void (*Build)(const G1Affine&, T&)>
const T* standard_base_table(const Point& p) {
  auto make = [](const G1Affine& q) {
    auto t = std::make_unique<T>();
    Build(q, *t);
    return t;
  };
  if (p.ge() == G1Affine::generator()) {
    static const std::unique_ptr<T> g = make(G1Affine::generator());
    return g.get();
  }
  if (p.ge() == range_test_h().ge()) {
    static const std::unique_ptr<T> h = make(range_test_h().ge());
    return h.get();
  }
  return nullptr;
}

void build_one_fixed_table(const G1Affine& p, FixedTable& out) { build_fixed_tables(&p, &out, 1); }

}  // namespace

const CtCombTable* ct_comb_for(const Point& p) { return standard_base_table<CtCombTable, build_ct_comb_table>(p); }

const FixedTable* fixed_table_for(const Point& p) { return standard_base_table<FixedTable, build_one_fixed_table>(p); }

const CombTable* comb_for(const Point& p) {
  if (p.ge() == G1Affine::generator()) return &generator_comb();
  return standard_base_table<CombTable, build_comb_table>(p);
}

}  // namespace nacrel::rangeproof
