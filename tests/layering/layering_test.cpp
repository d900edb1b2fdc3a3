// The tree keeps its layers: the real tree passes the layering check, and the check itself
// catches each kind of breach when one is planted in a scratch tree.
#include <gtest/gtest.h>

#include <fstream>

#include "layer_check.h"
#include "standin_fixture.h"

namespace bvtest::layers {
namespace {
namespace fs = std::filesystem;

std::string describe(const std::vector<Violation>& violations) {
  std::string text;
  for (const auto& v : violations) text += v.rule + ": " + v.detail + "\n";
  return text;
}

TEST(Layering, TheSourceTreeKeepsItsLayers) {
  const auto violations = checkTree(BV_SOURCE_DIR);
  EXPECT_TRUE(violations.empty()) << describe(violations);
  // The check really read the tree.
  const auto edges = folderEdges(BV_SOURCE_DIR);
  EXPECT_NE(std::find(edges.begin(), edges.end(), "src/core/maintenance -> src/core/db"), edges.end());
}

class PlantedTree : public ::testing::Test {
 protected:
  void write(const std::string& file, const std::string& text) {
    const fs::path path = root.path() / file;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  std::vector<std::string> rules() {
    std::vector<std::string> out;
    for (const auto& v : checkTree(root.path())) out.push_back(v.rule);
    return out;
  }
  void SetUp() override {
    write("src/core/a/a.h", "#pragma once\n#include <string>\n");
    write("src/core/b/b.h", "#pragma once\n#include \"core/a/a.h\"\n");
    write("src/gui/w/w.h", "#pragma once\n#include <QWidget>\n#include \"core/b/b.h\"\n");
  }
  TempDir root{"bv-layers"};
};

TEST_F(PlantedTree, ACleanTreePasses) { EXPECT_TRUE(rules().empty()); }

TEST_F(PlantedTree, AFolderCycleIsFound) {
  write("src/core/a/a.cpp", "#include \"core/a/a.h\"\n#include \"core/b/b.h\"\n");
  EXPECT_EQ(rules(), std::vector<std::string>{"cycle"});
  const auto violations = checkTree(root.path());
  EXPECT_EQ(violations[0].detail, "src/core/a, src/core/b");
}

TEST_F(PlantedTree, ALongerCycleThroughThreeFoldersIsFound) {
  write("src/core/c/c.h", "#include \"core/b/b.h\"\n");
  write("src/core/a/a.cpp", "#include \"core/c/c.h\"\n");
  EXPECT_EQ(rules(), std::vector<std::string>{"cycle"});
}

TEST_F(PlantedTree, CoreIncludingQtOrGuiIsFound) {
  write("src/core/a/q.cpp", "#include <QString>\n");
  write("src/core/b/g.cpp", "#include \"gui/w/w.h\"\n");
  const auto found = rules();
  EXPECT_NE(std::find(found.begin(), found.end(), "core includes Qt"), found.end());
  EXPECT_NE(std::find(found.begin(), found.end(), "core includes gui"), found.end());
}

TEST_F(PlantedTree, AnIncludeThatIsNotRootedIsFound) {
  write("src/core/b/b.cpp", "#include \"b.h\"\n");
  EXPECT_EQ(rules(), std::vector<std::string>{"not rooted"});
}

TEST_F(PlantedTree, TheStandinIsRootedAtTheRepository) {
  write("standin/sql/p.h", "#pragma once\n");
  write("standin/wire/w.cpp", "#include \"standin/sql/p.h\"\n");
  write("standin/sql/p.cpp", "#include \"standin/wire/w.h\"\n");
  write("standin/wire/w.h", "#pragma once\n");
  EXPECT_EQ(rules(), std::vector<std::string>{"cycle"});
}

}  // namespace
}  // namespace bvtest::layers
