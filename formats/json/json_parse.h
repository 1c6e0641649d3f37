// The JSON parser of the scene loader. It builds the same values as the library's own
// parser, in time linear in the text, and knows where it is: every problem it finds, a
// member given twice, nesting too deep, a number too large or text after the value,
// stops the parse with one LoadError that carries its byte offset.
#ifndef TSM_FORMATS_JSON_JSON_PARSE_H
#define TSM_FORMATS_JSON_JSON_PARSE_H

#include <cstddef>
#include <string>

#include "formats/json/json_bulk.h"
#include "formats/json/json_read.h"

namespace tsm {

// Arrays and objects inside each other that a scene may have; deeper is refused.
constexpr size_t kMaxJsonNesting = 1000;

// Parses text (UTF-8, an optional byte order mark first) as exactly one JSON value with
// nothing but whitespace after it. Objects keep their members in text order. Throws
// LoadError with the offset of the problem (and, where it lies inside a value, the JSON
// pointer of the enclosing value) at the first problem; std::bad_alloc when memory runs
// out. Numbers: an integer without fraction or exponent is kept as an unsigned or signed
// 64-bit integer when it fits, anything else as a double; a number beyond the double
// range is an error, one too small for it becomes 0.
// With bulk, the arrays of the members that have a typed fast path are read into it
// where they have its shape, and stand in the tree as its markers (see json_bulk.h).
Json ParseJsonText(const std::string& text, BulkValues* bulk = nullptr);

}  // namespace tsm

#endif  // TSM_FORMATS_JSON_JSON_PARSE_H
