#include "layer_check.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace bvtest::layers {
namespace fs = std::filesystem;
namespace {

struct Include {
  fs::path file;     // relative to the root
  std::string text;  // as written between the quotes or angle brackets
  bool angled = false;
};

bool isSource(const fs::path& p) {
  const auto ext = p.extension();
  return ext == ".h" || ext == ".cpp";
}

std::vector<Include> readIncludes(const fs::path& root) {
  static const std::regex line(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::vector<Include> out;
  for (const char* top : {"src", "standin"}) {
    if (!fs::is_directory(root / top)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      if (!entry.is_regular_file() || !isSource(entry.path())) continue;
      std::ifstream in(entry.path());
      std::string text;
      while (std::getline(in, text)) {
        std::smatch m;
        if (std::regex_search(text, m, line)) {
          out.push_back({fs::relative(entry.path(), root), m[2].str(), m[1].str() == "<"});
        }
      }
    }
  }
  return out;
}

std::string folderOf(const fs::path& relativeFile) { return relativeFile.parent_path().generic_string(); }

bool under(const fs::path& relativeFile, std::string_view prefix) {
  const std::string text = relativeFile.generic_string();
  return text.rfind(prefix, 0) == 0;
}

// The folder an include names, relative to the root; empty when it resolves to no file.
std::string resolve(const fs::path& root, const Include& include) {
  const fs::path product = fs::path("src") / include.text;
  if (fs::is_regular_file(root / product)) return folderOf(product);
  const fs::path standin = fs::path(include.text);
  if (under(standin, "standin/") && fs::is_regular_file(root / standin)) return folderOf(standin);
  return {};
}

bool isQtHeader(const std::string& include) {
  return include.size() > 1 && include[0] == 'Q' &&
         (std::isupper(static_cast<unsigned char>(include[1])) || include.rfind("Qt", 0) == 0);
}

std::map<std::string, std::set<std::string>> graph(const fs::path& root, std::vector<Violation>* violations) {
  std::map<std::string, std::set<std::string>> edges;
  for (const Include& include : readIncludes(root)) {
    const std::string from = folderOf(include.file);
    const bool inCore = under(include.file, "src/core/");
    if (include.angled) {
      if (inCore && isQtHeader(include.text) && violations) {
        violations->push_back(
            {"core includes Qt", include.file.generic_string() + ": <" + include.text + ">"});
      }
      continue;
    }
    const std::string to = resolve(root, include);
    if (to.empty()) {
      if (violations) {
        violations->push_back({"not rooted", include.file.generic_string() + ": \"" + include.text + "\""});
      }
      continue;
    }
    if (under(include.file, "standin/") && to.rfind("src/", 0) == 0 && violations) {
      violations->push_back(
          {"stand-in includes the product", include.file.generic_string() + ": \"" + include.text + "\""});
    }
    if (inCore && to.rfind("src/gui", 0) == 0 && violations) {
      violations->push_back(
          {"core includes gui", include.file.generic_string() + ": \"" + include.text + "\""});
    }
    edges[from];
    if (to != from) edges[from].insert(to);
  }
  return edges;
}

// Each strongly connected set of two or more folders is a cycle (Tarjan).
std::vector<std::vector<std::string>> cycles(const std::map<std::string, std::set<std::string>>& edges) {
  std::map<std::string, int> index, low;
  std::set<std::string> onStack;
  std::vector<std::string> stack;
  std::vector<std::vector<std::string>> found;
  int counter = 0;
  std::function<void(const std::string&)> visit = [&](const std::string& v) {
    index[v] = low[v] = counter++;
    stack.push_back(v);
    onStack.insert(v);
    if (const auto it = edges.find(v); it != edges.end()) {
      for (const auto& w : it->second) {
        if (!index.count(w)) {
          visit(w);
          low[v] = std::min(low[v], low[w]);
        } else if (onStack.count(w)) {
          low[v] = std::min(low[v], index[w]);
        }
      }
    }
    if (low[v] == index[v]) {
      std::vector<std::string> component;
      std::string w;
      do {
        w = stack.back();
        stack.pop_back();
        onStack.erase(w);
        component.push_back(w);
      } while (w != v);
      if (component.size() > 1) {
        std::sort(component.begin(), component.end());
        found.push_back(component);
      }
    }
  };
  for (const auto& [v, targets] : edges) {
    if (!index.count(v)) visit(v);
  }
  return found;
}

struct Layer {
  std::string library;
  std::string folder;
  std::vector<std::string> uses;
};

std::vector<Layer> readTable(const fs::path& root) {
  std::vector<Layer> layers;
  std::ifstream in(root / "cmake" / "layers.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Layer layer;
    words >> layer.library >> layer.folder;
    for (std::string use; words >> use;) layer.uses.push_back(use);
    if (!layer.folder.empty()) layers.push_back(std::move(layer));
  }
  return layers;
}

// A program's own folder (standin/ with main.cpp) may use what it links; it is no layer.
bool isProgramFolder(const std::string& folder) { return folder == "standin"; }

void checkTable(const fs::path& root, const std::map<std::string, std::set<std::string>>& edges,
                std::vector<Violation>& violations) {
  const std::vector<Layer> layers = readTable(root);
  if (layers.empty()) return;
  std::map<std::string, std::size_t> position;  // library -> its line
  std::map<std::string, const Layer*> byFolder;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    position[layers[i].library] = i;
    byFolder[layers[i].folder] = &layers[i];
  }
  for (std::size_t i = 0; i < layers.size(); ++i) {
    for (const std::string& use : layers[i].uses) {
      const auto at = position.find(use);
      if (at == position.end() || at->second >= i) {
        violations.push_back({"uses a later layer", layers[i].library + " uses " + use});
      }
    }
  }
  for (const auto& [from, targets] : edges) {
    const auto layer = byFolder.find(from);
    if (layer == byFolder.end()) {
      if (!isProgramFolder(from)) violations.push_back({"not in the table", from});
      continue;
    }
    for (const std::string& to : targets) {
      const auto used = byFolder.find(to);
      const std::vector<std::string>& uses = layer->second->uses;
      if (used == byFolder.end() ||
          std::find(uses.begin(), uses.end(), used->second->library) == uses.end()) {
        violations.push_back({"edge not in the table", from + " -> " + to});
      }
    }
  }
}

}  // namespace

std::vector<std::string> tableOrder(const fs::path& root) {
  std::vector<std::string> folders;
  for (const Layer& layer : readTable(root)) folders.push_back(layer.folder);
  return folders;
}

std::vector<std::string> documentedOrder(const fs::path& root) {
  std::vector<std::string> folders;
  std::ifstream in(root / "docs" / "architecture.md");
  bool inList = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("```", 0) == 0) {
      if (inList) break;
      inList = true;
      continue;
    }
    if (!inList) continue;
    if (line.rfind("src/", 0) == 0 || line.rfind("standin/", 0) == 0) folders.push_back(line.substr(0, line.find(' ')));
  }
  return folders;
}

std::vector<Violation> checkTree(const fs::path& root) {
  std::vector<Violation> violations;
  const auto edges = graph(root, &violations);
  checkTable(root, edges, violations);
  for (const auto& component : cycles(edges)) {
    std::string text;
    for (const auto& folder : component) text += (text.empty() ? "" : ", ") + folder;
    violations.push_back({"cycle", text});
  }
  return violations;
}

std::vector<std::string> folderEdges(const fs::path& root) {
  std::vector<std::string> out;
  for (const auto& [from, targets] : graph(root, nullptr)) {
    for (const auto& to : targets) out.push_back(from + " -> " + to);
  }
  return out;
}

}  // namespace bvtest::layers
