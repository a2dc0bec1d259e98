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

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0
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

typedef struct WinshimCriticalSection {
    alignas(16) unsigned char mutex[64];  // holds a std::mutex
} CRITICAL_SECTION;

// Windows' SetWindowLongA takes and returns LONG, which holds a procedure address on
// 32-bit Windows only; the stand-in widens both to an address-sized integer.
LONG_PTR WINAPI SetWindowLongA(HWND window, int index, LONG_PTR value);
LONG_PTR WINAPI GetWindowLongA(HWND window, int index);
LRESULT WINAPI CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
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
LONG WINAPI InterlockedCompareExchange(LONG volatile* value, LONG exchange, LONG comparand);
void WINAPI InitializeCriticalSection(CRITICAL_SECTION* section);
void WINAPI EnterCriticalSection(CRITICAL_SECTION* section);
void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section);
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);
BOOL WINAPI FreeLibrary(HMODULE module);
// Ends the calling thread, which must have been started with _beginthreadex.
void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD exitCode);

#endif
