#include "client.h"

#include <charconv>
#include <cstring>

#include <curl/curl.h>

#include "clean_text.h"
#include "picture.h"

namespace cwx {
namespace {

constexpr std::size_t kRecordedRefusalBytes = 1u << 20;

} // namespace

Client& client() {
    static Client instance;
    return instance;
}

Client::Client() {
    // Initialised before this object is complete, so that libcurl's own
    // exit-time clean-up runs after this object's destructor.
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

Client::~Client() {
    close_all();
}

void Client::fail(std::int32_t code, std::string text) {
    error_code_ = code;
    // Error texts quote what servers sent (reason phrases, fault strings,
    // element names) and what callers set (host names).
    make_clean(text);
    error_text_ = std::move(text);
}

void Client::begin() {
    error_code_ = CWX_OK;
    error_text_.clear();
    reader_.reset();
    entries_.clear();
    list_ = {0, nullptr, nullptr};
}

bool Client::call(const char* method, const CallParams& params) {
    begin();
    if (!port_ok())
        return false;
    std::string why;
    if (!check_host(host_, why) || !check_access_key(access_key_, why)) {
        fail(CWX_ERR_SETTINGS, std::move(why));
        return false;
    }
    if (!build_call(request_, method, params, why)) {
        fail(CWX_ERR_BAD_ARGUMENT, std::move(why));
        return false;
    }
    TransportError transport_error;
    const bool delivered =
        transport_.post(host_, port_, access_key_, request_, response_, transport_error);
    if (record_) {
        sent_.swap(request_);
        if (delivered) {
            received_.assign(response_); // the answer is parsed in place below
        } else {
            // No copy of a refused body: a body cut at the cap would double
            // the memory held while refusing it. Its first 1 MiB is kept.
            received_.swap(response_);
            if (received_.size() > kRecordedRefusalBytes) {
                received_.resize(kRecordedRefusalBytes);
                received_.shrink_to_fit();
            }
        }
        // Made clean when asked for: most answers are never looked at.
        received_checked_ = false;
    }
    if (!delivered && response_.capacity() > kRecordedRefusalBytes)
        std::string().swap(response_);
    if (!delivered) {
        fail(transport_error.code, std::move(transport_error.text));
        return false;
    }
    switch (reader_.parse(response_)) {
    case ResponseReader::Outcome::Value:
        return true;
    case ResponseReader::Outcome::Fault:
        fail(reader_.fault_code() != 0 ? reader_.fault_code() : CWX_ERR_REMOTE_FAULT,
             reader_.fault_string());
        return false;
    case ResponseReader::Outcome::Invalid:
        break;
    }
    bad_response();
    return false;
}

bool Client::port_ok() {
    if (port_ >= 1 && port_ <= 65535)
        return true;
    fail(CWX_ERR_SETTINGS, "Port " + std::to_string(port_) + " is outside 1..65535");
    return false;
}

void Client::bad_response() {
    fail(CWX_ERR_BAD_RESPONSE,
         "Response from " + endpoint_text(host_, port_) + " is not XML-RPC: " + reader_.problem());
}

bool Client::unexpected(const char* method, ValueType got, const char* expected) {
    fail(CWX_ERR_UNEXPECTED_TYPE,
         std::string(method) + " answered " + describe(got) + ", expected " + expected);
    return false;
}

const NameValueList* Client::publish() {
    list_.count = static_cast<std::int32_t>(entries_.names.size());
    list_.names = entries_.names.data();
    list_.values = entries_.values.data();
    return &list_;
}

bool Client::typed_call(const char* method, const CallParams& params, ValueType want,
                        ValueType also, const char* expected, pugi::xml_node& typed) {
    if (!call(method, params))
        return false;
    const ValueType type = ResponseReader::type_of(reader_.value(), typed);
    return type == want || type == also || unexpected(method, type, expected);
}

const char* Client::scalar_call(const char* method, const CallParams& params, ValueType want,
                                ValueType also, const char* expected) {
    pugi::xml_node typed;
    if (!typed_call(method, params, want, also, expected, typed))
        return nullptr;
    const char* text = reader_.scalar_text(reader_.value());
    if (!text)
        bad_response();
    return text;
}

unsigned char Client::command(const char* method, const NameValueList* args, bool with_struct) {
    const char* answer = scalar_call(method, CallParams{args, with_struct}, ValueType::Boolean,
                                     ValueType::Boolean, "a boolean");
    if (!answer)
        return 0;
    if (answer[0] != '1') {
        fail(CWX_ERR_REFUSED, std::string(method) + " was refused: the application answered false");
        return 0;
    }
    return 1;
}

const NameValueList* Client::flattened() {
    if (!reader_.flatten(reader_.value(), entries_)) {
        bad_response();
        entries_.clear();
        return nullptr;
    }
    return publish();
}

const NameValueList* Client::query(const char* method, const NameValueList* args,
                                   bool with_struct) {
    return call(method, CallParams{args, with_struct}) ? flattened() : nullptr;
}

const NameValueList* Client::methods() {
    pugi::xml_node typed;
    return typed_call("system.listMethods", CallParams{}, ValueType::Array, ValueType::Array,
                      "an array", typed)
               ? flattened()
               : nullptr;
}

const NameValueList* Client::prototypes(const char* method) {
    constexpr const char* kMethod = "system.methodSignature";
    const char* name = method ? method : "";
    if (!call(kMethod, CallParams{nullptr, false, name}))
        return nullptr;
    const pugi::xml_node answer = reader_.value();
    pugi::xml_node typed;
    const ValueType type = ResponseReader::type_of(answer, typed);
    if (type == ValueType::String) {
        // xmlrpc-c says "undef" for a method without a known signature.
        const char* text = reader_.scalar_text(answer);
        if (std::strcmp(text, "undef") != 0)
            entries_.add("0", text);
        return publish();
    }
    if (type != ValueType::Array) {
        unexpected(kMethod, type, "an array");
        return nullptr;
    }
    const pugi::xml_node data = typed.child("data");
    std::size_t index = 0;
    for (pugi::xml_node signature = data.child("value"); signature;
         signature = signature.next_sibling("value"), ++index) {
        pugi::xml_node signature_array;
        const ValueType signature_type = ResponseReader::type_of(signature, signature_array);
        if (signature_type != ValueType::Array) {
            unexpected(kMethod, signature_type, "an array of signature arrays");
            return nullptr;
        }
        // [return, param1, param2, ...] -> "return Method(param1, param2)"
        scratch_.clear();
        std::size_t position = 0;
        for (pugi::xml_node part = signature_array.child("data").child("value"); part;
             part = part.next_sibling("value"), ++position) {
            const char* word = reader_.scalar_text(part);
            if (!word) {
                bad_response();
                entries_.clear();
                return nullptr;
            }
            if (position == 0) {
                (scratch_ += word) += ' ';
                (scratch_ += name) += '(';
            } else {
                if (position > 1)
                    scratch_ += ", ";
                scratch_ += word;
            }
        }
        if (position == 0)
            continue; // an empty signature says nothing
        scratch_ += ')';
        char digits[24];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, entries_.names.size());
        entries_.add(reader_.arena().copy({digits, static_cast<std::size_t>(end - digits)}),
                     reader_.arena().copy(scratch_));
    }
    return publish();
}

const char* Client::method_help(const char* method) {
    return scalar_call("system.methodHelp", CallParams{nullptr, false, method ? method : ""},
                       ValueType::String, ValueType::String, "a string");
}

const char* Client::error_message(const NameValueList* args) {
    return scalar_call("GetErrorMessage", CallParams{args, true}, ValueType::String,
                       ValueType::String, "a string");
}

CWBitmap Client::picture(const char* method, const NameValueList* args) {
    pugi::xml_node typed;
    if (!typed_call(method, CallParams{args, true}, ValueType::Base64, ValueType::Base64,
                    "a base64 picture", typed))
        return 0;
    std::string why;
    if (!decode_base64(reader_.node_text(typed), png_, why)) {
        fail(CWX_ERR_IMAGE, "Picture from " + std::string(method) + " " + why);
        return 0;
    }
    const CWBitmap bitmap = decode_png(png_, why);
    if (png_.capacity() > (8u << 20))
        std::vector<unsigned char>().swap(png_); // keep big pictures' buffers no longer
    if (!bitmap) {
        fail(CWX_ERR_IMAGE, "Picture from " + std::string(method) + " " + why);
        return 0;
    }
    return bitmap;
}

std::int32_t Client::number(const char* method) {
    const char* text = scalar_call(method, CallParams{}, ValueType::Int, ValueType::Int, "an int");
    if (!text)
        return -1;
    // scalar_text gave the canonical decimal form.
    std::int64_t value = 0;
    std::from_chars(text, text + std::strlen(text), value);
    if (value < INT32_MIN || value > INT32_MAX) {
        fail(CWX_ERR_UNEXPECTED_TYPE,
             std::string(method) + " answered " + text + ", which does not fit 32 bits");
        return -1;
    }
    return static_cast<std::int32_t>(value);
}

unsigned char Client::busy() {
    // An integer is read too: non-zero is busy.
    const char* text =
        scalar_call("IsBusy", CallParams{}, ValueType::Boolean, ValueType::Int, "a boolean");
    if (!text)
        return 255;
    return std::strcmp(text, "0") == 0 ? 0 : 1;
}

unsigned char Client::set_port(std::int32_t port) {
    begin();
    port_ = port;
    return 1;
}

unsigned char Client::set_host(const char* host) {
    begin();
    host_ = host ? host : "";
    return 1;
}

unsigned char Client::set_access_key(const char* key) {
    begin();
    access_key_ = key ? key : "";
    return 1;
}

const char* Client::received_xml() noexcept {
    if (!record_)
        return "";
    if (!received_checked_) {
        try {
            make_clean(received_);
        } catch (...) {
            return ""; // no memory for the cleaned copy: nothing unclean is shown
        }
        received_checked_ = true;
    }
    return received_.c_str();
}

unsigned char Client::enable_xml_access(bool enable) {
    begin();
    record_ = enable;
    if (!enable) {
        std::string().swap(sent_);
        std::string().swap(received_);
    }
    return 1;
}

unsigned char Client::launch(Role role, const char* path, std::int32_t show_mode) {
    begin();
    if (!port_ok())
        return 0;
    std::string why;
    if (!cwx::launch(role, path, show_mode, port_, why)) {
        fail(CWX_ERR_LAUNCH, std::move(why));
        return 0;
    }
    return 1;
}

void Client::close_all() {
    begin();
    transport_.close();
    reader_.release();
    entries_ = Entries{};
    for (std::string* s : {&request_, &response_, &sent_, &received_, &scratch_, &error_text_})
        std::string().swap(*s);
    std::vector<unsigned char>().swap(png_);
}

} // namespace cwx
