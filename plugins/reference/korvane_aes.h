/*
 * The reference encryption plug-in's own constants, for hosts and tests that want to
 * tell its failures apart. The meaning of each code: README.md beside this file.
 */
#ifndef KORVANE_AES_H
#define KORVANE_AES_H

/* getErrorCode's answers: the outcome of the last add or encrypt call. */
enum {
    KORVANE_AES_OK = 0,
    KORVANE_AES_UNKNOWN_PARAMETER = 1,
    KORVANE_AES_BAD_ARGUMENT = 2,
    KORVANE_AES_KEY_SIZE = 3,
    KORVANE_AES_NONCE_SIZE = 4,
    KORVANE_AES_NO_PLAINTEXT = 5,
    KORVANE_AES_PLAINTEXT_TOO_LONG = 6,
    KORVANE_AES_OUTPUT_SIZE = 7,
    KORVANE_AES_NO_MEMORY = 8,
    KORVANE_AES_CIPHER_FAILED = 9,
    KORVANE_AES_UNSUPPORTED = 10
};

#define KORVANE_AES_KEY_SIZE_BYTES 32
#define KORVANE_AES_BLOCK_SIZE_BYTES 16

/* The initial CTR counter block of doMiddleEncrypt until a "NONCE" is given:
 * "Korvane-CTR-" in ASCII, then a 32-bit big-endian block counter starting at 0. */
#define KORVANE_AES_DEFAULT_NONCE                                                                            \
    {                                                                                                        \
        0x4b, 0x6f, 0x72, 0x76, 0x61, 0x6e, 0x65, 0x2d, 0x43, 0x54, 0x52, 0x2d, 0x00, 0x00, 0x00, 0x00       \
    }

#endif /* KORVANE_AES_H */
