/* A complete plug-in built for Windows: a library Korvane's loader on Linux must refuse
 * as a foreign format, although every export is there. */
#define EXPORT __declspec(dllexport)

EXPORT int getProofLevel(void) { return 7; }
EXPORT int getErrorCode(void) { return 0; }
EXPORT int addUintParam(void) { return 1; }
EXPORT int addBoolParam(void) { return 1; }
EXPORT int addBufferParam(void) { return 1; }
EXPORT int addStringParam(void) { return 1; }
EXPORT int doBasicEncrypt(void) { return 1; }
EXPORT int doMiddleEncrypt(void) { return 1; }
EXPORT int doHighEncrypt(void) { return 1; }
