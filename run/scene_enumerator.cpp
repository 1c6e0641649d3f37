#include <string_view>

#include "material/material_table.h"
#include "plugin/messages.h"
#include "run/scene_lists.h"

namespace tsm {

namespace {

// The mode every evaluation of the run passes to the host.
constexpr int kEvaluateMode = 1;

SceneObject* ObjectAt(SceneNode* node, TimeValue t) {
  return node->EvaluateAtTime(t, kEvaluateMode).obj;
}

// The kind of a node that is neither shape, mesh nor target, from its object's family
// and class; false when it is none of the kinds. Both words of the class must match.
bool KindByFamily(int family, const Class_ID& id, EntryKind* kind) {
  if (family == kFamilyCamera && id == kCameraClass) {
    *kind = ENTRY_CAMERA;
  } else if (family == kFamilyLight && id == kPointLightClass) {
    *kind = ENTRY_POINT_LIGHT;
  } else if (family == kFamilyLight && id == kSpotLightClass) {
    *kind = ENTRY_SPOT_LIGHT;
  } else if (family == kFamilyHelper && id == kDummyClass) {
    *kind = ENTRY_DUMMY;
  } else {
    return false;
  }
  return true;
}

}  // namespace

SceneEnumerator::SceneEnumerator(HostScene* scene, TimeValue time, HostInterface* host,
                                 MaterialTable* materials)
    : host_(host), scene_(scene), materials_(materials), time_(time) {
  if (scene_ != nullptr) scene_->EnumerateNodes(*this);
}

SceneEnumerator::~SceneEnumerator() {
  ReleaseEntries();
}

int SceneEnumerator::Visit(SceneNode* node) {
  if (node == nullptr) return 0;
  SceneObject* object = ObjectAt(node, time_);
  if (object == nullptr) return 0;
  int family = object->FamilyCode();

  // The order of the tests decides: a shape even if it could become a mesh; a mesh even
  // if it is some node's target; a target whatever its own object is.
  if (family == kFamilyShape && object->ClassIdentity() == kShapeClass) {
    AddEntry(node, object, ENTRY_SHAPE);
    return 0;
  }
  if (object->ConvertibleTo(triObjectClassID)) {
    if (node->MeshNodeAccepted()) {
      AddEntry(node, object, ENTRY_MESH);
      if (materials_ != nullptr) materials_->AddNodeMaterial(node->NodeMaterial());
    }
    return 0;
  }
  if (node->IsLookAtTarget()) {
    SceneNode* owner = node->TargetOwner();
    if (owner == nullptr) return 0;
    SceneObject* ownerObject = ObjectAt(owner, time_);
    if (ownerObject == nullptr) return 0;
    int ownerFamily = ownerObject->FamilyCode();
    if (ownerFamily == kFamilyCamera) AddEntry(node, object, ENTRY_CAMERA_TARGET);
    if (ownerFamily == kFamilyLight) AddEntry(node, object, ENTRY_LIGHT_TARGET);
    return 0;
  }
  EntryKind kind;
  if (KindByFamily(family, object->ClassIdentity(), &kind)) AddEntry(node, object, kind);
  return 0;
}

void SceneEnumerator::AddEntry(SceneNode* node, SceneObject* object, EntryKind kind) {
  SceneEntry* entry = store_.Make();
  entry->node = node;
  entry->target = node->LookAtTarget();
  entry->object = object;
  entry->kind = kind;
  if (last_ == nullptr)
    first_ = entry;
  else
    last_->next = entry;
  last_ = entry;
  ++count_;
  byNode_.Emplace(node, entry);  // keeps the first entry of a node visited twice
}

void SceneEnumerator::NamePass() {
  // The names seen so far, hashed so that a scene of many nodes stays linear. The set
  // refers to the entries' own names, which stay put while the entries live, rather than
  // copying each one.
  FlatIndex<std::string_view, bool> seen;
  seen.Reserve(static_cast<size_t>(count_));
  for (SceneEntry* e = first_; e != nullptr; e = e->next) {
    const char* name = e->node->NodeName();
    e->name = name != nullptr ? name : "";
    if (!seen.Emplace(std::string_view(e->name), true))
      ShowResourceMessage(IDS_DUPLICATE_NAMES, IDS_RUN_CAPTION, MB_OK);
  }
}

SceneEntry* SceneEnumerator::FindEntryByNode(SceneNode* node) const {
  SceneEntry* const* entry = byNode_.Find(node);
  return entry != nullptr ? *entry : nullptr;
}

void SceneEnumerator::ReleaseEntries() {
  byNode_.Clear();
  for (SceneEntry* e = first_; e != nullptr; e = e->next)
    CStr().swap(e->name);  // the names go first, in list order
  store_.Clear();          // then every entry at once
  first_ = nullptr;
  last_ = nullptr;
  count_ = 0;
}

}  // namespace tsm
