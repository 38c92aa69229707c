// URL components crafted against the sibling index by someone who knows its
// hash: the one it once used (FNV-1a, fixed and public), or the keyed one
// under a key fixed in advance (as if the index never drew its own). Each
// name is a first-level component whose slot in a table of `slots` falls in
// its first `slots / spread` slots, one run that linear probing must walk.
// Shared by the tests and the benchmark.
#ifndef QVORK_TESTS_SUPPORT_CRAFTED_NAMES_H
#define QVORK_TESTS_SUPPORT_CRAFTED_NAMES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvork_test {

enum class CraftedAgainst { OldHash, FixedKey };

std::vector<std::string> CraftNames(CraftedAgainst against, size_t count, uint32_t slots,
                                    uint32_t spread);

} // namespace qvork_test

#endif
