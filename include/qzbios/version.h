/* The version of qzbios's headers, for a host to check at compile time; qzbios_version() gives
 * the library's own at run time. The build takes its version from here. */
#ifndef QZBIOS_VERSION_H
#define QZBIOS_VERSION_H

#define QZBIOS_VERSION_MAJOR 1
#define QZBIOS_VERSION_MINOR 2
#define QZBIOS_VERSION_PATCH 0

#define QZBIOS_VERSION_TEXT_(x) #x
#define QZBIOS_VERSION_TEXT(x) QZBIOS_VERSION_TEXT_(x)
/* "1.2.0": compare it with qzbios_version() to learn whether the library a host runs with is the
 * one it was built against. */
#define QZBIOS_VERSION                        \
    QZBIOS_VERSION_TEXT(QZBIOS_VERSION_MAJOR) \
    "." QZBIOS_VERSION_TEXT(QZBIOS_VERSION_MINOR) "." QZBIOS_VERSION_TEXT(QZBIOS_VERSION_PATCH)

#endif /* QZBIOS_VERSION_H */
