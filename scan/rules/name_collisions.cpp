#include "scan/rules/name_collisions.h"

#include <string>
#include <utility>

namespace kestrafin::scan {

namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

std::uint64_t hash_of(std::string_view key) {
    std::uint64_t hash = kFnvOffset;
    for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return hash;
}

// The hash of the name's comparison key. Most names are ASCII, whose key is
// their upper case: hashed as it is made, without building the key.
std::uint64_t key_hash(std::string_view name, platform::NameComparison comparison) {
    std::uint64_t hash = kFnvOffset;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return hash_of(platform::name_comparison_key(name, comparison));
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        hash = (hash ^ static_cast<unsigned char>(upper)) * kFnvPrime;
    }
    return hash;
}

}  // namespace

void NameCollisions::find(const std::vector<std::string_view>& names,
                          platform::NameComparison comparison, std::vector<bool>& colliding) {
    if (names.size() < 2) return;
    std::size_t slot_count = 4;
    while (slot_count < 2 * names.size()) slot_count *= 2;
    const std::size_t mask = slot_count - 1;
    slots_.assign(slot_count, kNone);
    next_.assign(names.size(), kNone);
    hashes_.resize(names.size());
    bool shared_hash = false;
    for (std::size_t at = 0; at < names.size(); ++at) {
        const std::uint64_t hash = key_hash(names[at], comparison);
        hashes_[at] = hash;
        std::size_t slot = static_cast<std::size_t>(hash) & mask;
        while (slots_[slot] != kNone) {
            ++comparisons_;
            if (hashes_[slots_[slot]] == hash) break;
            slot = (slot + 1) & mask;
        }
        if (slots_[slot] == kNone) {
            slots_[slot] = at;
        } else {
            const std::size_t first = slots_[slot];
            next_[at] = next_[first];
            next_[first] = at;
            shared_hash = true;
        }
    }
    if (!shared_hash) return;
    // Keys are built only for names that share a hash. A group holds one key
    // but for a rare clash of hashes: each name is compared with the first
    // name of each distinct key met in its group so far.
    std::vector<std::pair<std::string, std::size_t>> keys;
    for (const std::size_t first : slots_) {
        if (first == kNone || next_[first] == kNone) continue;
        keys.clear();
        for (std::size_t at = first; at != kNone; at = next_[at]) {
            std::string key = platform::name_comparison_key(names[at], comparison);
            bool matched = false;
            for (const auto& [seen, seen_at] : keys) {
                ++comparisons_;
                if (seen == key) {
                    colliding[seen_at] = colliding[at] = true;
                    matched = true;
                    break;
                }
            }
            if (!matched) keys.emplace_back(std::move(key), at);
        }
    }
}

}  // namespace kestrafin::scan
