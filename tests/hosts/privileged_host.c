/* A host of the C interface that a test makes setuid: it loads the library by the full path it is
 * given (the loader ignores LD_LIBRARY_PATH for it), reads the settings once and prints where they
 * came from, the query's status and how many of the 31 were published. */
#include <dlfcn.h>
#include <stdio.h>

#include "qzbios/qzbios_c.h"

int main(int argc, char** argv) {
    void* library = argc > 1 ? dlopen(argv[1], RTLD_NOW) : NULL;
    if (library == NULL) {
        printf("not loaded: %s\n", dlerror());
        return 1;
    }
    int (*read)(qzbios_snapshot**) = (int (*)(qzbios_snapshot**))dlsym(library, "qzbios_read");
    int (*reading_of)(const qzbios_snapshot*, qzbios_reading*) =
        (int (*)(const qzbios_snapshot*, qzbios_reading*))dlsym(library, "qzbios_reading_of");
    qzbios_snapshot* snapshot = NULL;
    qzbios_reading reading = {0};
    if (read == NULL || reading_of == NULL || read(&snapshot) != QZBIOS_OK ||
        reading_of(snapshot, &reading) != QZBIOS_OK) {
        printf("not read\n");
        return 1;
    }
    printf("source=%d status=0x%08x published=%u\n", reading.source, (unsigned)reading.query_status,
           reading.published);
    return 0;
}
