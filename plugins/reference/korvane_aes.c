/*
 * The reference encryption plug-in: AES-256 from OpenSSL's libcrypto.
 *
 * Basic: the "PLAINTEXT" (up to one block) zero-padded to 16 bytes, one AES-256-ECB
 * block. Middle: the "PLAINTEXT" in AES-256-CTR, so the output is exactly as long as
 * the input. Both use the last accepted "AESKEY", or the built-in demo key until one
 * is given. Behaviour, parameters and error codes: README.md.
 *
 * Plain C, so that the library exports the nine functions and nothing else.
 */
#define KORVANE_PLUGIN_IMPLEMENTATION
#include "korvane_plugin.h"
#include "korvane_aes.h"
#include "demokey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <limits.h>
#include <stdlib.h>
#include <string.h>

/* Every buffer the host gives is valid only during the call: these are copies. Each
 * is initialised from the image, so a reloaded library starts from the defaults. */
static unsigned char key[KORVANE_AES_KEY_SIZE_BYTES] = KORVANE_AES_DEMO_KEY;
static unsigned char nonce[KORVANE_AES_BLOCK_SIZE_BYTES] = KORVANE_AES_DEFAULT_NONCE;
static unsigned char *plaintext;
static uint32_t plaintextSize;
static int32_t lastError;

static int32_t fail(int32_t code)
{
    lastError = code;
    return 0;
}

static int32_t succeed(void)
{
    lastError = KORVANE_AES_OK;
    return 1;
}

static void forgetPlaintext(void)
{
    if (plaintext) {
        OPENSSL_cleanse(plaintext, plaintextSize ? plaintextSize : 1);
        free(plaintext);
    }
    plaintext = NULL;
    plaintextSize = 0;
}

static void wipeAll(void)
{
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(nonce, sizeof nonce);
    forgetPlaintext();
}

/* Wipe the key and the copies when the library is unloaded. */
#if defined(_WIN32)
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    /* At process exit (reserved set) other libraries may be gone already. */
    if (reason == DLL_PROCESS_DETACH && reserved == NULL) {
        wipeAll();
#ifdef KORVANE_AES_STATIC_OPENSSL
        /* OpenSSL lives and goes with this DLL: no exit handler of its own (see cipher). */
        OPENSSL_cleanup();
#endif
    }
    return TRUE;
}
#else
__attribute__((destructor)) static void wipeOnUnload(void)
{
    wipeAll();
}
#endif

static int isName(const uint16_t *name, const char *ascii)
{
    while (*ascii && *name == (unsigned char)*ascii) {
        ++name;
        ++ascii;
    }
    return *name == 0 && *ascii == '\0';
}

/* Encrypts size bytes from in to out under the current key; one call of EVP per at
 * most INT_MAX bytes, since EVP counts in int. */
static int cipher(const EVP_CIPHER *type, const unsigned char *iv, const unsigned char *in,
    unsigned char *out, uint32_t size)
{
#ifdef KORVANE_AES_STATIC_OPENSSL
    /* The first OpenSSL call that sets it up: a process exit handler would point into this
     * DLL after it has been unloaded, so OpenSSL is cleaned up on unload instead. */
    if (!OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, NULL))
        return 0;
#endif
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    int ok = context && EVP_EncryptInit_ex(context, type, NULL, key, iv) == 1
        && EVP_CIPHER_CTX_set_padding(context, 0) == 1;
    uint32_t done = 0;
    while (ok && done < size) {
        uint32_t remaining = size - done;
        int chunk = remaining > INT_MAX ? INT_MAX : (int)remaining;
        int written = 0;
        ok = EVP_EncryptUpdate(context, out + done, &written, in + done, chunk) == 1 && written == chunk;
        done += (uint32_t)chunk;
    }
    int finalLength = 0;
    ok = ok && EVP_EncryptFinal_ex(context, out + done, &finalLength) == 1 && finalLength == 0;
    EVP_CIPHER_CTX_free(context);
    return ok;
}

static int32_t refuseParameter(const uint16_t *name)
{
    return fail(name ? KORVANE_AES_UNKNOWN_PARAMETER : KORVANE_AES_BAD_ARGUMENT);
}

int32_t KORVANE_PLUGIN_CALL getProofLevel(void)
{
    return KORVANE_PROOF_BASIC | KORVANE_PROOF_MIDDLE | KORVANE_PROOF_HIGH;
}

int32_t KORVANE_PLUGIN_CALL getErrorCode(void)
{
    return lastError;
}

/* This plug-in takes no number, flag or string parameters. */
int32_t KORVANE_PLUGIN_CALL addUintParam(const uint16_t *name, uint32_t value)
{
    (void)value;
    return refuseParameter(name);
}

int32_t KORVANE_PLUGIN_CALL addBoolParam(const uint16_t *name, int32_t value)
{
    (void)value;
    return refuseParameter(name);
}

int32_t KORVANE_PLUGIN_CALL addStringParam(const uint16_t *name, const uint16_t *value)
{
    (void)value;
    return refuseParameter(name);
}

int32_t KORVANE_PLUGIN_CALL addBufferParam(const uint16_t *name, Buffer_T value)
{
    if (!name || (!value.data && value.size > 0))
        return fail(KORVANE_AES_BAD_ARGUMENT);

    if (isName(name, "AESKEY")) {
        if (value.size != sizeof key)
            return fail(KORVANE_AES_KEY_SIZE);
        OPENSSL_cleanse(key, sizeof key);
        memcpy(key, value.data, sizeof key);
        return succeed();
    }
    if (isName(name, "NONCE")) {
        if (value.size != sizeof nonce)
            return fail(KORVANE_AES_NONCE_SIZE);
        memcpy(nonce, value.data, sizeof nonce);
        return succeed();
    }
    if (isName(name, "PLAINTEXT")) {
        /* One byte at least, so that an empty plaintext is told apart from none. */
        unsigned char *copy = malloc(value.size ? value.size : 1);
        if (!copy)
            return fail(KORVANE_AES_NO_MEMORY);
        if (value.size)
            memcpy(copy, value.data, value.size);
        forgetPlaintext();
        plaintext = copy;
        plaintextSize = value.size;
        return succeed();
    }
    return fail(KORVANE_AES_UNKNOWN_PARAMETER);
}

int32_t KORVANE_PLUGIN_CALL doBasicEncrypt(Buffer_T out)
{
    if (!plaintext)
        return fail(KORVANE_AES_NO_PLAINTEXT);
    if (plaintextSize > KORVANE_AES_BLOCK_SIZE_BYTES)
        return fail(KORVANE_AES_PLAINTEXT_TOO_LONG);
    if (out.size < KORVANE_AES_BLOCK_SIZE_BYTES)
        return fail(KORVANE_AES_OUTPUT_SIZE);
    if (!out.data)
        return fail(KORVANE_AES_BAD_ARGUMENT);

    unsigned char block[KORVANE_AES_BLOCK_SIZE_BYTES] = { 0 };
    if (plaintextSize)
        memcpy(block, plaintext, plaintextSize);
    int ok = cipher(EVP_aes_256_ecb(), NULL, block, out.data, sizeof block);
    OPENSSL_cleanse(block, sizeof block);
    return ok ? succeed() : fail(KORVANE_AES_CIPHER_FAILED);
}

int32_t KORVANE_PLUGIN_CALL doMiddleEncrypt(Buffer_T out)
{
    if (!plaintext)
        return fail(KORVANE_AES_NO_PLAINTEXT);
    if (out.size != plaintextSize)
        return fail(KORVANE_AES_OUTPUT_SIZE);
    if (!out.data && out.size > 0)
        return fail(KORVANE_AES_BAD_ARGUMENT);
    if (out.size == 0)
        return succeed();
    return cipher(EVP_aes_256_ctr(), nonce, plaintext, out.data, out.size) ? succeed()
                                                                           : fail(KORVANE_AES_CIPHER_FAILED);
}

/* No High Level transform: High writes the OEM key as it stands. */
int32_t KORVANE_PLUGIN_CALL doHighEncrypt(Buffer_T out)
{
    (void)out;
    return fail(KORVANE_AES_UNSUPPORTED);
}
