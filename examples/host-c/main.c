/* Reads the settings through the C interface and says where they came from. */
#include <stdio.h>
#include <string.h>

#include <qzbios/qzbios_c.h>

int main(void) {
    qzbios_snapshot* snapshot = NULL;
    qzbios_reading reading;
    int status = qzbios_read(&snapshot);
    if (status != QZBIOS_OK) {
        fprintf(stderr, "qzbios_read: %s\n", qzbios_status_text(status));
        return 1;
    }
    if (strcmp(qzbios_version(), QZBIOS_VERSION) != 0) {
        fprintf(stderr, "built against qzbios %s, running with %s\n", QZBIOS_VERSION,
                qzbios_version());
    }
    qzbios_reading_of(snapshot, &reading);
    printf("source=%d published=%u query=%s\n", reading.source, (unsigned)reading.published,
           reading.query_text);
    printf("UEFIBO=%s\nVMS=%d\n", qzbios_record(snapshot)->UEFIBO, qzbios_record(snapshot)->VMS);
    qzbios_free(snapshot);
    return 0;
}
