// The module's string table: ids and texts of every text the system shows or hands to
// the host.
#ifndef TSM_RESOURCES_STRING_TABLE_H
#define TSM_RESOURCES_STRING_TABLE_H

namespace tsm {

enum StringId : unsigned {
  IDS_CLASS_NAME = 40216,
  IDS_LONG_DESC = 40220,
  IDS_SHORT_DESC = 40221,
  IDS_AUTHOR = 40222,
  IDS_COPYRIGHT = 40223,
  IDS_RUN_CAPTION = 40229,
  IDS_CATEGORY = 40231,
  IDS_LIB_DESCRIPTION = 40232,
  IDS_NO_DATA = 40233,
  IDS_CANT_CREATE = 40234,
  IDS_WRITE_ERROR = 40235,
  IDS_TOO_LARGE = 40236,
  IDS_EXPORT_ERROR = 40237,
  IDS_DUPLICATE_NAMES = 40239,
};

// The text of string resource id, or null when the table has no such id.
const char* FindStringResource(unsigned id);

}  // namespace tsm

#endif  // TSM_RESOURCES_STRING_TABLE_H
