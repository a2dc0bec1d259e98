// Native stand-in for the part of <windows.h> the plug-in uses. Only the tests link
// against it; the shipped library uses the real header and the real system DLLs.
#ifndef VORLU_WINSHIM_WINDOWS_H
#define VORLU_WINSHIM_WINDOWS_H

#include <stdint.h>

#define WINAPI
#define CALLBACK

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void* HANDLE;
typedef void* LPVOID;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef intptr_t LONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef const char* LPCSTR;
// UTF-16 units, as Windows' two-byte wchar_t.
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0
#define WM_DESTROY 0x0002
#define WM_ENDSESSION 0x0016
#define WM_COMMAND 0x0111
#define WM_USER 0x0400
#define GWL_WNDPROC (-4)
#define MB_OK 0x00000000u
#define IDOK 1
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define QS_SENDMESSAGE 0x0040u
#define PM_NOREMOVE 0x0000u
#define PM_QS_SENDMESSAGE (QS_SENDMESSAGE << 16)
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
} MSG;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define CP_ACP 0u
#define CP_UTF8 65001u
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_WRITE_THROUGH 0x8u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INVALID_NAME 123u
#define ERROR_DIR_NOT_ROOT 144u
#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u
#define SYNCHRONIZE 0x00100000u
#define STILL_ACTIVE 259u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u

typedef struct WinshimCriticalSection {
    alignas(16) unsigned char mutex[64];  // holds a std::mutex
} CRITICAL_SECTION;

// Windows' SetWindowLongA takes and returns LONG, which holds a procedure address on
// 32-bit Windows only; the stand-in widens both to an address-sized integer.
LONG_PTR WINAPI SetWindowLongA(HWND window, int index, LONG_PTR value);
LONG_PTR WINAPI SetWindowLongW(HWND window, int index, LONG_PTR value);
LONG_PTR WINAPI GetWindowLongA(HWND window, int index);
LONG_PTR WINAPI GetWindowLongW(HWND window, int index);
LRESULT WINAPI CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI CallWindowProcW(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI IsWindowUnicode(HWND window);
BOOL WINAPI IsWindow(HWND window);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
UINT WINAPI RegisterWindowMessageA(LPCSTR name);
DWORD WINAPI GetCurrentThreadId(void);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL WINAPI PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove);

BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI Sleep(DWORD milliseconds);
HANDLE WINAPI CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                                       DWORD wakeMask);
DWORD WINAPI GetTickCount(void);
LONG WINAPI InterlockedIncrement(LONG volatile* value);
LONG WINAPI InterlockedDecrement(LONG volatile* value);
LONG WINAPI InterlockedExchange(LONG volatile* value, LONG exchange);
LONG WINAPI InterlockedCompareExchange(LONG volatile* value, LONG exchange, LONG comparand);
void WINAPI InitializeCriticalSection(CRITICAL_SECTION* section);
void WINAPI EnterCriticalSection(CRITICAL_SECTION* section);
void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section);
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);
BOOL WINAPI FreeLibrary(HMODULE module);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size);
#define LOCALE_INVARIANT 0x007Fu
#define LCMAP_UPPERCASE 0x00000200u
int WINAPI LCMapStringW(DWORD locale, DWORD flags, LPCWSTR source, int length, LPWSTR out, int size);
void WINAPI OutputDebugStringW(LPCWSTR text);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int length, LPWSTR out, int size);

// Files on the native file system, their UTF-16 paths as UTF-8, backslashes read as
// slashes, a drive letter as the folder the test mapped it to (winshim.h); a file opened
// with no sharing cannot be opened again until it is closed, and an open file cannot be
// deleted.
HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition, DWORD attributes,
                          HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void* overlapped);
BOOL WINAPI WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written, void* overlapped);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
BOOL WINAPI DeleteFileW(LPCWSTR name);
DWORD WINAPI GetFileAttributesW(LPCWSTR name);
BOOL WINAPI GetVolumeInformationW(LPCWSTR root, LPWSTR name, DWORD nameSize, DWORD* serial, DWORD* maxComponent,
                                  DWORD* flags, LPWSTR fileSystem, DWORD fileSystemSize);
BOOL WINAPI GetVolumePathNameW(LPCWSTR name, LPWSTR out, DWORD size);
DWORD WINAPI GetLastError(void);

// Processes as the tests declare them (winshim.h); WaitForSingleObject on a process
// handle tells whether it has exited.
DWORD WINAPI GetCurrentProcessId(void);
HANDLE WINAPI GetCurrentProcess(void);
HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD id);
BOOL WINAPI GetProcessTimes(HANDLE process, FILETIME* created, FILETIME* exited, FILETIME* kernel, FILETIME* user);

// Ends the calling thread, which must have been started with _beginthreadex.
void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD exitCode);

#endif
