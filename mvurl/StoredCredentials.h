// User names and passwords a proxy or server may ask for, from the product's settings key.
// Passwords are stored scrambled and come back plain; nothing is cached here.
#pragma once

#include <windows.h>

// 1 with the user name and password filled in (each at most size bytes, terminated; a
// missing password is empty); 0 when there is no key or no user name.
int ReadProxyCredentials(char* user, char* password, DWORD size);
int ReadServerCredentials(char* user, char* password, DWORD size);
