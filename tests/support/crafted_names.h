// First-level URL components crafted by someone who knows the sibling
// index's hash, the old fixed one or the keyed one under a key fixed in
// advance: in a table of `slots` they all land in its first slots / spread,
// one run that linear probing walks. For the tests and the benchmark.
#ifndef QVORK_TESTS_SUPPORT_CRAFTED_NAMES_H
#define QVORK_TESTS_SUPPORT_CRAFTED_NAMES_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvork_test {

enum class CraftedAgainst { OldHash, FixedKey };

std::vector<std::string> CraftNames(CraftedAgainst against, size_t count, uint32_t slots,
                                    uint32_t spread);

} // namespace qvork_test

#endif
