/* RFC 2047 encoded words ("=?UTF-8?Q?caf=C3=A9?=", "=?iso-8859-1?B?Y2Fm6Q==?="): header text in any charset
 * written with ASCII only. Decoded in unstructured header field values (Subject, Content-Description) and, as
 * every common mail reader does, in parameter values (name, filename); encoded for unstructured values.
 * Every function returning an object returns a new reference the caller releases; arguments are borrowed;
 * a null object argument aborts. */
#ifndef MIME_ENCODED_WORD_H
#define MIME_ENCODED_WORD_H

#include "kx/kx_string.h"
#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* The text with every encoded word replaced by the characters it stands for. Both encodings (B, Q) in any
 * case, every charset kxCharsetFromIanaName knows (an RFC 2231 language after the charset, "*en", is
 * accepted and dropped); white space (SP, HTAB, CR, LF) between two encoded words is dropped, and adjacent
 * words of one charset are joined before conversion, so that a character split across them comes out whole.
 * A word need not stand apart from the text around it. A malformed word (unknown charset, bad Base64, a
 * character that no encoded text holds, no "?=" before the next "?") stays as it was written, and octets
 * that the charset does not allow become U+FFFD (the whole run of words, when the charset's converter cannot
 * be opened); either sets *malformed (may be null) to true, otherwise it
 * is set to false. Returns a new reference, never null: text itself when it holds no encoded word. Linear in
 * the length of text. */
MIME_EXPORT KX_STRING *mimeEncodedWordDecode(KX_STRING *text, kxBool *malformed);

/* The unstructured header field value that carries text: each white-space separated word that a reader
 * would not take back as it is (one with a character outside printable ASCII, or with "=?") is written,
 * together with the neighbouring words that need it too and the white space between them, as UTF-8 encoded
 * words of at most 75 characters, in Q or B, whichever is shorter for those words; every other word and the
 * white space around it stay as they are. A character is never split across words, and a code point that
 * UTF-8 cannot carry (a surrogate, a value above U+10FFFF) is written as U+FFFD. Lines are folded before
 * white space (CR LF, or CR LF SP between two encoded words) so that none passes the options' fold length
 * when firstLineOffset code points (e.g. "Subject: ") already stand on the first line; only a word longer
 * than a line, or an encoded word holding one character that does not fit in the fold length, makes a line
 * longer. mimeEncodedWordDecode of the result, with its line breaks removed, gives text back. Returns a new
 * string, never null; a negative firstLineOffset aborts. */
MIME_EXPORT KX_STRING *mimeEncodedWordEncode(KX_STRING *text, MIME_OPTIONS *mo, kxInt firstLineOffset);

KX_EXTERN_C_END

#endif
