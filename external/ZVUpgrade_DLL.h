/*
 * Declarations of the device access library ZVUpgrade_DLL, as Korvane calls it.
 *
 * The library is closed and linked at build time; the simulated bench library in
 * simulator/ implements the same seven calls. Plain C, fixed-width types, so that
 * the tool, the simulator and any replacement agree on every byte.
 *
 * Every call is synchronous and returns a 32-bit signed integer: nonzero for
 * success and 0 for failure, except ZV_ScanDeviceW, which returns the number of
 * attached boards (negative on a failed scan). Buffers passed to the read and the
 * writes are not kept beyond the call.
 *
 * Choices of this header where the library leaves them open:
 *  - calling convention: the platform's C convention (ZV_CALL);
 *  - the reserved arguments of the read and the writes are 32-bit signed integers,
 *    the key index of ZV_WriteProofKey is an 8-bit unsigned integer;
 *  - the device record carries, besides the boot state at byte 532, a board id,
 *    USB vendor and product ids and a NUL-terminated UTF-16 location text.
 */
#ifndef ZVUPGRADE_DLL_H
#define ZVUPGRADE_DLL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  define ZV_CALL __cdecl
#  if defined(ZV_BUILDING_LIBRARY)
#    define ZV_API __declspec(dllexport)
#  else
#    define ZV_API __declspec(dllimport)
#  endif
#else
#  define ZV_CALL
#  define ZV_API __attribute__((visibility("default")))
#endif

/* Boot states found at byte 532 of a device record. */
enum {
    ZV_BOOT_STATE_MASKROM = 1,
    ZV_BOOT_STATE_LOADER = 2
};

/* Settings record: nine 32-bit fields, 36 bytes. Korvane passes 10 and 30 in the
 * seventh and eighth fields and zero elsewhere. */
typedef struct ZV_Settings {
    int32_t reserved1[6];
    int32_t transferRetries;        /* byte 24; Korvane passes 10 */
    int32_t transferTimeoutSeconds; /* byte 28; Korvane passes 30 */
    int32_t reserved2;
} ZV_Settings;

/* Log record, packed: a 32-bit flag, then a pointer to the NUL-terminated UTF-16
 * path of the directory the library may log into (null when the flag is 0).
 * 12 bytes on a 64-bit build. */
#pragma pack(push, 1)
typedef struct ZV_LogSettings {
    int32_t enabled;
    const uint16_t *directory;
} ZV_LogSettings;
#pragma pack(pop)

/* Extra record: 16 bytes, all zero. */
typedef struct ZV_Extra {
    uint8_t reserved[16];
} ZV_Extra;

#define ZV_LOCATION_CHARS 260

/* One attached board as the scan reports it. Korvane reads bootState only. */
typedef struct ZV_DeviceRecord {
    uint32_t boardId;
    uint16_t vendorId;
    uint16_t productId;
    uint16_t location[ZV_LOCATION_CHARS]; /* NUL-terminated UTF-16 */
    uint32_t reserved;
    int32_t bootState; /* byte 532: ZV_BOOT_STATE_MASKROM, ZV_BOOT_STATE_LOADER, other = invalid */
} ZV_DeviceRecord;

/* Target areas of ZV_WriteVendorRpmbData as Korvane uses it. */
enum {
    ZV_RPMB_VENDOR_CPUID = 21
};

/* Length of the OTP buffer Korvane reads: a count byte and up to 16 CPU id bytes. */
enum { ZV_OTP_LENGTH = 17 };

ZV_API int32_t ZV_CALL ZV_InitializeW(ZV_Settings settings, ZV_LogSettings log, ZV_Extra extra);
ZV_API int32_t ZV_CALL ZV_Uninitialize(void);
/* Points *devices at a library-owned array of records, valid until the next call. */
ZV_API int32_t ZV_CALL ZV_ScanDeviceW(ZV_DeviceRecord **devices);
ZV_API int32_t ZV_CALL ZV_ReadOtpData(uint8_t *buffer, uint16_t length, int32_t reserved1, int32_t reserved2);
ZV_API int32_t ZV_CALL ZV_WriteVendorRpmbData(int32_t area, int32_t offset, const uint8_t *data,
                                              uint16_t length, int32_t reserved);
ZV_API int32_t ZV_CALL ZV_WriteProofData(const uint8_t *data, uint16_t length, int32_t reserved);
ZV_API int32_t ZV_CALL ZV_WriteProofKey(const uint8_t *data, uint16_t length, uint8_t keyIndex,
                                        int32_t reserved);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(ZV_Settings) == 36, "settings record is nine 32-bit fields");
static_assert(offsetof(ZV_Settings, transferRetries) == 24, "seventh settings field at byte 24");
static_assert(offsetof(ZV_Settings, transferTimeoutSeconds) == 28, "eighth settings field at byte 28");
static_assert(offsetof(ZV_LogSettings, directory) == 4, "log directory pointer at byte 4");
static_assert(sizeof(ZV_LogSettings) == 4 + sizeof(void *), "log record is packed");
static_assert(sizeof(void *) != 8 || sizeof(ZV_LogSettings) == 12, "log record is 12 bytes on 64-bit");
static_assert(sizeof(ZV_Extra) == 16, "extra record is 16 bytes");
static_assert(offsetof(ZV_DeviceRecord, bootState) == 532, "boot state at byte 532");
#else
_Static_assert(sizeof(ZV_Settings) == 36, "settings record is nine 32-bit fields");
_Static_assert(offsetof(ZV_DeviceRecord, bootState) == 532, "boot state at byte 532");
#endif

#endif /* ZVUPGRADE_DLL_H */
