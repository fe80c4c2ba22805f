#pragma once

#include <QtGlobal>

// Size rules shared by the Run buttons' checks and the procedures, which check
// again at read time because a file may change between the click and the run.

// The device library takes a 16-bit length: one proof data write holds at most this.
constexpr qint64 MaxProofDataSize = 65535;

// The AES key file of a Basic action is exactly one 256-bit key.
inline bool isValidBasicKeySize(qint64 size)
{
    return size == 32;
}

// An OEM key is a 128-, 192- or 256-bit key.
inline bool isValidHighKeySize(qint64 size)
{
    return size == 16 || size == 24 || size == 32;
}

inline bool isValidProofDataSize(qint64 size)
{
    return size >= 0 && size <= MaxProofDataSize;
}
