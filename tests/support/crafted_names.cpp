#include "crafted_names.h"

#include "cache/keyed_hash.h"

namespace qvork_test {

std::vector<std::string> CraftNames(CraftedAgainst against, size_t count, uint32_t slots,
                                    uint32_t spread) {
    const uint32_t firstLevel = 0x40000000u; // the index's parent value for the first level
    const HashKey fixedKey = {0, 0};
    std::vector<std::string> names;
    for (uint64_t n = 0; names.size() < count; n++) {
        std::string name = "n";
        for (uint64_t rest = n; rest != 0; rest /= 36) name += "0123456789abcdefghijklmnopqrstuvwxyz"[rest % 36];
        uint32_t hash = 2166136261u ^ firstLevel; // the old hash: FNV-1a, folded
        for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
        hash = against == CraftedAgainst::OldHash ? hash ^ (hash >> 15)
                                                  : KeyedHash(&fixedKey, firstLevel, name.data(), name.size());
        if ((hash & (slots - 1)) < slots / spread) names.push_back(std::move(name));
    }
    return names;
}

} // namespace qvork_test
