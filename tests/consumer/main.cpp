// A C++ program that uses the installed C++ interface and the C macros, built with the strict warnings.
#include <cstdio>

#include "mime/mime.hpp"

int main() {
  const mime::Module module;
  const std::optional<mime::ContentType> type = mime::ContentType::create("text/plain");
  const std::optional<mime::Entity> entity = mime::encode(mime::Options(), mime::Buffer("consumer"), *type);
  const std::optional<mime::Decoded> decoded = entity ? mime::decode(*entity, mime::Options()) : std::nullopt;
  KX_STRING *name = kxStringCreateFromCstr("x", -1);
  kxObjClear(&name);
  const bool ok = module && decoded && decoded->body && decoded->body->view() == "consumer" &&
                  name == nullptr && KX_CHARSET_OK(KX_CHARSET_UTF_8) &&
                  KX_INT_ADD_OK(KX_BUFFER_MAX_LENGTH, 1) &&
                  (MIME_FLAG_GENERATE_RFC2231_HEADERS & MIME_OPTIONS_DEFAULT_FLAGS) != 0;
  std::printf("%s\n", ok ? "consumer" : "wrong");
  return ok ? 0 : 1;
}
