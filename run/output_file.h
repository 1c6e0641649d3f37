// The run's output file: the holder of the stream that the writers write into, and of
// where its bytes end up. Used by the export run, and by the command line for what it
// adds to the run's boxes (the system's reason, removal on signals).
#ifndef TSM_RUN_OUTPUT_FILE_H
#define TSM_RUN_OUTPUT_FILE_H

#include <sys/stat.h>

#include <memory>
#include <string>

#include "run/export_run.h"

namespace tsm {

// How the bytes of an output reach their place.
enum class OutputMode {
  NONE,       // nothing open
  STREAM,     // an open descriptor of this process (/dev/stdout, /dev/fd/N, ...), written
              // through a duplicate where it stands; never removed or replaced
  DEVICE,     // a device, a pipe or another file that is not a regular one: written in place
  IN_PLACE,   // an existing regular file in a folder that may not be written: truncated
              // and written in place; a failure empties it
  ANONYMOUS,  // a file without a name in the target's folder, given a name only when
              // complete, then renamed over the target
  NAMED,      // a temporary file beside the target, renamed over it when complete
};

class OutputFile {
 public:
  OutputFile() = default;
  // Closes a stream still held and removes a temporary file that was not committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output for path and holds its stream. A symbolic link at path is never
  // replaced: the file it leads to is written, and a link that leads nowhere fails (it
  // creates nothing). Answers false when nothing could be created or opened, or when path
  // is a file that this process may not write; the holder is then empty, nothing is left
  // on disk, and Error/FailedStep say why.
  bool Open(const char* path);

  // The stream held, or null.
  RunStream* Stream() const { return stream_.get(); }

  // Closes the stream when one is held and answers the close's result (0 when nothing was
  // held, non-zero when the close failed); the holder is empty afterwards.
  int CloseIfOpen();

  // After a successful close: makes the written file the one at the path (synced first,
  // then renamed over the target). Answers false when that failed; the temporary file is
  // then still there for Discard. Writing in place only syncs.
  bool Commit();

  // After a failure: removes the temporary file, if there is one; a regular file written
  // in place is emptied, as it can't be removed. A stream or a device is never touched.
  void Discard();

  // The named temporary file being written or being put in place; empty otherwise.
  const std::string& TemporaryPath() const { return temp_; }
  OutputMode Mode() const { return mode_; }
  // The file the bytes end up in (the path, or the file a symbolic link leads to).
  const std::string& Target() const { return target_; }

  // The system's error number of the last failure (0 when none or unknown), and what was
  // being done when it happened ("" for plain opens and writes).
  int Error() const { return error_; }
  const char* FailedStep() const { return step_; }

 private:
  bool Fail(int error, const char* step);
  bool OpenRegular(bool exists, const struct stat& st);
  bool Attach(int fd);
  bool LinkAnonymous();

  std::unique_ptr<RunStream> stream_;
  OutputMode mode_ = OutputMode::NONE;
  std::string target_;  // the file the bytes end up in
  std::string temp_;    // the named temporary file that is renamed over target_
  int keep_ = -1;       // a second descriptor of the file written: synced, linked, emptied
  int error_ = 0;
  const char* step_ = "";
};

// The descriptor that path names when it names an open descriptor of this process
// ("/dev/stdin", "/dev/stdout", "/dev/stderr", "/dev/fd/N", "/proc/self/fd/N" and the same
// under this process's own number), or -1. Only the name is looked at: the descriptor may
// be closed.
int DescriptorNamedBy(const std::string& path);

// Removes the named temporary file that an output is being written into, if there is one
// at this moment. Safe to call from a signal handler; the command line calls it before it
// dies of a signal.
void RemovePendingTemporary();

// For tests only: whether files without a name are used where the file system makes them
// (the default); with false every replaced or new file goes through a named temporary
// file, as on file systems that make none. Answers the setting before.
bool AllowAnonymousTemporaryFiles(bool allowed);

// Called when an existing regular file is to be written in place because its folder may
// not be written: a failed export then loses the file's previous contents. path is the
// file. The command line prints a notice; the host sees nothing.
typedef void (*InPlaceNotice)(const char* path);
// Installs notice (null: none) and answers the one installed before.
InPlaceNotice SetInPlaceNotice(InPlaceNotice notice);

}  // namespace tsm

#endif  // TSM_RUN_OUTPUT_FILE_H
