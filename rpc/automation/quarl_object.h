/* Creating an automation object by its ProgID on Linux, for C and C++
 * clients: the ProgID is looked up in the class registry "classes.ini" of
 * the profile folder ($QUARL_PROFILE_DIR, else
 * ${XDG_CONFIG_HOME:-$HOME/.config}/quarl), where DllRegisterServer records
 * it; the library named there is loaded (and stays loaded), and its class
 * factory creates the object.
 *
 *   IDispatch* rpc = NULL;
 *   char why[512];
 *   HRESULT hr = quarl_create_object("Quarl.RPC", &IID_IDispatch, (void**)&rpc, why, sizeof why);
 *   if (FAILED(hr)) fprintf(stderr, "%s\n", why);
 *
 * Link with -ldl.  Everything here is static inline: include the header and
 * nothing else is needed.
 */
#ifndef QUARL_OBJECT_H
#define QUARL_OBJECT_H

#include <ctype.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quarl_automation.h"

#ifdef __cplusplus
#define QUARL_REF(pointer) (*(pointer))
#else
#define QUARL_REF(pointer) (pointer)
#endif

#define QUARL_CLASS_REGISTRY "classes.ini"

static inline void quarl_object_message(char* out, size_t size, const char* format, ...) {
  va_list args;
  if (!out || size == 0) return;
  va_start(args, format);
  vsnprintf(out, size, format, args);
  va_end(args);
}

/* The path of the class registry into out; 0 when it does not fit. */
static inline int quarl_class_registry_path(char* out, size_t size) {
  const char* dir = getenv("QUARL_PROFILE_DIR");
  const char* xdg = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  int n;
  if (dir && *dir)
    n = snprintf(out, size, "%s/%s", dir, QUARL_CLASS_REGISTRY);
  else if (xdg && *xdg)
    n = snprintf(out, size, "%s/quarl/%s", xdg, QUARL_CLASS_REGISTRY);
  else
    n = snprintf(out, size, "%s/.config/quarl/%s", home && *home ? home : ".", QUARL_CLASS_REGISTRY);
  return n > 0 && (size_t)n < size;
}

static inline int quarl_object_iequal(const char* a, const char* b, size_t n_b) {
  size_t i;
  for (i = 0; i < n_b; ++i)
    if (!a[i] || toupper((unsigned char)a[i]) != toupper((unsigned char)b[i])) return 0;
  return a[n_b] == '\0';
}

/* The value of key in section of the registry file (names compared without
   regard to case, blanks around names and values dropped); 1 when found. */
static inline int quarl_class_registry_value(FILE* file, const char* section, const char* key, char* out,
                                             size_t size) {
  char line[4096];
  int in_section = 0;
  rewind(file);
  while (fgets(line, sizeof line, file)) {
    char* start = line;
    char* end = line + strlen(line);
    char* equals;
    while (end > start && (end[-1] == '\n' || end[-1] == '\r' || end[-1] == ' ' || end[-1] == '\t')) --end;
    while (start < end && (*start == ' ' || *start == '\t')) ++start;
    *end = '\0';
    if (*start == '[') {
      char* close = strchr(start, ']');
      in_section = close && quarl_object_iequal(section, start + 1, (size_t)(close - start - 1));
      continue;
    }
    if (!in_section || *start == ';' || !(equals = strchr(start, '='))) continue;
    {
      char* name_end = equals;
      char* value = equals + 1;
      while (name_end > start && (name_end[-1] == ' ' || name_end[-1] == '\t')) --name_end;
      while (*value == ' ' || *value == '\t') ++value;
      if (!quarl_object_iequal(key, start, (size_t)(name_end - start))) continue;
      if (strlen(value) >= size) return 0;
      strcpy(out, value);
      return 1;
    }
  }
  return 0;
}

/* "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" to a GUID; 1 on success. */
static inline int quarl_guid_from_string(const char* text, GUID* guid) {
  unsigned int d[11];
  int used = 0;
  int i;
  if (strlen(text) != 38 ||
      sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%n", &d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6],
             &d[7], &d[8], &d[9], &d[10], &used) != 11 ||
      used != 38)
    return 0;
  guid->Data1 = d[0];
  guid->Data2 = (uint16_t)d[1];
  guid->Data3 = (uint16_t)d[2];
  for (i = 0; i < 8; ++i) guid->Data4[i] = (uint8_t)d[3 + i];
  return 1;
}

typedef HRESULT(STDAPICALLTYPE* quarl_get_class_object_fn)(REFCLSID rclsid, REFIID riid, void** ppv);

/* Creates the object registered under progid and asks it for iid.  On
   failure *object is NULL, the result says why (CO_E_CLASSSTRING: the
   ProgID is not registered; REGDB_E_CLASSNOTREG: its class has no library;
   CO_E_DLLNOTFOUND: the library cannot be loaded; CO_E_ERRORINDLL: it has
   no DllGetClassObject; otherwise the factory's own result) and, when
   message is given, a sentence for people. */
static inline HRESULT quarl_create_object(const char* progid, const IID* iid, void** object, char* message,
                                          size_t message_size) {
  char path[4096], clsid_text[64], section[80], library[4096];
  FILE* file;
  GUID clsid;
  void* handle;
  quarl_get_class_object_fn get_class_object;
  IClassFactory* factory = NULL;
  HRESULT hr;

  quarl_object_message(message, message_size, "%s", "");
  if (!object) return E_POINTER;
  *object = NULL;
  if (!progid || !iid) return E_INVALIDARG;
  if (!quarl_class_registry_path(path, sizeof path)) {
    quarl_object_message(message, message_size, "The profile folder's path is too long");
    return CO_E_CLASSSTRING;
  }
  file = fopen(path, "r");
  if (!file) {
    quarl_object_message(message, message_size, "%s is not registered: cannot read %s", progid, path);
    return CO_E_CLASSSTRING;
  }
  if (!quarl_class_registry_value(file, progid, "CLSID", clsid_text, sizeof clsid_text) ||
      !quarl_guid_from_string(clsid_text, &clsid)) {
    fclose(file);
    quarl_object_message(message, message_size, "%s is not registered in %s", progid, path);
    return CO_E_CLASSSTRING;
  }
  snprintf(section, sizeof section, "CLSID\\%s", clsid_text);
  if (!quarl_class_registry_value(file, section, "InprocServer", library, sizeof library)) {
    fclose(file);
    quarl_object_message(message, message_size, "Class %s of %s has no library in %s", clsid_text, progid, path);
    return REGDB_E_CLASSNOTREG;
  }
  fclose(file);

  /* Never unloaded: objects of the library may live as long as the process. */
  handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    quarl_object_message(message, message_size, "Cannot load %s: %s", library, why ? why : "unknown error");
    return CO_E_DLLNOTFOUND;
  }
  *(void**)(&get_class_object) = dlsym(handle, "DllGetClassObject");
  if (!get_class_object) {
    quarl_object_message(message, message_size, "%s has no DllGetClassObject", library);
    return CO_E_ERRORINDLL;
  }
  hr = get_class_object(QUARL_REF(&clsid), QUARL_REF(&IID_IClassFactory), (void**)&factory);
  if (FAILED(hr) || !factory) {
    quarl_object_message(message, message_size, "%s gives no class factory for %s (0x%08X)", library, clsid_text,
                         (unsigned)hr);
    return FAILED(hr) ? hr : E_UNEXPECTED;
  }
  hr = factory->lpVtbl->CreateInstance(factory, NULL, QUARL_REF(iid), object);
  factory->lpVtbl->Release(factory);
  if (FAILED(hr)) {
    *object = NULL;
    quarl_object_message(message, message_size, "The class factory of %s cannot create the object (0x%08X)",
                         progid, (unsigned)hr);
  }
  return hr;
}

#endif /* QUARL_OBJECT_H */
