// The one escaper that every message passes through before it reaches a terminal or a
// message box, whatever its source (a loader's or importer's error or notice, a writer's
// message box, a tool's own words, a file name, an argument): text from files and
// arguments can't move the cursor, retitle the terminal or hide what follows.
#ifndef TSM_IO_MESSAGE_TEXT_H
#define TSM_IO_MESSAGE_TEXT_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace tsm {

// text with every control character escaped: C0 and DEL as \xNN, C1 (U+0080..U+009F in
// UTF-8) as \u00NN, and a byte that is not part of valid UTF-8 as \xNN. Printable UTF-8
// is kept as it is. Nothing of the result is a control character.
std::string EscapeControls(const std::string& text);

// The same for a whole message of one or more lines: line feeds and tabs between its
// parts stay, every other control character is escaped as EscapeControls does.
std::string MessageText(const std::string& text);

// Appends the character that starts at text[i] (i < text.size()) to *out, as it is when
// printable, else escaped as EscapeControls does, and answers how many bytes of text it
// took (at least 1). For quoting helpers that escape more characters.
size_t AppendMessageCharacter(const std::string& text, size_t i, std::string* out);

// Formats a message like printf, passes it through MessageText and writes it to `to`.
void PrintMessage(std::FILE* to, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // namespace tsm

#endif  // TSM_IO_MESSAGE_TEXT_H
