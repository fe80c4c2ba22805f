/*
 * Korvane encryption plug-in interface.
 *
 * A plug-in is a dynamic library that exports the nine functions below under their
 * plain C names. Korvane refuses a library that lacks any of them, even the ones it
 * never calls. Usable from C (C99 or later) and C++.
 *
 * What Korvane passes and relies on:
 *  - getProofLevel: bit 0 Basic, bit 1 Middle, bit 2 High; higher bits are ignored.
 *    Called once, on the GUI thread, when the plug-in is loaded.
 *  - addBufferParam(name, value): names are NUL-terminated UTF-16, "PLAINTEXT" and
 *    "AESKEY". The bytes are valid only during the call: copy what you keep. A count
 *    may be 0 (an empty data file; a key file that could not be read), and the data
 *    pointer of an empty buffer may be null. The result is not examined. Korvane
 *    never clears parameters; what a second add of a name does is the plug-in's
 *    choice (replacing the first is the obvious one).
 *  - doBasicEncrypt(out): out is Korvane's 16-byte output area, zeroed; the
 *    "PLAINTEXT" before it is the CPU id, 0 to 16 bytes. Only the first
 *    CPU-id-length bytes of the output reach the board. Nonzero means success.
 *  - doMiddleEncrypt(out): out is exactly as long as the "PLAINTEXT" given before
 *    (0 included); fill all of it. Nonzero means success.
 *  - All calls but getProofLevel come from one worker thread at a time.
 *
 * This interface's choices for the exports Korvane resolves but never calls:
 *  - getErrorCode(): the plug-in's code for the outcome of its last call, 0 after a
 *    success; the codes are the plug-in's own.
 *  - addUintParam(name, value) / addBoolParam(name, value: 0 false, else true) /
 *    addStringParam(name, NUL-terminated UTF-16 value): further named parameters,
 *    for plug-ins and hosts that want them; nonzero means accepted.
 *  - doHighEncrypt(out): reserved for a High Level transform, shaped like
 *    doMiddleEncrypt; nonzero means success.
 *  All return int32_t; all take their arguments by value.
 */
#ifndef KORVANE_PLUGIN_H
#define KORVANE_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KORVANE_PLUGIN_CALL __cdecl
#define KORVANE_PLUGIN_EXPORT __declspec(dllexport)
#else
#define KORVANE_PLUGIN_CALL
#define KORVANE_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

/* A view of bytes: never owns them. 16 bytes on a 64-bit build. */
typedef struct Buffer_T
{
    uint8_t *data;
    uint32_t size;
} Buffer_T;

/* Proof level bits returned by getProofLevel. */
enum { KORVANE_PROOF_BASIC = 1, KORVANE_PROOF_MIDDLE = 2, KORVANE_PROOF_HIGH = 4 };

/* Parameter names, NUL-terminated UTF-16. Marked unused so that a C file including
 * this header without naming both does not warn. */
#if defined(__GNUC__) || defined(__clang__)
#define KORVANE_PLUGIN_MAYBE_UNUSED __attribute__((unused))
#else
#define KORVANE_PLUGIN_MAYBE_UNUSED
#endif
static const uint16_t KORVANE_PARAM_PLAINTEXT[] KORVANE_PLUGIN_MAYBE_UNUSED
    = { 'P', 'L', 'A', 'I', 'N', 'T', 'E', 'X', 'T', 0 };
static const uint16_t KORVANE_PARAM_AESKEY[] KORVANE_PLUGIN_MAYBE_UNUSED
    = { 'A', 'E', 'S', 'K', 'E', 'Y', 0 };

/* The nine exports, in the order in which Korvane resolves them. */
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_getProofLevel_fn)(void);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_getErrorCode_fn)(void);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_addUintParam_fn)(const uint16_t *name, uint32_t value);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_addBoolParam_fn)(const uint16_t *name, int32_t value);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_addBufferParam_fn)(const uint16_t *name, Buffer_T value);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_addStringParam_fn)(const uint16_t *name, const uint16_t *value);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_doBasicEncrypt_fn)(Buffer_T out);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_doMiddleEncrypt_fn)(Buffer_T out);
typedef int32_t(KORVANE_PLUGIN_CALL *korvane_doHighEncrypt_fn)(Buffer_T out);

#define KORVANE_PLUGIN_EXPORT_COUNT 9
/* Export names in resolution order. */
#define KORVANE_PLUGIN_EXPORT_NAMES                                                                          \
    {                                                                                                        \
        "getProofLevel", "getErrorCode", "addUintParam", "addBoolParam", "addBufferParam", "addStringParam", \
            "doBasicEncrypt", "doMiddleEncrypt", "doHighEncrypt"                                             \
    }

/* A plug-in's own source defines KORVANE_PLUGIN_IMPLEMENTATION before including this
 * header, so that its definitions are checked against these declarations and exported. */
#ifdef KORVANE_PLUGIN_IMPLEMENTATION
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL getProofLevel(void);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL getErrorCode(void);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL addUintParam(const uint16_t *name, uint32_t value);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL addBoolParam(const uint16_t *name, int32_t value);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL addBufferParam(const uint16_t *name, Buffer_T value);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL addStringParam(const uint16_t *name, const uint16_t *value);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL doBasicEncrypt(Buffer_T out);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL doMiddleEncrypt(Buffer_T out);
KORVANE_PLUGIN_EXPORT int32_t KORVANE_PLUGIN_CALL doHighEncrypt(Buffer_T out);
#endif

#ifdef __cplusplus
} /* extern "C" */
static_assert(sizeof(void *) != 8 || sizeof(Buffer_T) == 16, "Buffer_T is 16 bytes on 64-bit");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(void *) != 8 || sizeof(Buffer_T) == 16, "Buffer_T is 16 bytes on 64-bit");
#endif

#endif /* KORVANE_PLUGIN_H */
