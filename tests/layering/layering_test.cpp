// The tree keeps its layers: the real tree passes the layering check, and the check itself
// catches each kind of breach when one is planted in a scratch tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

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
  // The documented layers are the table's, top first.
  std::vector<std::string> order = tableOrder(BV_SOURCE_DIR);
  ASSERT_FALSE(order.empty());
  std::vector<std::string> productFirst;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (it->rfind("src/", 0) == 0) productFirst.push_back(*it);
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (it->rfind("standin/", 0) == 0) productFirst.push_back(*it);
  }
  EXPECT_EQ(documentedOrder(BV_SOURCE_DIR), productFirst);
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

TEST_F(PlantedTree, TheTableDecidesWhoMayIncludeWhom) {
  write("cmake/layers.txt", "# library folder uses\nlib_a src/core/a\nlib_b src/core/b lib_a\nlib_w src/gui/w lib_b\n"
                            "lib_s standin/s\n");
  EXPECT_TRUE(rules().empty());
  write("src/gui/w/w.cpp", "#include \"core/a/a.h\"\n");  // not a library lib_w uses
  write("src/core/c/c.cpp", "#include \"core/a/a.h\"\n");  // a folder the table does not know
  write("standin/s/s.cpp", "#include \"core/a/a.h\"\n");   // the stand-in reaching into the product
  const auto found = rules();
  for (const char* rule : {"edge not in the table", "not in the table", "stand-in includes the product"}) {
    EXPECT_NE(std::find(found.begin(), found.end(), rule), found.end()) << rule << "\n" << describe(checkTree(root.path()));
  }
  write("cmake/layers.txt", "lib_b src/core/b lib_a\nlib_a src/core/a\n");
  const auto order = rules();
  EXPECT_NE(std::find(order.begin(), order.end(), "uses a later layer"), order.end());
}

// The build itself refuses an include across an edge the table does not have: each library sees
// only its own headers and those of the libraries it links.
class PlantedBuild : public ::testing::Test {
 protected:
  void write(const std::string& file, const std::string& text) {
    const fs::path path = root.path() / file;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  void SetUp() override {
    write("cmake/layers.txt",
          "core_db src/core/db\ncore_tasks src/core/tasks core_db\ngui_w src/gui/w core_db\nstandin_s standin/s\n");
    write("CMakeLists.txt",
          "cmake_minimum_required(VERSION 3.25)\nproject(planted CXX)\nset(CMAKE_CXX_STANDARD 20)\n"
          "set(BV_LAYERS_FILE ${CMAKE_SOURCE_DIR}/cmake/layers.txt)\ninclude(" BV_SOURCE_DIR "/cmake/Targets.cmake)\n"
          "bv_library(core_db src/core/db/db.h src/core/db/db.cpp)\n"
          "bv_library(core_tasks src/core/tasks/tasks.h src/core/tasks/tasks.cpp)\n"
          "bv_library(gui_w src/gui/w/w.h src/gui/w/w.cpp)\n"
          "add_library(standin_s STATIC standin/s/s.cpp)\nbv_layer(standin_s)\n");
    write("src/core/db/db.h", "#pragma once\ninline int db() { return 1; }\n");
    write("src/core/db/db.cpp", "#include \"core/db/db.h\"\n");
    write("src/core/tasks/tasks.h", "#pragma once\n#include \"core/db/db.h\"\ninline int tasks() { return db(); }\n");
    write("src/core/tasks/tasks.cpp", "#include \"core/tasks/tasks.h\"\n");
    write("src/gui/w/w.h", "#pragma once\n#include \"core/db/db.h\"\n");
    write("src/gui/w/w.cpp", "#include \"gui/w/w.h\"\n");
    write("standin/s/s.cpp", "int s() { return 0; }\n");
  }
  // Configures and builds the planted tree; whether it built.
  bool builds() {
    const std::string build = (root.path() / "build").string();
    const std::string command = "cmake -S '" + root.path().string() + "' -B '" + build +
                                "' -G Ninja >/dev/null 2>&1 && cmake --build '" + build + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }
  TempDir root{"bv-layers-build"};
};

TEST_F(PlantedBuild, AnIncludeAcrossAForbiddenEdgeDoesNotCompile) {
  ASSERT_TRUE(builds()) << "the clean planted tree builds";
  const std::pair<const char*, const char*> breaches[] = {
      {"src/core/db/db.cpp", "#include \"core/db/db.h\"\n#include \"gui/w/w.h\"\n"},           // core into gui
      {"src/core/db/db.cpp", "#include \"core/db/db.h\"\n#include \"core/tasks/tasks.h\"\n"},   // db into tasks
      {"standin/s/s.cpp", "#include \"core/db/db.h\"\nint s() { return 0; }\n"},                 // stand-in into src
  };
  for (const auto& [file, text] : breaches) {
    const fs::path path = root.path() / file;
    std::ifstream in(path);
    const std::string before{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    write(file, text);
    EXPECT_FALSE(builds()) << file << " with\n" << text;
    write(file, before);
  }
  EXPECT_TRUE(builds());
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
