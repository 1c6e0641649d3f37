#include "host/class_desc.h"

#include <cstring>

BaseInterface* InterfaceTable::At(int i) const {
  if (i < 0 || i >= Count()) {
    assert1(__LINE__, __FILE__);
    return nullptr;
  }
  return static_cast<BaseInterface**>(TableElements(header_))[i];
}

bool InterfaceTable::Append(BaseInterface* fi) {
  return TBInsertAt(&header_, Count(), 1, &fi, sizeof(fi)) >= 0;
}

void InterfaceTable::Release() {
  void* block = header_;
  zfree(&block);
  header_ = nullptr;
}

ClassDesc::~ClassDesc() {
  interfaces_.Release();
}

int ClassDesc::Reserved1(void* /*arg*/) {
  return 0;
}

int ClassDesc::Reserved2(void* /*arg*/) {
  return 0;
}

const char* ClassDesc::GetRsrcString(intptr_t /*id*/) {
  return nullptr;
}

int ClassDesc::NumInterfaces() {
  return interfaces_.Count();
}

BaseInterface* ClassDesc::GetInterfaceAt(int i) {
  return interfaces_.At(i);
}

BaseInterface* ClassDesc::GetInterface(Interface_ID id) {
  for (int i = 0; i < interfaces_.Count(); ++i) {
    BaseInterface* fi = interfaces_.At(i);
    if (fi->GetID() == id) return fi;
  }
  return nullptr;
}

BaseInterface* ClassDesc::GetInterface(const char* name) {
  if (name == nullptr) return nullptr;
  for (int i = 0; i < interfaces_.Count(); ++i) {
    BaseInterface* fi = interfaces_.At(i);
    if (std::strcmp(fi->GetName(), name) == 0) return fi;
  }
  return nullptr;
}

void ClassDesc::AddInterface(BaseInterface* fi) {
  if (fi == nullptr || GetInterface(fi->GetID()) != nullptr) return;
  interfaces_.Append(fi);
}
