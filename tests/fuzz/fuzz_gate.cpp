// cardwright-sim's request handling behind HTTP: the request gate, then
// xmlrpc-c's registry with every method, as http_server.cpp hands a body on,
// over a copy of the sample design in a temporary folder. What comes back
// must be a methodResponse in well-formed UTF-8 XML, whatever came in.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <QGuiApplication>
#include <pugixml.hpp>

#include "engine.h"
#include "fuzz_support.h"
#include "methods.h"
#include "options.h"
#include "request_gate.h"

namespace fs = std::filesystem;

namespace {

struct Simulator {
    fs::path dir;
    fs::path design;
    std::unique_ptr<QGuiApplication> app; // pictures draw text: fonts need it
    cwsim::Options options;               // the registry keeps a reference
    std::unique_ptr<cwsim::Engine> engine;
    xmlrpc_c::registryPtr registry;

    ~Simulator() {
        engine.reset();
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // A command may close the design (Close, Exit, Open of another file):
    // the next input starts from the sample again.
    void reopenIfClosed() {
        if (engine->designName() != design.filename().string()) {
            engine->call("Open", cwsim::Pairs{{"File", design.string()}});
            engine->waitIdle(10000);
        }
    }
};

Simulator* sim = nullptr;

void closeSimulator() {
    delete sim;
    sim = nullptr;
}

void checkAnswer(const std::string& response, std::string_view call) {
    fuzz::check(fuzz::valid_utf8(response), "an answer that is not UTF-8", response);
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(response.data(), response.size());
    fuzz::check(bool(parsed), "an answer that is not well-formed XML", response);
    fuzz::check(std::string_view(doc.document_element().name()) == "methodResponse",
                "an answer that is not a methodResponse", call);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    sim = new Simulator;
    char pattern[] = "/tmp/cw-fuzz-gate-XXXXXX";
    if (const char* made = mkdtemp(pattern))
        sim->dir = made;
    else
        fuzz::broken("cannot make a temporary folder");
    sim->design = sim->dir / "visitors.idc";
    fs::copy_file(fs::path(CW_SAMPLES) / "visitors.idc", sim->design);
    fs::copy_file(fs::path(CW_SAMPLES) / "visitors.csv", sim->dir / "visitors.csv");
    sim->app = std::make_unique<QGuiApplication>(qtArgc, qtArgv);
    cwsim::Options& options = sim->options;
    options.design = sim->design.string();
    options.port = 0;
    options.show = cwsim::Show::Hidden;
    options.printDir = (sim->dir / "prints").string();
    options.callLog = (sim->dir / "calls.log").string();
    sim->engine = std::make_unique<cwsim::Engine>(options);
    sim->engine->start();
    sim->engine->waitIdle(60000);
    sim->registry = cwsim::buildRegistry(*sim->engine, options);
    std::atexit(closeSimulator);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim->reopenIfClosed();
    std::string body(reinterpret_cast<const char*>(data), size);
    const std::string call = body;
    const cwsim::GateVerdict verdict = cwsim::checkCall(body);
    if (!verdict.passed) {
        fuzz::check(!verdict.refusal.empty(), "a refused call without a reason");
        fuzz::check(fuzz::valid_utf8(verdict.refusal), "a refusal that is not UTF-8",
                    verdict.refusal);
        return 0;
    }
    // A body the gate passes may still hold bytes that are not UTF-8: the
    // registry refuses those itself, and what it answers is checked below.
    // GetRecord is answered without the registry where it can be, and then
    // must say exactly what the registry says.
    std::string response;
    try {
        if (verdict.method == "GetRecord" &&
            cwsim::answerRecordCall(*sim->registry.get(), body, response)) {
            std::string registryAnswer;
            sim->registry->processCall(body, &registryAnswer);
            fuzz::check(response == registryAnswer, "a GetRecord answer unlike the registry's",
                        call);
        } else {
            sim->registry->processCall(body, &response);
        }
    } catch (const std::exception&) {
        return 0; // the server answers this with its own fault
    }
    checkAnswer(response, call);
    if (response.find("<fault>") != std::string::npos) {
        const std::string why = cwsim::malformedCall(body);
        fuzz::check(fuzz::valid_utf8(why), "a malformed-call text that is not UTF-8", why);
    }
    // Printed cards pile up on disk: a fuzz run makes thousands.
    std::error_code ignored;
    fs::remove_all(sim->dir / "prints", ignored);
    return 0;
}
