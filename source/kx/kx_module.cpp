// The module system: a module is started by its first kxModuleStartup and stopped by the kxModuleShutdown
// that balances it. One process-wide lock serialises every start and stop; it is recursive because a
// module's startup function commonly starts the modules it depends on.
#include "kx/kx_module.h"

#include <map>
#include <mutex>

#include "kx/kx_internal.hpp"

KX_SORT kx___sort_KX_MODULE = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), nullptr, "KX_MODULE", nullptr, nullptr, nullptr, {}};

namespace {

struct Registry {
  std::recursive_mutex lock;
  std::map<const KX_MODULE *, kxInt> startCounts;  // started modules only
};

// Never destroyed: a module may be stopped from another library's destructor at process exit.
Registry &registry() {
  static Registry *instance = new Registry();
  return *instance;
}

}  // namespace

extern "C" {

kxBool kxModuleStartup(KX_MODULE *module) {
  KX_ASSERT(module);
  KX_ASSERT(module->obj.kx___sort == &kx___sort_KX_MODULE);
  Registry &r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.lock);
  auto found = r.startCounts.find(module);
  if (found != r.startCounts.end()) {
    ++found->second;
    return 1;
  }
  // Counted only once the startup function has succeeded: a failed start leaves the module stopped, and
  // a later call tries again.
  if (module->startup && !module->startup()) return 0;
  r.startCounts[module] = 1;
  return 1;
}

void kxModuleShutdown(KX_MODULE *module) {
  KX_ASSERT(module);
  Registry &r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.lock);
  auto found = r.startCounts.find(module);
  KX_ASSERT(found != r.startCounts.end());  // more stops than starts
  if (--found->second > 0) return;
  r.startCounts.erase(found);
  if (module->shutdown) module->shutdown();
}

kxBool kxModuleStarted(KX_MODULE *module) {
  KX_ASSERT(module);
  Registry &r = registry();
  std::lock_guard<std::recursive_mutex> guard(r.lock);
  return r.startCounts.count(module) != 0 ? 1 : 0;
}

}  // extern "C"
