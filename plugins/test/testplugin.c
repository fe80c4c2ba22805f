/*
 * The recording test plug-in. One source builds ten plug-ins: the complete one, and
 * one per export with that export left out (-DKORVANE_TEST_OMIT_<export>), so the
 * loader meets real libraries that lack exactly one function. Plain C on purpose: it
 * also proves that korvane_plugin.h serves a plug-in author who has no C++.
 *
 * Behaviour and environment: testplugin.h. Journal lines, one JSON object per call:
 *   {"call":"getProofLevel","result":7}
 *   {"call":"addBufferParam","name":"PLAINTEXT","size":3,"data":"0a0b0c","result":1}
 *   {"call":"addUintParam","name":"N","value":5,"result":1}
 *   {"call":"addStringParam","name":"S","value":"text","result":1}
 *   {"call":"doBasicEncrypt","size":16,"data":"<output area after the call>","result":1}
 * A null name or string is written as null.
 *
 * Four more builds each break one promise that Korvane relies on, for the plug-in
 * checker to catch (-DKORVANE_TEST_FAULT_<fault>):
 *   OVERRUN  every encrypt writes one byte past the end of its output area
 *   SHORT    every encrypt leaves the last byte of its output area unwritten
 *   BORROW   "PLAINTEXT" keeps the host's pointer instead of a copy
 *   DRIFT    every encrypt call changes the transform, so no result repeats
 */
#define KORVANE_PLUGIN_IMPLEMENTATION
#include "korvane_plugin.h"
#include "testplugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Copies: the host's buffers are valid only during the call. */
static uint8_t *plaintext;
static uint32_t plaintextSize;
static int32_t lastError;

#if !defined(KORVANE_TEST_FAULT_BORROW) && defined(__GNUC__)
/* The copy goes with the library when it is unloaded, as a real plug-in's would. */
__attribute__((destructor)) static void releaseOnUnload(void)
{
    free(plaintext);
    plaintext = NULL;
    plaintextSize = 0;
}
#endif

static FILE *beginEntry(const char *call)
{
    const char *path = getenv("KORVANE_TEST_PLUGIN_JOURNAL");
    if (!path || !*path)
        return NULL;
    FILE *journal = fopen(path, "ab");
    if (journal)
        fprintf(journal, "{\"call\":\"%s\"", call);
    return journal;
}

static void endEntry(FILE *journal, long long result)
{
    if (!journal)
        return;
    fprintf(journal, ",\"result\":%lld}\n", result);
    fclose(journal);
}

static void writeText(FILE *journal, const char *key, const uint16_t *text)
{
    if (!journal)
        return;
    if (!text) {
        fprintf(journal, ",\"%s\":null", key);
        return;
    }
    fprintf(journal, ",\"%s\":\"", key);
    for (; *text; ++text) {
        if (*text >= 0x20 && *text < 0x7f && *text != '"' && *text != '\\')
            fputc(*text, journal);
        else
            fprintf(journal, "\\u%04x", (unsigned)*text);
    }
    fputc('"', journal);
}

static void writeBytes(FILE *journal, const uint8_t *data, uint32_t size)
{
    if (!journal)
        return;
    fprintf(journal, ",\"size\":%lu,\"data\":\"", (unsigned long)size);
    for (uint32_t i = 0; data && i < size; ++i)
        fprintf(journal, "%02x", (unsigned)data[i]);
    fputc('"', journal);
}

static int failRequested(const char *level)
{
    const char *fail = getenv("KORVANE_TEST_FAIL_ENCRYPT");
    return fail && (strcmp(fail, "all") == 0 || strcmp(fail, level) == 0);
}

static int32_t encrypt(const char *call, const char *level, Buffer_T out)
{
    FILE *journal = beginEntry(call);
    int32_t result = 0;
    if (failRequested(level)) {
        lastError = KORVANE_TEST_PLUGIN_FAILED_ON_REQUEST;
    } else if (!out.data && out.size > 0) {
        lastError = KORVANE_TEST_PLUGIN_BAD_ARGUMENT;
    } else {
        uint8_t mask = KORVANE_TEST_PLUGIN_MASK;
        uint32_t filled = out.size;
#ifdef KORVANE_TEST_FAULT_DRIFT
        static uint8_t calls;
        mask = (uint8_t)(mask ^ ++calls);
#endif
#ifdef KORVANE_TEST_FAULT_SHORT
        filled = filled ? filled - 1 : 0;
#endif
        for (uint32_t i = 0; i < filled; ++i)
            out.data[i] = (uint8_t)((i < plaintextSize ? plaintext[i] : 0) ^ mask);
#ifdef KORVANE_TEST_FAULT_OVERRUN
        out.data[out.size] = mask;
#endif
        lastError = KORVANE_TEST_PLUGIN_OK;
        result = 1;
    }
    writeBytes(journal, out.data, out.size);
    endEntry(journal, result);
    return result;
}

/* The add functions other than addBufferParam only record and accept. */
static int32_t acceptNamed(const uint16_t *name)
{
    lastError = name ? KORVANE_TEST_PLUGIN_OK : KORVANE_TEST_PLUGIN_BAD_ARGUMENT;
    return name ? 1 : 0;
}

static int32_t addNumber(const char *call, const uint16_t *name, long long value)
{
    FILE *journal = beginEntry(call);
    writeText(journal, "name", name);
    if (journal)
        fprintf(journal, ",\"value\":%lld", value);
    int32_t result = acceptNamed(name);
    endEntry(journal, result);
    return result;
}

#ifndef KORVANE_TEST_OMIT_getProofLevel
int32_t KORVANE_PLUGIN_CALL getProofLevel(void)
{
    const char *text = getenv("KORVANE_TEST_PROOF_LEVEL");
    char *end = NULL;
    unsigned long long parsed = text ? strtoull(text, &end, 0) : 0;
    int32_t level = (text && *text && end && *end == '\0') ? (int32_t)(uint32_t)parsed
                                                           : KORVANE_TEST_PLUGIN_DEFAULT_LEVEL;
    endEntry(beginEntry("getProofLevel"), level);
    return level;
}
#endif

#ifndef KORVANE_TEST_OMIT_getErrorCode
int32_t KORVANE_PLUGIN_CALL getErrorCode(void)
{
    endEntry(beginEntry("getErrorCode"), lastError);
    return lastError;
}
#endif

#ifndef KORVANE_TEST_OMIT_addUintParam
int32_t KORVANE_PLUGIN_CALL addUintParam(const uint16_t *name, uint32_t value)
{
    return addNumber("addUintParam", name, value);
}
#endif

#ifndef KORVANE_TEST_OMIT_addBoolParam
int32_t KORVANE_PLUGIN_CALL addBoolParam(const uint16_t *name, int32_t value)
{
    return addNumber("addBoolParam", name, value);
}
#endif

#ifndef KORVANE_TEST_OMIT_addBufferParam
int32_t KORVANE_PLUGIN_CALL addBufferParam(const uint16_t *name, Buffer_T value)
{
    FILE *journal = beginEntry("addBufferParam");
    writeText(journal, "name", name);
    writeBytes(journal, value.data, value.size);
    int32_t result = 0;
    if (!name || (!value.data && value.size > 0)) {
        lastError = KORVANE_TEST_PLUGIN_BAD_ARGUMENT;
    } else {
        const uint16_t *expected = KORVANE_PARAM_PLAINTEXT;
        const uint16_t *given = name;
        while (*expected && *given == *expected) {
            ++given;
            ++expected;
        }
        result = 1;
        lastError = KORVANE_TEST_PLUGIN_OK;
        if (*given == *expected) {
#ifdef KORVANE_TEST_FAULT_BORROW
            plaintext = value.data;
            plaintextSize = value.size;
#else
            uint8_t *copy = malloc(value.size ? value.size : 1);
            if (copy) {
                if (value.size)
                    memcpy(copy, value.data, value.size);
                free(plaintext);
                plaintext = copy;
                plaintextSize = value.size;
            } else {
                result = 0;
                lastError = KORVANE_TEST_PLUGIN_NO_MEMORY;
            }
#endif
        }
    }
    endEntry(journal, result);
    return result;
}
#endif

#ifndef KORVANE_TEST_OMIT_addStringParam
int32_t KORVANE_PLUGIN_CALL addStringParam(const uint16_t *name, const uint16_t *value)
{
    FILE *journal = beginEntry("addStringParam");
    writeText(journal, "name", name);
    writeText(journal, "value", value);
    int32_t result = acceptNamed(name);
    endEntry(journal, result);
    return result;
}
#endif

#ifndef KORVANE_TEST_OMIT_doBasicEncrypt
int32_t KORVANE_PLUGIN_CALL doBasicEncrypt(Buffer_T out)
{
    return encrypt("doBasicEncrypt", "basic", out);
}
#endif

#ifndef KORVANE_TEST_OMIT_doMiddleEncrypt
int32_t KORVANE_PLUGIN_CALL doMiddleEncrypt(Buffer_T out)
{
    return encrypt("doMiddleEncrypt", "middle", out);
}
#endif

#ifndef KORVANE_TEST_OMIT_doHighEncrypt
int32_t KORVANE_PLUGIN_CALL doHighEncrypt(Buffer_T out)
{
    return encrypt("doHighEncrypt", "high", out);
}
#endif
