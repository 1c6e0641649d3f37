// The run's output file: the holder of the stream that the writers write into, and of
// where its bytes end up. Used by the export run only.
#ifndef TSM_RUN_OUTPUT_FILE_H
#define TSM_RUN_OUTPUT_FILE_H

#include <memory>
#include <string>

#include "run/export_run.h"

namespace tsm {

class OutputFile {
 public:
  OutputFile() = default;
  // Closes a stream still held and removes a temporary file that was not committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output for path (a regular file, a new file, or something else that is
  // written in place) and holds its stream. Answers false when nothing could be created
  // or opened, or when path is a file that this process may not write; the holder is then
  // empty and nothing is left on disk.
  bool Open(const char* path);

  // The stream held, or null.
  RunStream* Stream() const { return stream_.get(); }

  // Closes the stream when one is held and answers the close's result (0 when nothing was
  // held, non-zero when the close failed); the holder is empty afterwards.
  int CloseIfOpen();

  // After a successful close: makes the written file the one at the path, by syncing the
  // temporary file and renaming it over the target. Answers false when that failed; the
  // temporary file is then still there for Discard. Writing in place has nothing to do.
  bool Commit();

  // After a failure: removes the temporary file, if there is one. The target, or a
  // target written in place, is never touched.
  void Discard();

  // The temporary file being written; empty when writing in place or once committed or
  // discarded.
  const std::string& TemporaryPath() const { return temp_; }

 private:
  std::unique_ptr<RunStream> stream_;
  std::string target_;  // the file the bytes end up in
  std::string temp_;    // the temporary file that is renamed over target_
};

}  // namespace tsm

#endif  // TSM_RUN_OUTPUT_FILE_H
