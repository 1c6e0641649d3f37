#include "plugin/format_exporter.h"

#include "plugin/messages.h"
#include "run/export_run.h"

namespace tsm {

int FormatExporter::ExtensionCount() {
  return 1;
}

const char* FormatExporter::Extension(int n) {
  return n == 0 ? "tsm" : "";
}

const char* FormatExporter::LongDescription() {
  return LoadResourceString(IDS_LONG_DESC);
}

const char* FormatExporter::ShortDescription() {
  return LoadResourceString(IDS_SHORT_DESC);
}

const char* FormatExporter::AuthorName() {
  return LoadResourceString(IDS_AUTHOR);
}

const char* FormatExporter::CopyrightMessage() {
  return LoadResourceString(IDS_COPYRIGHT);
}

const char* FormatExporter::FirstOtherMessage() {
  return "";
}

const char* FormatExporter::SecondOtherMessage() {
  return "";
}

unsigned int FormatExporter::Version() {
  return 100;
}

void FormatExporter::ShowAboutBox(void* /*owner*/) {}

int FormatExporter::Export(const char* name, ExportInterface* ei, HostInterface* ip, int quiet,
                           uint32_t options) {
  return ExportToFile(name, ei, ip, quiet, options);
}

}  // namespace tsm
