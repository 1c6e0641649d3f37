#include "run/scene_lists.h"

namespace tsm {

namespace {

// Walks all dependents of one item's node and records, for every dependent that is a
// node, what it looks at, keeping the first item for each target. It answers 0 to every
// dependent so that the host lists them all: stopping at the first match would only
// shorten the walk, never change which item is first for a target.
class TargetVisitor : public DependentVisitor {
 public:
  TargetVisitor(ObjectListItem* item, std::unordered_map<SceneNode*, ObjectListItem*>* index)
      : item_(item), index_(index) {}

  int VisitDependent(HostDependent* dependent) override {
    if (dependent != nullptr && dependent->FamilyCode() == kFamilyNode)
      index_->emplace(dependent->LookAtTarget(), item_);
    return 0;
  }

 private:
  ObjectListItem* item_;
  std::unordered_map<SceneNode*, ObjectListItem*>* index_;
};

}  // namespace

ObjectList::~ObjectList() {
  Release();
}

void ObjectList::Build(const SceneEnumerator& entries) {
  Release();
  byObject_.reserve(static_cast<size_t>(entries.Count()));
  for (SceneEntry* e = entries.First(); e != nullptr; e = e->next) {
    // Instances of one mesh object are written once, for the first of their nodes.
    if (e->kind == ENTRY_MESH && FindItemByObject(e->object) != nullptr) continue;
    Append(e);
  }
}

void ObjectList::Append(SceneEntry* entry) {
  ObjectListItem* item = new ObjectListItem;
  item->entry = entry;
  if (last_ == nullptr)
    first_ = item;
  else
    last_->next = item;
  last_ = item;
  ++count_;
  byObject_.emplace(entry->object, item);  // keeps the first item of an object
}

ObjectListItem* ObjectList::FindItemByObject(SceneObject* object) const {
  auto it = byObject_.find(object);
  return it == byObject_.end() ? nullptr : it->second;
}

void ObjectList::IndexTargets() {
  byTarget_.clear();
  for (ObjectListItem* item = first_; item != nullptr; item = item->next) {
    TargetVisitor visitor(item, &byTarget_);
    item->entry->node->EnumerateDependents(visitor);
  }
  targetsIndexed_ = true;
}

ObjectListItem* ObjectList::FindItemByTarget(SceneNode* target) {
  if (!targetsIndexed_) IndexTargets();
  auto it = byTarget_.find(target);
  return it == byTarget_.end() ? nullptr : it->second;
}

void ObjectList::Release() {
  byObject_.clear();
  byTarget_.clear();
  targetsIndexed_ = false;
  ObjectListItem* item = first_;
  while (item != nullptr) {
    ObjectListItem* next = item->next;
    delete item;  // the converted mesh is not the list's to free
    item = next;
  }
  first_ = nullptr;
  last_ = nullptr;
  count_ = 0;
}

}  // namespace tsm
