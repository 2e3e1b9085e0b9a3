// Argument checks and device sequences of the console.
#ifndef QVK_CONSOLE_UTILS_H
#define QVK_CONSOLE_UTILS_H

#include "console/KMQuorKorvo7Q.h"

// The one loader object of the program.
extern KMQuorKorvo7Q* g_library;

// Every message of the console is one line on standard output.
void WriteLine(const char* text);

void PrintUsage();
void PrintBadParameters();
int IsSerialNumberValid(const char* serial);
int IsPasswordLengthValid(const char* password);
int IsKeyAttached(const char* serial);
int RequireAttachedKey(const char* serial);
int EnumerateKey(int index, char* name, char* serial);
int FormatKey(const char* serial, const char* password);
int ChangeKeyPassword(const char* serial, const char* oldPassword, const char* newPassword);
int CheckKey(const char* serial, const char* password);

#endif
