/* The module system: a library is found through its module object, started once and stopped once. */
#ifndef KX_MODULE_H
#define KX_MODULE_H

#include "kx/kx_obj.h"

KX_EXTERN_C_BEGIN

typedef struct KX_MODULE_RECORD {
  kxInt formatVersion; /* 2 */
  const char *productIdentifier;
  const char *productName;
  kxInt productVersionMajor;
  kxInt productVersionMinor;
  kxInt productVersionPatch;
  const char *buildTime; /* "UTC 2026-12-06 08:18:19 (Sunday)" */
  const char *vendorName;
  const char *legalNotice;
  const char *moduleName;
  const char *moduleDescription;
  const char *moduleVersion;
  const char *dependencies; /* library names separated by single blanks */
  const char *reserved;
} KX_MODULE_RECORD;

typedef kxBool (*KX_MODULE_STARTUP_FUNC)(void);
typedef void (*KX_MODULE_SHUTDOWN_FUNC)(void);

struct KX_MODULE {
  KX_OBJ obj;
  const KX_MODULE_RECORD *record;
  KX_MODULE_STARTUP_FUNC startup;
  void (*optional)(void);
  KX_MODULE_SHUTDOWN_FUNC shutdown;
  void *reserved[4];
};

KX_EXPORT extern KX_SORT kx___sort_KX_MODULE;

/* Starts the module on the first call (runs its startup function once) and counts further calls; false
 * when the startup function fails. Thread-safe. */
KX_EXPORT kxBool kxModuleStartup(KX_MODULE *module);
/* Stops the module when the call balances the first startup (runs its shutdown function once). */
KX_EXPORT void kxModuleShutdown(KX_MODULE *module);
/* True while the module is started (between its first startup and the balancing shutdown). */
KX_EXPORT kxBool kxModuleStarted(KX_MODULE *module);

KX_EXTERN_C_END

#endif
