// The layering rules of the source tree, checked from the code's own includes:
//   - every quoted include is rooted (src/ for the product, the repository for the stand-in), so
//     that each include names its folder;
//   - no folder cycle: a folder never includes from a folder that (through others) includes it;
//   - nothing under src/core includes Qt or gui, and nothing under standin/ includes the product;
//   - with a table of layers (cmake/layers.txt): every folder with sources is a library of the
//     table (or a program's own folder), a library includes only the libraries the table lets it
//     use, and uses only libraries listed before it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bvtest::layers {

struct Violation {
  std::string rule;    // "not rooted", "cycle", "core includes Qt", "core includes gui",
                       // "stand-in includes the product", "not in the table", "edge not in the
                       // table", "uses a later layer"
  std::string detail;  // the file and include, or the folders of the cycle
};

// Checks the .h and .cpp files under root/src and root/standin (either may be missing).
std::vector<Violation> checkTree(const std::filesystem::path& root);

// The table's libraries' folders in its order, lowest first; empty without a table.
std::vector<std::string> tableOrder(const std::filesystem::path& root);

// The folders the layer list of docs/architecture.md names, top first.
std::vector<std::string> documentedOrder(const std::filesystem::path& root);

// The folder dependency graph that checkTree read, "a -> b" per line, sorted; for reports.
std::vector<std::string> folderEdges(const std::filesystem::path& root);

}  // namespace bvtest::layers
