/* A stand-in for the monitoring library, built only for the tests: it appends every call, and its
   own loading and unloading, to the file named by QV_FENDRAKE_LOG. Built twice: complete, and
   without InfoEvenement (QV_WITHOUT_INFO_EVENEMENT). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static void Record(const char* line) {
  const char* path = getenv("QV_FENDRAKE_LOG");
  if (path == NULL) return;
  FILE* f = fopen(path, "a");
  if (f == NULL) return;
  fputs(line, f);
  fputc('\n', f);
  fclose(f);
}

__attribute__((constructor)) static void Loaded(void) { Record("loaded"); }
__attribute__((destructor)) static void Unloaded(void) { Record("unloaded"); }

__attribute__((visibility("default"))) uint32_t InfoApplication(uint32_t instance,
                                                                uint32_t reserved) {
  char line[64];
  snprintf(line, sizeof line, "InfoApplication %u %u", (unsigned)instance, (unsigned)reserved);
  Record(line);
  return 41;
}

#ifndef QV_WITHOUT_INFO_EVENEMENT
__attribute__((visibility("default"))) uint32_t InfoEvenement(uint32_t what) {
  (void)what;
  Record("InfoEvenement");
  return 0;
}
#endif

__attribute__((visibility("default"))) uint32_t InfoEnd(void) {
  Record("InfoEnd");
  return 42;
}
