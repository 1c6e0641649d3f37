// Raw bytes as an exported chunk file read back into a scene: the load either succeeds
// with a scene that passes its check, or fails with a message that names the file and
// starts with the offset of the problem. A scene read back is then written as a JSON
// scene (what --to-json does): it succeeds with a whole document or fails with a message.
// The same bytes read as the preview reads them (held at the current time, each node
// handed over, checked and let go) succeed or fail as the read held at the current time
// does, give the same notices and every node once, after its parent, with the parent and
// the world transform of the held read, and leave no node in the scene; a mesh is let go
// only after a node held it, once. (A held read may accept
// a file whose tracks go wrong at other times.)
// fuzz-requires: formats/tsm/tsm_scene.cpp
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "formats/json/scene_json_writer.h"
#include "formats/tsm/tsm_loader.h"

namespace {

void ReadNodeByNode(const uint8_t* data, size_t size, const std::string& label) {
  tsm::TsmReadOptions options;
  options.holdAtCurrentTime = true;
  tsm::MemScene held;
  const tsm::ImportResult whole = tsm::ReadTsmScene(data, size, label, held, options);
  tsm::MemScene scene;
  std::vector<bool> seen;
  std::vector<std::pair<int, Matrix3>> placed;  // by number: parent, world transform
  std::unordered_set<const tsm::MemObject*> heldObjects;
  options.objectDone = [&](const tsm::MemObject* object) {
    if (heldObjects.erase(object) != 1) __builtin_trap();
  };
  options.nodeDone = [&](tsm::MemNode* node, int number, int parent) {
    if (node->object != nullptr) heldObjects.insert(node->object);
    if (number < 0 || parent >= number || parent < -1) __builtin_trap();
    if (seen.size() <= static_cast<size_t>(number)) seen.resize(number + 1u, false);
    if (seen[number]) __builtin_trap();
    seen[number] = true;
    if (placed.size() <= static_cast<size_t>(number)) placed.resize(number + 1u);
    placed[number] = {parent, node->NodeTransform(scene.currentTime)};
    if (node->lookAt != nullptr) (void)node->lookAt->NodeTransform(scene.currentTime);
  };
  tsm::ImportResult r = tsm::ReadTsmScene(data, size, label, scene, options);
  if (r.ok != whole.ok || (!r.ok && r.error.rfind(label + ": ", 0) != 0)) __builtin_trap();
  if (!r.ok) return;
  if (r.notices != whole.notices || !scene.Nodes().empty() || seen.size() != held.Nodes().size())
    __builtin_trap();
  for (bool s : seen)
    if (!s) __builtin_trap();
  // Each node below the parent and at the place the held read gives it, bit for bit.
  std::unordered_map<const tsm::MemNode*, int> number;
  for (size_t i = 0; i < held.Nodes().size(); ++i) number[held.Nodes()[i].get()] = int(i);
  for (size_t i = 0; i < held.Nodes().size(); ++i) {
    tsm::MemNode& n = *held.Nodes()[i];
    const int parent = n.parent == held.Root() ? -1 : number.at(n.parent);
    const Matrix3 world = n.NodeTransform(held.currentTime);
    if (placed[i].first != parent) __builtin_trap();
    for (int row = 0; row < 4; ++row) {
      const Point3 a = placed[i].second.GetRow(row), b = world.GetRow(row);
      if (std::memcmp(&a, &b, sizeof a) != 0) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string kLabel = "fuzz.tsm";
  tsm::MemScene scene;
  tsm::ImportResult r = tsm::ReadTsmScene(data, size, kLabel, scene);
  if (r.ok) {
    if (!tsm::CheckScene(scene).empty()) __builtin_trap();
    std::string text;
    tsm::WriteResult w = tsm::WriteJsonSceneText(scene, text);
    if (w.ok ? text.compare(0, 2, "{\n") != 0 || text.size() < 4 ||
                   text.compare(text.size() - 2, 2, "}\n") != 0
             : w.error.empty())
      __builtin_trap();
  } else if (r.error.rfind(kLabel + ": ", 0) != 0) {
    __builtin_trap();
  }
  ReadNodeByNode(data, size, kLabel);
  return 0;
}
