#include "material/material_table.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace tsm {

namespace {

const char kUnnamedBase[] = "Matl";
constexpr size_t kMaxNameLength = kMaterialNameSize - 1;  // 16
constexpr size_t kNumberedBaseLength = 13;                // base length before "%3d"

void SetRgb(uint8_t* rgb, uint8_t r, uint8_t g, uint8_t b) {
  rgb[0] = r;
  rgb[1] = g;
  rgb[2] = b;
}

}  // namespace

void InitMapParams(MapParams& block, int slot, MapPart part) {
  block = MapParams();
  if (slot == SLOT_REFLECTION && part == MapPart::MAP) {
    // An automatic reflection: no tiling of its own; scales and cosine stay zero.
    block.autoReflection = 1;
    block.kind = 4;
    block.reflectionSize = 100;
    block.nthFrame = 1;
    return;
  }
  block.blur = 10 * 0.01f;  // in single precision: one unit below the float nearest 0.1
  block.uScale = 1.0f;
  block.vScale = 1.0f;
  block.rotationCos = 1.0f;
  SetRgb(block.color1, 0, 0, 0);
  SetRgb(block.color2, 255, 255, 255);
  SetRgb(block.redTint, 255, 0, 0);
  SetRgb(block.greenTint, 0, 255, 0);
  SetRgb(block.blueTint, 0, 0, 255);
}

std::unique_ptr<MapRecord> NewMapRecord(int slot) {
  std::unique_ptr<MapRecord> m(new (std::nothrow) MapRecord);
  if (!m) return m;
  m->amount = 100;
  InitMapParams(m->map, slot, MapPart::MAP);
  InitMapParams(m->mask, slot, MapPart::MASK);
  return m;
}

int32_t MaterialTable::FindByHostMaterial(HostMaterial* m) const {
  auto it = byHost_.find(m);
  return it == byHost_.end() ? -1 : it->second;
}

int32_t MaterialTable::FindByName(const char* name) const {
  if (name == nullptr) return -1;
  auto it = byName_.find(name);
  return it == byName_.end() ? -1 : it->second;
}

bool MaterialTable::IsMultiMaterial(HostMaterial* m) {
  return m != nullptr && m->ClassIdentity() == kMultiMaterialClass;
}

void MaterialTable::AddNodeMaterial(HostMaterial* m) {
  if (m == nullptr) return;
  Interval valid;
  m->UpdateMaterial(0, valid);
  if (IsMultiMaterial(m)) {
    // The count is asked again before each step; the multi/sub material itself never
    // enters, and a nested multi/sub material enters whole.
    for (int i = 0; i < m->SubMaterialCount(); ++i) {
      HostMaterial* s = m->SubMaterial(i);
      if (s != nullptr && FindByHostMaterial(s) == -1) AddMaterial(s);
    }
    return;
  }
  if (FindByHostMaterial(m) == -1) AddMaterial(m);
}

void MakeUniqueName(const char* base, MaterialRecord& record, int number) {
  char digits[16];
  int n = std::snprintf(digits, sizeof(digits), "%3d", number);
  if (n < 0) n = 0;
  size_t numberLength = static_cast<size_t>(n);
  // Normally 13 characters of base and a three-character number make 16; a longer
  // number takes its room from the base so that the name never outgrows its field.
  size_t keep = kNumberedBaseLength;
  if (numberLength > kMaxNameLength - kNumberedBaseLength)
    keep = numberLength < kMaxNameLength ? kMaxNameLength - numberLength : 0;
  size_t baseLength = std::strlen(base);
  if (baseLength > keep) baseLength = keep;
  if (numberLength > kMaxNameLength) numberLength = kMaxNameLength;
  std::memcpy(record.name, base, baseLength);
  std::memcpy(record.name + baseLength, digits, numberLength);
  record.name[baseLength + numberLength] = '\0';
}

void MaterialTable::AddMaterial(HostMaterial* m) {
  std::unique_ptr<MaterialRecord> record(new (std::nothrow) MaterialRecord);
  if (!record) return;  // nothing half-made enters the table

  char base[kMaterialNameSize] = {};
  const char* hostName = m->MaterialName();
  if (hostName != nullptr) std::strncpy(base, hostName, kMaxNameLength);
  base[kMaxNameLength] = '\0';
  if (base[0] == '\0') std::strcpy(base, kUnnamedBase);

  // The base itself when it is free, else the first free number. Names are never taken
  // back during a run, so numbers found taken once need not be tried again.
  std::strcpy(record->name, base);
  int number = 0;
  if (FindByName(record->name) != -1) {
    auto known = nextNumber_.find(base);
    number = known != nextNumber_.end() ? known->second : 1;
    for (MakeUniqueName(base, *record, number); FindByName(record->name) != -1;)
      MakeUniqueName(base, *record, ++number);
  }

  ConvertMaterial(*record, m);

  // Room first, then the indexes; the append itself can no longer fail. When memory runs
  // out the record is released and the table stays as it was.
  int32_t position = count_;
  bool hostIndexed = false;
  try {
    if (static_cast<size_t>(count_) == Capacity()) {
      std::unique_ptr<MaterialEntry[]> block(new MaterialEntry[kGrowth]);
      blocks_.push_back(std::move(block));
    }
    hostIndexed = byHost_.emplace(m, position).second;
    byName_.emplace(record->name, position);
    if (number > 0) nextNumber_[base] = number + 1;
  } catch (const std::bad_alloc&) {
    if (hostIndexed) byHost_.erase(m);
    byName_.erase(record->name);
    return;
  }
  MaterialEntry& e = Entry(position);
  e.record = std::move(record);
  e.hostMaterial = m;
  ++count_;
}

void MaterialTable::ClearMaterialTable() {
  // Each record goes with its extra data and map records (and their data blocks), in
  // table order; then the storage itself.
  for (int32_t i = 0; i < count_; ++i) Entry(i).record.reset();
  std::vector<std::unique_ptr<MaterialEntry[]>>().swap(blocks_);
  count_ = 0;
  byHost_.clear();
  byName_.clear();
  nextNumber_.clear();
}

}  // namespace tsm
