/* The rfc codec library: every public rfc header. */
#ifndef RFC_H
#define RFC_H

#include "rfc/rfc_base.h"
#include "rfc/rfc_quop.h"

#endif
