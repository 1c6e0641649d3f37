// A minimal export run, in place until the enumerating run lands: it writes the file
// skeleton and reports failures the way the full run does. The scene is not looked at.
#include <cstdio>

#include "plugin/messages.h"
#include "run/export_run.h"
#include "writer/file_writer.h"

namespace tsm {

int ExportToFile(const char* name, ExportInterface* ei, HostInterface* ip, int quiet,
                 uint32_t /*options*/) {
  QuietMode = quiet != 0 ? 1 : 0;
  int r = RunExport(name, ei, ip);
  if (r == 0) return 1;
  return r > 0 ? r : 0;
}

int RunExport(const char* name, ExportInterface* /*ei*/, HostInterface* /*ip*/) {
  FileStream stream;
  if (!stream.Open(name)) {
    ShowResourceMessage(IDS_CANT_CREATE, IDS_RUN_CAPTION, MB_OK);
    return 0;
  }
  int written = WriteTopChunk(MOD_MAIN, stream, nullptr);
  int closed = stream.Close();
  if (written == 0 || closed != 0) {
    // The box comes first; the file goes after it is dismissed.
    ShowResourceMessage(IDS_WRITE_ERROR, IDS_RUN_CAPTION, MB_OK);
    std::remove(name);
    return 0;
  }
  return 1;
}

}  // namespace tsm
