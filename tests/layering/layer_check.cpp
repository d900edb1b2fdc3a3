#include "layer_check.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>

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

}  // namespace

std::vector<Violation> checkTree(const fs::path& root) {
  std::vector<Violation> violations;
  const auto edges = graph(root, &violations);
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
