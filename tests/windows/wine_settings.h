#pragma once
// Wine's settings for the programs of one file name, as the tests and the
// bench give them: values under HKCU\Software\Wine\AppDefaults\<exe name>.
#include <string>

// Sets a string value under HKCU\Software\Wine\AppDefaults\<exeName>, or
// under its subkey (such as "DllOverrides") when subkey is not NULL.
bool SetWineAppDefault(const std::string& exeName, const char* subkey, const char* name, const char* value);
