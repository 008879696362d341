// The tolerant message reader: a message becomes a tree of MIME_PART, whatever its octets.
//
//   message   := [mbox "From " line] header-block body
//   multipart := preamble 1*( delimiter-line part ) [close-delimiter-line epilogue]
//   delimiter-line := "--" boundary *( SP / HTAB ) line-end     ; at the start of a line
//   close-delimiter-line := "--" boundary "--" ...
//
// Leniency, each recorded as a defect where it is met: lines end in CR LF or LF; a missing close delimiter
// lets the last part run to the end; a delimiter line with text after the boundary still counts, unless
// the text could continue the boundary (then it is some other, longer boundary); no delimiter at all, no
// boundary, or nesting past the limit leave the multipart a leaf; an unreadable Content-Type gives the
// default type. Every part is a range of the message and its body a slice: nothing is copied.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mime/mime_content_disposition.hpp"
#include "mime/mime_content_transfer_encoding.h"
#include "mime/mime_content_transfer_encoding.hpp"
#include "mime/mime_content_type.h"
#include "mime/mime_content_type.hpp"
#include "mime/mime_header.h"
#include "mime/mime_header.hpp"
#include "mime/mime_multipart.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_part.h"
#include "mime/mime_part.hpp"
#include "mime/mime_shf_token.hpp"

namespace {

using kx::Ref;
using mime::header::LineEnds;

// Longer boundaries are used all the same, with a defect.
constexpr size_t kLongestBoundary = 70;

struct Reader {
  KX_BUFFER *message;
  std::string_view bytes;
  MIME_OPTIONS *opt;
  kxInt fallbackCharset;
  size_t maxFields, maxParameters, maxParts, maxDepth;
  size_t parts = 0;  // read so far, the message itself not counted
  Ref<MIME_CONTENT_TYPE> textPlain{}, messageRfc822{};
  Ref<MIME_HEADER>
      noFields{};  // shared by every part without fields, which hostile inputs hold by the million
  // The last Content-Type value read and what it gave: the parts of a multipart mostly repeat one value,
  // and content types are immutable, so such parts share one object instead of decoding it again.
  std::string lastTypeValue{};
  Ref<MIME_CONTENT_TYPE> lastType{};
  bool lastTypeCharsetUnknown = false;
  // Set when the parts go to a visitor instead of into a tree.
  MIME_PART_VISITOR visitor = nullptr;
  void *context = nullptr;
  bool stopped = false;  // the visitor asked to stop: nothing more is read or handed over
};

// A part being read while its parts are handed to a visitor; its START goes out before its first part
// does, so that a multipart that turns out to hold no part is handed over as a leaf instead.
struct Frame {
  MIME_PART *part;
  size_t depth;
  Frame *parent;  // null for the message
  bool started = false;
};

// Where the part is read from: its range, how deep it stands, and what its parent makes of it.
struct Place {
  size_t offset, end, depth;
  bool inDigest;   // a part of a multipart/digest: its default type is message/rfc822
  bool isMessage;  // a whole message (the root or an attached one): an mbox "From " line may lead
};

MIME_PART *readPart(Reader *reader, const Place &place, Frame *parent);
Reader makeReader(KX_BUFFER *message, MIME_OPTIONS *opt);
Ref<MIME_CONTENT_TYPE> defaultType(Reader *reader, const Place &place);
Ref<MIME_CONTENT_TYPE> decodeContentTypeValue(Reader *reader, std::string_view value);

}  // namespace

extern "C" MIME_PART *mimeMessageRead(KX_BUFFER *message, MIME_OPTIONS *opt) {
  MIME_ASSERT(message);
  MIME_ASSERT(opt);
  Reader reader = makeReader(message, opt);
  return readPart(&reader, Place{0, reader.bytes.size(), 0, false, true}, nullptr);
}

extern "C" kxBool mimeMessageReadEach(KX_BUFFER *message, MIME_OPTIONS *opt, MIME_PART_VISITOR visitor,
                                      void *context) {
  MIME_ASSERT(message);
  MIME_ASSERT(opt);
  MIME_ASSERT(visitor);
  Reader reader = makeReader(message, opt);
  reader.visitor = visitor;
  reader.context = context;
  Ref<MIME_PART> root(readPart(&reader, Place{0, reader.bytes.size(), 0, false, true}, nullptr));
  return !reader.stopped;
}

namespace {

Reader makeReader(KX_BUFFER *message, MIME_OPTIONS *opt) {
  Reader reader{message,
                mime::multipart::bytesOf(message),
                opt,
                mimeOptionsHeaderFallbackCharset(opt),
                static_cast<size_t>(mimeOptionsReaderLimit(opt, MIME_READER_LIMIT_HEADER_FIELDS)),
                static_cast<size_t>(mimeOptionsReaderLimit(opt, MIME_READER_LIMIT_PARAMETERS)),
                static_cast<size_t>(mimeOptionsReaderLimit(opt, MIME_READER_LIMIT_PARTS)),
                static_cast<size_t>(mimeOptionsReaderLimit(opt, MIME_READER_LIMIT_DEPTH))};
  reader.textPlain.reset(mimeContentTypeCreateCstr("text/plain", -1));
  mimeContentTypeSetParameterCstrCstrValue(reader.textPlain.addr(), "charset", -1, "us-ascii", -1);
  reader.messageRfc822.reset(mimeContentTypeCreateCstr("message/rfc822", -1));
  reader.noFields.reset(mimeHeaderCreate());
  return reader;
}

void addDefect(MIME_PART *part, kxInt kind, size_t offset) {
  if (!part->defects) part->defects = new std::vector<MIME_DEFECT>();
  part->defects->push_back({kind, static_cast<kxInt>(offset)});
}

bool nameIs(MIME_CONTENT_TYPE *type, const char *name) {
  Ref<KX_STRING> have(mimeContentTypeName(type));
  return kxStringEqualsCaseFoldCstr(have.get(), name, -1);
}

bool nameStartsWith(MIME_CONTENT_TYPE *type, std::string_view prefix) {
  Ref<KX_STRING> have(mimeContentTypeName(type));
  const kxChar *chars = kxStringBacking(have.get());
  if (static_cast<size_t>(kxStringLength(have.get())) < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (chars[i] != static_cast<kxChar>(prefix[i])) return false;  // names are kept in lower case
  }
  return true;
}

// The offset of the octet after the line that holds at (past its line end), or end.
size_t nextLine(std::string_view bytes, size_t at, size_t end) {
  const void *lf = std::memchr(bytes.data() + at, '\n', end - at);
  return lf ? static_cast<size_t>(static_cast<const char *>(lf) - bytes.data()) + 1 : end;
}

// --- header values ---

// The value octets cut before the parameter past the limit (semicolons inside quoted strings do not count).
std::string_view withinParameterLimit(std::string_view value, size_t maxParameters, bool *cut) {
  size_t parameters = 0;
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quoted && c == '\\') {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ';' && !quoted && ++parameters > maxParameters) {
      *cut = true;
      return value.substr(0, i);
    }
  }
  return value;
}

// The unfolded value of field index, cut at the parameter limit (a defect when cut); it may live in
// *scratch. *fieldOffset receives where the field starts in the message.
std::string_view parameterisedValue(Reader *reader, MIME_PART *part, kxInt index, std::string *scratch,
                                    size_t *fieldOffset) {
  const std::string_view field = mime::header::fieldOctets(part->header, index);
  *fieldOffset = static_cast<size_t>(field.data() - reader->bytes.data());
  bool cut = false;
  const std::string_view value = withinParameterLimit(
      mime::header::valueOf(field, LineEnds::kCrLfOrLf, scratch), reader->maxParameters, &cut);
  if (cut) addDefect(part, MIME_DEFECT_TOO_MANY_PARAMETERS, *fieldOffset);
  return value;
}

// The first Content-Type, read as far as the codec goes; the parent's default when absent or unreadable.
Ref<MIME_CONTENT_TYPE> readContentType(Reader *reader, MIME_PART *part, const Place &place) {
  const kxInt index = mimeHeaderFindCstr(part->header, "Content-Type", -1, 0);
  if (index < 0) return defaultType(reader, place);
  std::string scratch;
  size_t fieldOffset = 0;
  const std::string_view value = parameterisedValue(reader, part, index, &scratch, &fieldOffset);
  if (!reader->lastType || value != reader->lastTypeValue) {
    Ref<MIME_CONTENT_TYPE> type = decodeContentTypeValue(reader, value);
    if (!type) {
      addDefect(part, MIME_DEFECT_BAD_CONTENT_TYPE, fieldOffset);
      return defaultType(reader, place);
    }
    Ref<KX_STRING> charset(mimeContentTypeParameterCstr(type.get(), "charset", -1));
    reader->lastTypeCharsetUnknown = charset && kxCharsetFromIanaName(charset.get()) < 0;
    reader->lastTypeValue.assign(value);
    reader->lastType = std::move(type);
  }
  if (reader->lastTypeCharsetUnknown) addDefect(part, MIME_DEFECT_UNKNOWN_CHARSET, fieldOffset);
  return Ref<MIME_CONTENT_TYPE>::retained(reader->lastType.get());
}

Ref<MIME_CONTENT_TYPE> decodeContentTypeValue(Reader *reader, std::string_view value) {
  if (mime::header::firstNonUtf8(value) == std::string_view::npos) {
    // As nearly every value is: read from its octets, no string of it made.
    const mime::Utf8CodePoints text(value.data(), value.size());
    return Ref<MIME_CONTENT_TYPE>(mime::decodeContentType(text.chars(), reader->opt));
  }
  Ref<KX_STRING> text(mime::header::decodeText(value, reader->fallbackCharset));
  return Ref<MIME_CONTENT_TYPE>(mimeContentTypeTryDecode(text.get(), reader->opt));
}

Ref<MIME_CONTENT_TYPE> defaultType(Reader *reader, const Place &place) {
  return Ref<MIME_CONTENT_TYPE>(
      mime::retainField(place.inDigest ? reader->messageRfc822.get() : reader->textPlain.get()));
}

// The first Content-Disposition, read as far as it goes; null when there is none.
MIME_CONTENT_DISPOSITION *readContentDisposition(Reader *reader, MIME_PART *part) {
  const kxInt index = mimeHeaderFindCstr(part->header, "Content-Disposition", -1, 0);
  if (index < 0) return nullptr;
  std::string scratch;
  size_t fieldOffset = 0;
  const std::string_view value = parameterisedValue(reader, part, index, &scratch, &fieldOffset);
  Ref<KX_STRING> text(mime::header::decodeText(value, reader->fallbackCharset));
  bool salvaged = false;
  MIME_CONTENT_DISPOSITION *disposition =
      mime::disposition::decodeTolerantly(text.get(), reader->opt, &salvaged);
  if (salvaged) addDefect(part, MIME_DEFECT_BAD_CONTENT_DISPOSITION, fieldOffset);
  return disposition;
}

kxInt readTransferEncoding(Reader *reader, MIME_PART *part) {
  const kxInt index = mimeHeaderFindCstr(part->header, "Content-Transfer-Encoding", -1, 0);
  if (index < 0) return MIME_CONTENT_TRANSFER_ENCODING_7BIT;
  const std::string_view field = mime::header::fieldOctets(part->header, index);
  std::string scratch;
  kxInt cte = mime::transferEncodingNamed(mime::header::valueOf(field, LineEnds::kCrLfOrLf, &scratch));
  if (cte < 0) {  // not a bare name: comments, quotes, or no encoding at all
    Ref<KX_STRING> value(mimeHeaderValueAt(part->header, index));
    cte = mimeContentTransferEncodingTryDecode(value.get(), reader->opt);
  }
  if (cte < 0) {
    addDefect(part, MIME_DEFECT_BAD_TRANSFER_ENCODING,
              static_cast<size_t>(field.data() - reader->bytes.data()));
  }
  return cte;
}

// --- delimiter lines ---

// The characters a boundary is made of: text right after a boundary that is one of them may be the rest
// of a longer boundary, so such a line is no delimiter of this one.
constexpr bool isBoundaryChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         std::string_view("'()+_,-./:=?").find(c) != std::string_view::npos;
}

struct DelimiterLine {
  bool found = false;
  bool close = false;
  size_t at = 0;         // its first octet
  size_t partEnd = 0;    // where the part before it ends: before the line end in front of the delimiter
  size_t next = 0;       // the first octet of the line after it
  size_t textAfter = 0;  // where text after the boundary starts; 0 when there is none
};

// The first delimiter line of lfDashBoundary's boundary (LF "--" boundary: a delimiter starts a line) at
// or after from, before end; from counts as the start of a line.
DelimiterLine findDelimiterLine(std::string_view bytes, std::string_view lfDashBoundary, size_t from,
                                size_t end) {
  const std::string_view dashBoundary = lfDashBoundary.substr(1);
  DelimiterLine line;
  bool atFrom = bytes.substr(from, end - from).starts_with(dashBoundary);
  for (size_t searchFrom = from;;) {
    size_t at = from;
    if (!atFrom) {
      const char *hit =
          mime::multipart::findNeedle(bytes.substr(searchFrom, end - searchFrom), lfDashBoundary);
      if (!hit) break;
      at = static_cast<size_t>(hit - bytes.data()) + 1;
    }
    atFrom = false;
    searchFrom = at;
    size_t after = at + dashBoundary.size();
    line.close = bytes.substr(after, 2) == "--" && after + 2 <= end;
    if (!line.close) {
      if (after < end && isBoundaryChar(bytes[after])) continue;
      while (after < end && (bytes[after] == ' ' || bytes[after] == '\t')) ++after;
      const bool lineEnds = after == end || bytes[after] == '\n' || bytes.substr(after, 2) == "\r\n";
      if (!lineEnds) line.textAfter = after;
    }
    line.found = true;
    line.at = at;
    line.partEnd = at;
    if (at > from && bytes[at - 1] == '\n') --line.partEnd;
    if (line.partEnd > from && at > from && bytes[line.partEnd - 1] == '\r') --line.partEnd;
    line.next = nextLine(bytes, after, end);
    return line;
  }
  return line;
}

// --- structure ---

// --- handing parts to a visitor ---

void handOver(Reader *reader, MIME_PART *part, kxInt visit, size_t depth) {
  if (!reader->visitor(reader->context, part, visit, static_cast<kxInt>(depth))) reader->stopped = true;
}

// Hands over the START of frame's part, and before it those of the parts around it, unless done already.
// The reader goes on adding defects to its own part, so the visitor gets a copy as it stands now.
void start(Reader *reader, Frame *frame) {
  if (!frame || frame->started) return;
  start(reader, frame->parent);
  frame->started = true;
  if (reader->stopped) return;
  Ref<MIME_PART> asItStands(mime::part::copyWithoutChildren(frame->part));
  handOver(reader, asItStands.get(), MIME_VISIT_START, frame->depth);
}

// Hands over the part read: its END when its START went out, else the part as a leaf.
void finish(Reader *reader, Frame *frame) {
  if (!frame->started) start(reader, frame->parent);
  if (reader->stopped) return;
  handOver(reader, frame->part, frame->started ? MIME_VISIT_END : MIME_VISIT_LEAF, frame->depth);
}

// A child read goes into the tree, or was handed to the visitor and is no longer needed.
void appendChild(Reader *reader, MIME_PART *part, MIME_PART *child) {
  Ref<MIME_PART> owned(child);
  if (reader->visitor) return;
  if (!part->children) part->children = kxVectorCreate();
  kxVectorAppendObj(&part->children, mimePartObj(child));
}

void readMultipart(Reader *reader, MIME_PART *part, const Place &place, Frame *frame) {
  Ref<KX_STRING> boundary(mimeContentTypeParameterCstr(part->contentType, "boundary", -1));
  if (!boundary || kxStringLength(boundary.get()) == 0) {
    addDefect(part, MIME_DEFECT_NO_BOUNDARY, static_cast<size_t>(part->offset));
    return;
  }
  Ref<KX_BUFFER> octets(kxCharsetConvertStringToBuffer(boundary.get(), KX_CHARSET_UTF_8));
  if (!octets) {
    addDefect(part, MIME_DEFECT_NO_BOUNDARY, static_cast<size_t>(part->offset));
    return;
  }
  const std::string lfDashBoundary = "\n--" + std::string(mime::multipart::bytesOf(octets.get()));
  if (lfDashBoundary.size() - 3 > kLongestBoundary) addDefect(part, MIME_DEFECT_LONG_BOUNDARY, place.offset);
  if (place.depth >= reader->maxDepth) {
    addDefect(part, MIME_DEFECT_TOO_DEEP, static_cast<size_t>(part->bodyOffset));
    return;
  }
  const bool digest = nameIs(part->contentType, "multipart/digest");
  DelimiterLine line =
      findDelimiterLine(reader->bytes, lfDashBoundary, static_cast<size_t>(part->bodyOffset), place.end);
  if (!line.found || line.close) {  // a close delimiter alone opens no part
    addDefect(part, MIME_DEFECT_NO_FIRST_DELIMITER, static_cast<size_t>(part->bodyOffset));
    return;
  }
  while (!line.close) {
    if (line.textAfter) addDefect(part, MIME_DEFECT_TEXT_AFTER_BOUNDARY, line.textAfter);
    const size_t start = line.next;
    if (reader->parts >= reader->maxParts) {
      addDefect(part, MIME_DEFECT_TOO_MANY_PARTS, start);
      return;
    }
    DelimiterLine next = findDelimiterLine(reader->bytes, lfDashBoundary, start, place.end);
    const size_t end = next.found ? next.partEnd : place.end;
    if (!next.found) addDefect(part, MIME_DEFECT_NO_CLOSE_DELIMITER, place.end);
    if (next.found && next.at == start) {
      addDefect(part, MIME_DEFECT_EMPTY_PART, start);
    } else {
      ++reader->parts;
      appendChild(reader, part, readPart(reader, Place{start, end, place.depth + 1, digest, false}, frame));
      if (reader->stopped) return;
    }
    if (!next.found) return;
    line = next;
  }
}

// An attached message is read as a message, unless its body is transfer-encoded (then it stays a leaf).
// The body of message/external-body is a header block too (of the entity it points to), and reads alike.
void readAttachedMessage(Reader *reader, MIME_PART *part, const Place &place, Frame *frame) {
  if (part->contentTransferEncoding > MIME_CONTENT_TRANSFER_ENCODING_BINARY) return;
  if (place.depth >= reader->maxDepth) {
    addDefect(part, MIME_DEFECT_TOO_DEEP, static_cast<size_t>(part->bodyOffset));
    return;
  }
  if (reader->parts >= reader->maxParts) {
    addDefect(part, MIME_DEFECT_TOO_MANY_PARTS, static_cast<size_t>(part->bodyOffset));
    return;
  }
  ++reader->parts;
  appendChild(
      reader, part,
      readPart(reader, Place{static_cast<size_t>(part->bodyOffset), place.end, place.depth + 1, false, true},
               frame));
}

MIME_PART *readPart(Reader *reader, const Place &place, Frame *parent) {
  Ref<MIME_PART> part(mime::part::create(reader->message));
  MIME_PART *p = part.get();
  p->offset = static_cast<kxInt>(place.offset);
  p->length = static_cast<kxInt>(place.end - place.offset);
  size_t headerStart = place.offset;
  if (place.isMessage && reader->bytes.substr(place.offset, 5) == "From " && place.end - place.offset >= 5) {
    headerStart = nextLine(reader->bytes, place.offset, place.end);
  }
  mime::header::Block block = mime::header::scan(reader->bytes.substr(0, place.end), headerStart,
                                                 LineEnds::kCrLfOrLf, reader->maxFields);
  p->bodyOffset = static_cast<kxInt>(block.bodyStart);
  if (!block.defects.empty()) p->defects = new std::vector<MIME_DEFECT>(block.defects);
  p->header = block.starts.empty() && block.defects.empty()
                  ? mime::retainField(reader->noFields.get())
                  : mime::header::create(reader->message, std::move(block), reader->fallbackCharset);
  p->contentType = readContentType(reader, p, place).release();
  p->contentDisposition = readContentDisposition(reader, p);
  p->contentTransferEncoding = readTransferEncoding(reader, p);
  Frame frame{p, place.depth, parent};
  if (nameStartsWith(p->contentType, "multipart/")) {
    readMultipart(reader, p, place, &frame);
  } else if (nameIs(p->contentType, "message/rfc822") || nameIs(p->contentType, "message/global") ||
             nameIs(p->contentType, "message/external-body")) {
    readAttachedMessage(reader, p, place, &frame);
  }
  if (reader->visitor) finish(reader, &frame);
  return part.release();
}

}  // namespace
