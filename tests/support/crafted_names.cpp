#include "crafted_names.h"

#include "cache/keyed_hash.h"

namespace qvork_test {
namespace {

const uint32_t kFirstLevel = 0x40000000u; // the parent value of first-level names

uint32_t OldHash(const std::string &name) {
    uint32_t hash = 2166136261u ^ kFirstLevel;
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    return hash ^ (hash >> 15);
}

uint32_t FixedKeyHash(const std::string &name) {
    static const HashKey key = {0, 0};
    return KeyedHash(&key, kFirstLevel, name.data(), name.size());
}

} // namespace

std::vector<std::string> CraftNames(CraftedAgainst against, size_t count, uint32_t slots,
                                    uint32_t spread) {
    const uint32_t kept = slots / spread; // the run's length in slots
    std::vector<std::string> names;
    names.reserve(count);
    for (uint64_t n = 0; names.size() < count; n++) {
        std::string name = "n";
        for (uint64_t rest = n; rest != 0; rest /= 36) name += "0123456789abcdefghijklmnopqrstuvwxyz"[rest % 36];
        const uint32_t hash = against == CraftedAgainst::OldHash ? OldHash(name) : FixedKeyHash(name);
        if ((hash & (slots - 1)) < kept) names.push_back(std::move(name));
    }
    return names;
}

} // namespace qvork_test
