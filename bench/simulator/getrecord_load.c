/* GetRecord load over HTTP/1.1 keep-alive: CLIENTS threads, each with one
 * libcurl handle (one connection), call GetRecord(Id=N) for SECONDS and check
 * that each answer is the record asked for.
 *
 *     getrecord_load URL CLIENTS SECONDS
 *
 * Prints "calls=N errors=E seconds=S". A C client keeps the client's own cost
 * small, so that the server's is what the figures show. */
#define _POSIX_C_SOURCE 200809L

#include <curl/curl.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct buffer {
    char* data;
    size_t size, cap;
};

struct client {
    const char* url;
    int index;
    double seconds;
    long calls, errors;
    pthread_t thread;
};

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static size_t collect(char* data, size_t size, size_t count, void* userdata) {
    struct buffer* b = userdata;
    size_t n = size * count;
    if (b->size + n + 1 > b->cap) {
        size_t cap = (b->size + n + 1) * 2;
        char* grown = realloc(b->data, cap);
        if (!grown)
            return 0;
        b->data = grown;
        b->cap = cap;
    }
    memcpy(b->data + b->size, data, n);
    b->size += n;
    b->data[b->size] = '\0';
    return n;
}

static void* run(void* arg) {
    struct client* c = arg;
    CURL* curl = curl_easy_init();
    struct curl_slist* headers = curl_slist_append(NULL, "Content-Type: text/xml");
    headers = curl_slist_append(headers, "Expect:");
    struct buffer answer = {0};
    char body[512], expected[64];
    curl_easy_setopt(curl, CURLOPT_URL, c->url);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    double deadline = now() + c->seconds;
    for (long n = 0; now() < deadline; ++n) {
        int id = 1 + (int)((c->index * 37 + n) % 300);
        int length =
            snprintf(body, sizeof body,
                     "<?xml version=\"1.0\"?><methodCall><methodName>GetRecord</methodName>"
                     "<params><param><value><struct><member><name>Id</name><value>"
                     "<string>%d</string></value></member></struct></value></param>"
                     "</params></methodCall>",
                     id);
        snprintf(expected, sizeof expected, ">%d</", id);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, (long)length);
        answer.size = 0;
        long status = 0;
        CURLcode rc = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (rc != CURLE_OK || status != 200 || !answer.data || strstr(answer.data, "<fault>") ||
            !strstr(answer.data, expected)) {
            if (c->errors++ == 0) /* the first failure says what went wrong */
                fprintf(stderr, "client %d, Id %d: %s, HTTP %ld: %.300s\n", c->index, id,
                        curl_easy_strerror(rc), status, answer.data ? answer.data : "");
        } else {
            ++c->calls;
        }
    }
    free(answer.data);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s URL CLIENTS SECONDS\n", argv[0]);
        return 2;
    }
    int clients = atoi(argv[2]);
    double seconds = atof(argv[3]);
    if (clients < 1 || clients > 256 || seconds <= 0 || seconds > 600) {
        fprintf(stderr, "%s: CLIENTS from 1 to 256, SECONDS from 0 to 600\n", argv[0]);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    struct client* all = calloc((size_t)clients, sizeof *all);
    double t0 = now();
    for (int i = 0; i < clients; ++i) {
        all[i].url = argv[1];
        all[i].index = i;
        all[i].seconds = seconds;
        pthread_create(&all[i].thread, NULL, run, &all[i]);
    }
    long calls = 0, errors = 0;
    for (int i = 0; i < clients; ++i) {
        pthread_join(all[i].thread, NULL);
        calls += all[i].calls;
        errors += all[i].errors;
    }
    printf("calls=%ld errors=%ld seconds=%.3f\n", calls, errors, now() - t0);
    free(all);
    curl_global_cleanup();
    return errors ? 1 : 0;
}
