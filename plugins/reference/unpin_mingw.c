/* OpenSSL, linked statically, pins the DLL it is part of on first use, so the plug-in
 * would never be unloaded and its keys never wiped when the tool lets it go. The linker
 * routes OpenSSL's one call here (--wrap), where the module's reference count is left as
 * it is instead. OpenSSL registers nothing that would outlive the DLL: its clean-up runs
 * from the DLL's own exit list when it is unloaded. */
#include <windows.h>

extern BOOL(WINAPI *__real___imp_GetModuleHandleExW)(DWORD, LPCWSTR, HMODULE *);

static BOOL WINAPI getModuleHandleUnpinned(DWORD flags, LPCWSTR name, HMODULE *module)
{
    if (flags & GET_MODULE_HANDLE_EX_FLAG_PIN)
        flags = (flags & ~GET_MODULE_HANDLE_EX_FLAG_PIN) | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    return __real___imp_GetModuleHandleExW(flags, name, module);
}

BOOL(WINAPI *__wrap___imp_GetModuleHandleExW)(DWORD, LPCWSTR, HMODULE *) = getModuleHandleUnpinned;
