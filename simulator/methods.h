// The remote methods: their families, signatures, help texts and the roles
// that serve them, and the registry that carries them to the engine.
#pragma once

#include "engine.h"
#include "options.h"

#include <xmlrpc-c/registry.hpp>

#include <string>
#include <vector>

namespace cwsim {

enum class Family {
    Command,         // no argument, answers true once accepted
    CommandWithList, // one struct of strings, answers true once accepted
    ListGetter,      // no argument, answers a struct
    RecordGetter,    // GetRecord: optional criteria struct, answers a struct
    Integer,         // no argument, answers an int
    Busy,            // IsBusy: answers a boolean
    ErrorMessage,    // GetErrorMessage: struct with Code, answers a string
    Picture,         // optional struct, answers base64 PNG
};

enum RoleMask : unsigned { kCardwright = 1, kRosterLink = 2, kBoth = 3 };

struct MethodInfo {
    const char* name;
    Family family;
    bool argumentOptional; // struct families: may the struct be left out?
    unsigned roles;
    const char* help;
};

// The 54 methods, in the client's catalogue order.
const std::vector<MethodInfo>& methodTable();
// xmlrpc-c signature text, e.g. "b:S" or "S:S,S:".
std::string signatureOf(const MethodInfo& info);

// Writes one line per call to stderr (and to the engine's recent calls).
void logCall(Engine& engine, const std::string& method, double milliseconds,
             const std::string& outcome);
// How many lines logCall has written on the calling thread, so that the server
// can log the calls no method logged (unknown methods, introspection, calls
// that are not XML-RPC).
unsigned long callsLoggedOnThisThread();

xmlrpc_c::registryPtr buildRegistry(Engine& engine, const Options& options);

// Answers a GetRecord call as `registry` (one buildRegistry made) would,
// byte for byte, but writes the XML of a record's answer once while the
// record stays unchanged. False, with nothing run, when the call is left to
// the registry: another method, a call it cannot read, XML tracing on.
bool answerRecordCall(const xmlrpc_c::registry& registry, const std::string& body,
                      std::string& response);

} // namespace cwsim
