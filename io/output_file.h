// The output file that every file this system writes goes through (the export run's
// chunk file, the JSON scene of --to-json, tsmview's picture, ...): the holder of the
// stream that a writer writes into, and of where its bytes end up. It never replaces or
// empties what was at the path until the new file is complete, never removes or
// truncates what it did not create, follows symbolic links, writes devices, pipes and
// standard output where they are, and refuses to write over a file the process reads.
#ifndef TSM_IO_OUTPUT_FILE_H
#define TSM_IO_OUTPUT_FILE_H

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>

#include "writer/chunk_io.h"

namespace tsm {

// The stream an output is written through (named after the export run, its first user):
// the writers' OutStream and the close whose result decides whether the file is kept.
class RunStream : public OutStream {
 public:
  // Writes out what is buffered and closes; answers 0 on success, non-zero when a write
  // or the close failed. Closing again answers 0.
  virtual int Close() = 0;
  // The system's error number of the first write or close that failed; 0 when none
  // failed or the reason is unknown.
  virtual int Error() const { return 0; }
};

// Makes the stream for an open, empty output file descriptor fd. The stream owns fd from
// then on, whether it is made or not (null when it can't be made).
typedef std::unique_ptr<RunStream> (*RunStreamFactory)(int fd);

// The factory the run uses unless a test installs another: a buffered FileStream over fd,
// or, when fd can't seek (a pipe) or others write it too (append mode, a position past
// the start), a stream that holds the whole file (its first 16 MiB in memory, the rest in
// a temporary file without a name) and writes it out in order when closed.
std::unique_ptr<RunStream> MakeFileRunStream(int fd);

// For tests only: makes the run create its output streams with factory (null restores
// MakeFileRunStream) and answers the factory installed before. Lets a test fail writes or
// the close at a chosen point, or look at the run at the moment the file is opened.
RunStreamFactory SetRunStreamFactory(RunStreamFactory factory);

// Makes the stream for fd through the factory installed (MakeFileRunStream unless a test
// installed another).
std::unique_ptr<RunStream> MakeRunStream(int fd);

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
  // creates nothing). Answers false when nothing could be created or opened, when path
  // is a file that this process may not write, or when it is a file that the process
  // reads (NoteInputFile); the holder is then empty, nothing is left on disk, and
  // Error/FailedStep say why.
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

// A whole output written in one go: opens path, lets write fill the stream, closes and
// commits. write answers false when it gives up, with its reason in *why (left empty when
// a write of the stream failed: the stream's error then says why). However it ends, the
// file that was at path stays as it was unless the new one is complete, and nothing is
// left beside it.
struct OutputResult {
  bool ok = false;
  std::string message;  // on failure: "PATH: STEP: REASON" (DescribeOutputError)
};
typedef std::function<bool(OutStream& out, std::string* why)> OutputWriter;
OutputResult WriteOutputFile(const std::string& path, const OutputWriter& write);

// "PATH: STEP: REASON" for an output that failed: STEP is what was being done ("" for
// plain opens and writes, then left out), REASON the system's wording of error (left
// out when error is 0; "it could not be written" when both are empty).
std::string DescribeOutputError(const std::string& path, int error, const std::string& step);

// Remembers the file at path (the one a symbolic link leads to) as a file this process
// reads: an output that is that file, by any name or link (the same device and inode),
// is refused. A path that names no regular file is not remembered.
void NoteInputFile(const std::string& path);
// True when path (following symbolic links) is a file remembered by NoteInputFile.
bool IsInputFile(const std::string& path);
// For tests only: forgets every file remembered by NoteInputFile.
void ForgetInputFiles();

// Sets the process up for writing an output: a hangup, interrupt, quit or termination
// signal first removes the temporary file being written and then ends the process as it
// would have (a signal that was ignored stays ignored); a file-size limit makes the write
// fail instead of ending the process. Every tool calls it once, before it writes.
void PrepareProcessForOutput();

// Flushes and closes standard output at the end of a tool; answers 0, or the system's
// error number when what was printed there could not all be written (EIO when the
// system gave no reason).
int FinishStandardOutput();

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

#endif  // TSM_IO_OUTPUT_FILE_H
