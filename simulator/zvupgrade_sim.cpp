#include "ZVUpgrade_DLL.h"

int32_t ZV_InitializeW(ZV_Settings, ZV_LogSettings, ZV_Extra) { return 0; }
int32_t ZV_Uninitialize(void) { return 0; }
int32_t ZV_ScanDeviceW(ZV_DeviceRecord **) { return 0; }
int32_t ZV_ReadOtpData(uint8_t *, uint16_t, int32_t, int32_t) { return 0; }
int32_t ZV_WriteVendorRpmbData(int32_t, int32_t, const uint8_t *, uint16_t, int32_t) { return 0; }
int32_t ZV_WriteProofData(const uint8_t *, uint16_t, int32_t) { return 0; }
int32_t ZV_WriteProofKey(const uint8_t *, uint16_t, uint8_t, int32_t) { return 0; }
