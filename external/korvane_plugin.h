/*
 * Korvane encryption plug-in interface.
 *
 * A plug-in is a dynamic library that exports the nine functions below under their
 * plain C names. Korvane refuses a library that lacks any of them, even the ones it
 * never calls. Usable from C (C99 or later) and C++.
 *
 * What Korvane relies on:
 *  - getProofLevel: bit 0 Basic, bit 1 Middle, bit 2 High; higher bits are ignored.
 *    Called once, on the GUI thread, when the plug-in is loaded.
 *  - addBufferParam(name, value): the buffer is valid only during the call; copy
 *    what you keep. Names are NUL-terminated UTF-16: "PLAINTEXT" and "AESKEY".
 *    Korvane never clears parameters; a later add of the same name replaces it.
 *  - doBasicEncrypt(out): out is Korvane's 16-byte output area; write the encrypted
 *    CPU id into it. Nonzero means success. Only the first CPU-id-length bytes of
 *    the output are written to the board.
 *  - doMiddleEncrypt(out): out is exactly as long as the "PLAINTEXT" given before;
 *    fill all of it. Nonzero means success.
 *  - All calls but getProofLevel come from one worker thread at a time.
 *
 * Choices of this interface for the exports Korvane does not call:
 *  - getErrorCode: the plug-in's last error, 0 when the last call succeeded;
 *  - addUintParam / addBoolParam / addStringParam: further named parameters, for
 *    plug-ins and hosts that want them; nonzero means accepted;
 *  - doHighEncrypt(out): reserved for a future High Level transform, same shape as
 *    doMiddleEncrypt.
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
