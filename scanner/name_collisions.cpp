#include "scanner/name_collisions.h"

#include <algorithm>
#include <string>

#include "platform/name_folding.h"

namespace kestrafin::scanner {

namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;

std::uint64_t hash_of(std::string_view key) {
    std::uint64_t hash = kFnvOffset;
    for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return hash;
}

// The hash of the name's comparison key. Most names are ASCII, whose key is
// their upper case: hashed as it is made, without building the key.
std::uint64_t key_hash(std::string_view name) {
    std::uint64_t hash = kFnvOffset;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return hash_of(platform::name_comparison_key(name));
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        hash = (hash ^ static_cast<unsigned char>(upper)) * kFnvPrime;
    }
    return hash;
}

}  // namespace

void NameCollisions::find(const std::vector<std::string_view>& names,
                          std::vector<bool>& colliding) {
    colliding.assign(names.size(), false);
    if (names.size() < 2) return;
    hashed_.resize(names.size());
    for (std::size_t at = 0; at < names.size(); ++at) hashed_[at] = {key_hash(names[at]), at};
    std::sort(hashed_.begin(), hashed_.end(),
              [](const Hashed& a, const Hashed& b) { return a.hash < b.hash; });
    // Names of equal hashes are compared by their keys, which are built only here.
    for (std::size_t from = 0; from < hashed_.size();) {
        std::size_t to = from + 1;
        while (to < hashed_.size() && hashed_[to].hash == hashed_[from].hash) ++to;
        if (to - from > 1) {
            std::vector<std::string> keys;
            for (std::size_t at = from; at < to; ++at)
                keys.push_back(platform::name_comparison_key(names[hashed_[at].index]));
            for (std::size_t first = 0; first < keys.size(); ++first)
                for (std::size_t second = first + 1; second < keys.size(); ++second)
                    if (keys[first] == keys[second])
                        colliding[hashed_[from + first].index] =
                            colliding[hashed_[from + second].index] = true;
        }
        from = to;
    }
}

}  // namespace kestrafin::scanner
