/* The kx base runtime: every public kx header. */
#ifndef KX_H
#define KX_H

#include "kx/kx_buffer.h"
#include "kx/kx_charset.h"
#include "kx/kx_defs.h"
#include "kx/kx_dict.h"
#include "kx/kx_flagset.h"
#include "kx/kx_identifier.h"
#include "kx/kx_module.h"
#include "kx/kx_obj.h"
#include "kx/kx_random.h"
#include "kx/kx_store.h"
#include "kx/kx_string.h"
#include "kx/kx_vector.h"

#endif
