// Names crafted against the sibling index's old hash (or its keyed one with
// a fixed key) once piled into one run of slots that every insertion walked:
// a site of 65533 took 20 s to load. With a key drawn by the process they
// spread like any others, a few slots per lookup, and keep their order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/node_pool.h"
#include "cache/sibling_index.h"
#include "crafted_names.h"

namespace qvork_test {
namespace {

class SiblingIndexTest : public ::testing::TestWithParam<CraftedAgainst> {};

TEST_P(SiblingIndexTest, CraftedNamesSpreadAndKeepTheirOrder) {
    const size_t kNames = 8000; // the index sizes itself to 16384 slots for these
    const std::vector<std::string> names = CraftNames(GetParam(), kNames, 16384, 256);
    ASSERT_TRUE(OpenSiblingIndex(kNames));
    std::vector<SiteNode *> nodes;
    for (const std::string &name : names) {
        SiteNode *node = PoolNewNode();
        node->name = PoolCopyName(name.data(), name.size());
        ASSERT_EQ(FindIndexedChild(nullptr, name.data(), name.size()), nullptr) << name;
        if (SiteNode *last = LastIndexedChild(nullptr)) last->next = node;
        ASSERT_TRUE(IndexChild(nullptr, node));
        nodes.push_back(node);
    }
    for (size_t i = 0; i < kNames; i++)
        ASSERT_EQ(FindIndexedChild(nullptr, names[i].data(), names[i].size()), nodes[i]) << names[i];
    EXPECT_EQ(LastIndexedChild(nullptr), nodes.back()) << "appended in order";
    const double perCall = static_cast<double>(SiblingIndexProbes()) / (5.0 * kNames);
    EXPECT_LT(perCall, 8.0) << "slots looked at per lookup";
    CloseSiblingIndex();
    PoolRelease();
}

INSTANTIATE_TEST_SUITE_P(Against, SiblingIndexTest,
                         ::testing::Values(CraftedAgainst::OldHash, CraftedAgainst::FixedKey),
                         [](const auto &info) { return info.param == CraftedAgainst::OldHash ? "OldHash" : "FixedKey"; });

} // namespace
} // namespace qvork_test
