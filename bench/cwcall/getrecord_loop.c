/* getrecord_loop.c - the plain C baseline for replay_bench.py: N GetRecord
 * calls (Id = 1, 2, ... cycling through ROSTER records) through the client
 * library, each checked for its Id, timed from the first call to the last.
 *
 *     cwcall_getrecord_loop PORT N ROSTER
 *
 * Prints "CALLS SECONDS"; exits 1 at the first failed or wrong answer. */
#define _POSIX_C_SOURCE 200809L /* clock_gettime in strict C17 */

#include "cwxmlclient.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fputs("usage: cwcall_getrecord_loop PORT N ROSTER\n", stderr);
        return 2;
    }
    const int port = atoi(argv[1]);
    const long calls = atol(argv[2]);
    const long roster = atol(argv[3]);
    if (port <= 0 || calls <= 0 || roster <= 0) {
        fputs("cwcall_getrecord_loop: PORT, N and ROSTER must be positive\n", stderr);
        return 2;
    }
    if (!SetHostName("127.0.0.1") || !SetXMLPort(port)) {
        fprintf(stderr, "cwcall_getrecord_loop: %s\n", GetErrorText());
        return 1;
    }
    char id[32];
    char idName[] = "Id";
    char* names[] = {idName};
    char* values[] = {id};
    const NameValueList args = {1, names, values};
    const double start = now();
    for (long i = 0; i < calls; ++i) {
        snprintf(id, sizeof id, "%ld", i % roster + 1);
        const NameValueList* record = GetRecord(&args);
        if (record == NULL || record->count < 1 || strcmp(record->names[0], "Id") != 0 ||
            strcmp(record->values[0], id) != 0) {
            fprintf(stderr, "cwcall_getrecord_loop: call %ld (Id=%s): %s\n", i, id,
                    record == NULL ? GetErrorText() : "another record");
            return 1;
        }
    }
    const double seconds = now() - start;
    CloseXML();
    printf("%ld %.6f\n", calls, seconds);
    return 0;
}
