// The one way a file is read by the loaders and readers: opened without blocking and
// checked before anything is read (a regular file, or a stream where the caller takes
// one), refused above a size limit, and a stream read no further once its first bytes
// can begin no valid file. Files a scene refers to (buffers, material files, images) are
// confined to the scene's folder: no absolute path, no ".." and no symbolic link leading
// out, unless the user allows any folder.
#ifndef TSM_IO_INPUT_FILE_H
#define TSM_IO_INPUT_FILE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tsm {

// The largest file any loader or reader takes: 4 GiB.
constexpr uint64_t kMaxInputFileSize = uint64_t(4) << 30;

// Why a read failed.
enum class InputFault {
  kNone,
  kOpen,            // the file cannot be opened (errnum says why)
  kNotRegular,      // a folder, named pipe, device or socket where a file is needed
  kTooLarge,        // a regular file above the limit, refused before reading (size)
  kStreamTooLarge,  // a stream that went past the limit
  kRead,            // a read failed (errnum)
  kOutside,         // a reference leading out of the scene's folder
};

// The outcome of a read. message is a one-line reason in our own words (without the
// file's name), empty when the read succeeded.
struct InputRead {
  InputFault fault = InputFault::kNone;
  int errnum = 0;     // kOpen, kRead
  uint64_t size = 0;  // kTooLarge: the file's size
  std::string message;
  bool ok() const { return fault == InputFault::kNone; }
};

// How one file is read.
struct InputRules {
  uint64_t maxSize = kMaxInputFileSize;  // bytes; larger files are refused
  bool streams = false;  // pipes, terminals and devices are read up to maxSize; false: refused
  // Answers true once the bytes read so far (at least one) can begin no valid file; a
  // stream is read no further then. Empty: every stream is read to its end.
  std::function<bool(const char* data, size_t size)> hopeless;
};

// Reads the whole file at path into *bytes (replaced) by rules. A named pipe that is not
// wanted is refused without waiting for a writer. Throws std::bad_alloc when memory runs
// out; *bytes is empty after any failure.
InputRead ReadInputFile(const std::string& path, const InputRules& rules, std::string* bytes);
InputRead ReadInputFile(const std::string& path, const InputRules& rules,
                        std::vector<uint8_t>* bytes);

// A file's bytes for reading without a copy. A regular file within the size limit is
// mapped: the system reads its pages as they are touched and may drop them again, so the
// memory the process allocates itself does not grow with the file; Release lets it drop
// the pages behind a walk at once. Anything else (a pipe, a device, a system without
// mapping) is read into memory by ReadInputFile, with the same rules and faults.
class InputMapping {
 public:
  InputMapping() = default;
  ~InputMapping();
  InputMapping(const InputMapping&) = delete;
  InputMapping& operator=(const InputMapping&) = delete;

  // Opens path by rules (a mapping held before is closed). May throw std::bad_alloc for
  // a file that is read into memory.
  InputRead Open(const std::string& path, const InputRules& rules);
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  // The bytes before offset will hardly be read again: the pages of a mapped file that
  // lie wholly before it leave the process (read again from the file if touched). Does
  // nothing for a file read into memory. Each of two readers in one file (track 0 or 1)
  // has its own place: one going back does not make the other's pages stay.
  void Release(uint64_t offset, int track = 0);
  void Close();

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  void* map_ = nullptr;        // the mapping, or null when the bytes were read
  uint64_t released_[2] = {0, 0};  // by track: bytes from the start already given back
  std::vector<uint8_t> read_;  // the bytes of a file that is not mapped
};

// %xx escapes of a URI reference undone, and '+' read as a space.
std::string DecodeUri(const std::string& uri);

// The folder a scene's references are resolved in: the scene file's own folder. With
// anyFolder, absolute paths and references leading out of it are followed as well.
class InputFolder {
 public:
  InputFolder(const std::string& sceneFile, bool anyFolder);

  // The path reference (a name relative to the scene's folder, already decoded) leads
  // to, or "" with *why set when it is refused: empty, absolute, with a ".." component,
  // or (existing) a symbolic link whose target lies outside the folder.
  std::string Resolve(const std::string& reference, std::string* why) const;

  // Reads the regular file reference names, at most maxSize bytes.
  InputRead Read(const std::string& reference, uint64_t maxSize, std::string* bytes) const;

  // Whether reference names a regular file inside the folder; nothing is opened.
  bool Exists(const std::string& reference) const;

 private:
  std::string folder_;  // with a trailing slash, or "" for the working folder
  bool anyFolder_;
};

}  // namespace tsm

#endif  // TSM_IO_INPUT_FILE_H
