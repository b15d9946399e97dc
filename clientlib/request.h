// Encoding of XML-RPC methodCall bodies (docs/protocol.md, section 3).
#pragma once

#include <string>
#include <string_view>

#include "cwxmlclient.h"

namespace cwx {

// Appends `text` to `out` as XML element content: & < > and CR escaped, every
// other byte as it is. Returns false, with `why` saying what and where, when
// the text holds something XML 1.0 cannot carry (a control character other
// than TAB, LF, CR; bytes that are not UTF-8; U+FFFE, U+FFFF). `out` then
// holds a partial text and is to be thrown away.
bool append_xml_text(std::string& out, std::string_view text, std::string& why);

// A text as it can be shown in an error message: bytes that cannot be shown
// as they are appear as \xNN. Long texts are cut.
std::string printable(std::string_view text);

// Builds a whole methodCall into `out` (cleared first). Exactly one of the
// parameter forms is used: `args` non-null sends one struct of string
// members (NULL list contents read as described in the header), `text`
// non-null sends one string parameter, neither sends no parameter.
// Returns false with `error` set to the message naming the refused entry.
struct CallParams {
    const NameValueList* args = nullptr;
    bool with_struct = false;
    const char* text = nullptr;
    const char* text_label = "method name";
};
bool build_call(std::string& out, std::string_view method, const CallParams& params,
                std::string& error);

} // namespace cwx
