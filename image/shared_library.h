// Opening a decoding library when a picture first needs it instead of
// linking it, so that runs which never read its format do not pay for
// loading it (and what it pulls in) at start-up. Functions are looked up by
// name, with the types of the library's own header.
#pragma once

#include <string>

namespace morvel {

// Opens the shared object `name` for the rest of the process; none, with
// the loader's words in `why`, when it cannot be opened.
void* openSharedLibrary(const char* name, std::string& why);

// The address of `symbol` in `library`; none, with a reason in `why`, when
// it is missing.
void* findSymbol(void* library, const char* symbol, std::string& why);

// Points `function` at `symbol` of `library`; false when it is missing.
template <typename Function>
bool resolveFunction(void* library, const char* symbol, Function& function, std::string& why)
{
    void* address = findSymbol(library, symbol, why);
    // POSIX guarantees that an address from dlsym converts to a function
    // pointer.
    function = reinterpret_cast<Function>(address);
    return address != nullptr;
}

}  // namespace morvel
