// Loading the driver library by file name, as the program does.
#pragma once

#include <string>

void* LoadLib(const std::string& path);
void* LibSymbol(void* lib, const char* name);
void FreeLib(void* lib);
void SetEnv(const char* name, const char* value);
// The path to load a file of the working directory by.
std::string Here(const char* file);
