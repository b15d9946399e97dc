/* The header compiles as plain C11 and the library links and runs from C:
 * a refused connection, the error record, local texts, CloseXML twice. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cwxmlclient.h"

static int failures = 0;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond);                             \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

/* A loopback port where nothing listens. */
static int unused_port(void) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, (struct sockaddr*)&addr, sizeof addr) != 0 ||
        getsockname(fd, (struct sockaddr*)&addr, &len) != 0)
        return 1;
    close(fd);
    return ntohs(addr.sin_port);
}

int main(void) {
    _Static_assert(offsetof(NameValueList, count) == 0, "count first");
    _Static_assert(offsetof(NameValueList, names) == sizeof(void*), "names second");
    _Static_assert(offsetof(NameValueList, values) == 2 * sizeof(void*), "values third");

    CHECK(GetErrorCode() == 0);
    CHECK(strcmp(GetErrorText(), "") == 0);
    CHECK(SetHostName("127.0.0.1") == 1);
    CHECK(SetXMLPort(unused_port()) == 1);

    char name[] = "File";
    char value[] = "/tmp/x.idc";
    char* names[] = {name};
    char* values[] = {value};
    NameValueList args = {1, names, values};
    CHECK(Open(&args) == 0);
    CHECK(GetErrorCode() == CWX_ERR_CONNECT);
    CHECK(strstr(GetErrorText(), "Cannot connect to 127.0.0.1:") == GetErrorText());
    CHECK(strstr(GetSentXML(), "<name>File</name>") != NULL);
    CHECK(strcmp(GetReceivedXML(), "") == 0);
    CHECK(GetMethods() == NULL);
    CHECK(GetMethodHelp("Open") == NULL);
    CHECK(GetBadgeImage(&args) == 0);
    CHECK(IsBusy() == 255);

    CloseXML();
    CloseXML();
    CHECK(GetErrorCode() == 0);
    CHECK(strcmp(GetSentXML(), "") == 0);
    if (failures == 0)
        puts("c_api_check: all passed");
    return failures == 0 ? 0 : 1;
}
