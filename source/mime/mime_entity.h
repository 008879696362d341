/* The entity: the wire view of one MIME entity. It holds the values of its three MIME header fields as
 * header text (Content-Type, Content-Transfer-Encoding, Content-Id, without the field names) and its
 * body as it travels, after transfer encoding. It interprets nothing: a setter stores what it is handed.
 *
 * Ownership: every function that returns an object returns a new reference the caller releases, except
 * mimeEntitySort, mimeEntityObj and mimeEntityFrom. Arguments are borrowed. Changers take the address of
 * the caller's reference and first replace a shared entity by a private copy there (copy-on-write).
 * A null entity, a null address or a null value given to a setter aborts. */
#ifndef MIME_ENTITY_H
#define MIME_ENTITY_H

#include "mime/mime_defs.h"

KX_EXTERN_C_BEGIN

/* The sort record of every entity (sort name "MIME_ENTITY"; no compare or to-string function). */
MIME_EXPORT extern KX_SORT mime___sort_MIME_ENTITY;
/* The sort's free function: releases each present field of the dying entity. */
MIME_EXPORT void mime___EntityFreeFunc(KX_OBJ *obj);

/* --- common object operations --- */
MIME_EXPORT KX_SORT *mimeEntitySort(void);                   /* the sort record; static */
MIME_EXPORT KX_OBJ *mimeEntityObj(MIME_ENTITY *ent);         /* the same pointer; no check, no reference */
MIME_EXPORT MIME_ENTITY *mimeEntityFrom(KX_OBJ *obj);        /* null passes; another sort aborts */
MIME_EXPORT MIME_ENTITY *mimeEntityRetain(MIME_ENTITY *obj); /* returns obj, one more reference */
MIME_EXPORT void mimeEntityRelease(MIME_ENTITY *obj);        /* frees the entity with its last reference */
MIME_EXPORT KX_STRING *mimeEntityToString(MIME_ENTITY *obj); /* a new string naming the entity */
/* -1, 0 or 1 by kx's default order (identity); null aborts. */
MIME_EXPORT kxInt mimeEntityCompare(MIME_ENTITY *objA, MIME_ENTITY *objB);
/* True when objA and objB are the same entity; null aborts. */
MIME_EXPORT kxBool mimeEntityEquals(MIME_ENTITY *objA, MIME_ENTITY *objB);

/* A new entity with all four fields absent, owned by the caller. */
MIME_EXPORT MIME_ENTITY *mimeEntityCreate(void);
/* A new entity, owned by the caller, sharing each present field of source (one more reference each). */
MIME_EXPORT MIME_ENTITY *mimeEntityCreateFrom(MIME_ENTITY *source);

/* The Content-Type field value, a new reference; null when absent. */
MIME_EXPORT KX_STRING *mimeEntityContentType(MIME_ENTITY *ent);
/* True when the entity has a Content-Type field. */
MIME_EXPORT kxBool mimeEntityHasContentType(MIME_ENTITY *ent);
/* Stores contentType (retained, unexamined) as the Content-Type field value. */
MIME_EXPORT void mimeEntitySetContentType(MIME_ENTITY **ent, KX_STRING *contentType);
/* Removes the Content-Type field (a change even when absent: a shared entity is copied first). */
MIME_EXPORT void mimeEntityDelContentType(MIME_ENTITY **ent);

/* The Content-Transfer-Encoding field value, a new reference; null when absent. */
MIME_EXPORT KX_STRING *mimeEntityContentTransferEncoding(MIME_ENTITY *ent);
/* True when the entity has a Content-Transfer-Encoding field. */
MIME_EXPORT kxBool mimeEntityHasContentTransferEncoding(MIME_ENTITY *ent);
/* Stores contentTransferEncoding (retained, unexamined) as the Content-Transfer-Encoding field value. */
MIME_EXPORT void mimeEntitySetContentTransferEncoding(MIME_ENTITY **ent, KX_STRING *contentTransferEncoding);
/* Removes the Content-Transfer-Encoding field (a shared entity is copied first). */
MIME_EXPORT void mimeEntityDelContentTransferEncoding(MIME_ENTITY **ent);

/* The Content-Id field value (with its angle brackets), a new reference; null when absent. */
MIME_EXPORT KX_STRING *mimeEntityContentId(MIME_ENTITY *ent);
/* True when the entity has a Content-Id field. */
MIME_EXPORT kxBool mimeEntityHasContentId(MIME_ENTITY *ent);
/* Stores contentId (retained, unexamined) as the Content-Id field value. */
MIME_EXPORT void mimeEntitySetContentId(MIME_ENTITY **ent, KX_STRING *contentId);
/* Removes the Content-Id field (a shared entity is copied first). */
MIME_EXPORT void mimeEntityDelContentId(MIME_ENTITY **ent);

/* The body as it travels (transfer-encoded), a new reference; null when absent. */
MIME_EXPORT KX_BUFFER *mimeEntityBody(MIME_ENTITY *ent);
/* True when the entity has a body (an empty body counts as present). */
MIME_EXPORT kxBool mimeEntityHasBody(MIME_ENTITY *ent);
/* Stores body (retained, not copied) as the entity's body. */
MIME_EXPORT void mimeEntitySetBody(MIME_ENTITY **ent, KX_BUFFER *body);
/* Removes the body (a shared entity is copied first). */
MIME_EXPORT void mimeEntityDelBody(MIME_ENTITY **ent);

KX_EXTERN_C_END

#endif
