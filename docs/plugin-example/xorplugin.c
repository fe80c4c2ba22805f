/*
 * The smallest useful Korvane encryption plug-in: the shape of one, not cryptography.
 * It XORs the data with a 32-byte key (the operator's "AESKEY" when one was chosen,
 * else a built-in one), which anyone can undo. For real cryptography start from
 * plugins/reference/korvane_aes.c.
 *
 * Linux:   cc -std=c11 -O2 -Wall -Wextra -shared -fPIC -fvisibility=hidden \
 *             -I<korvane>/external -o libxorplugin.so xorplugin.c
 * Windows: cl /O2 /W4 /LD /I<korvane>\external xorplugin.c /Fe:xorplugin.dll
 * Check:   korvane-plugin-check --self-test libxorplugin.so
 */
#define KORVANE_PLUGIN_IMPLEMENTATION
#include "korvane_plugin.h"

#include <stdlib.h>
#include <string.h>

enum { KEY_SIZE = 32, BASIC_SIZE = 16 };

/* getErrorCode's answers: this plug-in's own codes. */
enum { XOR_OK, XOR_UNKNOWN_PARAMETER, XOR_BAD_ARGUMENT, XOR_NO_MEMORY, XOR_OUTPUT_SIZE, XOR_UNSUPPORTED };

/* Copies: Korvane's buffers are valid only during the call that passes them, and its
 * parameters stay until replaced, across actions. */
static uint8_t key[KEY_SIZE] = "built-in key, not for production";
static uint8_t *plaintext;
static uint32_t plaintextSize;
static int32_t lastError;

/* Records the outcome; nonzero means success to Korvane. */
static int32_t outcome(int32_t code)
{
    lastError = code;
    return code == XOR_OK;
}

static int isName(const uint16_t *name, const uint16_t *expected)
{
    while (*expected && *name == *expected) {
        ++name;
        ++expected;
    }
    return *name == *expected;
}

/* Writes exactly size bytes: the plaintext, zero-padded, XOR the key. */
static void transform(uint8_t *out, uint32_t size)
{
    for (uint32_t i = 0; i < size; ++i)
        out[i] = (uint8_t)((i < plaintextSize ? plaintext[i] : 0) ^ key[i % KEY_SIZE]);
}

/* High takes no part of the plug-in, but Korvane runs it only for a plug-in that announces it. */
int32_t KORVANE_PLUGIN_CALL getProofLevel(void)
{
    return KORVANE_PROOF_BASIC | KORVANE_PROOF_MIDDLE | KORVANE_PROOF_HIGH;
}

int32_t KORVANE_PLUGIN_CALL getErrorCode(void)
{
    return lastError;
}

/* Korvane resolves these three but never calls them; this plug-in takes no such parameter. */
int32_t KORVANE_PLUGIN_CALL addUintParam(const uint16_t *name, uint32_t value)
{
    (void)name;
    (void)value;
    return outcome(XOR_UNKNOWN_PARAMETER);
}

int32_t KORVANE_PLUGIN_CALL addBoolParam(const uint16_t *name, int32_t value)
{
    (void)name;
    (void)value;
    return outcome(XOR_UNKNOWN_PARAMETER);
}

int32_t KORVANE_PLUGIN_CALL addStringParam(const uint16_t *name, const uint16_t *value)
{
    (void)name;
    (void)value;
    return outcome(XOR_UNKNOWN_PARAMETER);
}

int32_t KORVANE_PLUGIN_CALL addBufferParam(const uint16_t *name, Buffer_T value)
{
    if (!name || (!value.data && value.size > 0))
        return outcome(XOR_BAD_ARGUMENT);
    if (isName(name, KORVANE_PARAM_AESKEY)) {
        if (value.size != KEY_SIZE)
            return outcome(XOR_BAD_ARGUMENT);
        memcpy(key, value.data, KEY_SIZE);
        return outcome(XOR_OK);
    }
    if (!isName(name, KORVANE_PARAM_PLAINTEXT))
        return outcome(XOR_UNKNOWN_PARAMETER);
    uint8_t *copy = malloc(value.size ? value.size : 1);
    if (!copy)
        return outcome(XOR_NO_MEMORY);
    if (value.size)
        memcpy(copy, value.data, value.size);
    free(plaintext);
    plaintext = copy;
    plaintextSize = value.size;
    return outcome(XOR_OK);
}

/* out is Korvane's zeroed 16-byte area; the CPU id before it is 0 to 16 bytes. */
int32_t KORVANE_PLUGIN_CALL doBasicEncrypt(Buffer_T out)
{
    if (!out.data || out.size < BASIC_SIZE || plaintextSize > BASIC_SIZE)
        return outcome(XOR_OUTPUT_SIZE);
    transform(out.data, BASIC_SIZE);
    return outcome(XOR_OK);
}

/* out is exactly as long as the plaintext, 0 included: fill all of it, nothing past it. */
int32_t KORVANE_PLUGIN_CALL doMiddleEncrypt(Buffer_T out)
{
    if (out.size != plaintextSize || (!out.data && out.size > 0))
        return outcome(XOR_OUTPUT_SIZE);
    transform(out.data, out.size);
    return outcome(XOR_OK);
}

/* High Level writes the OEM key as it is; this export only has to exist. */
int32_t KORVANE_PLUGIN_CALL doHighEncrypt(Buffer_T out)
{
    (void)out;
    return outcome(XOR_UNSUPPORTED);
}
