// The library's one state: settings, the connection, the error record, the
// last request and response, and the result of the last call. The exported
// functions of api.cpp are one-liners onto it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cw_bitmap.h"
#include "cwxmlclient.h"
#include "launch.h"
#include "request.h"
#include "response.h"
#include "transport.h"

namespace cwx {

class Client {
  public:
    Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client();

    // Remote families (docs/protocol.md, section 4). `args` is sent as the
    // one struct parameter when `with_struct` is set.
    unsigned char command(const char* method, const NameValueList* args, bool with_struct);
    const NameValueList* query(const char* method, const NameValueList* args, bool with_struct);
    const NameValueList* methods();
    const NameValueList* prototypes(const char* method);
    const char* method_help(const char* method);
    const char* error_message(const NameValueList* args);
    CWBitmap picture(const char* method, const NameValueList* args);
    std::int32_t number(const char* method);
    unsigned char busy();

    // Local.
    std::int32_t error_code() const { return error_code_; }
    const char* error_text() const { return error_text_.c_str(); }
    const char* sent_xml() const { return record_ ? sent_.c_str() : ""; }
    const char* received_xml() noexcept; // made clean on first asking
    unsigned char set_port(std::int32_t port);
    unsigned char set_host(const char* host);
    unsigned char set_access_key(const char* key);
    unsigned char enable_xml_access(bool enable);
    unsigned char launch(Role role, const char* path, std::int32_t show_mode);
    void close_all();

    // Records a failure of the current call.
    void fail(std::int32_t code, std::string text);

  private:
    void begin();
    bool call(const char* method, const CallParams& params);
    bool port_ok();      // records CWX_ERR_SETTINGS when not
    void bad_response(); // the reader's problem() as CWX_ERR_BAD_RESPONSE
    // Makes the call and checks that the answer is of type `want` or `also`;
    // false with the error recorded otherwise. `typed`: the type element.
    bool typed_call(const char* method, const CallParams& params, ValueType want, ValueType also,
                    const char* expected, pugi::xml_node& typed);
    // typed_call for a scalar: its text by the documented rules, or nullptr
    // with the error recorded.
    const char* scalar_call(const char* method, const CallParams& params, ValueType want,
                            ValueType also, const char* expected);
    bool unexpected(const char* method, ValueType got, const char* expected);
    const NameValueList* publish();
    const NameValueList* flattened(); // the answer as the published list

    std::int32_t port_ = 8080;
    std::string host_ = "localhost";
    std::string access_key_;
    bool record_ = true;

    std::int32_t error_code_ = CWX_OK;
    std::string error_text_;

    Transport transport_;
    std::string request_;
    std::string response_;
    std::string sent_;
    std::string received_;
    bool received_checked_ = true; // made clean since it was stored
    ResponseReader reader_;
    Entries entries_;
    NameValueList list_{0, nullptr, nullptr};
    std::string scratch_;
    std::vector<unsigned char> png_;
};

Client& client();

} // namespace cwx
