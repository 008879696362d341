/* The mime library: every public mime header. */
#ifndef MIME_H
#define MIME_H

#include "mime/mime_defs.h"
#include "mime/mime_module.h"
#include "mime/mime_flags.h"
#include "mime/mime_encode_flags.h"
#include "mime/mime_options.h"
#include "mime/mime_char.h"
#include "mime/mime_shf_token.h"
#include "mime/mime_shf_token_vector.h"
#include "mime/mime_content_transfer_encoding.h"
#include "mime/mime_content_id.h"
#include "mime/mime_content_type.h"
#include "mime/mime_content_disposition.h"
#include "mime/mime_failure.h"
#include "mime/mime_rfc2231.h"
#include "mime/mime_entity.h"
#include "mime/mime_header.h"
#include "mime/mime_defect.h"
#include "mime/mime_part.h"
#include "mime/mime_encode.h"
#include "mime/mime_decode.h"
#include "mime/mime_multipart.h"
#include "mime/mime_encoded_word.h"

#endif
