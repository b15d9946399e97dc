/* The header compiles as plain C11 and the library links and runs from C
 * with -lcwxmlclient alone: a refused connection, the error record, local
 * texts, CloseXML twice, and bitmap handles, live, stale and made up. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
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

/* Every accessor refuses the value; deleting it changes nothing. */
static void check_refused(CWBitmap handle, const char* label) {
    const long live = cw_bitmap_live_count();
    if (cw_bitmap_width(handle) != 0 || cw_bitmap_height(handle) != 0 ||
        cw_bitmap_stride(handle) != 0 || cw_bitmap_pixels(handle) != NULL) {
        fprintf(stderr, "handle %s (0x%jx) was taken for a live bitmap\n", label,
                (uintmax_t)handle);
        ++failures;
    }
    cw_bitmap_delete(handle);
    CHECK(cw_bitmap_live_count() == live);
}

static void* churn(void* unused) {
    (void)unused;
    for (int i = 0; i < 2000; ++i) {
        CWBitmap b = cw_bitmap_create(2, 2);
        if (b == 0 || cw_bitmap_width(b) != 2)
            return (void*)1;
        cw_bitmap_pixels(b)[3] = 1;
        cw_bitmap_delete(b);
        cw_bitmap_delete(b);
    }
    return NULL;
}

static void check_bitmaps(void) {
    const long base = cw_bitmap_live_count();
    CWBitmap a = cw_bitmap_create(3, 2);
    CHECK(a != 0);
    CHECK(cw_bitmap_live_count() == base + 1);
    CHECK(cw_bitmap_width(a) == 3 && cw_bitmap_height(a) == 2 && cw_bitmap_stride(a) == 12);
    uint32_t* px = cw_bitmap_pixels(a);
    CHECK(px != NULL && px[5] == 0);
    px[5] = 0xff00ff00u;
    CWBitmap b = cw_bitmap_create(1, 1);
    CHECK(b != 0 && b != a);

    int local = 0;
    const CWBitmap made_up[] = {
        0,
        1,
        42,
        (CWBitmap)&local,
        (CWBitmap)px,
        ~(CWBitmap)0,
        a + 1,
        a - 1,
        a ^ b,
        a ^ ((CWBitmap)1 << 24),
        a ^ ((CWBitmap)1 << 48),
        a & 0xffffffffu,
    };
    for (size_t i = 0; i < sizeof made_up / sizeof made_up[0]; ++i) {
        char label[32];
        snprintf(label, sizeof label, "made-up #%zu", i);
        if (made_up[i] != b)
            check_refused(made_up[i], label);
    }
    CHECK(cw_bitmap_pixels(a)[5] == 0xff00ff00u);

    cw_bitmap_delete(a);
    CHECK(cw_bitmap_live_count() == base + 1);
    check_refused(a, "deleted");
    /* The freed slot serves a new bitmap; the old handle still names nothing. */
    CWBitmap c = cw_bitmap_create(4, 4);
    CHECK(c != 0 && c != a);
    check_refused(a, "stale after reuse");
    CHECK(cw_bitmap_width(c) == 4);
    cw_bitmap_delete(c);
    cw_bitmap_delete(b);

    pthread_t threads[4];
    for (int i = 0; i < 4; ++i)
        CHECK(pthread_create(&threads[i], NULL, churn, NULL) == 0);
    for (int i = 0; i < 4; ++i) {
        void* result = NULL;
        pthread_join(threads[i], &result);
        CHECK(result == NULL);
    }
    CHECK(cw_bitmap_live_count() == base);
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

    check_bitmaps();

    CloseXML();
    CloseXML();
    CHECK(GetErrorCode() == 0);
    CHECK(strcmp(GetSentXML(), "") == 0);
    if (failures == 0)
        puts("c_api_check: all passed");
    return failures == 0 ? 0 : 1;
}
