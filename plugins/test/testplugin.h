/*
 * What tests need to know about the recording test plug-in (testplugin.c).
 *
 * Every encrypt export fills its whole output area with
 *     out[i] = (i < plaintext size ? plaintext[i] : 0) ^ KORVANE_TEST_PLUGIN_MASK
 * where plaintext is the last "PLAINTEXT" given to addBufferParam (none given: empty).
 * "AESKEY" is recorded but does not change the output.
 *
 * Environment, read at every call:
 *   KORVANE_TEST_PROOF_LEVEL     getProofLevel's answer: a number (decimal, 0x-hex, or
 *                                0-octal) cut to 32 bits; unset or unparsable: 7
 *   KORVANE_TEST_FAIL_ENCRYPT    "basic", "middle" or "high": that encrypt export
 *                                fails (returns 0); "all": all three fail
 *   KORVANE_TEST_PLUGIN_JOURNAL  when set, every call appends one JSON line to that file
 */
#ifndef KORVANE_TESTPLUGIN_H
#define KORVANE_TESTPLUGIN_H

#define KORVANE_TEST_PLUGIN_MASK 0xA5
#define KORVANE_TEST_PLUGIN_DEFAULT_LEVEL 7

/* getErrorCode's answers. */
#define KORVANE_TEST_PLUGIN_OK 0
#define KORVANE_TEST_PLUGIN_FAILED_ON_REQUEST 1 /* KORVANE_TEST_FAIL_ENCRYPT asked for it */
#define KORVANE_TEST_PLUGIN_BAD_ARGUMENT 2 /* null name, or null data with a nonzero size */
#define KORVANE_TEST_PLUGIN_NO_MEMORY 3

#endif /* KORVANE_TESTPLUGIN_H */
