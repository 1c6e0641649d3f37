// Our stand-in of the host's class descriptor base. A module offers each of its classes
// through one descriptor: the host asks it whether the class is public, to create an
// instance, for the class's name, super-class number, class id and category, and, through
// the further operations, for resource strings and registered interface objects.
//
// The operations are declared in the host's order; a derived descriptor overrides the
// abstract ones and keeps the base's answers for the rest.
#ifndef TSM_HOST_CLASS_DESC_H
#define TSM_HOST_CLASS_DESC_H

#include <cstdint>

#include "host/base_interface.h"
#include "host/geometry.h"
#include "host/host_table.h"

// The interface objects registered with a descriptor: a host table of pointers, empty
// (no block) until the first is added. The objects are not owned.
class InterfaceTable {
 public:
  InterfaceTable() = default;
  InterfaceTable(const InterfaceTable&) = delete;
  InterfaceTable& operator=(const InterfaceTable&) = delete;

  int Count() const { return TableCount(header_); }
  // The object at index i; an index outside the count calls assert1 and answers null.
  BaseInterface* At(int i) const;
  // Appends fi; answers false when memory runs out.
  bool Append(BaseInterface* fi);
  // Releases the block with zfree; the table is empty again.
  void Release();
  // The block itself, null while the table is empty.
  const TableHeader* Header() const { return header_; }

 private:
  TableHeader* header_ = nullptr;  // empty: no block
};

class ClassDesc {
 public:
  ClassDesc() = default;
  ClassDesc(const ClassDesc&) = delete;
  ClassDesc& operator=(const ClassDesc&) = delete;

  // Releases the interface table (not the objects in it).
  virtual ~ClassDesc();
  // Non-zero when the class is offered to the user.
  virtual int IsPublic() = 0;
  // A new instance of the class, owned by the caller, or null when memory runs out.
  // The pointer is of the class's super-class type (for a scene exporter, SceneExport*).
  virtual void* Create(int loading) = 0;
  // Two operations the host uses for classes that are edited in its panels; an exporter
  // is not, and the base answers 0.
  virtual int Reserved1(void* arg);
  virtual int Reserved2(void* arg);
  // The class's name; may live in a shared buffer that the next text overwrites.
  virtual const char* ClassName() = 0;
  // The super-class number: what kind of class this is (0xA20 for scene exporters).
  virtual uint32_t SuperClassNumber() = 0;
  virtual Class_ID ClassIdentity() = 0;
  // The category the host lists the class under.
  virtual const char* Category() = 0;

  // The further operations, with the base's answers.

  // A text of the descriptor's own resources; the base has none and answers null.
  virtual const char* GetRsrcString(intptr_t id);
  // Number of registered interface objects.
  virtual int NumInterfaces();
  // The object at index i (0 to the count - 1); outside, assert1 and null.
  virtual BaseInterface* GetInterfaceAt(int i);
  // The first registered object with this id, or null.
  virtual BaseInterface* GetInterface(Interface_ID id);
  // The first registered object with exactly this name (bytewise), or null.
  virtual BaseInterface* GetInterface(const char* name);
  // Registers fi. A null or an object whose id is already registered is ignored.
  virtual void AddInterface(BaseInterface* fi);

  // The table itself, for inspection.
  const InterfaceTable& Interfaces() const { return interfaces_; }

 private:
  InterfaceTable interfaces_;
};

#endif  // TSM_HOST_CLASS_DESC_H
