// The least a GetRecord can cost on cardwright-sim's stack: libmicrohttpd in
// the same mode, xmlrpc-c's registry parsing the call, dispatching it and
// writing the answer, on the same allocator, answering each record of a
// roster from structs built at start. No access key, gate, engine or log.
//
//     registry_floor ROSTER.db
//
// Prints "listening on http://127.0.0.1:PORT/RPC2" and serves until killed.
#include <microhttpd.h>
#include <sqlite3.h>
#include <xmlrpc-c/base.h>
#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/registry.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, xmlrpc_c::value> records;

// Members in the roster's column order, as cardwright-sim answers them.
void loadRoster(const char* path) {
    sqlite3* db = nullptr;
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "SELECT * FROM records", -1, &rows, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "registry_floor: cannot read %s: %s\n", path, sqlite3_errmsg(db));
        std::exit(1);
    }
    xmlrpc_env env;
    xmlrpc_env_init(&env);
    while (sqlite3_step(rows) == SQLITE_ROW) {
        xmlrpc_value* s = xmlrpc_struct_new(&env);
        for (int i = 0; i < sqlite3_column_count(rows); ++i) {
            xmlrpc_value* v = nullptr;
            if (sqlite3_column_type(rows, i) == SQLITE_INTEGER) {
                v = xmlrpc_int_new(&env, sqlite3_column_int(rows, i));
            } else if (sqlite3_column_type(rows, i) == SQLITE_BLOB &&
                       sqlite3_column_bytes(rows, i) > 0) {
                std::string text =
                    "PNG, " + std::to_string(sqlite3_column_bytes(rows, i)) + " bytes";
                v = xmlrpc_string_new(&env, text.c_str());
            } else {
                const auto* text = sqlite3_column_text(rows, i);
                v = xmlrpc_string_new(&env, text ? reinterpret_cast<const char*>(text) : "");
            }
            xmlrpc_struct_set_value(&env, s, sqlite3_column_name(rows, i), v);
            xmlrpc_DECREF(v);
        }
        records.emplace(std::to_string(sqlite3_column_int(rows, 0)), xmlrpc_c::value(s));
        xmlrpc_DECREF(s);
    }
    sqlite3_finalize(rows);
    sqlite3_close(db);
}

class GetRecord : public xmlrpc_c::method {
  public:
    void execute(const xmlrpc_c::paramList& params, xmlrpc_c::value* result) override {
        auto criteria = params.getStruct(0);
        auto id = criteria.find("Id");
        auto found =
            id == criteria.end() ? records.end() : records.find(xmlrpc_c::value_string(id->second));
        if (found == records.end())
            throw xmlrpc_c::fault("Record not found", static_cast<xmlrpc_c::fault::code_t>(6));
        *result = found->second;
    }
};

xmlrpc_c::registry registry;

void freeString(void* text) {
    delete static_cast<std::string*>(text);
}

MHD_Result onRequest(void*, MHD_Connection* c, const char*, const char*, const char*,
                     const char* data, size_t* size, void** context) {
    auto* body = static_cast<std::string*>(*context);
    if (!body) {
        *context = new std::string;
        return MHD_YES;
    }
    if (*size > 0) {
        body->append(data, *size);
        *size = 0;
        return MHD_YES;
    }
    auto* answer = new std::string;
    registry.processCall(*body, answer);
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        answer->size(), answer->data(), &freeString, answer);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/xml; charset=utf-8");
    MHD_Result queued = MHD_queue_response(c, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

void onCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    delete static_cast<std::string*>(*context);
    *context = nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: registry_floor ROSTER.db\n");
        return 2;
    }
    loadRoster(argv[1]);
    registry.addMethod("GetRecord", xmlrpc_c::methodPtr(new GetRecord));
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    MHD_Daemon* daemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_USE_SUPPRESS_DATE_NO_CLOCK, 0, nullptr,
        nullptr, &onRequest, nullptr, MHD_OPTION_SOCK_ADDR, &loopback, MHD_OPTION_NOTIFY_COMPLETED,
        &onCompleted, nullptr, MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(16u << 10),
        MHD_OPTION_END);
    if (!daemon)
        return 1;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    std::printf("listening on http://127.0.0.1:%u/RPC2\n", info->port);
    std::fflush(stdout);
    pause();
}
