#include "image/shared_library.h"

#include <dlfcn.h>

namespace morvel {

void* openSharedLibrary(const char* name, std::string& why)
{
    // Never unloaded: decoders and their static state live as long as the
    // process, as a linked library's would.
    void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* error = ::dlerror();
        why = error != nullptr ? error : std::string(name) + " cannot be loaded";
    }
    return library;
}

void* findSymbol(void* library, const char* symbol, std::string& why)
{
    void* address = ::dlsym(library, symbol);
    if (address == nullptr)
        why = std::string("no ") + symbol + " in the library";
    return address;
}

}  // namespace morvel
