// Internal to the library: the types that the header codecs hold text in, as code points, borrowed or owned.
#pragma once

#include <span>
#include <vector>

#include "kx/kx_defs.h"

namespace mime {

using CodePoints = std::span<const kxChar>;   // borrowed from a string, a buffer or a token
using CodePointBuffer = std::vector<kxChar>;  // owned, built up by appending

}  // namespace mime
