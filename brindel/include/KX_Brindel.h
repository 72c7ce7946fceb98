/*
 * KX_Brindel: string helpers shared by the KX libraries.
 * WINAPI, undecorated names; compiles as C and as C++.
 */
#ifndef KX_BRINDEL_H
#define KX_BRINDEL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* KX_BRINDEL_H */
