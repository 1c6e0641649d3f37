// Messages: the module handle, the string loader with its one shared buffer, the export
// run's message boxes and the writers' warning boxes.
#ifndef TSM_PLUGIN_MESSAGES_H
#define TSM_PLUGIN_MESSAGES_H

#include <string>

#include "plugin/platform.h"
#include "resources/string_table.h"

namespace tsm {

// Records the module handle that string resources are loaded from; null forgets it.
void SetModuleHandle(ModuleHandle handle);
ModuleHandle GetRecordedModuleHandle();

// Loads string resource id into the one shared 256-byte buffer (at most 255 characters
// and a NUL) and answers the buffer, or null when no module handle is recorded or the
// resource is missing. Each call overwrites the text of the previous one: a caller that
// needs two texts at once copies the first before loading the second.
const char* LoadResourceString(unsigned id);

// Shows a modal box with string resources textId and captionId, owned by the active
// window, and answers the box's button. Shown whatever QuietMode says.
int ShowResourceMessage(unsigned textId, unsigned captionId, unsigned type);

// A writer's warning: text with the caption "Export Error", OK only; shown only when
// QuietMode is 0. The writer goes on the same way whether it was shown or not.
void ShowWriterWarning(const char* text);

// A box with a literal text and the caption "Export Error", shown whatever QuietMode says.
// text is copied before the caption is loaded, so it may be a text of the shared buffer.
void ShowExportErrorBox(const char* text);

// The text of format with name put in place of its first "%s" ("%%" gives "%"), like a
// printf of format and name but without any limit on the length: a message about an
// object of a very long name is whole. Other "%" sequences are copied unchanged. A null
// format gives an empty text; a null name counts as empty.
std::string FormatWithName(const char* format, const char* name);

}  // namespace tsm

#endif  // TSM_PLUGIN_MESSAGES_H
