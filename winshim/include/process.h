// Native stand-in for the run-time library's thread start.
#ifndef VORLU_WINSHIM_PROCESS_H
#define VORLU_WINSHIM_PROCESS_H

#include <stdint.h>

uintptr_t _beginthreadex(void* security, unsigned stackSize, unsigned (*start)(void*), void* argument,
                         unsigned initFlags, unsigned* threadId);

#endif
