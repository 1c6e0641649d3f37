// The run's material table: the materials the file carries, in the order of their
// material numbers, each converted into the exporter's own record.
//
// (Declarations that the enumeration calls; the records, maps and the rest of the table
// are completed together with the conversion.)
#ifndef TSM_MATERIAL_MATERIAL_TABLE_H
#define TSM_MATERIAL_MATERIAL_TABLE_H

#include <cstdint>

#include "run/host_scene.h"

namespace tsm {

class MaterialTable {
 public:
  // Enters the material of a node that is exported as a mesh: nothing for none; the
  // sub-materials of a multi/sub material one by one; any other material once.
  void AddNodeMaterial(HostMaterial* m);
  // Releases every record and the table's storage; the table is then empty.
  void ClearMaterialTable();
  int32_t Count() const;
};

}  // namespace tsm

#endif  // TSM_MATERIAL_MATERIAL_TABLE_H
