/* call_library.c - a program of someone else's, built against the installed
 * library alone: asks a running cardwright-sim for its methods, the current
 * record and its badge.
 *   call_library HOST PORT
 * or has the library start cardwright-sim itself on PORT with DESIGN, then
 * does the same and ends it:
 *   call_library --launch DESIGN PORT */
#define _POSIX_C_SOURCE 200809L /* nanosleep */

#include <cwxmlclient.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int failed(const char* what) {
    fprintf(stderr, "call_library: %s failed: error %d: %s\n", what, (int)GetErrorCode(),
            GetErrorText() ? GetErrorText() : "");
    CloseXML();
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3 && !(argc == 4 && strcmp(argv[1], "--launch") == 0)) {
        fprintf(stderr, "usage: call_library HOST PORT | call_library --launch DESIGN PORT\n");
        return 2;
    }
    const int launch = argc == 4;
    if (!SetHostName(launch ? "127.0.0.1" : argv[1]) || !SetXMLPort(atoi(argv[launch ? 3 : 2])))
        return failed("setting the address");
    if (launch && !LaunchCW(argv[2], CWX_SHOW_HIDDEN))
        return failed("LaunchCW");

    /* A program just started needs a moment before it answers. */
    const NameValueList* methods = NULL;
    for (int attempt = 0; attempt < 100 && methods == NULL; ++attempt) {
        methods = GetMethods();
        if (methods == NULL && launch) {
            const struct timespec pause = {0, 100000000};
            nanosleep(&pause, NULL);
        } else if (methods == NULL) {
            break;
        }
    }
    if (methods == NULL)
        return failed("GetMethods");
    int found = 0;
    for (int32_t i = 0; i < methods->count; ++i)
        found |= methods->values[i] != NULL && strcmp(methods->values[i], "GetRecord") == 0;
    if (!found) {
        fprintf(stderr, "call_library: GetRecord is not among %d methods\n", (int)methods->count);
        return 1;
    }
    const int32_t methodCount = methods->count;

    const NameValueList none = {0, NULL, NULL};
    const NameValueList* record = GetRecord(&none);
    if (record == NULL)
        return failed("GetRecord");
    if (record->count < 1 || strcmp(record->names[0], "Id") != 0) {
        fprintf(stderr, "call_library: GetRecord gave %d fields, not Id first\n",
                (int)record->count);
        return 1;
    }
    printf("%d methods; record %s with %d fields\n", (int)methodCount, record->values[0],
           (int)record->count);

    /* The bitmap functions come from the same library. */
    CWBitmap badge = GetBadgeImage(&none);
    if (badge == 0)
        return failed("GetBadgeImage");
    if (cw_bitmap_width(badge) <= 0 || cw_bitmap_height(badge) <= 0) {
        fprintf(stderr, "call_library: the badge is %d x %d\n", (int)cw_bitmap_width(badge),
                (int)cw_bitmap_height(badge));
        return 1;
    }
    printf("badge %d x %d\n", (int)cw_bitmap_width(badge), (int)cw_bitmap_height(badge));
    cw_bitmap_delete(badge);

    /* A refusal comes back as the server's fault, not as a success. */
    if (GetMethodHelp("NoSuchMethod") != NULL || GetErrorCode() == 0) {
        fprintf(stderr, "call_library: help for an unknown method did not fail\n");
        return 1;
    }
    if (launch && !Exit())
        return failed("Exit");
    CloseXML();
    return 0;
}
