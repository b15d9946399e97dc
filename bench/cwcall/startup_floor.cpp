// startup_floor.cpp - the least a one-call program on Qt Core and libcurl
// costs from start to exit: one GetCount posted to 127.0.0.1:PORT, nothing
// decoded. startup_bench.py runs it beside curl and cwcall, so that what
// cwcall adds to loading its libraries can be told apart.
#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <cstdio>

namespace {

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: startup_floor PORT\n", stderr);
        return 2;
    }
    const QByteArray url =
        QStringLiteral("http://127.0.0.1:%1/RPC2").arg(QString::fromLatin1(argv[1])).toUtf8();
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return 1;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS,
                     "<?xml version=\"1.0\"?>\n<methodCall><methodName>GetCount</methodName>"
                     "<params></params></methodCall>\n");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return result == CURLE_OK ? 0 : 1;
}
