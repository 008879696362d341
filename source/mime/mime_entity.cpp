// The entity object: three header field values and a body, each an owned reference or null when absent.
#include "mime/mime_entity.h"

#include "mime/mime_object.hpp"

struct MIME_ENTITY {
  KX_OBJ obj;
  KX_STRING *contentType;
  KX_STRING *contentTransferEncoding;
  KX_STRING *contentId;
  KX_BUFFER *body;
};

KX_SORT mime___sort_MIME_ENTITY = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT),
                                   &mime___module,
                                   "MIME_ENTITY",
                                   mime___EntityFreeFunc,
                                   nullptr,
                                   nullptr,
                                   {}};

MIME_DEFINE_OBJECT_FAMILY(Entity, MIME_ENTITY)

extern "C" {

MIME_ENTITY *mimeEntityCreate(void) {
  // kx hands out zero-filled objects: every field starts absent.
  return reinterpret_cast<MIME_ENTITY *>(kx___ObjCreate(sizeof(MIME_ENTITY), &mime___sort_MIME_ENTITY));
}

MIME_ENTITY *mimeEntityCreateFrom(MIME_ENTITY *source) {
  MIME_ASSERT(source);
  MIME_ENTITY *copy = mimeEntityCreate();
  copy->contentType = mime::retainField(source->contentType);
  copy->contentTransferEncoding = mime::retainField(source->contentTransferEncoding);
  copy->contentId = mime::retainField(source->contentId);
  copy->body = mime::retainField(source->body);
  return copy;
}

void mime___EntityFreeFunc(KX_OBJ *obj) {
  auto *ent = reinterpret_cast<MIME_ENTITY *>(obj);
  mime::killField(&ent->contentType);
  mime::killField(&ent->contentTransferEncoding);
  mime::killField(&ent->contentId);
  mime::killField(&ent->body);
}

}  // extern "C"

// The four operations of one field, alike but for the field, its type and the name of the setter's value
// (which is also the text of the setter's abort on a null value).
#define MIME_ENTITY_FIELD(Name, field, Type, value)                     \
  extern "C" Type *mimeEntity##Name(MIME_ENTITY *ent) {                 \
    MIME_ASSERT(ent);                                                   \
    return mime::retainField(ent->field);                               \
  }                                                                     \
  extern "C" kxBool mimeEntityHas##Name(MIME_ENTITY *ent) {             \
    MIME_ASSERT(ent);                                                   \
    return ent->field != nullptr;                                       \
  }                                                                     \
  extern "C" void mimeEntitySet##Name(MIME_ENTITY **ent, Type *value) { \
    MIME_ASSERT(ent);                                                   \
    MIME_ASSERT(*ent);                                                  \
    MIME_ASSERT(value);                                                 \
    mime::makePrivate(ent, mimeEntityCreateFrom);                       \
    mime::replaceField(&(*ent)->field, value);                          \
  }                                                                     \
  extern "C" void mimeEntityDel##Name(MIME_ENTITY **ent) {              \
    MIME_ASSERT(ent);                                                   \
    MIME_ASSERT(*ent);                                                  \
    mime::makePrivate(ent, mimeEntityCreateFrom);                       \
    mime::replaceField(&(*ent)->field, static_cast<Type *>(nullptr));   \
  }

MIME_ENTITY_FIELD(ContentType, contentType, KX_STRING, contentType)
MIME_ENTITY_FIELD(ContentTransferEncoding, contentTransferEncoding, KX_STRING, contentTransferEncoding)
MIME_ENTITY_FIELD(ContentId, contentId, KX_STRING, contentId)
MIME_ENTITY_FIELD(Body, body, KX_BUFFER, body)
