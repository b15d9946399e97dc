/* call_library.c - a program of someone else's, built against the installed
 * library alone: asks a running cardwright-sim for its methods and the
 * current record.   call_library HOST PORT */
#include <cwxmlclient.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failed(const char* what) {
    fprintf(stderr, "call_library: %s failed: error %d: %s\n", what, (int)GetErrorCode(),
            GetErrorText() ? GetErrorText() : "");
    CloseXML();
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: call_library HOST PORT\n");
        return 2;
    }
    if (!SetHostName(argv[1]) || !SetXMLPort(atoi(argv[2])))
        return failed("setting the address");

    const NameValueList* methods = GetMethods();
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

    /* A refusal comes back as the server's fault, not as a success. */
    if (GetMethodHelp("NoSuchMethod") != NULL || GetErrorCode() == 0) {
        fprintf(stderr, "call_library: help for an unknown method did not fail\n");
        return 1;
    }
    CloseXML();
    return 0;
}
