// The run's material table: the materials the file carries, in the order of their
// material numbers, each converted into the exporter's own record with a unique name of
// at most 16 characters.
#ifndef TSM_MATERIAL_MATERIAL_TABLE_H
#define TSM_MATERIAL_MATERIAL_TABLE_H

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "run/host_scene.h"

namespace tsm {

// A block of bytes that a record or a parameter block may carry; written as it stands.
struct DataBlock {
  std::vector<uint8_t> bytes;  // the n bytes; their count is n
};

// Index into a record's maps.
enum MapSlot : int {
  SLOT_TEXTURE = 0,
  SLOT_TEXTURE2 = 1,  // never filled by the conversion
  SLOT_OPACITY = 2,
  SLOT_BUMP = 3,
  SLOT_SPECULAR = 4,
  SLOT_SHININESS = 5,
  SLOT_SELF_ILLUMINATION = 6,
  SLOT_REFLECTION = 7,
  SLOT_COUNT = 8,
};

constexpr size_t kMapFileNameSize = 130;  // 129 characters and a NUL

// The parameter block of a map or of its mask.
struct MapParams {
  uint8_t autoReflection = 0;            // 1: an automatic reflection; no tiling parameters
  char fileName[kMapFileNameSize] = {};  // image file name without directory; empty if none
  uint8_t kind = 0;                      // 1 bitmap texture, 4 automatic reflection, 0 not set
  uint8_t reserved = 0;                  // always 0
  uint16_t flags = 0;                    // tiling flags, or automatic-reflection flags
  int32_t reflectionSize = 0;            // autoReflection 1: reflection map size
  std::unique_ptr<DataBlock> data;       // autoReflection 0: procedural data; none here
  int32_t nthFrame = 0;                  // autoReflection 1: every how many frames
  float blur = 0.0f;
  float uScale = 0.0f;
  float vScale = 0.0f;
  float uOffset = 0.0f;
  float vOffset = 0.0f;
  float rotationSin = 0.0f;  // the negated sine of the rotation angle
  float rotationCos = 0.0f;  // the cosine of the rotation angle
  uint8_t color1[3] = {};
  uint8_t color2[3] = {};
  uint8_t redTint[3] = {};
  uint8_t greenTint[3] = {};
  uint8_t blueTint[3] = {};
};

// Which block InitMapParams sets up.
enum class MapPart { MAP, MASK };

// Clears block and gives it the defaults of a map or mask of slot.
void InitMapParams(MapParams& block, int slot, MapPart part);

// One filled map slot of a record.
struct MapRecord {
  uint8_t enabled = 0;   // non-zero when the map channel is on; a disabled map isn't written
  int32_t amount = 100;  // percentage
  MapParams map;         // the map's parameters
  MapParams mask;        // the mask's parameters; never filled by the conversion
};

// A zero-filled map record of slot with amount 100 and its two parameter blocks set up by
// InitMapParams. Answers null when memory runs out. The caller owns the record.
std::unique_ptr<MapRecord> NewMapRecord(int slot);

constexpr size_t kMaterialNameSize = 17;  // 16 characters and a NUL

// A converted material.
struct MaterialRecord {
  char name[kMaterialNameSize] = {};  // unique within the table
  uint8_t ambient[3] = {};
  uint8_t diffuse[3] = {};
  uint8_t specular[3] = {};
  uint16_t transparency = 0;                    // percentage
  uint16_t shading = 0;                         // 3 unless the conversion sets another
  uint32_t flags = 0;                           // material switches
  uint32_t secondFlags = 0;                     // 0x1 use falloff, 0x2 use reflection blur; left 0
  uint16_t shininess = 0;                       // percentage
  uint16_t shininessStrength = 0;               // percentage
  uint16_t transparencyFalloff = 0;             // percentage
  uint16_t reflectionBlur = 0;                  // percentage; left 0, still written
  uint16_t selfIllumination = 0;                // percentage
  float wireSize = 0.0f;                        // the host's wire size, unchanged
  std::unique_ptr<MapRecord> maps[SLOT_COUNT];  // empty where the slot has no map
  std::unique_ptr<DataBlock> extraData;         // left empty
};

struct MaterialEntry {
  std::unique_ptr<MaterialRecord> record;  // the converted material
  HostMaterial* hostMaterial = nullptr;    // identity key; not owned
};

class MaterialTable {
 public:
  // Entries grow this many at a time.
  static constexpr size_t kGrowth = 20;

  MaterialTable() = default;
  MaterialTable(const MaterialTable&) = delete;
  MaterialTable& operator=(const MaterialTable&) = delete;
  ~MaterialTable() { ClearMaterialTable(); }

  // Position of the first entry made from this very host material, or -1. Constant time.
  int32_t FindByHostMaterial(HostMaterial* m) const;
  // Position of the first entry whose record name equals name byte for byte, or -1.
  // Constant time.
  int32_t FindByName(const char* name) const;
  // True when m's class is the multi/sub material's (0x200, 0).
  static bool IsMultiMaterial(HostMaterial* m);

  // Enters the material of a node exported as a mesh: nothing for null; the sub-materials
  // of a multi/sub material one by one, each once; any other material once.
  void AddNodeMaterial(HostMaterial* m);
  // Makes, names, converts and appends one record for m. When memory runs out nothing is
  // appended.
  void AddMaterial(HostMaterial* m);
  // Releases every record in table order, then the table's storage.
  void ClearMaterialTable();

  int32_t Count() const { return count_; }
  // The record of entry i (0 <= i < Count()); may be null only if a record was never
  // made, which the table does not allow.
  const MaterialRecord* Record(int32_t i) const { return Entry(i).record.get(); }
  HostMaterial* HostMaterialAt(int32_t i) const { return Entry(i).hostMaterial; }
  // Room for entries: a whole number of blocks of kGrowth.
  size_t Capacity() const { return blocks_.size() * kGrowth; }

 private:
  const MaterialEntry& Entry(int32_t i) const { return blocks_[i / kGrowth][i % kGrowth]; }
  MaterialEntry& Entry(int32_t i) { return blocks_[i / kGrowth][i % kGrowth]; }

  // Entries live in blocks of kGrowth that never move, so enlarging the storage by one
  // block costs the same however many entries the table holds.
  std::vector<std::unique_ptr<MaterialEntry[]>> blocks_;
  int32_t count_ = 0;
  // Indexes of the entries, each holding the first position of its key. Entries are never
  // removed during a run, so they stay exact until the table is cleared.
  std::unordered_map<HostMaterial*, int32_t> byHost_;
  std::unordered_map<std::string, int32_t> byName_;
  // Per name base, a number below which every numbered name is known to be taken, so
  // that many materials of one name are numbered in linear time.
  std::unordered_map<std::string, int> nextNumber_;
};

// Writes into record's name the first 13 characters of base followed by number as "%3d"
// (right-aligned in three characters). A number of four or more digits shortens the base
// further so that base and number still fit the 16 characters.
void MakeUniqueName(const char* base, MaterialRecord& record, int number);

// Fills a freshly named record from m: colours, percentages, shading, switches and maps.
// Every value is read at animation time 0. The name is left as it is.
void ConvertMaterial(MaterialRecord& record, HostMaterial* m);

}  // namespace tsm

#endif  // TSM_MATERIAL_MATERIAL_TABLE_H
