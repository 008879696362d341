// The header block scanner and writer on octets, shared by MIME_HEADER, the multipart packer and unpacker
// and the message reader. Internal to the library.
//
//   header-block := *field ( blank-line / line-that-is-not-a-field / end )
//   field        := field-name ":" text line-end *( ( SP / HTAB ) text line-end )
//   field-name   := 1*<any octet but CTLs, SP and ":">
//   line-end     := CR LF, or also LF alone where lenient
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mime/mime_defect.h"
#include "mime/mime_defs.h"

namespace mime::header {

// Strict blocks end lines at CR LF only (a lone LF is an octet of the line); lenient ones at LF too.
enum class LineEnds { kCrLf, kCrLfOrLf };

// A header block as scanned. Fields are contiguous: field i runs from starts[i] to starts[i + 1], the last
// listed one to fieldsEnd. Offsets count from the start of the octets scanned.
struct Block {
  std::vector<size_t> starts;
  size_t fieldsEnd = 0;  // after the last listed field (fields past the limit lie between it and end)
  size_t end = 0;        // the blank line, the line that is not a field, or the end of the octets
  size_t bodyStart = 0;  // after the blank line; end itself when there is none
  std::vector<MIME_DEFECT> defects;
};

// Scans the header block that starts at from. Never fails: a line that is not a field ends the block with
// a defect, octets that are not UTF-8 give one defect per field (at the first such octet), and fields past
// maxFields are skipped with one defect.
Block scan(std::string_view bytes, size_t from, LineEnds lineEnds, size_t maxFields);

// The field name of a field's octets: what comes before its colon.
std::string_view nameOf(std::string_view field);

// The value octets of a field: after the colon, every line end dropped (a fold keeps its white space),
// leading and trailing SP, HTAB, CR and LF trimmed. A view into field when it has no fold, else into
// *scratch.
std::string_view valueOf(std::string_view field, LineEnds lineEnds, std::string *scratch);

// ASCII letters compared without their case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The offset of the first octet of the first ill-formed UTF-8 sequence in text (overlong forms, surrogates
// and values above U+10FFFF included), or npos.
size_t firstNonUtf8(std::string_view text);

// A name that may stand before the colon of a field.
bool nameOk(std::string_view name);

// A value holds CR or LF only as part of a fold (CR LF then SP or HTAB) and no NUL.
bool safeAsValue(std::string_view value);

// Appends "name: value" CR LF; false, with nothing appended, for a bad name or a value not safe as one.
bool appendField(std::string *lines, std::string_view name, std::string_view value);

// A new MIME_HEADER over octets (retained, not copied) holding the fields of a block scanned in them.
MIME_HEADER *create(KX_BUFFER *octets, Block block, kxInt fallbackCharset);

// The octets of field index of a header (a view valid while the header lives).
std::string_view fieldOctets(MIME_HEADER *header, kxInt index);

// Decodes value octets: UTF-8 when they are UTF-8, else the fallback charset.
KX_STRING *decodeText(std::string_view octets, kxInt fallbackCharset);

}  // namespace mime::header
