// The one door to the Win32 API.
//
// The module build for Windows takes the real declarations from <windows.h>. Every other build (the native
// unit tests on Linux, and the Windows unit-test executables, which define WAYPOST_WIN32_STANDIN) gets the
// subset below instead: the same names, types and layouts, implemented by the scriptable stand-in under
// tests/support. Nothing else in the module includes a platform header or tests _WIN32.
#pragma once

#if defined(_WIN32) && !defined(WAYPOST_WIN32_STANDIN)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// Winsock 2 before windows.h, which would otherwise bring the old Winsock header.
#include <winsock2.h>

#include <windows.h>

#else

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// The callee-cleans convention of system callbacks; x86-64 has a single convention.
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define CALLBACK WINAPI

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
// 32-bit everywhere; on i386 the same spelling as <windows.h>, so that code compiles alike in both builds.
#if defined(__i386__)
typedef unsigned long DWORD;
typedef long LONG;
#else
typedef uint32_t DWORD;
typedef int32_t LONG;
#endif
typedef unsigned int UINT;
typedef char CHAR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define MAXDWORD 0xffffffffU
#define INFINITE 0xffffffffU
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define GENERIC_READ 0x80000000U
#define GENERIC_WRITE 0x40000000U
#define FILE_SHARE_READ 0x00000001
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_OVERLAPPED 0x40000000U
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

#define PURGE_TXABORT 0x0001
#define PURGE_RXABORT 0x0002
#define PURGE_TXCLEAR 0x0004
#define PURGE_RXCLEAR 0x0008
#define SETRTS 3
#define SETDTR 5

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_IO_INCOMPLETE 996
#define ERROR_IO_PENDING 997
#define WAIT_OBJECT_0 0

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
    DWORD flags;
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);

// kernel32: serial device and overlapped output
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL WINAPI GetCommState(HANDLE file, LPDCB dcb);
BOOL WINAPI SetCommState(HANDLE file, LPDCB dcb);
BOOL WINAPI GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL WINAPI SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL WINAPI BuildCommDCBA(LPCSTR mode, LPDCB dcb);
BOOL WINAPI PurgeComm(HANDLE file, DWORD flags);
BOOL WINAPI EscapeCommFunction(HANDLE file, DWORD function);
BOOL WINAPI ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);
BOOL WINAPI CloseHandle(HANDLE object);
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD message, DWORD language, LPSTR buffer,
                            DWORD size, va_list* arguments);

// kernel32: other
DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                                      DWORD size, LPCSTR path);
BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR text, LPCSTR path);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId);
DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
void WINAPI Sleep(DWORD milliseconds);
DWORD WINAPI GetTickCount(void);
DWORD WINAPI GetCurrentProcessId(void);

// user32
BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM parameter);
DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId);
int WINAPI GetClassNameA(HWND window, LPSTR buffer, int size);
int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC callback);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
int wsprintfA(LPSTR buffer, LPCSTR format, ...) __attribute__((format(printf, 2, 3)));

// ws2_32: Winsock 2, IPv4 only
typedef UINT_PTR SOCKET;
typedef unsigned short u_short;
typedef unsigned long u_long; // as <winsock2.h> and glibc both declare it

#define INVALID_SOCKET (~static_cast<SOCKET>(0))
#define SOCKET_ERROR (-1)
#define AF_INET 2
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define SO_BROADCAST 0x0020
#define SO_SNDBUF 0x1001
#define SOMAXCONN 0x7fffffff
#define FIONBIO (-2147195266L) // 0x8004667E, as <winsock2.h> has it
#define WSAEWOULDBLOCK 10035
#define WSAEMSGSIZE 10040
#define WSAEADDRINUSE 10048
#define WSAECONNRESET 10054
#define WSAECONNREFUSED 10061
#define MAKEWORD(low, high) static_cast<WORD>((low) | ((high) << 8))

struct in_addr {
    u_long s_addr;
};
struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
} WSADATA, *LPWSADATA;

int WINAPI WSAStartup(WORD version, LPWSADATA data);
int WINAPI WSACleanup(void);
int WINAPI WSAGetLastError(void);
SOCKET WINAPI socket(int family, int type, int protocol);
int WINAPI closesocket(SOCKET s);
int WINAPI ioctlsocket(SOCKET s, long command, u_long* argument);
int WINAPI setsockopt(SOCKET s, int level, int name, const char* value, int length);
int WINAPI bind(SOCKET s, const struct sockaddr* address, int length);
int WINAPI listen(SOCKET s, int backlog);
int WINAPI connect(SOCKET s, const struct sockaddr* address, int length);
SOCKET WINAPI accept(SOCKET s, struct sockaddr* address, int* length);
int WINAPI send(SOCKET s, const char* data, int length, int flags);
int WINAPI recv(SOCKET s, char* data, int length, int flags);
int WINAPI recvfrom(SOCKET s, char* data, int length, int flags, struct sockaddr* from, int* fromLength);

#endif
