// The 68 exported functions: each hands its call to the library's one Client
// and turns an escaping exception (only std::bad_alloc is expected) into the
// family's failure value, so that nothing is thrown across the C boundary.
#include <new>

#include "client.h"
#include "cwxmlclient.h"

namespace {

template <typename Result, typename Body> Result guarded(Result failure, Body body) noexcept {
    try {
        return body(cwx::client());
    } catch (const std::bad_alloc&) {
        cwx::client().fail(CWX_ERR_NO_MEMORY, "Out of memory");
    } catch (...) {
        cwx::client().fail(CWX_ERR_TRANSPORT, "Internal error in the client library");
    }
    return failure;
}

} // namespace

#define CWX_COMMAND(name)                                                                          \
    unsigned char name(void) {                                                                     \
        return guarded<unsigned char>(                                                             \
            0, [](cwx::Client& c) { return c.command(#name, nullptr, false); });                   \
    }
#define CWX_COMMAND_WITH_LIST(name)                                                                \
    unsigned char name(const NameValueList* args) {                                                \
        return guarded<unsigned char>(0,                                                           \
                                      [args](cwx::Client& c) { return c.command(#name, args, true); }); \
    }
#define CWX_QUERY(name)                                                                            \
    const NameValueList* name(void) {                                                              \
        return guarded<const NameValueList*>(                                                      \
            nullptr, [](cwx::Client& c) { return c.query(#name, nullptr, false); });               \
    }
#define CWX_PICTURE(name)                                                                          \
    CWBitmap name(const NameValueList* args) {                                                     \
        return guarded<CWBitmap>(0, [args](cwx::Client& c) { return c.picture(#name, args); });    \
    }
#define CWX_NUMBER(name)                                                                           \
    int32_t name(void) {                                                                           \
        return guarded<int32_t>(-1, [](cwx::Client& c) { return c.number(#name); });              \
    }

extern "C" {

CWX_COMMAND(Close)
CWX_COMMAND(First)
CWX_COMMAND(Next)
CWX_COMMAND(Previous)
CWX_COMMAND(Last)
CWX_COMMAND(Exit)
CWX_COMMAND(Startlog)
CWX_COMMAND(Stoplog)
CWX_COMMAND(Restore)
CWX_COMMAND(Video)
CWX_COMMAND(Print)
CWX_COMMAND(Twain)
CWX_COMMAND(Signature)
CWX_COMMAND(Bitmap)
CWX_COMMAND(Preview)
CWX_COMMAND(ManageTemplates)
CWX_COMMAND(Fingerprint)
CWX_COMMAND(RosterLinkConfig)
CWX_COMMAND(RosterLink)

CWX_COMMAND_WITH_LIST(Open)
CWX_COMMAND_WITH_LIST(Select)
CWX_COMMAND_WITH_LIST(Delete)
CWX_COMMAND_WITH_LIST(Revise)
CWX_COMMAND_WITH_LIST(Add)
CWX_COMMAND_WITH_LIST(Update)
CWX_COMMAND_WITH_LIST(Focus)
CWX_COMMAND_WITH_LIST(ServerMode)
CWX_COMMAND_WITH_LIST(Goto)
CWX_COMMAND_WITH_LIST(Edit)
CWX_COMMAND_WITH_LIST(CreateTemplate)
CWX_COMMAND_WITH_LIST(ReviseTemplate)
CWX_COMMAND_WITH_LIST(ReviseAssignments)
CWX_COMMAND_WITH_LIST(Template)
CWX_COMMAND_WITH_LIST(ReviseUserData)
CWX_COMMAND_WITH_LIST(FlipBadge)

CWX_QUERY(GetFeatures)
CWX_QUERY(GetProgramInfo)
CWX_QUERY(GetCurrent)
CWX_QUERY(GetCount)
CWX_QUERY(GetFields)
CWX_QUERY(GetTemplates)
CWX_QUERY(GetStatus)
CWX_QUERY(GetToolbarStatus)
CWX_QUERY(GetUserData)

const NameValueList* GetMethods(void) {
    return guarded<const NameValueList*>(nullptr, [](cwx::Client& c) { return c.methods(); });
}

const NameValueList* GetRecord(const NameValueList* args) {
    return guarded<const NameValueList*>(
        nullptr, [args](cwx::Client& c) { return c.query("GetRecord", args, true); });
}

const NameValueList* GetMethodProtoType(const char* method) {
    return guarded<const NameValueList*>(nullptr,
                                         [method](cwx::Client& c) { return c.prototypes(method); });
}

const char* GetMethodHelp(const char* method) {
    return guarded<const char*>(nullptr, [method](cwx::Client& c) { return c.method_help(method); });
}

const char* GetErrorMessage(const NameValueList* args) {
    return guarded<const char*>(nullptr, [args](cwx::Client& c) { return c.error_message(args); });
}

CWX_PICTURE(GetBadgeImage)
CWX_PICTURE(GetPhotoImage)
CWX_PICTURE(GetSignatureImage)
CWX_PICTURE(GetFingerprintImage)

int32_t GetErrorCode(void) { return cwx::client().error_code(); }

CWX_NUMBER(GetLastCommandError)
CWX_NUMBER(GetCWHandle)
CWX_NUMBER(GetEditCount)

unsigned char IsBusy(void) {
    return guarded<unsigned char>(255, [](cwx::Client& c) { return c.busy(); });
}

const char* GetErrorText(void) { return cwx::client().error_text(); }
const char* GetSentXML(void) { return cwx::client().sent_xml(); }
const char* GetReceivedXML(void) { return cwx::client().received_xml(); }

unsigned char SetXMLPort(int32_t port) {
    return guarded<unsigned char>(0, [port](cwx::Client& c) { return c.set_port(port); });
}

unsigned char SetHostName(const char* host) {
    return guarded<unsigned char>(0, [host](cwx::Client& c) { return c.set_host(host); });
}

unsigned char SetXMLAccessKey(const char* key) {
    return guarded<unsigned char>(0, [key](cwx::Client& c) { return c.set_access_key(key); });
}

unsigned char EnableXMLAccess(unsigned char enable) {
    return guarded<unsigned char>(
        0, [enable](cwx::Client& c) { return c.enable_xml_access(enable != 0); });
}

unsigned char LaunchCW(const char* path, int32_t show_mode) {
    return guarded<unsigned char>(0, [path, show_mode](cwx::Client& c) {
        return c.launch(cwx::Role::Cardwright, path, show_mode);
    });
}

unsigned char LaunchRL(const char* path, int32_t show_mode) {
    return guarded<unsigned char>(0, [path, show_mode](cwx::Client& c) {
        return c.launch(cwx::Role::RosterLink, path, show_mode);
    });
}

void CloseXML(void) {
    guarded<int>(0, [](cwx::Client& c) {
        c.close_all();
        return 0;
    });
}

} // extern "C"
