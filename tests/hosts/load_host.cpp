// A host that loads qz-shared-qzbios.dll by its full path (the first argument), as a plug-in host
// does, after SetDefaultDllDirectories when the second argument is "default-dirs"; constructs a
// QZBios, which reads the settings through the WMI client, and prints the full path of the client
// that came with the library, or why the library did not load.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[2], "default-dirs") == 0) {
        SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
    HMODULE library = argc > 1 ? LoadLibraryA(argv[1]) : nullptr;
    if (library == nullptr) {
        std::printf("not loaded: %lu\n", GetLastError());
        return 1;
    }
    using Member = void (*)(void*);
    const auto make = reinterpret_cast<Member>(
        reinterpret_cast<void*>(GetProcAddress(library, "_ZN2qz6shared6qzbios6QZBiosC1Ev")));
    const auto destroy = reinterpret_cast<Member>(
        reinterpret_cast<void*>(GetProcAddress(library, "_ZN2qz6shared6qzbios6QZBiosD1Ev")));
    if (make == nullptr || destroy == nullptr) {
        std::printf("no QZBios in the library\n");
        return 1;
    }
    void* bios[1] = {};  // a QZBios is one pointer
    make(bios);
    destroy(bios);
    char client[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("qz-shared-wmi-client.dll"), client, MAX_PATH);
    std::printf("%s\n", client);
    return 0;
}
