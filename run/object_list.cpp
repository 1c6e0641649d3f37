#include "run/scene_lists.h"

namespace tsm {

namespace {

// Walks all dependents of one item's node and records, for every dependent that is a
// node, what it looks at, keeping the first item for each target. It answers 0 to every
// dependent so that the host lists them all: stopping at the first match would only
// shorten the walk, never change which item is first for a target.
class TargetVisitor : public DependentVisitor {
 public:
  TargetVisitor(ObjectListItem* item, FlatIndex<SceneNode*, ObjectListItem*>* index)
      : item_(item), index_(index) {}

  int VisitDependent(HostDependent* dependent) override {
    if (dependent != nullptr && dependent->FamilyCode() == kFamilyNode)
      index_->Emplace(dependent->LookAtTarget(), item_);
    return 0;
  }

 private:
  ObjectListItem* item_;
  FlatIndex<SceneNode*, ObjectListItem*>* index_;
};

}  // namespace

ObjectList::~ObjectList() {
  Release();
}

void ObjectList::Build(const SceneEnumerator& entries) {
  Release();
  byObject_.Reserve(static_cast<size_t>(entries.Count()));
  for (SceneEntry* e = entries.First(); e != nullptr; e = e->next) {
    // Instances of one mesh object are written once, for the first of their nodes.
    if (e->kind == ENTRY_MESH && FindItemByObject(e->object) != nullptr) continue;
    Append(e);
  }
}

void ObjectList::Append(SceneEntry* entry) {
  ObjectListItem* item = store_.Make();
  item->entry = entry;
  if (last_ == nullptr)
    first_ = item;
  else
    last_->next = item;
  last_ = item;
  ++count_;
  byObject_.Emplace(entry->object, item);  // keeps the first item of an object
}

ObjectListItem* ObjectList::FindItemByObject(SceneObject* object) const {
  ObjectListItem* const* item = byObject_.Find(object);
  return item != nullptr ? *item : nullptr;
}

void ObjectList::IndexTargets() {
  byTarget_.Clear();
  for (ObjectListItem* item = first_; item != nullptr; item = item->next) {
    TargetVisitor visitor(item, &byTarget_);
    item->entry->node->EnumerateDependents(visitor);
  }
  targetsIndexed_ = true;
}

ObjectListItem* ObjectList::FindItemByTarget(SceneNode* target) {
  if (!targetsIndexed_) IndexTargets();
  ObjectListItem* const* item = byTarget_.Find(target);
  return item != nullptr ? *item : nullptr;
}

void ObjectList::Release() {
  byObject_.Clear();
  byTarget_.Clear();
  targetsIndexed_ = false;
  store_.Clear();  // every item at once; the converted meshes are not the list's to free
  first_ = nullptr;
  last_ = nullptr;
  count_ = 0;
}

}  // namespace tsm
