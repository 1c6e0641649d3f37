// Our stand-in of the host's interface objects: something a class descriptor can offer
// besides its class, found by an interface id or by name.
#ifndef TSM_HOST_BASE_INTERFACE_H
#define TSM_HOST_BASE_INTERFACE_H

#include <cstdint>
#include <string>

// Identity of an interface: two unsigned 32-bit words, compared word by word.
class Interface_ID {
 public:
  Interface_ID() = default;
  Interface_ID(uint32_t a, uint32_t b) : a_(a), b_(b) {}
  uint32_t PartA() const { return a_; }
  uint32_t PartB() const { return b_; }
  bool operator==(const Interface_ID& o) const { return a_ == o.a_ && b_ == o.b_; }
  bool operator!=(const Interface_ID& o) const { return !(*this == o); }

 private:
  uint32_t a_ = 0;  // (0, 0) is no interface
  uint32_t b_ = 0;
};

// An interface object: its id and its name. Whoever registers one with a descriptor
// keeps ownership and keeps it alive as long as the descriptor may hand it out.
class BaseInterface {
 public:
  BaseInterface(Interface_ID id, const char* name) : id_(id), name_(name ? name : "") {}
  virtual ~BaseInterface() = default;

  Interface_ID GetID() const { return id_; }
  // The name, NUL-terminated; valid while the object lives.
  const char* GetName() const { return name_.c_str(); }

 private:
  Interface_ID id_;
  std::string name_;
};

#endif  // TSM_HOST_BASE_INTERFACE_H
