/* TELLIX32, the communications shell: finds the installed communications
 * providers by name and fills a ProviderTable with a loaded provider's entry
 * points.  Plain C so that any client (and any provider) can use it. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TELLIX_BUILDING)
#define TELLIX_API __attribute__((visibility("default")))
#else
#define TELLIX_API
#endif

/* What get_info reports: the provider's largest message, the connection's
 * configured message size (header included), and a provider value that the
 * callers keep but do not use.  The message size in use is min(a, b). */
typedef struct ProviderInfo {
    uint16_t size_a;
    uint16_t size_b;
    uint32_t value;
} ProviderInfo;

/* Result codes of the entries: 0 success; TELLIX_TIMEOUT ('c') from receive
 * when the time-out passed without a message; anything else an error. */
#define TELLIX_OK 0
#define TELLIX_TIMEOUT 'c'
#define TELLIX_ERROR 1

/* The entry points of a loaded provider.  Time-outs are in seconds; 0 polls
 * without waiting.  "handle" is the 8-bit connection handle from connect. */
typedef struct ProviderTable {
    uint8_t (*open)(void);
    uint8_t (*close)(void);
    /* timeout: the longest wait for the host to answer, in seconds; 0 lets
     * the provider choose (callers that know no limit pass 0). */
    uint8_t (*connect)(uint8_t *handle, const char *connection_name, int32_t timeout);
    uint8_t (*disconnect)(uint8_t handle);
    uint8_t (*get_info)(uint8_t handle, ProviderInfo *info);
    uint8_t (*send)(uint8_t handle, const char *buffer, uint16_t length, uint8_t timeout);
    /* A received message lies at *data, *length bytes, until release. */
    uint8_t (*receive)(uint8_t handle, char **data, uint16_t *length, uint8_t timeout);
    uint8_t (*release)(uint8_t handle);
    /* Names of the configured connections, each NUL-terminated, an empty name
     * after the last; never more than size bytes. */
    uint8_t (*list_connections)(char *buffer, uint16_t size);
    /* Shows the provider's configuration dialog; non-zero = settings changed.
     * A null entry means the provider has no configuration dialog. */
    uint8_t (*configure)(void *parent_window);
    /* The calling thread's last failure in words (which address, the
     * system's reason), NUL-terminated in at most size bytes; an empty text
     * when there is nothing to tell.  A null entry means the provider tells
     * nothing more than its result codes.  Providers built before this entry
     * existed leave it null (the shell clears the table before loading). */
    uint8_t (*last_error)(char *buffer, uint16_t size);
} ProviderTable;

/* Provider names, each NUL-terminated, an empty name after the last.  Names
 * that do not fit in size bytes (with the closing empty name) are left out. */
TELLIX_API void ShellListProviders(char *buffer, uint16_t size);
/* Fills the table for the provider at index; 0 = success. */
TELLIX_API uint8_t ShellLoadProvider(int32_t index, ProviderTable *table);
/* Releases what ShellLoadProvider loaded. */
TELLIX_API void ShellUnloadProvider(int32_t index);
/* The provider's index, or -1 for an unknown name (compared without regard to case). */
TELLIX_API int8_t ShellFindProvider(const char *name);
/* The name at that list index, or an empty text for an index outside the list. */
TELLIX_API const char *ShellProviderName(int32_t index);

/* A provider library listed in "tellix.ini" exports these two functions. */
typedef uint8_t (*TellixProviderLoadFn)(ProviderTable *table);
typedef void (*TellixProviderUnloadFn)(void);
#define TELLIX_PROVIDER_LOAD_SYMBOL "TellixProviderLoad"
#define TELLIX_PROVIDER_UNLOAD_SYMBOL "TellixProviderUnload"

#ifdef __cplusplus
}
#endif
