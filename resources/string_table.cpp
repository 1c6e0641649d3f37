#include "resources/string_table.h"

namespace tsm {

namespace {

struct StringResource {
  unsigned id;
  const char* text;
};

const StringResource kStrings[] = {
    {IDS_CLASS_NAME, "Tessarin Quadrel"},
    {IDS_LONG_DESC, "Tessarin Format Quadrel File"},
    {IDS_SHORT_DESC, "Tessarin Format"},
    {IDS_AUTHOR, "The tsm exporter developers"},
    {IDS_COPYRIGHT, "Copyright (C) 2026 The tsm exporter developers"},
    {IDS_RUN_CAPTION, "TSMEXP4"},
    {IDS_CATEGORY, "Scene Export"},
    {IDS_LIB_DESCRIPTION, "Tessarin File Format Exporter  Version 1.1 (maintained by Kobrin)"},
    {IDS_NO_DATA, "No data to export"},
    {IDS_CANT_CREATE, "Can't create output file"},
    {IDS_WRITE_ERROR, "Write error on file"},
    {IDS_TOO_LARGE, "Object %s is to large to export"},
    {IDS_EXPORT_ERROR, "Export Error"},
    {IDS_DUPLICATE_NAMES,
     "Two or more object names are the same in file being exported.  All object names must "
     "be unique."},
};

}  // namespace

const char* FindStringResource(unsigned id) {
  for (const StringResource& s : kStrings)
    if (s.id == id) return s.text;
  return nullptr;
}

}  // namespace tsm
